#pragma once

#include <QWidget>

namespace tallyvo {

// The ruler above the news editor's text: inch and quarter-inch marks from the text's left edge,
// and a marker line that follows the mouse over the text.
class EditorRuler : public QWidget {
    Q_OBJECT
public:
    explicit EditorRuler(QWidget* parent = nullptr);

    int marker() const { return m_marker; }
    // x in the ruler's own coordinates; -1 hides the marker.
    void setMarker(int x);
    // Where the text starts, so the marks line up with it.
    void setOrigin(int x);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_marker = -1;
    int m_origin = 0;
};

} // namespace tallyvo
