#pragma once

#include <QString>

namespace tallyvo {

// What the theme editor accepts in its number boxes and its column widths. Texts stay as typed
// (themes store them as text); only a box that cannot be read is put back to a usable value.
namespace ThemeRules {

// A number as a whole: digits with an optional sign, decimal point and exponent, blanks around
// it allowed. "" is not a number.
bool isNumeric(const QString& text);
// The number the text starts with (after leading blanks), 0 when it starts with none:
// "12abc" gives 12.
double leadingValue(const QString& text);

enum class NumberBox { Colums, Rows, RowHeight, SlideDuration, PageInterval, Volume, LineWidth };

// The box's text once it has lost the focus. The reset values are not all the initial ones:
// "Rows" starts at 12 but goes back to 2, "Row Height" starts at 500 but goes back to 200.
QString corrected(NumberBox box, const QString& text);

// "Column Width" for a new column count: 2500 for each column, joined by ";". At most one entry
// per column the display can show, so an absurd count cannot build an absurd text.
QString defaultWidths(const QString& colums);

// Whether the widths fit the column count: without the ";" they read as a number, and there is
// one entry per column (an empty entry counts: "2500;;2500" is three).
bool chkVal(const QString& widths, const QString& colums);

} // namespace ThemeRules
} // namespace tallyvo
