#pragma once

#include <QDate>
#include <QString>
#include <QTime>

namespace tallyvo {

// Today's date and the time of day as this station sees them; tests put a fixed clock in.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDate today() const = 0;
    virtual QTime now() const = 0;

    // The text forms the database stores and compares.
    QString todayText() const { return today().toString(QStringLiteral("yyyy-MM-dd")); }
    QString nowText() const { return now().toString(QStringLiteral("HH:mm:ss")); }
};

class SystemClock final : public Clock {
public:
    QDate today() const override { return QDate::currentDate(); }
    QTime now() const override { return QTime::currentTime(); }
};

} // namespace tallyvo
