#pragma once

#include <QWidget>

class QLabel;
class QTimer;

namespace tallyvo {

// The window shown while the program starts: a picture and a line of text. The first time it is
// activated it asks for the main window to be loaded (activated()); Timer1 then hands over to
// the login (timeUp()), never before that load has returned.
class frmSplash : public QWidget {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* parent = nullptr);

    QTimer* Timer1() const { return m_timer1; }
    void setMessage(const QString& text);

signals:
    void activated();
    void timeUp();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTimer* m_timer1;
    QLabel* m_label1;
    bool m_activated = false;
    bool m_loading = false;
    bool m_timeUpPending = false;
};

} // namespace tallyvo
