#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class frmclklst;
}

namespace tallyvo {

class ClockView;

// "Select Clock": the clock faces in files/clock beside the program, with a live preview of the
// one clicked. "Select" hands the chosen file name (without folder; "" when none is chosen) to
// whoever opened the picker, then closes it.
class frmclklst : public QWidget {
    Q_OBJECT
public:
    // folder: where the faces are; empty for files/clock beside the program.
    explicit frmclklst(QWidget* parent = nullptr, const QString& folder = QString());
    ~frmclklst() override;

    QString folder() const { return m_folder; }
    // The file names listed, in the list's order.
    QStringList files() const;
    ClockView* preview() const;

    // Shows the face of the list entry at row in the preview.
    void fle_Click(int row);
    // Takes the chosen file and closes.
    void Command1_Click();

signals:
    void clockSelected(const QString& fileName);

private:
    void fill();

    std::unique_ptr<Ui::frmclklst> m_ui;
    QString m_folder;
};

} // namespace tallyvo
