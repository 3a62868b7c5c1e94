#pragma once

#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QtGlobal>

namespace tallyvo {

// One rectangle of the layout designer, as edges. It holds whatever unit the last operation
// left it in: twips of a window's client area, or screen pixels. One factor, twips per pixel,
// converts both axes. An edge may pass the opposite one while a drag is under way;
// NormalizeRect puts it back in order.
class cRect {
public:
    qint32 Left = 0;
    qint32 Top = 0;
    qint32 Right = 0;
    qint32 Bottom = 0;

    qint32 Width() const { return Right - Left; }
    void setWidth(qint32 width) { Right = Left + width; }
    qint32 Height() const { return Bottom - Top; }
    void setHeight(qint32 height) { Bottom = Top + height; }

    // From a control's place in twips of its parent, each value made a whole number.
    void SetRectToCtrl(const QRectF& twips);
    // The place to give the control: the rectangle put in order, as left, top, width, height.
    QRect SetCtrlToRect();
    // From twips of the parent's client area to screen pixels; parentOrigin is where the client
    // area's top-left corner is on the screen.
    void TwipsToScreen(double twipsPerPixel, QPoint parentOrigin);
    // The reverse.
    void ScreenToTwips(double twipsPerPixel, QPoint parentOrigin);
    void NormalizeRect();
    bool PtInRect(double x, double y) const;

    bool operator==(const cRect&) const = default;
};

} // namespace tallyvo
