#include "tokens/EscPos.h"

#include "tokens/QrCode.h"

#include <QChar>
#include <QHash>
#include <QStringList>

#include <array>

namespace tallyvo::EscPos {

namespace {

// Unicode of the bytes 0x80 to 0xFF of code page 437.
constexpr std::array<char16_t, 128> kUpper437 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC,
    0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2,
    0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310,
    0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C,
    0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF,
    0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2,
    0x25A0, 0x00A0,
};

const QHash<uint, char>& byteOf()
{
    static const QHash<uint, char> table = [] {
        QHash<uint, char> t;
        for (int i = 0; i < 128; ++i)
            t.insert(kUpper437[std::size_t(i)], static_cast<char>(0x80 + i));
        return t;
    }();
    return table;
}

// Letters that do not decompose into a plain letter and a mark.
const QHash<uint, QByteArray>& spelledOut()
{
    static const QHash<uint, QByteArray> table = {
        {U'ø', "o"},   {U'Ø', "O"},    {U'ł', "l"},    {U'Ł', "L"},    {U'đ', "d"},     {U'Đ', "D"},
        {U'ð', "d"},   {U'Ð', "D"},    {U'ı', "i"},    {U'œ', "oe"},   {U'Œ', "OE"},    {U'þ', "th"},
        {U'Þ', "Th"},  {U'ŋ', "n"},    {U'ħ', "h"},    {U'Ħ', "H"},    {U'€', "EUR"},   {U'‘', "'"},
        {U'’', "'"},   {U'‚', "'"},    {U'′', "'"},    {U'“', "\""},   {U'”', "\""},    {U'„', "\""},
        {U'″', "\""},  {U'‐', "-"},    {U'‑', "-"},    {U'‒', "-"},    {U'–', "-"},     {U'—', "-"},
        {U'−', "-"},   {U'…', "..."},  {U'•', "\xf9"}, {U'™', "TM"},   {U'©', "(C)"},   {U'®', "(R)"},
        {U'×', "x"},   {U'‹', "<"},    {U'›', ">"},
    };
    return table;
}

void appendChar(QByteArray& out, char32_t c)
{
    if (c < 0x80) {
        if (c >= 0x20 && c != 0x7f)
            out += static_cast<char>(c);
        else if (c == U'\n' || c == U'\r' || c == U'\t')
            out += ' ';
        return;
    }
    if (const auto it = byteOf().constFind(c); it != byteOf().constEnd()) {
        out += *it;
        return;
    }
    if (const auto it = spelledOut().constFind(c); it != spelledOut().constEnd()) {
        out += *it;
        return;
    }
    if (QChar::category(c) == QChar::Separator_Space) {
        out += ' ';
        return;
    }
    // "ő" is "o" with a double acute, "ﬁ" is "f" and "i": keep what the page can print, drop marks.
    const QString decomposed = QString::fromUcs4(&c, 1).normalized(QString::NormalizationForm_KD);
    QByteArray near;
    for (const char32_t part : decomposed.toUcs4()) {
        if (QChar::category(part) == QChar::Mark_NonSpacing)
            continue;
        if (part >= 0x20 && part < 0x7f) {
            near += static_cast<char>(part);
        } else if (const auto it = byteOf().constFind(part); it != byteOf().constEnd()) {
            near += *it;
        } else {
            near.clear();
            break;
        }
    }
    out += near.isEmpty() ? QByteArray("?") : near;
}

void setBold(QByteArray& out, bool on)
{
    out += ESC;
    out += 'E';
    out += on ? '\x01' : '\x00';
}

void setSize(QByteArray& out, bool large)
{
    // GS ! n: high nibble width, low nibble height, each magnification minus one.
    out += GS;
    out += '!';
    out += large ? '\x11' : '\x00';
}

} // namespace

int paperWidth(const QString& setting)
{
    return setting.trimmed().startsWith(QLatin1String("58")) ? kPaper58 : kPaper80;
}

int columnsFor(int paperMm)
{
    return paperMm == kPaper58 ? 32 : 48;
}

