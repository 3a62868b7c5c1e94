#pragma once

// A real browser showing a page of the station, for the bench: Debian's chromium, headless,
// driven through chromedriver (the WebDriver protocol).

#include <QJsonValue>
#include <QProcess>
#include <QString>

namespace tallyvo::bench {

class BrowserDisplay {
public:
    BrowserDisplay();
    ~BrowserDisplay();
    BrowserDisplay(const BrowserDisplay&) = delete;
    BrowserDisplay& operator=(const BrowserDisplay&) = delete;

    // Starts the browser on the page; false with the reason when there is none to start.
    bool open(const QString& url, QString* error);
    // Runs the script in the page and gives what it returns.
    QJsonValue script(const QString& js);

private:
    QJsonValue call(const QByteArray& method, const QString& path, const QJsonValue& body);
    QProcess m_driver;
    int m_port = 0;
    QString m_session;
};

} // namespace tallyvo::bench
