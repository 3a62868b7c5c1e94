#pragma once

#include <QRectF>
#include <QString>
#include <array>
#include <optional>

namespace tallyvo {

class Database;

// The display regions of a theme (its tblpos row) as the layout designer draws them: twips of the
// half-size design surface, which the display doubles.
namespace LayoutStore {

// In the order the designer stacks them.
enum class Region { Title, Logo, Time, Table, Video, News };
inline constexpr int kRegions = 6;

struct RegionLook {
    Region region;
    QString caption;
    QString objectName;
    QRectF initial; // twips, before the theme has a row
    int colour;     // 0x00BBGGRR
};
const std::array<RegionLook, kRegions>& regions();
// tblpos positions of a region's left, top, width and height: the first of the four.
int firstPosition(Region region);

// One row's values; each is nullopt when missing or not a number, so the designer skips it.
struct Stored {
    using Rect = std::array<std::optional<double>, 4>;
    std::array<Rect, kRegions> regions; // by Region
    std::optional<double> meleft, metop, mewidth, meheight;
};

// What the designer writes: every value, single precision on the way in.
struct Layout {
    std::array<QRectF, kRegions> regions; // by Region
    QRectF window;                        // meleft, metop, mewidth, meheight
};

// The theme's row (the first one when a site has entered several); nullopt without one.
std::optional<Stored> load(const Database& db, qint64 themeKey);

enum class Saved { Added, Updated };
// Rewrites the theme's row, or adds it with the theme key when it has none. Throws DbError.
Saved save(const Database& db, qint64 themeKey, const Layout& layout);

} // namespace LayoutStore
} // namespace tallyvo
