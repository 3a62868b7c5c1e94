#include "display/ClockFormat.h"

#include <QList>
#include <QRectF>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace tallyvo {

namespace {

struct Token {
    enum Kind { Literal, Code } kind = Literal;
    QChar letter;  // lower case code letter
    int count = 0; // length of the run
    QString text;  // literal text, or the code's own text
};

QString quoted(const QString& literal)
{
    if (literal.isEmpty())
        return {};
    bool plain = true;
    for (QChar c : literal) {
        if (c.isLetter() || c == QLatin1Char('\''))
            plain = false;
    }
    if (plain)
        return literal;
    QString out = literal;
    out.replace(QLatin1String("'"), QLatin1String("''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

} // namespace

QString qtClockFormat(const QString& format)
{
    // Split into runs of one code letter and literal text.
    QList<Token> tokens;
    bool twelveHour = false;
    auto addLiteral = [&](const QString& s) {
        if (!tokens.isEmpty() && tokens.last().kind == Token::Literal)
            tokens.last().text += s;
        else
            tokens.append(Token{Token::Literal, QChar(), 0, s});
    };
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format.at(i);
        const QString rest = format.mid(i);
        if (rest.startsWith(QLatin1String("AM/PM"), Qt::CaseInsensitive)) {
            tokens.append(Token{Token::Code, QLatin1Char('p'), 5, rest.left(5)});
            twelveHour = true;
            i += 5;
            continue;
        }
        if (rest.startsWith(QLatin1String("A/P"), Qt::CaseInsensitive)) {
            tokens.append(Token{Token::Code, QLatin1Char('p'), 3, rest.left(3)});
            twelveHour = true;
            i += 3;
            continue;
        }
        if (c == QLatin1Char('"')) {
            const qsizetype end = format.indexOf(QLatin1Char('"'), i + 1);
            const qsizetype stop = end < 0 ? format.size() : end;
            addLiteral(format.mid(i + 1, stop - i - 1));
            i = stop + 1;
            continue;
        }
        if (c == QLatin1Char('\\') && i + 1 < format.size()) {
            addLiteral(format.mid(i + 1, 1));
            i += 2;
            continue;
        }
        const QChar lower = c.toLower();
        if (QStringLiteral("dmyhnst").contains(lower)) {
            qsizetype j = i;
            while (j < format.size() && format.at(j).toLower() == lower)
                ++j;
            tokens.append(Token{Token::Code, lower, int(j - i), format.mid(i, j - i)});
            i = j;
            continue;
        }
        addLiteral(QString(c));
        ++i;
    }

    QString out;
    for (qsizetype k = 0; k < tokens.size(); ++k) {
        const Token& t = tokens.at(k);
        if (t.kind == Token::Literal) {
            out += quoted(t.text);
            continue;
        }
        const int n = t.count;
        switch (t.letter.unicode()) {
        case 'd':
            out += n <= 4 ? QString(n, QLatin1Char('d')) : n == 5 ? QStringLiteral("dd/MM/yyyy")
                                                                  : QStringLiteral("dddd d MMMM yyyy");
            break;
        case 'm': {
            bool minute = false;
            if (n <= 2) {
                for (qsizetype b = k - 1; b >= 0; --b) {
                    if (tokens.at(b).kind == Token::Code) {
                        minute = tokens.at(b).letter == QLatin1Char('h');
                        break;
                    }
                }
                for (qsizetype a = k + 1; !minute && a < tokens.size(); ++a) {
                    if (tokens.at(a).kind == Token::Code) {
                        minute = tokens.at(a).letter == QLatin1Char('s');
                        break;
                    }
                }
            }
            out += minute ? QString(n, QLatin1Char('m')) : QString(std::min(n, 4), QLatin1Char('M'));
            break;
        }
        case 'y':
            out += n >= 3 ? QStringLiteral("yyyy") : QStringLiteral("yy");
            break;
        case 'h':
            out += QString(std::min(n, 2), twelveHour ? QLatin1Char('h') : QLatin1Char('H'));
            break;
        case 'n':
            out += QString(std::min(n, 2), QLatin1Char('m'));
            break;
        case 's':
            out += QString(std::min(n, 2), QLatin1Char('s'));
            break;
        case 't':
            out += n >= 5 ? QStringLiteral("HH:mm:ss") : quoted(t.text);
            break;
        case 'p':
            out += t.text.at(0).isUpper() ? QStringLiteral("AP") : QStringLiteral("ap");
            break;
        default:
            out += quoted(t.text);
        }
    }
    return out;
}

namespace {

// The centre the hands turn about: the middle of the view box, or of width x height.
QPointF faceCentre(const QXmlStreamAttributes& svg)
{
    const QStringList box =
        svg.value(QLatin1String("viewBox")).toString().simplified().replace(QLatin1Char(','), QLatin1Char(' '))
            .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (box.size() == 4)
        return QRectF(box[0].toDouble(), box[1].toDouble(), box[2].toDouble(), box[3].toDouble()).center();
    const double w = svg.value(QLatin1String("width")).toString().remove(QLatin1String("px")).toDouble();
    const double h = svg.value(QLatin1String("height")).toString().remove(QLatin1String("px")).toDouble();
    return QPointF(w > 0 ? w / 2 : 100, h > 0 ? h / 2 : 100);
}

} // namespace

QByteArray clockFaceAt(const QByteArray& svg, QTime time)
{
    const double seconds = time.second();
    const double minutes = time.minute() + seconds / 60.0;
    const double hours = (time.hour() % 12) + minutes / 60.0;
    QXmlStreamReader reader(svg);
    // Names are copied as written, so the hands' groups sit in the face's own namespace.
    reader.setNamespaceProcessing(false);
    QByteArray out;
    QXmlStreamWriter writer(&out);
    QPointF centre(100, 100);
    bool root = true;
    int depth = 0;
    QList<int> wrapped; // depths of the hands inside a turning group
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.hasError())
            return {};
        if (reader.isStartElement()) {
            ++depth;
            if (root) {
                centre = faceCentre(reader.attributes());
                root = false;
            }
            const QStringView id = reader.attributes().value(QLatin1String("id"));
            double angle = -1;
            if (id == QLatin1String("hour"))
                angle = hours * 30.0;
            else if (id == QLatin1String("minute"))
                angle = minutes * 6.0;
            else if (id == QLatin1String("second"))
                angle = seconds * 6.0;
            if (angle >= 0) {
                writer.writeStartElement(QStringLiteral("g"));
                writer.writeAttribute(QStringLiteral("transform"), QStringLiteral("rotate(%1 %2 %3)")
                                                                       .arg(angle, 0, 'f', 3)
                                                                       .arg(centre.x())
                                                                       .arg(centre.y()));
                wrapped.append(depth);
            }
            writer.writeCurrentToken(reader);
        } else if (reader.isEndElement()) {
            writer.writeCurrentToken(reader);
            if (!wrapped.isEmpty() && wrapped.last() == depth) {
                writer.writeEndElement();
                wrapped.removeLast();
            }
            --depth;
        } else {
            writer.writeCurrentToken(reader);
        }
    }
    return out;
}

int msToNextSecond(QTime time)
{
    return 1001 - (time.isValid() ? time.msec() : 0);
}

} // namespace tallyvo
