#include "design/ui/RichText.h"

#include "widgets/Twips.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

namespace tallyvo::RichText {

namespace {

std::optional<quint32> rgbOf(const QBrush& brush)
{
    if (brush.style() == Qt::NoBrush)
        return std::nullopt;
    return quint32(brush.color().rgb() & 0xFFFFFF);
}

RtfAlign alignOf(Qt::Alignment a)
{
    if (a & Qt::AlignHCenter)
        return RtfAlign::Center;
    if (a & (Qt::AlignRight | Qt::AlignTrailing))
        return RtfAlign::Right;
    if (a & Qt::AlignJustify)
        return RtfAlign::Justify;
    return RtfAlign::Left;
}

Qt::Alignment qtAlign(RtfAlign a)
{
    switch (a) {
    case RtfAlign::Center: return Qt::AlignHCenter;
    case RtfAlign::Right: return Qt::AlignRight;
    case RtfAlign::Justify: return Qt::AlignJustify;
    case RtfAlign::Left: break;
    }
    return Qt::AlignLeft;
}

int toTwips(qreal pixels, double dpi)
{
    return pixelsToTwips(pixels, dpi);
}

qreal toPixels(int twips, double dpi)
{
    return twips * detail::usableDpi(dpi) / kTwipsPerInch;
}

} // namespace

RtfDocument fromDocument(const QTextDocument& document, double dpi)
{
    const QFont base = document.defaultFont();
    RtfDocument out;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        RtfParagraph p;
        const QTextBlockFormat bf = block.blockFormat();
        p.align = alignOf(bf.alignment());
        p.leftIndent = toTwips(bf.leftMargin(), dpi);
        p.firstIndent = toTwips(bf.textIndent(), dpi);
        p.rightIndent = toTwips(bf.rightMargin(), dpi);
        p.bullet = block.textList() != nullptr;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            const QTextCharFormat cf = fragment.charFormat();
            RtfRun run;
            run.text = fragment.text();
            const QStringList families = cf.fontFamilies().toStringList();
            run.format.font = families.isEmpty() ? base.family() : families.first();
            run.format.size = cf.hasProperty(QTextFormat::FontPointSize) ? cf.fontPointSize() : base.pointSizeF();
            run.format.bold = cf.hasProperty(QTextFormat::FontWeight) ? cf.fontWeight() >= QFont::Bold : base.bold();
            run.format.italic = cf.hasProperty(QTextFormat::FontItalic) ? cf.fontItalic() : base.italic();
            run.format.underline = cf.fontUnderline();
            run.format.strike = cf.fontStrikeOut();
            run.format.color = rgbOf(cf.foreground());
            run.format.background = rgbOf(cf.background());
            p.runs << run;
        }
        out.paragraphs << p;
    }
    // A document always has one block: an empty text is no paragraph at all.
    if (out.paragraphs.size() == 1 && out.paragraphs.first().runs.isEmpty())
        out.paragraphs.clear();
    return out;
}

void toDocument(const RtfDocument& rtf, QTextDocument& document, double dpi)
{
    document.clear();
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    QTextList* list = nullptr;
    bool first = true;
    for (const RtfParagraph& p : rtf.paragraphs) {
        QTextBlockFormat bf;
        bf.setAlignment(qtAlign(p.align));
        bf.setLeftMargin(toPixels(p.leftIndent, dpi));
        bf.setTextIndent(toPixels(p.firstIndent, dpi));
        bf.setRightMargin(toPixels(p.rightIndent, dpi));
        if (first)
            cursor.setBlockFormat(bf);
        else
            cursor.insertBlock(bf, QTextCharFormat());
        first = false;
        if (p.bullet) {
            // Bullet paragraphs in a row make one list.
            if (list)
                list->add(cursor.block());
            else
                list = cursor.createList(QTextListFormat::ListDisc);
        } else {
            list = nullptr;
        }
        for (const RtfRun& run : p.runs) {
            QTextCharFormat cf;
            if (!run.format.font.isEmpty())
                cf.setFontFamilies({run.format.font});
            if (run.format.size > 0)
                cf.setFontPointSize(run.format.size);
            cf.setFontWeight(run.format.bold ? QFont::Bold : QFont::Normal);
            cf.setFontItalic(run.format.italic);
            cf.setFontUnderline(run.format.underline);
            cf.setFontStrikeOut(run.format.strike);
            if (run.format.color)
                cf.setForeground(QColor::fromRgb(QRgb(*run.format.color | 0xFF000000u)));
            if (run.format.background)
                cf.setBackground(QColor::fromRgb(QRgb(*run.format.background | 0xFF000000u)));
            cursor.insertText(run.text, cf);
        }
    }
    cursor.endEditBlock();
    document.clearUndoRedoStacks();
    document.setModified(false);
}

} // namespace tallyvo::RichText
