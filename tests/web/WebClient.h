#pragma once

// What the web station's tests talk to it with: plain requests, an event stream reader, and a
// real browser driven through chromedriver (the WebDriver protocol).

#include "HeadlessChromium.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

namespace tallyvo::test {

struct Answer {
    int status = 0;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;

    QByteArray header(const QByteArray& name) const {
        for (const auto& [n, v] : headers)
            if (n.compare(name, Qt::CaseInsensitive) == 0)
                return v;
        return {};
    }
    QJsonDocument json() const { return QJsonDocument::fromJson(body); }
};

// One request, waited for (at most 10 s).
inline Answer fetch(QNetworkAccessManager& net, const QByteArray& method, const QUrl& url,
                    const QByteArray& body = {}, const QList<QPair<QByteArray, QByteArray>>& headers = {}) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    for (const auto& [n, v] : headers)
        request.setRawHeader(n, v);
    if (!body.isEmpty() && !request.hasRawHeader("Content-Type"))
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QNetworkReply* reply = net.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    Answer a;
    a.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    a.body = reply->readAll();
    a.headers = reply->rawHeaderPairs();
    reply->deleteLater();
    return a;
}

// Follows a server-sent event stream and keeps every event's data as JSON.
class EventReader {
public:
    EventReader(QNetworkAccessManager& net, const QUrl& url) {
        QNetworkRequest request(url);
        request.setRawHeader("Accept", "text/event-stream");
        m_reply.reset(net.get(request));
        QObject::connect(m_reply.get(), &QNetworkReply::readyRead, m_reply.get(), [this] {
            m_buffer += m_reply->readAll();
            for (int end; (end = m_buffer.indexOf("\n\n")) >= 0;) {
                const QByteArray block = m_buffer.left(end);
                m_buffer.remove(0, end + 2);
                QByteArray data;
                for (const QByteArray& line : block.split('\n'))
                    if (line.startsWith("data:"))
                        data += line.mid(line.startsWith("data: ") ? 6 : 5);
                if (!data.isEmpty())
                    events.append(QJsonDocument::fromJson(data).object());
            }
        });
    }
    ~EventReader() {
        if (m_reply)
            m_reply->abort();
    }

    // Waits until an event satisfies `wanted` (looking from event `from` on); its index or -1.
    int waitFor(const std::function<bool(const QJsonObject&)>& wanted, int from = 0, int ms = 10000) {
        QElapsedTimer t;
        t.start();
        for (;;) {
            for (int i = from; i < events.size(); ++i)
                if (wanted(events[i]))
                    return i;
            if (t.elapsed() > ms)
                return -1;
            QTest::qWait(10);
        }
    }
    int status() const { return m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(); }

    QList<QJsonObject> events;

private:
    std::unique_ptr<QNetworkReply> m_reply;
    QByteArray m_buffer;
};

// Debian's chromium, headless, through chromedriver.
class Browser {
public:
    Browser() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        m_driver.setProgram(QStringLiteral("/usr/bin/chromedriver"));
        m_driver.setArguments({QStringLiteral("--port=%1").arg(m_port)});
        m_driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_driver.start();
    }
    ~Browser() {
        if (!m_session.isEmpty())
            call("DELETE", QString());
        m_driver.terminate();
        if (!m_driver.waitForFinished(3000))
            m_driver.kill();
    }

    // Starts the browser; false (with the reason in error) when it cannot.
    bool open(int width, int height, QString* error) {
        if (!m_driver.waitForStarted(5000)) {
            *error = QStringLiteral("chromedriver did not start: %1").arg(m_driver.errorString());
            return false;
        }
        QJsonObject caps = headlessChromium(width, height);
        caps.insert(QStringLiteral("goog:loggingPrefs"), QJsonObject{{QStringLiteral("browser"), QStringLiteral("ALL")}});
        // chromedriver takes a moment before it listens.
        QJsonObject answer;
        for (int attempt = 0; attempt < 50; ++attempt) {
            answer = post(QStringLiteral("/session"),
                          QJsonObject{{QStringLiteral("capabilities"),
                                       QJsonObject{{QStringLiteral("alwaysMatch"), caps}}}});
            if (!answer.isEmpty())
                break;
            QTest::qWait(100);
        }
        m_session =
            answer.value(QStringLiteral("value")).toObject().value(QStringLiteral("sessionId")).toString();
        if (m_session.isEmpty())
            *error = QStringLiteral("no browser session: %1")
                         .arg(QString::fromUtf8(QJsonDocument(answer).toJson()));
        return !m_session.isEmpty();
    }

    void go(const QString& url) {
        call("POST", QStringLiteral("/url"), QJsonObject{{QStringLiteral("url"), url}});
    }

    QJsonValue script(const QString& js) {
        return call("POST", QStringLiteral("/execute/sync"),
                    QJsonObject{{QStringLiteral("script"), js}, {QStringLiteral("args"), QJsonArray()}})
            .value(QStringLiteral("value"));
    }

    QString text(const QString& id) {
        return script(QStringLiteral(
                          "var e=document.getElementById('%1'); return e && !e.hidden ? e.textContent : '';")
                          .arg(id))
            .toString();
    }

    // Waits until the element's text is `wanted`; the last text seen otherwise.
    QString waitForText(const QString& id, const QString& wanted, int ms = 10000) {
        QElapsedTimer t;
        t.start();
        QString seen;
        while ((seen = text(id)) != wanted && t.elapsed() < ms)
            QTest::qWait(25);
        return seen;
    }

    // The browser's console lines since the last call.
    QStringList log() {
        QStringList lines;
        const QJsonArray entries = call("POST", QStringLiteral("/se/log"),
                                        QJsonObject{{QStringLiteral("type"), QStringLiteral("browser")}})
                                       .value(QStringLiteral("value"))
                                       .toArray();
        for (const QJsonValue& e : entries)
            lines << e.toObject().value(QStringLiteral("message")).toString();
        return lines;
    }

private:
    QJsonObject post(const QString& path, const QJsonObject& body) {
        return send("POST", QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path), body);
    }
    QJsonObject call(const QByteArray& method, const QString& path, const QJsonObject& body = {}) {
        return send(method,
                    QStringLiteral("http://127.0.0.1:%1/session/%2%3").arg(m_port).arg(m_session, path),
                    body);
    }
    QJsonObject send(const QByteArray& method, const QString& url, const QJsonObject& body) {
        const Answer a =
            fetch(m_net, method, QUrl(url),
                  method == "POST" ? QJsonDocument(body).toJson(QJsonDocument::Compact) : QByteArray());
        return a.json().object();
    }

    QNetworkAccessManager m_net;
    QProcess m_driver;
    quint16 m_port = 0;
    QString m_session;
};

} // namespace tallyvo::test
