#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace tallyvo {

// Rich text as the news editor keeps it, without a widget: paragraphs of runs of equally
// formatted text. The RTF codec reads and writes it; the editor window turns it into its text
// box's document and back.

// Colours here are 0xRRGGBB, as RTF colour tables give them.
struct RtfCharFormat {
    QString font;  // empty: the document's default font
    double size = 0; // points; 0: the default size
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    std::optional<quint32> color;
    std::optional<quint32> background;

    bool operator==(const RtfCharFormat&) const = default;
};

struct RtfRun {
    QString text; // tabs as '\t', line breaks inside a paragraph as U+2028
    RtfCharFormat format;

    bool operator==(const RtfRun&) const = default;
};

enum class RtfAlign { Left, Center, Right, Justify };

struct RtfParagraph {
    RtfAlign align = RtfAlign::Left;
    bool bullet = false;
    int leftIndent = 0;  // twips
    int firstIndent = 0; // twips, relative to leftIndent
    int rightIndent = 0; // twips
    QList<RtfRun> runs;

    QString text() const;
    bool operator==(const RtfParagraph&) const = default;
};

struct RtfDocument {
    QList<RtfParagraph> paragraphs;

    // Paragraphs joined with '\n'.
    QString plainText() const;
    bool operator==(const RtfDocument&) const = default;
};

} // namespace tallyvo
