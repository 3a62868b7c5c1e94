#pragma once

#include <QString>
#include <QVariant>
#include <optional>

namespace tallyvo {

// The one reading of numbers typed into text columns (a service's startno and endno): the whole
// text, blanks at either end ignored, is an optional sign, digits, an optional decimal point and
// fraction and an optional exponent. The same on every station, whatever its locale, so a
// number one station accepted reads the same on all the others.
namespace NumberText {

// The value; nullopt for an empty text or anything else that is not such a number.
std::optional<double> value(const QString& text);
// A number read from a database column, stored as a number or as text: nullopt for NULL and for
// anything that is not a number by the rule above.
std::optional<double> stored(const QVariant& v);
// The value when it is a whole number a token can carry ("300.0", " 300 ", "1e1" are; "1.5" and
// numbers beyond the 32-bit range are not).
std::optional<int> wholeNumber(const QString& text);

} // namespace NumberText
} // namespace tallyvo
