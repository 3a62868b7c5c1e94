#pragma once

#include "tokens/TicketText.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace tallyvo::EscPos {

// ESC/POS, the command language of thermal receipt printers: what a ticket becomes on the wire.

inline constexpr char ESC = 0x1b;
inline constexpr char GS = 0x1d;
inline constexpr char LF = 0x0a;

// Paper widths a station can be set to, in millimetres.
inline constexpr int kPaper80 = 80;
inline constexpr int kPaper58 = 58;

// The paper width a setting names: 58 for "58" or "58 mm", else 80, the common roll.
int paperWidth(const QString& setting);
// Characters of the printer's standard font (12 dots wide) on one line of that paper:
// 48 on 80 mm (576 printable dots), 32 on 58 mm (384).
int columnsFor(int paperMm);
// Printable dots across that paper at 203 dpi: 576 on 80 mm, 384 on 58 mm.
int dotsFor(int paperMm);

// Text in code page 437, the page every ESC/POS printer starts in. Characters it lacks become
// their nearest plain letters ("ł" gives "l", "ő" gives "o", "€" gives "EUR"), or '?' when
// nothing is near. Control characters never reach the printer as commands: line breaks and
// tabs become blanks, the rest are dropped.
QByteArray toCodePage(const QString& text);
// The other way round, for reading back what a printer was sent.
QString fromCodePage(const QByteArray& bytes);

// Breaks text into lines of at most `width` characters, at line breaks and blanks where it can
// (wrapTicketText counted in characters).
QStringList wrap(const QString& text, int width);

// The QR code of `text` as a raster bit image (GS v 0, which every ESC/POS printer prints),
// quiet zone included, each module a square of whole dots: as large as reads well from a phone
// held near, and never wider than the paper. Empty when the text makes no code or the code
// cannot fit.
QByteArray qrImage(const QString& text, int paperMm);

// One copy of a ticket: reset, code page 437, the lines centred (the token line bold at double
// width and height, bold elsewhere where the line says so), long lines and lines with line
// breaks wrapped to the paper, each part centred on its own, QR code lines as qrImage, a
// feed that brings the last line past the cutter, and a partial cut.
QByteArray ticket(const QVector<TicketLine>& lines, int paperMm);

} // namespace tallyvo::EscPos
