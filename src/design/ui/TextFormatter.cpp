#include "design/ui/TextFormatter.h"

#include "widgets/Twips.h"

#include <QLocale>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QTextList>

#include <optional>

namespace tallyvo {

namespace {

// 2 mm, the indent of slider position 0.
constexpr int kBaseIndentTwips = 113;
constexpr int kIndentPositions = 8;

struct Style {
    double points;
    bool bold;
    double listPoints; // the size the style list shows its own entry in
};
constexpr Style kStyles[] = {{8, false, 8}, {16, true, 12}, {14, true, 10}, {13, true, 9}};

// Each selected block once, in order; the caret's block when nothing is selected.
QList<QTextBlock> selectedBlocks(const QTextCursor& cursor)
{
    QList<QTextBlock> out;
    const QTextDocument* doc = cursor.document();
    QTextBlock block = doc->findBlock(cursor.selectionStart());
    const QTextBlock last = doc->findBlock(cursor.selectionEnd());
    while (block.isValid()) {
        out << block;
        if (block == last)
            break;
        block = block.next();
    }
    return out;
}

bool allBulleted(const QList<QTextBlock>& blocks)
{
    bool all = !blocks.isEmpty();
    for (const QTextBlock& b : blocks)
        all = all && b.textList();
    return all;
}

std::optional<double> points(const QString& text)
{
    bool ok = false;
    const double size = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || size <= 0 || size > 1638)
        return std::nullopt;
    return size;
}

} // namespace

TextFormatter::TextFormatter(QTextEdit& box)
    : m_box(box)
{
}

void TextFormatter::merge(const QTextCharFormat& format)
{
    m_box.mergeCurrentCharFormat(format);
    m_box.setFocus();
}

void TextFormatter::setBold(bool on)
{
    QTextCharFormat f;
    f.setFontWeight(on ? QFont::Bold : QFont::Normal);
    merge(f);
}

void TextFormatter::setItalic(bool on)
{
    QTextCharFormat f;
    f.setFontItalic(on);
    merge(f);
}

void TextFormatter::setUnderline(bool on)
{
    QTextCharFormat f;
    f.setFontUnderline(on);
    merge(f);
}

void TextFormatter::setStrikeOut(bool on)
{
    QTextCharFormat f;
    f.setFontStrikeOut(on);
    merge(f);
}

void TextFormatter::toggleBullets()
{
    QTextCursor cursor = m_box.textCursor();
    const QList<QTextBlock> blocks = selectedBlocks(cursor);
    cursor.beginEditBlock();
    if (allBulleted(blocks)) {
        for (const QTextBlock& b : blocks) {
            if (QTextList* list = b.textList())
                list->remove(b);
            QTextCursor c(b);
            QTextBlockFormat bf = b.blockFormat();
            bf.setIndent(0);
            c.setBlockFormat(bf);
        }
    } else {
        cursor.createList(QTextListFormat::ListDisc);
    }
    cursor.endEditBlock();
    m_box.setFocus();
}

void TextFormatter::setAlignment(Qt::Alignment alignment)
{
    m_box.setAlignment(alignment);
    m_box.setFocus();
}

void TextFormatter::changeCase(bool upper)
{
    QTextCursor cursor = m_box.textCursor();
    if (!cursor.hasSelection())
        return;
    const QString text = cursor.selection().toPlainText();
    const int start = cursor.selectionStart();
    const QString replaced = upper ? text.toUpper() : text.toLower();
    cursor.insertText(replaced);
    cursor.setPosition(start);
    cursor.setPosition(start + int(replaced.size()), QTextCursor::KeepAnchor);
    m_box.setTextCursor(cursor);
}

void TextFormatter::setFontAndSize(const QString& family, const QString& size)
{
    QTextCharFormat f;
    if (!family.trimmed().isEmpty())
        f.setFontFamilies({family.trimmed()});
    if (const std::optional<double> pts = points(size))
        f.setFontPointSize(*pts);
    merge(f);
}

bool TextFormatter::setSize(const QString& size)
{
    const std::optional<double> pts = points(size);
    if (!pts)
        return false;
    QTextCharFormat f;
    f.setFontPointSize(*pts);
    merge(f);
    return true;
}

int TextFormatter::styleCount()
{
    return int(std::size(kStyles));
}

QFont TextFormatter::styleListFont(int index, QFont font)
{
    if (index < 0 || index >= styleCount())
        return font;
    font.setPointSizeF(kStyles[index].listPoints);
    font.setBold(kStyles[index].bold);
    return font;
}

void TextFormatter::applyStyle(int index)
{
    if (index < 0 || index >= styleCount())
        return;
    QTextCharFormat f;
    f.setFontPointSize(kStyles[index].points);
    f.setFontWeight(kStyles[index].bold ? QFont::Bold : QFont::Normal);
    merge(f);
}

