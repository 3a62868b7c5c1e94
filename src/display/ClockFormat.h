#pragma once

#include <QByteArray>
#include <QString>
#include <QTime>

namespace tallyvo {

// The display's clock format (date and time codes such as "dd-MMM-yyyy HH:mm", "hh:nn AM/PM",
// letters in either case, "m" meaning minutes after an hour) as a format for QDateTime.
QString qtClockFormat(const QString& format);

// A clock face (SVG whose elements "hour", "minute" and "second" are drawn at 12 o'clock) with
// its hands turned to time about the centre of its view box. Empty when svg is not XML.
QByteArray clockFaceAt(const QByteArray& svg, QTime time);

// How long a clock showing time waits for its next second, with a millisecond to spare so that
// it reads the new second when it wakes.
int msToNextSecond(QTime time);

} // namespace tallyvo
