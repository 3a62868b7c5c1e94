#include "design/Rtf.h"

#include <QHash>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <map>
#include <vector>

namespace tallyvo::Rtf {

namespace {

// Groups nested deeper than this share the state of the deepest one kept: a hostile text cannot
// make the reader hold one state per brace.
constexpr int kMaxDepth = 200;
// RTF numbers have at most 10 digits; longer ones are read on but not kept.
constexpr int kMaxDigits = 10;
constexpr int kMaxWordLength = 32;
// Indents beyond a few metres of paper are nonsense; keeping them small keeps the writer's numbers
// in range.
constexpr int kMaxIndent = 1000000;

// Bytes 0x80..0x9F of Windows code page 1252; the others are Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The code page a font's character set stands for; 0 when it names none we decode.
int codePageOfCharset(int charset)
{
    switch (charset) {
    case 0: return 1252;
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    default: return 0;
    }
}

int hexDigit(char16_t h)
{
    if (h >= u'0' && h <= u'9')
        return h - u'0';
    if (h >= u'a' && h <= u'f')
        return h - u'a' + 10;
    if (h >= u'A' && h <= u'F')
        return h - u'A' + 10;
    return -1;
}

enum class Dest { Text, Skip, FontTable, ColorTable, Pn };

struct State {
    Dest dest = Dest::Text;
    RtfCharFormat format;
    int font = -1; // font table number, -1 for the document default
    int uc = 1;    // fallback characters after each \uN
    RtfAlign align = RtfAlign::Left;
    int leftIndent = 0;
    int firstIndent = 0;
    int rightIndent = 0;
    bool bullet = false;
    bool upr = false; // a \upr group: its \ud part is read instead of the rest
};

struct FontEntry {
    QString name;
    int codePage = 0;
};

class Reader {
public:
    explicit Reader(const QString& input)
        : m_in(input)
    {
        m_stack.reserve(64);
        m_stack.push_back(State{});
    }

    RtfDocument run();

private:
    State& state() { return m_stack.back(); }

    void openGroup();
    void closeGroup();
    void controlWord(const QString& word, bool hasParam, qint64 param);
    void controlSymbol(QChar c);
    void hexByte(int value);
    void character(char16_t c);
    void unicode(char16_t c);
    void flushBytes();
    QString decode(const QByteArray& bytes, int codePage);
    int currentCodePage() const;
    void appendText(const QString& text);
    void endParagraph();
    void fontTableText(const QString& text);
    void colorTableText(const QString& text);
    bool destination(const QString& word);

    const QString m_in;
    qsizetype m_pos = 0;
    std::vector<State> m_stack;
    int m_overflow = 0; // groups opened past kMaxDepth, not on the stack
    bool m_ignorable = false; // the last token was \*
    int m_skipChars = 0;      // fallback characters of a \uN still to skip
    bool m_ended = false;

    QByteArray m_bytes; // code-page bytes waiting to be decoded together
    int m_bytesCodePage = 0;
    int m_docCodePage = 1252;
    int m_defaultFont = -1;

    QHash<int, FontEntry> m_fonts;
    int m_fontTableNumber = -1;
    QString m_fontName;
    std::vector<std::optional<quint32>> m_colors;
    int m_red = 0, m_green = 0, m_blue = 0;
    bool m_colorSet = false;

    std::map<int, QStringDecoder> m_decoders;

