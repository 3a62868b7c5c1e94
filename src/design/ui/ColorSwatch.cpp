#include "design/ui/ColorSwatch.h"

#include "widgets/BgrColor.h"

#include <QPainter>
#include <QStyleOptionButton>

namespace tallyvo {

ColorSwatch::ColorSwatch(QWidget* parent)
    : QPushButton(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void ColorSwatch::setBgr(int bgr)
{
    m_bgr = bgr;
    setToolTip(colorFromBgr(bgr).isValid() ? colorFromBgr(bgr).name() : QString());
    update();
}

QSize ColorSwatch::sizeHint() const
{
    return {44, 22};
}

void ColorSwatch::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    style()->drawControl(QStyle::CE_PushButtonBevel, &option, &p, this);
    const QRect inner = rect().adjusted(4, 4, -4, -4);
    const QColor c = colorFromBgr(m_bgr);
    p.fillRect(inner, c.isValid() ? c : QColor(Qt::transparent));
    p.setPen(palette().color(QPalette::WindowText));
    p.drawRect(inner.adjusted(0, 0, -1, -1));
}

} // namespace tallyvo
