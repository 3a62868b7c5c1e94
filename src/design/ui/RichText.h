#pragma once

#include "design/RtfDocument.h"

class QTextDocument;

namespace tallyvo::RichText {

// The editor's text box document as the codec's model and back. Indents are kept in twips, so
// dpi is the density the document is laid out for (the text box's logical dpi).

// Text without a font or size of its own is written with the document's default font, so other
// programs show it as the editor does.
RtfDocument fromDocument(const QTextDocument& document, double dpi);
// Replaces the document's content; text without a font or size of its own takes the document's
// default font. The undo history starts afresh.
void toDocument(const RtfDocument& rtf, QTextDocument& document, double dpi);

} // namespace tallyvo::RichText
