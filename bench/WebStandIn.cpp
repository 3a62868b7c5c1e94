#include "WebStandIn.h"

#include "core/Database.h"
#include "core/DbError.h"
#include "web/http/HttpServer.h"

#include <QCoreApplication>
#include <QDate>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace tallyvo::bench {

namespace {

using web::EventStream;
using web::Reply;
using web::Request;
using web::Response;

// webKey -> the token's event data (a JSON object).
using Snapshot = std::unordered_map<std::string, std::string>;

class StandIn {
public:
    explicit StandIn(Database& db)
        : m_db(db)
        , m_server(web::Limits{},
                   [this](const Request& r, std::shared_ptr<Reply> reply) { handle(r, reply); })
    {
    }

    bool listen(const QString& listen)
    {
        const qsizetype colon = listen.lastIndexOf(QLatin1Char(':'));
        std::string error;
        if (colon < 0 || !m_server.listen(listen.left(colon).toStdString(), listen.mid(colon + 1).toUShort(),
                                          std::nullopt, &error)) {
            std::fprintf(stderr, "stand-in: cannot listen on %s %s\n", qPrintable(listen), error.c_str());
            return false;
        }
        poll();
        m_server.start(2);
        return true;
    }

    // Rebuilds the tokens' states when a call or a token was added, and tells their streams.
    void poll()
    {
        try {
            const auto marks = m_db.firstRow(QStringLiteral(
                "SELECT (SELECT coalesce(max(callauto), 0) FROM tblCall), (SELECT coalesce(max(tickAuto), 0) "
                "FROM tblTicket), (SELECT count(*) FROM tblTicket WHERE call='1')"));
            const QString mark = marks ? QStringLiteral("%1 %2 %3")
                                             .arg(marks->value(0).toLongLong())
                                             .arg(marks->value(1).toLongLong())
                                             .arg(marks->value(2).toLongLong())
                                       : QString();
            if (mark == m_mark)
                return;
            m_mark = mark;
            publish(read());
        } catch (const DbError& e) {
            std::fprintf(stderr, "stand-in: %s\n", e.what());
        }
    }

private:
    std::shared_ptr<const Snapshot> read() const
    {
        auto snapshot = std::make_shared<Snapshot>();
        QSqlQuery q =
            m_db.run(QStringLiteral(
                         "SELECT t.webKey, t.no_abr, t.call, t.status, s.ServName, c.displayName, t.servAuto "
                         "FROM tblTicket t JOIN tblService s ON s.servAuto=t.servAuto "
                         "LEFT JOIN tblCounter c ON c.cntAuto=t.attended "
                         "WHERE t.tickDate=? AND t.webKey IS NOT NULL ORDER BY t.servAuto, t.tickNo"),
                     {QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))});
        qlonglong service = -1;
        int ahead = 0;
        while (q.next()) {
            if (q.value(6).toLongLong() != service) {
                service = q.value(6).toLongLong();
                ahead = 0;
            }
            const bool waiting = q.value(2).toString() == QLatin1String("0");
            QJsonObject o;
            o.insert(QStringLiteral("label"), q.value(1).toString());
            o.insert(QStringLiteral("service"), q.value(4).toString());
            o.insert(QStringLiteral("state"), waiting ? QStringLiteral("waiting")
                                              : q.value(3).toString() == QLatin1String("Cancelled")
                                                  ? QStringLiteral("cancelled")
                                                  : QStringLiteral("called"));
            o.insert(QStringLiteral("ahead"), waiting ? ahead : 0);
            o.insert(QStringLiteral("estimateMinutes"), waiting ? ahead * 3 : 0);
            o.insert(QStringLiteral("counter"), waiting ? QString() : q.value(5).toString());
            (*snapshot)[q.value(0).toString().toStdString()] =
                QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
            if (waiting)
                ++ahead;
        }
        return snapshot;
    }

    void publish(std::shared_ptr<const Snapshot> next)
    {
        std::lock_guard lock(m_mutex);
        const auto previous = std::move(m_snapshot);
        m_snapshot = std::move(next);
        for (auto it = m_streams.begin(); it != m_streams.end();) {
            const auto now = m_snapshot->find(it->first);
            const auto before = previous ? previous->find(it->first) : Snapshot::const_iterator();
            if (now != m_snapshot->end() &&
                (!previous || before == previous->end() || before->second != now->second)) {
                const auto framed = EventStream::frame(now->second);
                auto& list = it->second;
                std::erase_if(list,
                              [&framed](const std::shared_ptr<EventStream>& s) { return !s->send(framed); });
            }
            it = it->second.empty() ? m_streams.erase(it) : std::next(it);
        }
    }

    void handle(const Request& r, const std::shared_ptr<Reply>& reply)
    {
        std::string key;
        bool events = false;
        bool api = false;
        if (r.path.rfind("/t/", 0) == 0) {
            key = r.path.substr(3);
            if (key.size() > 7 && key.ends_with("/events")) {
                key.resize(key.size() - 7);
                events = true;
            }
        } else if (r.path.rfind("/api/v1/tickets/", 0) == 0) {
            key = r.path.substr(16);
            api = true;
        }
        std::string state;
        {
            std::lock_guard lock(m_mutex);
            const auto it = m_snapshot ? m_snapshot->find(key) : Snapshot::const_iterator();
            if (m_snapshot && it != m_snapshot->end())
                state = it->second;
        }
        if (state.empty() || (r.method != "GET" && r.method != "HEAD")) {
            reply->respond(
                {404, "text/plain; charset=utf-8", "No such ticket\n", {{"Cache-Control", "no-store"}}});
            return;
        }
        if (api) {
            reply->respond({200, "application/json", state, {{"Cache-Control", "no-store"}}});
            return;
        }
        if (events) {
            reply->openStream([this, key](std::shared_ptr<EventStream> s) {
                std::lock_guard lock(m_mutex);
                const auto it = m_snapshot->find(key);
                if (it != m_snapshot->end())
                    s->send(it->second);
                m_streams[key].push_back(std::move(s));
            });
            return;
        }
        // The key is base64url: safe in the page as it is.
        std::string page =
            "<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" "
            "content=\"width=device-width,initial-scale=1\"><title>Your ticket</title><style>body{font-"
            "family:sans-serif;margin:2em;text-align:center}#label{font-size:4em;font-weight:bold}"
            "</style></head><body><p>Your ticket</p><p id=\"label\"></p><p id=\"state\"></p>"
            "<p id=\"ahead\"></p><p id=\"estimate\"></p><script src=\"/static/ticket.js\" data-key=\"";
        page += key;
        page += "\"></script></body></html>\n";
        page.append(1200, ' '); // about the size of the station's page
        reply->respond({200,
                        "text/html; charset=utf-8",
                        page,
                        {{"Cache-Control", "no-store"}, {"Content-Security-Policy", "default-src 'self'"}}});
    }

    Database& m_db;
    web::HttpServer m_server;
    std::mutex m_mutex;
    std::shared_ptr<const Snapshot> m_snapshot;
    std::unordered_map<std::string, std::vector<std::shared_ptr<EventStream>>> m_streams;
    QString m_mark;
};

} // namespace

int runWebStandIn(const QString& dbUrl, const QString& listen)
{
    std::signal(SIGPIPE, SIG_IGN);
    QString error;
    const auto url = DbUrl::parse(dbUrl, &error);
    if (!url) {
        std::fprintf(stderr, "stand-in: %s\n", qPrintable(error));
        return 2;
    }
    Database db(*url);
    if (!db.open(&error, false)) {
        std::fprintf(stderr, "stand-in: %s\n", qPrintable(error));
        return 1;
    }
    StandIn standIn(db);
    if (!standIn.listen(listen))
        return 1;
    // Polling is how a station on SQLite learns of calls made by other processes.
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, [&standIn] { standIn.poll(); });
    timer.start(50);
    return QCoreApplication::exec();
}

} // namespace tallyvo::bench
