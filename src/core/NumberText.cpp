#include "core/NumberText.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace tallyvo::NumberText {

std::optional<double> value(const QString& text)
{
    // Spelled out rather than left to a parser: parsers also take "inf", "nan", hex or group
    // separators, none of which is a token number.
    static const QRegularExpression number(
        QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    const QString t = text.trimmed();
    if (!number.match(t).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<double> stored(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return std::nullopt;
    return value(v.toString());
}

std::optional<int> wholeNumber(const QString& text)
{
    const std::optional<double> v = value(text);
    if (!v || std::trunc(*v) != *v)
        return std::nullopt;
    if (*v > std::numeric_limits<int>::max() || *v < std::numeric_limits<int>::min())
        return std::nullopt;
    return static_cast<int>(*v);
}

} // namespace tallyvo::NumberText