    RtfDocument m_doc;
    RtfParagraph m_para;
};

RtfDocument Reader::run()
{
    const qsizetype n = m_in.size();
    while (m_pos < n && !m_ended) {
        const char16_t c = m_in.at(m_pos).unicode();
        if (c == u'{') {
            ++m_pos;
            flushBytes();
            openGroup();
        } else if (c == u'}') {
            ++m_pos;
            flushBytes();
            closeGroup();
        } else if (c == u'\\') {
            ++m_pos;
            if (m_pos >= n)
                break;
            const QChar next = m_in.at(m_pos);
            if (next.isLetter() && next.unicode() < 0x80) {
                const qsizetype start = m_pos;
                while (m_pos < n && m_in.at(m_pos).unicode() < 0x80 && m_in.at(m_pos).isLetter())
                    ++m_pos;
                const QString word = m_in.mid(start, qMin<qsizetype>(m_pos - start, kMaxWordLength));
                bool hasParam = false;
                bool negative = false;
                qint64 param = 0;
                if (m_pos < n && m_in.at(m_pos) == u'-' && m_pos + 1 < n && m_in.at(m_pos + 1).isDigit()
                    && m_in.at(m_pos + 1).unicode() < 0x80) {
                    negative = true;
                    ++m_pos;
                }
                int digits = 0;
                while (m_pos < n && m_in.at(m_pos).unicode() < 0x80 && m_in.at(m_pos).isDigit()) {
                    if (digits++ < kMaxDigits)
                        param = param * 10 + (m_in.at(m_pos).unicode() - u'0');
                    hasParam = true;
                    ++m_pos;
                }
                if (negative)
                    param = -param;
                // One blank ends a control word and belongs to it.
                if (m_pos < n && m_in.at(m_pos) == u' ')
                    ++m_pos;
                if (word != QLatin1String("bin"))
                    flushBytes();
                controlWord(word, hasParam, param);
            } else if (next == u'\'') {
                ++m_pos;
                int value = 0;
                int got = 0;
                while (got < 2 && m_pos < n) {
                    const int d = hexDigit(m_in.at(m_pos).unicode());
                    if (d < 0)
                        break;
                    value = value * 16 + d;
                    ++got;
                    ++m_pos;
                }
                if (got > 0)
                    hexByte(value);
            } else {
                ++m_pos;
                flushBytes();
                controlSymbol(next);
            }
        } else if (c == u'\r' || c == u'\n') {
            ++m_pos;
        } else {
            ++m_pos;
            character(c);
        }
    }
    flushBytes();
    // A last paragraph without its \par still counts; an empty one after the last \par is only
    // the end of the text.
    if (!m_para.runs.isEmpty())
        endParagraph();
    return m_doc;
}

void Reader::openGroup()
{
    m_ignorable = false;
    m_skipChars = 0;
    if (int(m_stack.size()) >= kMaxDepth) {
        ++m_overflow;
        return;
    }
    State copy = state();
    copy.upr = false;
    m_stack.push_back(copy);
}

void Reader::closeGroup()
{
    m_ignorable = false;
    m_skipChars = 0;
    if (m_overflow > 0) {
        --m_overflow;
        return;
    }
    const Dest leaving = state().dest;
    if (leaving == Dest::FontTable && m_fontTableNumber >= 0 && !m_fontName.trimmed().isEmpty()) {
        // An entry whose ';' is missing still names its font.
        m_fonts.insert(m_fontTableNumber, FontEntry{m_fontName.trimmed(), m_fonts.value(m_fontTableNumber).codePage});
        m_fontName.clear();
    }
    if (m_stack.size() <= 1)
        return; // a brace closing nothing
    m_stack.pop_back();
    // The document's own group has closed: what follows is not part of it.
    if (m_stack.size() == 1)
        m_ended = true;
}

bool Reader::destination(const QString& word)
{
    static const QSet<QString> skipped{
        QStringLiteral("stylesheet"), QStringLiteral("info"),      QStringLiteral("pict"),
        QStringLiteral("object"),     QStringLiteral("header"),    QStringLiteral("headerl"),
        QStringLiteral("headerr"),    QStringLiteral("headerf"),   QStringLiteral("footer"),
        QStringLiteral("footerl"),    QStringLiteral("footerr"),   QStringLiteral("footerf"),
        QStringLiteral("footnote"),   QStringLiteral("fldinst"),   QStringLiteral("pntext"),
        QStringLiteral("listtext"),   QStringLiteral("listtable"), QStringLiteral("listoverridetable"),
        QStringLiteral("filetbl"),    QStringLiteral("revtbl"),    QStringLiteral("rsidtbl"),
        QStringLiteral("xmlnstbl"),   QStringLiteral("themedata"), QStringLiteral("colorschememapping"),
        QStringLiteral("latentstyles"), QStringLiteral("datastore"), QStringLiteral("generator"),
        QStringLiteral("annotation"), QStringLiteral("atnid"),     QStringLiteral("atnauthor"),
        QStringLiteral("shp"),        QStringLiteral("shpinst"),   QStringLiteral("nonshppict"),
        QStringLiteral("shppict"),    QStringLiteral("txe"),       QStringLiteral("xe"),
        QStringLiteral("tc"),         QStringLiteral("bkmkstart"), QStringLiteral("bkmkend"),
        QStringLiteral("mmathPr"),    QStringLiteral("userprops"), QStringLiteral("template"),
        QStringLiteral("pgdsctbl"),   QStringLiteral("protusertbl"), QStringLiteral("defchp"),
        QStringLiteral("defpap")};
    State& s = state();
    if (word == QLatin1String("fonttbl")) {
        s.dest = Dest::FontTable;
        m_fontTableNumber = -1;
        m_fontName.clear();
        return true;
    }
    if (word == QLatin1String("colortbl")) {
        s.dest = Dest::ColorTable;
        m_colors.clear();
        m_colorSet = false;
        m_red = m_green = m_blue = 0;
        return true;
    }
    if (word == QLatin1String("pn")) {
        s.dest = s.dest == Dest::Text ? Dest::Pn : Dest::Skip;
        return true;
    }
    if (word == QLatin1String("ud")) {
        // The Unicode half of a \upr pair replaces the other half.
        const bool inUpr = m_stack.size() >= 2 && m_stack[m_stack.size() - 2].upr;
        if (inUpr && m_overflow == 0)
            s.dest = Dest::Text;
        else
            s.dest = Dest::Skip;
        return true;
    }
    if (word == QLatin1String("upr")) {
        s.upr = true;
        s.dest = Dest::Skip;
        return true;
    }
    if (skipped.contains(word)) {
        s.dest = Dest::Skip;
        return true;
    }
    if (m_ignorable) {
        // "\*" marks a destination a reader may skip when it does not know it.
        s.dest = Dest::Skip;
        return true;
    }
    return false;
}

void Reader::controlWord(const QString& word, bool hasParam, qint64 param)
{
    if (word == QLatin1String("bin")) {
        // Binary data: that many raw characters, never text.
        const qint64 count = hasParam && param > 0 ? param : 0;
        m_pos += qsizetype(qMin<qint64>(count, m_in.size() - m_pos));
        m_ignorable = false;
        return;
    }
    if (m_skipChars > 0 && word != QLatin1String("u")) {
        --m_skipChars;
        m_ignorable = false;
        return;
    }
    if (word != QLatin1String("u") && destination(word)) {
        m_ignorable = false;
        return;
    }
    m_ignorable = false;
    State& s = state();
    const int value = int(std::clamp<qint64>(param, -kMaxIndent, kMaxIndent));
    const bool on = !hasParam || param != 0;

    if (s.dest == Dest::Skip)
        return;
    if (s.dest == Dest::FontTable) {
        if (word == QLatin1String("f")) {
            if (m_fontTableNumber >= 0 && !m_fontName.trimmed().isEmpty())
                m_fonts.insert(m_fontTableNumber, FontEntry{m_fontName.trimmed(), m_fonts.value(m_fontTableNumber).codePage});
            m_fontTableNumber = value;
            m_fontName.clear();
        } else if (word == QLatin1String("fcharset") && m_fontTableNumber >= 0) {
            m_fonts[m_fontTableNumber].codePage = codePageOfCharset(value);
        } else if (word == QLatin1String("cpg") && m_fontTableNumber >= 0) {
            m_fonts[m_fontTableNumber].codePage = value;
        } else if (word == QLatin1String("u")) {
            if (param >= -32768 && param <= 65535)
                fontTableText(QString(QChar(char16_t(param < 0 ? param + 65536 : param))));
            m_skipChars = s.uc;
        } else if (word == QLatin1String("uc")) {
            s.uc = qBound(0, value, 10);
        }
        return;
    }
    if (s.dest == Dest::ColorTable) {
        if (word == QLatin1String("red"))
            m_red = qBound(0, value, 255), m_colorSet = true;
        else if (word == QLatin1String("green"))
            m_green = qBound(0, value, 255), m_colorSet = true;
        else if (word == QLatin1String("blue"))
            m_blue = qBound(0, value, 255), m_colorSet = true;
        return;
    }
    if (s.dest == Dest::Pn) {
        if (word == QLatin1String("pnlvlblt")) {
            // The bullet belongs to the paragraph around this group.
            for (auto it = m_stack.rbegin(); it != m_stack.rend(); ++it) {
                if (it->dest == Dest::Text) {
                    it->bullet = true;
                    break;
                }
            }
        } else if (word == QLatin1String("pntxtb") || word == QLatin1String("pntxta")) {
            s.dest = Dest::Skip;
        }
        return;
    }

    // Body text.
    RtfCharFormat& f = s.format;
    if (word == QLatin1String("par") || word == QLatin1String("sect") || word == QLatin1String("page")
        || word == QLatin1String("row")) {
        endParagraph();
    } else if (word == QLatin1String("line")) {
        appendText(QString(QChar::LineSeparator));
    } else if (word == QLatin1String("tab") || word == QLatin1String("cell")) {
        appendText(QStringLiteral("\t"));
    } else if (word == QLatin1String("u")) {
        if (param >= -32768 && param <= 65535)
            unicode(char16_t(param < 0 ? param + 65536 : param));
        m_skipChars = s.uc;
    } else if (word == QLatin1String("uc")) {
        s.uc = qBound(0, value, 10);
    } else if (word == QLatin1String("ansicpg")) {
        m_docCodePage = value;
    } else if (word == QLatin1String("ansi")) {
        m_docCodePage = 1252;
    } else if (word == QLatin1String("mac")) {
        m_docCodePage = 10000;
    } else if (word == QLatin1String("pc")) {
        m_docCodePage = 437;
    } else if (word == QLatin1String("pca")) {
        m_docCodePage = 850;
    } else if (word == QLatin1String("deff")) {
        m_defaultFont = value;
        if (s.font < 0)
            s.font = value;
    } else if (word == QLatin1String("plain")) {
        f = RtfCharFormat{};
        s.font = m_defaultFont;
    } else if (word == QLatin1String("f")) {
        s.font = value;
    } else if (word == QLatin1String("fs")) {
        f.size = hasParam && param > 0 ? qMin<qint64>(param, 3276) / 2.0 : 0;
    } else if (word == QLatin1String("b")) {
        f.bold = on;
    } else if (word == QLatin1String("i")) {
        f.italic = on;
    } else if (word == QLatin1String("strike") || word == QLatin1String("striked")) {
        f.strike = on;
    } else if (word == QLatin1String("ulnone")) {
        f.underline = false;
    } else if (word == QLatin1String("ul")) {
        f.underline = on;
    } else if (word.startsWith(QLatin1String("ul")) && word != QLatin1String("ulc")) {
        f.underline = true; // dotted, double, wave ...: all show as underlined here
    } else if (word == QLatin1String("cf")) {
        f.color = value > 0 && value < int(m_colors.size()) ? m_colors[size_t(value)] : std::nullopt;
    } else if (word == QLatin1String("cb") || word == QLatin1String("highlight") || word == QLatin1String("chcbpat")) {
        f.background = value > 0 && value < int(m_colors.size()) ? m_colors[size_t(value)] : std::nullopt;
    } else if (word == QLatin1String("pard")) {
        s.align = RtfAlign::Left;
        s.leftIndent = s.firstIndent = s.rightIndent = 0;
        s.bullet = false;
    } else if (word == QLatin1String("ql")) {
        s.align = RtfAlign::Left;
    } else if (word == QLatin1String("qc")) {
        s.align = RtfAlign::Center;
    } else if (word == QLatin1String("qr")) {
        s.align = RtfAlign::Right;
    } else if (word == QLatin1String("qj") || word == QLatin1String("qd")) {
        s.align = RtfAlign::Justify;
    } else if (word == QLatin1String("li") || word == QLatin1String("lin")) {
        s.leftIndent = value;
    } else if (word == QLatin1String("fi")) {
        s.firstIndent = value;
    } else if (word == QLatin1String("ri") || word == QLatin1String("rin")) {
        s.rightIndent = value;
    } else if (word == QLatin1String("ls")) {
        s.bullet = true; // a list paragraph of a newer writer: shown with a bullet
    } else if (word == QLatin1String("emdash")) {
        appendText(QString(QChar(0x2014)));
    } else if (word == QLatin1String("endash")) {
        appendText(QString(QChar(0x2013)));
    } else if (word == QLatin1String("bullet")) {
        appendText(QString(QChar(0x2022)));
    } else if (word == QLatin1String("lquote")) {
        appendText(QString(QChar(0x2018)));
    } else if (word == QLatin1String("rquote")) {
        appendText(QString(QChar(0x2019)));
    } else if (word == QLatin1String("ldblquote")) {
        appendText(QString(QChar(0x201C)));
    } else if (word == QLatin1String("rdblquote")) {
        appendText(QString(QChar(0x201D)));
    } else if (word == QLatin1String("emspace")) {
        appendText(QString(QChar(0x2003)));
    } else if (word == QLatin1String("enspace")) {
        appendText(QString(QChar(0x2002)));
    }
}

void Reader::controlSymbol(QChar c)
{
    if (c == u'*') {
        m_ignorable = true;
        return;
    }
    m_ignorable = false;
    if (m_skipChars > 0) {
        --m_skipChars;
        return;
    }
    switch (c.unicode()) {
    case u'\\':
    case u'{':
    case u'}':
        character(c.unicode());
        break;
    case u'~':
        character(0x00A0);
        break;
    case u'_':
        character(0x2011);
        break;
    case u'\n':
    case u'\r':
        if (state().dest == Dest::Text)
            endParagraph();
        break;
    default: // \- (optional hyphen), \: and others show nothing
        break;
    }
}

void Reader::hexByte(int value)
{
    m_ignorable = false;
    if (m_skipChars > 0) {
        --m_skipChars;
        return;
    }
    const int page = currentCodePage();
    if (!m_bytes.isEmpty() && page != m_bytesCodePage)
        flushBytes();
    m_bytesCodePage = page;
    m_bytes.append(char(value));
}

int Reader::currentCodePage() const
{
    const State& s = m_stack.back();
    const int font = s.font >= 0 ? s.font : m_defaultFont;
    const auto it = m_fonts.constFind(font);
    if (it != m_fonts.cend() && it->codePage > 0)
        return it->codePage;
    return m_docCodePage;
}

QString Reader::decode(const QByteArray& bytes, int codePage)
{
    QString out;
    if (codePage == 1252 || codePage <= 0) {
        out.reserve(bytes.size());
        for (char b : bytes) {
            const auto u = static_cast<unsigned char>(b);
            out += QChar(u >= 0x80 && u < 0xA0 ? kCp1252High[u - 0x80] : char16_t(u));
        }
        return out;
    }
    if (codePage == 65001)
        return QString::fromUtf8(bytes);
    auto it = m_decoders.find(codePage);
    if (it == m_decoders.end()) {
        const QByteArray name = codePage == 10000 ? QByteArrayLiteral("macintosh")
                                : (codePage == 437 || codePage == 850 || codePage == 932)
                                    ? QByteArrayLiteral("cp") + QByteArray::number(codePage)
                                    : QByteArrayLiteral("windows-") + QByteArray::number(codePage);
        it = m_decoders.emplace(codePage, QStringDecoder(name.constData())).first;
    }
    if (!it->second.isValid())
        return decode(bytes, 1252);
    it->second.resetState();
    return it->second.decode(bytes);
}

void Reader::flushBytes()
{
    if (m_bytes.isEmpty())
        return;
    const QString text = decode(m_bytes, m_bytesCodePage);
    m_bytes.clear();
    switch (state().dest) {
    case Dest::Text:
        appendText(text);
        break;
    case Dest::FontTable:
        fontTableText(text);
        break;
    default:
        break;
    }
}

void Reader::character(char16_t c)
{
    m_ignorable = false;
    if (m_skipChars > 0) {
        --m_skipChars;
        return;
    }
    if (c >= 0x80 && c <= 0xFF) {
        // A raw byte of the document's code page.
        hexByte(c);
        return;
    }
    flushBytes();
    const QString text(QChar{c});
    switch (state().dest) {
    case Dest::Text:
        appendText(text);
        break;
    case Dest::FontTable:
        fontTableText(text);
        break;
    case Dest::ColorTable:
        colorTableText(text);
        break;
    default:
        break;
    }
}

void Reader::unicode(char16_t c)
{
    if (state().dest == Dest::Text)
        appendText(QString(QChar(c)));
}

void Reader::fontTableText(const QString& text)
{
    for (const QChar c : text) {
        if (c == u';') {
            if (m_fontTableNumber >= 0)
                m_fonts.insert(m_fontTableNumber,
                               FontEntry{m_fontName.trimmed(), m_fonts.value(m_fontTableNumber).codePage});
            m_fontName.clear();
        } else if (m_fontName.size() < 256) {
            m_fontName += c;
        }
    }
}

void Reader::colorTableText(const QString& text)
{
    for (const QChar c : text) {
        if (c != u';')
            continue;
        if (m_colorSet)
            m_colors.push_back(quint32(m_red) << 16 | quint32(m_green) << 8 | quint32(m_blue));
        else
            m_colors.push_back(std::nullopt); // "auto": the default colour
        m_red = m_green = m_blue = 0;
        m_colorSet = false;
    }
}

void Reader::appendText(const QString& input)
{
    // Control characters other than the tab have no place in a message.
    QString text = input;
    text.removeIf([](QChar c) { return c.unicode() < 0x20 && c != u'\t'; });
    if (text.isEmpty())
        return;
    const State& s = state();
    RtfCharFormat f = s.format;
    const int font = s.font >= 0 ? s.font : m_defaultFont;
    f.font = font >= 0 ? m_fonts.value(font).name : QString();
    if (!m_para.runs.isEmpty() && m_para.runs.last().format == f)
        m_para.runs.last().text += text;
    else
        m_para.runs.append(RtfRun{text, f});
}

void Reader::endParagraph()
{
    const State& s = state();
    m_para.align = s.align;
    m_para.leftIndent = s.leftIndent;
    m_para.firstIndent = s.firstIndent;
    m_para.rightIndent = s.rightIndent;
    m_para.bullet = s.bullet;
    m_doc.paragraphs.append(std::move(m_para));
    m_para = RtfParagraph{};
}

} // namespace

RtfDocument read(const QString& rtf)
{
    return Reader(rtf).run();
}

RtfDocument read(const QByteArray& rtf)
{
    return read(QString::fromLatin1(rtf));
}

bool looksLikeRtf(const QByteArray& data)
{
    return data.trimmed().startsWith("{\\rtf");
}

} // namespace tallyvo::Rtf
