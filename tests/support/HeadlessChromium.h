#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// What the tests and the benchmarks ask chromedriver for: Debian's chromium, headless, quiet on
// the network (nothing fetched from outside), sound allowed without a tap, at the given size.
inline QJsonObject headlessChromium(int width, int height)
{
    const QJsonArray args{QStringLiteral("--headless=new"),
                          QStringLiteral("--no-sandbox"),
                          QStringLiteral("--disable-gpu"),
                          QStringLiteral("--disable-quic"),
                          QStringLiteral("--no-first-run"),
                          QStringLiteral("--disable-background-networking"),
                          QStringLiteral("--disable-component-update"),
                          QStringLiteral("--disable-sync"),
                          QStringLiteral("--disable-dev-shm-usage"),
                          QStringLiteral("--autoplay-policy=no-user-gesture-required"),
                          QStringLiteral("--window-size=%1,%2").arg(width).arg(height)};
    return QJsonObject{{QStringLiteral("browserName"), QStringLiteral("chrome")},
                       {QStringLiteral("goog:chromeOptions"),
                        QJsonObject{{QStringLiteral("binary"), QStringLiteral("/usr/bin/chromium")},
                                    {QStringLiteral("args"), args}}}};
}
