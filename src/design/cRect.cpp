#include "design/cRect.h"

#include <cmath>
#include <utility>

namespace tallyvo {

namespace {

qint32 whole(double v)
{
    return static_cast<qint32>(std::lround(v));
}

} // namespace

void cRect::SetRectToCtrl(const QRectF& twips)
{
    Left = whole(twips.left());
    Top = whole(twips.top());
    Right = whole(twips.left() + twips.width());
    Bottom = whole(twips.top() + twips.height());
}

QRect cRect::SetCtrlToRect()
{
    NormalizeRect();
    return QRect(Left, Top, Width(), Height());
}

void cRect::TwipsToScreen(double twipsPerPixel, QPoint parentOrigin)
{
    Left = whole(Left / twipsPerPixel) + parentOrigin.x();
    Top = whole(Top / twipsPerPixel) + parentOrigin.y();
    Right = whole(Right / twipsPerPixel) + parentOrigin.x();
    Bottom = whole(Bottom / twipsPerPixel) + parentOrigin.y();
}

void cRect::ScreenToTwips(double twipsPerPixel, QPoint parentOrigin)
{
    Left = whole((Left - parentOrigin.x()) * twipsPerPixel);
    Top = whole((Top - parentOrigin.y()) * twipsPerPixel);
    Right = whole((Right - parentOrigin.x()) * twipsPerPixel);
    Bottom = whole((Bottom - parentOrigin.y()) * twipsPerPixel);
}

void cRect::NormalizeRect()
{
    if (Right < Left)
        std::swap(Left, Right);
    if (Bottom < Top)
        std::swap(Top, Bottom);
}

bool cRect::PtInRect(double x, double y) const
{
    return Left <= x && x < Right && Top <= y && y < Bottom;
}

} // namespace tallyvo
