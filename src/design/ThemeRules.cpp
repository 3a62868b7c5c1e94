#include "design/ThemeRules.h"

#include "core/Schema.h"

#include <QRegularExpression>
#include <cmath>

namespace tallyvo::ThemeRules {

namespace {

const QString kNumber = QStringLiteral(R"([+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)");

} // namespace

bool isNumeric(const QString& text)
{
    static const QRegularExpression whole(QStringLiteral(R"(^\s*%1\s*$)").arg(kNumber));
    return whole.match(text).hasMatch();
}

double leadingValue(const QString& text)
{
    static const QRegularExpression start(QStringLiteral(R"(^\s*(%1))").arg(kNumber));
    const QRegularExpressionMatch m = start.match(text);
    if (!m.hasMatch())
        return 0;
    const double v = m.captured(1).toDouble();
    return std::isfinite(v) ? v : 0;
}

QString corrected(NumberBox box, const QString& text)
{
    const bool numeric = isNumeric(text);
    switch (box) {
    case NumberBox::Colums:
        return numeric ? text : QStringLiteral("2");
    case NumberBox::Rows:
        return numeric ? text : QStringLiteral("2");
    case NumberBox::RowHeight:
        return numeric ? text : QStringLiteral("200");
    case NumberBox::SlideDuration:
        return numeric ? text : QStringLiteral("5");
    case NumberBox::PageInterval:
        return numeric ? text : QStringLiteral("3000");
    case NumberBox::Volume:
        return numeric && leadingValue(text) <= 10 ? text : QStringLiteral("5");
    case NumberBox::LineWidth:
        return numeric && leadingValue(text) >= 1 ? text : QStringLiteral("1");
    }
    return text;
}

QString defaultWidths(const QString& colums)
{
    const double value = leadingValue(colums);
    const int count = value > Schema::headerCaptions ? Schema::headerCaptions : static_cast<int>(value);
    QString widths = QStringLiteral("2500");
    for (int i = 2; i <= count; ++i)
        widths += QStringLiteral(";2500");
    return widths;
}

bool chkVal(const QString& widths, const QString& colums)
{
    QString digits = widths;
    digits.remove(QLatin1Char(';'));
    if (!isNumeric(digits))
        return false;
    return widths.count(QLatin1Char(';')) + 1 == leadingValue(colums);
}

} // namespace tallyvo::ThemeRules
