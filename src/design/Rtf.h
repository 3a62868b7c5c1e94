#pragma once

#include "design/RtfDocument.h"

#include <QByteArray>
#include <QString>

namespace tallyvo::Rtf {

// Reads RTF as the news editor writes it, and whatever else other writers put there as far as it
// is understood: fonts, sizes, bold, italic, underline, strike-through, colours, alignment,
// bullets, indents and Unicode text (\uN and code-page bytes). Unknown control words and
// destinations are skipped. Malformed, truncated or deeply nested input gives what could be read;
// time and memory grow linearly with the input, never more.
RtfDocument read(const QByteArray& rtf);
// The same for RTF held as text (as the database stores it). Characters up to U+00FF are taken as
// the bytes RTF is made of; others, which a byte stream cannot hold, as themselves.
RtfDocument read(const QString& rtf);

// Plain 7-bit RTF for the document: every character outside ASCII as \uN.
QString write(const RtfDocument& document);

// True when the data starts as RTF does ("{\rtf", after any blanks).
bool looksLikeRtf(const QByteArray& data);

} // namespace tallyvo::Rtf