void TextFormatter::setForeground(const QColor& colour)
{
    QTextCharFormat f;
    f.setForeground(colour);
    merge(f);
}

void TextFormatter::setBackground(const QColor& colour)
{
    QTextCharFormat f;
    f.setBackground(colour);
    merge(f);
}

QFont TextFormatter::selectionFont() const
{
    const QTextCharFormat current = m_box.textCursor().charFormat();
    QFont start = m_base;
    const QStringList families = current.fontFamilies().toStringList();
    if (!families.isEmpty())
        start.setFamilies(families);
    if (current.fontPointSize() > 0)
        start.setPointSizeF(current.fontPointSize());
    start.setBold(current.fontWeight() >= QFont::Bold);
    start.setItalic(current.fontItalic());
    start.setUnderline(current.fontUnderline());
    start.setStrikeOut(current.fontStrikeOut());
    return start;
}

double TextFormatter::applyFont(const QFont& font)
{
    QTextCharFormat f;
    f.setFontFamilies({font.family()});
    f.setFontPointSize(font.pointSizeF() > 0 ? font.pointSizeF() : m_base.pointSizeF());
    f.setFontWeight(font.bold() ? QFont::Bold : QFont::Normal);
    f.setFontItalic(font.italic());
    f.setFontUnderline(font.underline());
    f.setFontStrikeOut(font.strikeOut());
    merge(f);
    return f.fontPointSize();
}

int TextFormatter::baseIndentTwips()
{
    return kBaseIndentTwips;
}

int TextFormatter::indentTwips(int position)
{
    return kBaseIndentTwips + position * 1440;
}

void TextFormatter::setIndent(int position)
{
    const qreal pixels = indentTwips(position) * detail::usableDpi(m_box.logicalDpiX()) / kTwipsPerInch;
    QTextCursor cursor = m_box.textCursor();
    cursor.beginEditBlock();
    for (const QTextBlock& b : selectedBlocks(cursor)) {
        QTextCursor c(b);
        QTextBlockFormat bf = b.blockFormat();
        bf.setLeftMargin(pixels);
        c.setBlockFormat(bf);
    }
    cursor.endEditBlock();
}

TextFormatter::Look TextFormatter::look() const
{
    const QTextCursor cursor = m_box.textCursor();
    const QTextCharFormat cf = cursor.charFormat();
    Look out;
    out.bold = cf.fontWeight() >= QFont::Bold;
    out.italic = cf.fontItalic();
    out.underline = cf.fontUnderline();
    out.strikeOut = cf.fontStrikeOut();

    const Qt::Alignment a = cursor.blockFormat().alignment();
    if (a & Qt::AlignHCenter)
        out.alignment = Qt::AlignHCenter;
    else if (a & (Qt::AlignRight | Qt::AlignTrailing))
        out.alignment = Qt::AlignRight;
    else
        out.alignment = Qt::AlignLeft;

    const QList<QTextBlock> blocks = selectedBlocks(cursor);
    out.bullets = allBulleted(blocks);

    // The selection's font and size, or nothing when it mixes several.
    QString family;
    double size = -1;
    bool mixedFamily = false;
    bool mixedSize = false;
    auto consider = [&](const QTextCharFormat& f) {
        const QStringList fams = f.fontFamilies().toStringList();
        const QString fam = fams.isEmpty() ? m_base.family() : fams.first();
        const double pts = f.fontPointSize() > 0 ? f.fontPointSize() : m_base.pointSizeF();
        if (size < 0) {
            family = fam;
            size = pts;
        } else {
            mixedFamily = mixedFamily || fam != family;
            mixedSize = mixedSize || pts != size;
        }
    };
    if (cursor.hasSelection()) {
        const int start = cursor.selectionStart();
        const int end = cursor.selectionEnd();
        for (const QTextBlock& b : blocks) {
            for (auto it = b.begin(); !it.atEnd(); ++it) {
                const QTextFragment fr = it.fragment();
                if (fr.position() < end && fr.position() + fr.length() > start)
                    consider(fr.charFormat());
            }
        }
    }
    if (size < 0)
        consider(cf);
    out.family = mixedFamily ? QString() : family;
    out.size = mixedSize ? QString() : QLocale::c().toString(size);

    // The slider follows a paragraph whose indent is one of its positions.
    const int twips = pixelsToTwips(cursor.blockFormat().leftMargin(), m_box.logicalDpiX());
    for (int p = 0; p < kIndentPositions; ++p)
        if (qAbs(indentTwips(p) - twips) <= 15)
            out.indentPosition = p;
    return out;
}

} // namespace tallyvo