int dotsFor(int paperMm)
{
    return columnsFor(paperMm) * 12;
}

QByteArray qrImage(const QString& text, int paperMm)
{
    const QrCode code(text);
    if (code.isNull())
        return {};
    // Six dots (0.75 mm) a module makes the usual link about 31 mm square: large enough for any
    // phone, small enough to leave most of a 58 mm roll to the number. A long address gets
    // smaller modules rather than running off the paper.
    constexpr int kLargestModule = 6;
    const int side = code.sizeWithQuietZone();
    const int module = qMin(kLargestModule, dotsFor(paperMm) / side);
    if (module < 1)
        return {};
    const int dots = side * module;
    const int rowBytes = (dots + 7) / 8;
    QByteArray out;
    out.reserve(8 + rowBytes * dots);
    // GS v 0 m xL xH yL yH: normal density, width in bytes, height in dots, rows top to bottom,
    // the leftmost dot in each byte's high bit.
    out += GS;
    out += 'v';
    out += '0';
    out += '\x00';
    out += static_cast<char>(rowBytes & 0xff);
    out += static_cast<char>(rowBytes >> 8);
    out += static_cast<char>(dots & 0xff);
    out += static_cast<char>(dots >> 8);
    QByteArray row(rowBytes, '\0');
    for (int y = 0; y < dots; ++y) {
        if (y % module == 0) {
            row.fill('\0');
            const int codeY = y / module - QrCode::kQuietZone;
            for (int x = 0; x < dots; ++x) {
                if (code.dark(x / module - QrCode::kQuietZone, codeY))
                    row[x / 8] = static_cast<char>(row.at(x / 8) | (0x80 >> (x % 8)));
            }
        }
        out += row;
    }
    return out;
}

QByteArray toCodePage(const QString& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (const char32_t c : text.toUcs4())
        appendChar(out, c);
    return out;
}

QString fromCodePage(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (const char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        out += u < 0x80 ? QChar(char16_t(u)) : QChar(kUpper437[u - 0x80]);
    }
    return out;
}

QStringList wrap(const QString& text, int width)
{
    return wrapTicketText(text, width, [](const QString& line) { return qreal(line.size()); });
}

QByteArray ticket(const QVector<TicketLine>& lines, int paperMm)
{
    const int columns = columnsFor(paperMm);
    QByteArray out;
    out += ESC;
    out += '@';
    out += ESC; // code page 437
    out += 't';
    out += '\x00';
    out += ESC; // centred
    out += 'a';
    out += '\x01';
    bool bold = false;
    for (const TicketLine& line : lines) {
        if (!line.qrCode.isEmpty()) {
            // Centred by the justification above, like the text.
            out += qrImage(line.qrCode, paperMm);
            continue;
        }
        // Line breaks in the text (an address typed on two lines) start new printed lines; the
        // rest is counted and wrapped in the printer's characters, so a transliterated "€"
        // (three of them) still fits the line it is on.
        QStringList encoded;
        for (const QString& part : ticketParagraphs(line.text)) {
            const QByteArray bytes = toCodePage(part).trimmed();
            if (!bytes.isEmpty())
                encoded << QString::fromLatin1(bytes);
        }
        if (encoded.isEmpty()) {
            out += LF;
            continue;
        }
        if (line.bold != bold) {
            setBold(out, line.bold);
            bold = line.bold;
        }
        // The large line is the token label: the one a visitor reads from across the room.
        const bool large = line.pointSize >= 24;
        if (large)
            setSize(out, true);
        for (const QString& text : encoded) {
            for (const QString& part : wrap(text, large ? columns / 2 : columns)) {
                out += part.toLatin1();
                out += LF;
            }
        }
        if (large)
            setSize(out, false);
    }
    if (bold)
        setBold(out, false);
    // ESC d n prints and feeds n lines: the head sits a few lines above the cutter.
    out += ESC;
    out += 'd';
    out += '\x04';
    // GS V 1: partial cut, the ticket hangs on by a thread until the visitor takes it.
    out += GS;
    out += 'V';
    out += '\x01';
    return out;
}

} // namespace tallyvo::EscPos
