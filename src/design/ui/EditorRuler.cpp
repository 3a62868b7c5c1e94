#include "design/ui/EditorRuler.h"

#include <QPainter>

namespace tallyvo {

EditorRuler::EditorRuler(QWidget* parent)
    : QWidget(parent)
{
    setAccessibleName(tr("Ruler"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize EditorRuler::sizeHint() const
{
    return {200, fontMetrics().height() + 10};
}

void EditorRuler::setMarker(int x)
{
    if (x == m_marker)
        return;
    m_marker = x;
    update();
}

void EditorRuler::setOrigin(int x)
{
    m_origin = x;
    update();
}

void EditorRuler::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    p.setPen(palette().color(QPalette::Text));
    const double quarter = logicalDpiX() / 4.0;
    const int h = height();
    for (int i = 0;; ++i) {
        const int x = m_origin + int(i * quarter + 0.5);
        if (x > width())
            break;
        if (i % 4 == 0) {
            p.drawLine(x, h - 8, x, h);
            if (i > 0)
                p.drawText(x + 2, h - 8, QString::number(i / 4));
        } else {
            p.drawLine(x, h - (i % 2 ? 3 : 5), x, h);
        }
    }
    if (m_marker >= 0) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DashLine));
        p.drawLine(m_marker, 0, m_marker, h);
    }
}

} // namespace tallyvo
