#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <optional>

namespace tallyvo {

class Database;

// A theme as the display reads it. Every value that is missing, NULL or not a number where a
// number belongs is empty (nullopt), so the step of the build that needs it is skipped and the
// window keeps what it had. Lengths are as stored: half of what the display shows.
struct ThemeData {
    bool found = false; // a tbltheme row exists for the key

    QString themeName;
    std::optional<int> colums;
    std::optional<int> rows;
    std::optional<QString> colwidth;
    std::optional<double> rowheight;
    QString logo;
    std::optional<int> displaytime;
    QString clockfile;
    QString fonttime;
    std::optional<double> sizetime;
    std::optional<int> clrtime;
    std::optional<int> backgroundclr;
    std::optional<int> linecolor;
    std::optional<int> altcolr;
    QString bgimage;
    QString hdfont;
    std::optional<int> hdclrbg;
    std::optional<int> hdfntclr;
    std::optional<double> hdfntsize;
    QString fntcrr;
    std::optional<double> sizecrr;
    std::optional<int> clrcrr;
    QString fntval;
    std::optional<double> sizeval;
    std::optional<int> clrval;
    std::optional<int> screenclr;
    std::optional<int> linewidth;
    std::optional<int> volume;
    std::optional<int> enablemovie;
    QString ttlname;
    QString ttlfont;
    std::optional<int> ttlcolor;
    std::optional<double> ttlsize;
    std::optional<int> scroll;
    QString tformat;
    std::optional<int> enableH;
    QString Column1;
    QString Column2;
    QString img1;
    QString img2;
    std::optional<int> newsBG;
};

// The theme's tblpos row: pane rectangles as stored (half scale, twips). Each value is nullopt
// when missing or not a number.
struct ThemePositions {
    struct Rect {
        std::optional<double> left, top, width, height;
        bool complete() const { return left && top && width && height; }
    };
    Rect logo;
    Rect time;
    Rect table;
    Rect video;
    std::optional<double> mewidth, meheight;
    Rect title;
    std::optional<double> newstop, newsheight;
};

// One active scroll-news message with the look it is drawn in.
struct NewsMessage {
    QString text;
    QString fontName;
    std::optional<double> fontSize;
    std::optional<int> color; // 0x00BBGGRR
    bool bold = false;
    bool italic = false;
};

namespace ThemeLoader {

// The tbltheme row of key; found is false when there is none (or the table cannot be read).
ThemeData loadTheme(const Database& db, int themeKey);
// The theme's tblpos row, nullopt when it has none.
std::optional<ThemePositions> loadPositions(const Database& db, int themeKey);
// Captions 1..6 of the theme's tblheader row (index 0 is caption 1), nullopt when it has none.
std::optional<QStringList> loadHeader(const Database& db, int themeKey);
// Active messages of one direction ("Left" or "Right"), oldest first. Throws DbError.
QList<NewsMessage> loadNews(const Database& db, const QString& direction);
// Paths of the active playlist rows, in key order. Throws DbError.
QStringList loadPlaylist(const Database& db);

} // namespace ThemeLoader

// Where the display window's top-left corner goes. "Single": the primary screen's. Any other
// mode ("Dual"): the first screen that is not the primary, or the primary's when the station has
// only one, so the display never opens where no screen shows it.
QPoint displayOrigin(const QString& screenMode, const QList<QRect>& screens, int primary);

} // namespace tallyvo
