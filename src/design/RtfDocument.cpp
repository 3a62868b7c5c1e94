#include "design/RtfDocument.h"

#include <QStringList>

namespace tallyvo {

QString RtfParagraph::text() const
{
    QString out;
    for (const RtfRun& run : runs)
        out += run.text;
    return out;
}

QString RtfDocument::plainText() const
{
    QStringList lines;
    for (const RtfParagraph& p : paragraphs)
        lines << p.text();
    return lines.join(QLatin1Char('\n'));
}

} // namespace tallyvo
