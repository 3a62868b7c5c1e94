#pragma once

#include "design/RtfDocument.h"

#include <QCoreApplication>
#include <QString>
#include <optional>

namespace tallyvo {

// Files the news editor reads a message from and writes one to. Rich text is taken as it is;
// plain text becomes one paragraph a line at the given indent. Word documents and binary files are
// refused with a reason the user can act on, not shown as garbage.
class NewsFiles {
    Q_DECLARE_TR_FUNCTIONS(NewsFiles)
public:
    // The message in a file; nullopt with *refusal (the text to show) when it cannot be read.
    static std::optional<RtfDocument> read(const QString& path, int indentTwips, QString* refusal);
    // "Save As": plain text for a .txt name, rich text otherwise. "" when written, else the text
    // to show; a file that could not be written whole is left as it was.
    static QString write(const QString& path, const QString& plainText, const RtfDocument& document);
    // One paragraph a line, at the indent.
    static RtfDocument fromLines(const QString& text, int indentTwips);
};

} // namespace tallyvo
