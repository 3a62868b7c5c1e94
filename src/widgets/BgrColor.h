#pragma once

#include <QColor>

namespace tallyvo {

// The database and the themes keep colours as 0x00BBGGRR: red in the low byte, blue in the third.

// A value outside 0..0xFFFFFF (a negative number, or one with the high byte set as the old
// system-colour codes have) gives an invalid colour, which the grid's setters read as "use the
// default", instead of some arbitrary colour.
inline QColor colorFromBgr(int bgr) {
    if (bgr < 0 || bgr > 0xFFFFFF)
        return {};
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

// An invalid colour gives -1, which colorFromBgr turns back into an invalid colour.
inline int bgrFromColor(const QColor& color) {
    if (!color.isValid())
        return -1;
    const QColor rgb = color.toRgb();
    return rgb.red() | (rgb.green() << 8) | (rgb.blue() << 16);
}

} // namespace tallyvo
