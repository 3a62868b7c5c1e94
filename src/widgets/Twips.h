#pragma once

#include <QtGlobal>

namespace tallyvo {

// Stored sizes and positions are in twips (1/1440 inch), so a layout keeps its physical size on
// screens of any density: 15 twips make a pixel at 96 dpi, 10 at 144 dpi.
inline constexpr double kTwipsPerInch = 1440.0;

namespace detail {
// A screen that reports no density is treated as the common 96 dpi rather than dividing by zero.
constexpr qreal usableDpi(qreal dpi) {
    return dpi > 0 ? dpi : 96.0;
}
} // namespace detail

constexpr double twipsPerPixel(qreal dpi) {
    return kTwipsPerInch / detail::usableDpi(dpi);
}

// Rounded to the nearest pixel, so a 1-twip key column is 0 pixels wide.
constexpr int twipsToPixels(double twips, qreal dpi) {
    const double pixels = twips * detail::usableDpi(dpi) / kTwipsPerInch;
    return pixels >= 0 ? int(pixels + 0.5) : -int(-pixels + 0.5);
}

constexpr int pixelsToTwips(double pixels, qreal dpi) {
    const double twips = pixels * twipsPerPixel(dpi);
    return twips >= 0 ? int(twips + 0.5) : -int(-twips + 0.5);
}

} // namespace tallyvo
