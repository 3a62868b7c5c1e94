#include "design/Rtf.h"

#include <QHash>
#include <QList>

namespace tallyvo::Rtf {

namespace {

QString alignWord(RtfAlign align)
{
    switch (align) {
    case RtfAlign::Center: return QStringLiteral("\\qc");
    case RtfAlign::Right: return QStringLiteral("\\qr");
    case RtfAlign::Justify: return QStringLiteral("\\qj");
    case RtfAlign::Left: break;
    }
    return QStringLiteral("\\ql");
}

// Text as 7-bit RTF: the three special characters escaped, tabs and line breaks as their words,
// everything beyond ASCII as \uN with '?' for readers that know no Unicode.
QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\' || u == u'{' || u == u'}') {
            out += QLatin1Char('\\');
            out += c;
        } else if (u == u'\t') {
            out += QLatin1String("\\tab ");
        } else if (u == 0x2028 || u == u'\n' || u == u'\r') {
            out += QLatin1String("\\line ");
        } else if (u < 0x20) {
            // Other control characters have no place in a message.
        } else if (u < 0x80) {
            out += c;
        } else {
            out += QStringLiteral("\\u%1?").arg(int(static_cast<qint16>(u)));
        }
    }
    return out;
}

QString colorEntry(quint32 rgb)
{
    return QStringLiteral("\\red%1\\green%2\\blue%3;").arg((rgb >> 16) & 0xFF).arg((rgb >> 8) & 0xFF).arg(rgb & 0xFF);
}

} // namespace

QString write(const RtfDocument& document)
{
    // Tables of the fonts and colours in use, in order of first use.
    QList<QString> fonts;
    QHash<QString, int> fontIndex;
    QList<quint32> colors;
    QHash<quint32, int> colorIndex;
    auto useColor = [&](const std::optional<quint32>& c) {
        if (c && !colorIndex.contains(*c)) {
            colors << *c;
            colorIndex.insert(*c, int(colors.size())); // entry 0 is "auto"
        }
    };
    for (const RtfParagraph& p : document.paragraphs) {
        for (const RtfRun& r : p.runs) {
            // A ';' or brace in a name would end the table entry early.
            QString name = r.format.font;
            name.remove(QLatin1Char(';')).remove(QLatin1Char('{')).remove(QLatin1Char('}'));
            if (!name.isEmpty() && !fontIndex.contains(name)) {
                fontIndex.insert(name, int(fonts.size()));
                fonts << name;
            }
            useColor(r.format.color);
            useColor(r.format.background);
        }
    }

    QString out = QStringLiteral("{\\rtf1\\ansi\\ansicpg1252\\uc1");
    out += QLatin1String("{\\fonttbl");
    for (int i = 0; i < fonts.size(); ++i)
        out += QStringLiteral("{\\f%1\\fnil\\fcharset0 %2;}").arg(i).arg(escaped(fonts.at(i)));
    out += QLatin1String("}\n{\\colortbl ;");
    for (quint32 c : colors)
        out += colorEntry(c);
    out += QLatin1String("}\n");

    for (const RtfParagraph& p : document.paragraphs) {
        out += QLatin1String("\\pard") + alignWord(p.align);
        if (p.leftIndent)
            out += QStringLiteral("\\li%1").arg(p.leftIndent);
        if (p.firstIndent)
            out += QStringLiteral("\\fi%1").arg(p.firstIndent);
        if (p.rightIndent)
            out += QStringLiteral("\\ri%1").arg(p.rightIndent);
        if (p.bullet)
            out += QLatin1String("{\\*\\pn\\pnlvlblt\\pnindent0{\\pntxtb\\'b7}}{\\pntext\\'b7\\tab}");
        for (const RtfRun& r : p.runs) {
            if (r.text.isEmpty())
                continue;
            const RtfCharFormat& f = r.format;
            QString name = f.font;
            name.remove(QLatin1Char(';')).remove(QLatin1Char('{')).remove(QLatin1Char('}'));
            QString words;
            if (!name.isEmpty())
                words += QStringLiteral("\\f%1").arg(fontIndex.value(name));
            if (f.size > 0)
                words += QStringLiteral("\\fs%1").arg(qRound(f.size * 2));
            if (f.bold)
                words += QLatin1String("\\b");
            if (f.italic)
                words += QLatin1String("\\i");
            if (f.underline)
                words += QLatin1String("\\ul");
            if (f.strike)
                words += QLatin1String("\\strike");
            if (f.color)
                words += QStringLiteral("\\cf%1").arg(colorIndex.value(*f.color));
            if (f.background)
                words += QStringLiteral("\\highlight%1").arg(colorIndex.value(*f.background));
            // The blank ends the last control word; without words it would be text.
            if (!words.isEmpty())
                words += QLatin1Char(' ');
            out += QLatin1Char('{') + words + escaped(r.text) + QLatin1Char('}');
        }
        out += QLatin1String("\\par\n");
    }
    out += QLatin1Char('}');
    return out;
}

} // namespace tallyvo::Rtf
