#include "BrowserDisplay.h"

#include "HeadlessChromium.h"

#include "WebLoad.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>
#include <QTimer>

namespace tallyvo::bench {

BrowserDisplay::BrowserDisplay() = default;

BrowserDisplay::~BrowserDisplay() {
    if (!m_session.isEmpty())
        call("DELETE", QString(), QJsonValue());
    if (m_driver.state() != QProcess::NotRunning) {
        m_driver.terminate();
        if (!m_driver.waitForFinished(3000))
            m_driver.kill();
    }
}

QJsonValue BrowserDisplay::call(const QByteArray& method, const QString& path, const QJsonValue& body) {
    QNetworkAccessManager net;
    const QString base = m_session.isEmpty() || path == QLatin1String("/session")
                             ? QStringLiteral("http://127.0.0.1:%1").arg(m_port)
                             : QStringLiteral("http://127.0.0.1:%1/session/%2").arg(m_port).arg(m_session);
    QNetworkRequest request(QUrl(base + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    const QByteArray data =
        body.isObject() ? QJsonDocument(body.toObject()).toJson(QJsonDocument::Compact) : QByteArray();
    QNetworkReply* reply = net.sendCustomRequest(request, method, data);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    const QJsonValue value =
        QJsonDocument::fromJson(reply->readAll()).object().value(QStringLiteral("value"));
    reply->deleteLater();
    return value;
}

bool BrowserDisplay::open(const QString& url, QString* error) {
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/chromedriver")) ||
        !QFileInfo::exists(QStringLiteral("/usr/bin/chromium"))) {
        *error = QStringLiteral("chromium and chromium-driver are not installed");
        return false;
    }
    m_port = freePort();
    m_driver.setProgram(QStringLiteral("/usr/bin/chromedriver"));
    m_driver.setArguments({QStringLiteral("--port=%1").arg(m_port)});
    m_driver.setStandardOutputFile(QProcess::nullDevice());
    m_driver.setStandardErrorFile(QProcess::nullDevice());
    m_driver.start();
    if (!m_driver.waitForStarted(5000)) {
        *error = QStringLiteral("chromedriver did not start");
        return false;
    }
    const QJsonObject caps = headlessChromium(1920, 1080);
    for (int attempt = 0; attempt < 50 && m_session.isEmpty(); ++attempt) {
        m_session = call("POST", QStringLiteral("/session"),
                         QJsonObject{{QStringLiteral("capabilities"),
                                      QJsonObject{{QStringLiteral("alwaysMatch"), caps}}}})
                        .toObject()
                        .value(QStringLiteral("sessionId"))
                        .toString();
        if (m_session.isEmpty())
            QThread::msleep(100);
    }
    if (m_session.isEmpty()) {
        *error = QStringLiteral("chromedriver gave no browser session");
        return false;
    }
    call("POST", QStringLiteral("/url"), QJsonObject{{QStringLiteral("url"), url}});
    return true;
}

QJsonValue BrowserDisplay::script(const QString& js) {
    return call("POST", QStringLiteral("/execute/sync"),
                QJsonObject{{QStringLiteral("script"), js}, {QStringLiteral("args"), QJsonArray()}});
}

} // namespace tallyvo::bench
