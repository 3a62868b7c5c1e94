#pragma once

#include <QList>
#include <QString>
#include <QVariantList>
#include <optional>
#include <span>

namespace tallyvo {

class Database;

// The tbltheme rows the theme editor and the theme list keep. The editor's values are one list
// in column order: positions 1 to 38 (themename .. ttlsize), then scroll, tformat, enableH,
// Column1, Column2, img1, img2 and newsBG. Every write binds its values; names with apostrophes
// are stored like any other.
namespace ThemeStore {

// How a value is stored: text exactly as shown, a colour 0x00BBGGRR, or a flag 0/1.
enum class Form { Text, Colour, Flag };

struct Column {
    QString name;
    Form form;
    QVariant initial; // what a new theme starts with in the editor
};

// Swatches start dark grey until the user picks a colour.
inline constexpr int kInitialColour = 4210752; // 0x00404040
// The first 38 columns are read by position, the rest by name.
inline constexpr int kByPosition = 38;

// The editor's columns in the order of the values lists below (index 0 is position 1).
std::span<const Column> columns();
// Index in columns() of a column name; -1 when the editor does not keep it.
int indexOf(const QString& name);
// The values of an untouched new theme.
QVariantList initialValues();

// Adds a theme; its new key. A tblpos or tblheader row left under that key by an earlier theme
// (a database whose keys were reused) is removed, so a new theme never starts with another
// theme's layout or captions. Throws DbError.
qint64 add(const Database& db, const QVariantList& values);
// Rewrites the theme's row; false when the row no longer exists (nothing written).
bool update(const Database& db, qint64 key, const QVariantList& values);
// The stored values in columns() order; a value the row lacks is an invalid QVariant. nullopt
// when there is no such theme.
std::optional<QVariantList> load(const Database& db, qint64 key);
// Removes the theme's row only: its tblpos and tblheader rows stay in the database.
void remove(const Database& db, qint64 key);

struct ListRow {
    qint64 key = 0;
    QString type;
    QString name;
};
// Every theme in key order.
QList<ListRow> list(const Database& db);

} // namespace ThemeStore
} // namespace tallyvo
