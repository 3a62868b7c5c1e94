#include "web/WebStation.h"

#include "admin/ApiKeys.h"
#include "calling/Credentials.h"
#include "core/Clock.h"
#include "core/Database.h"
#include "core/DbError.h"
#include "core/Paths.h"
#include "core/Session.h"
#include "core/SettingsStore.h"
#include "stats/LiveBoard.h"
#include "stats/QueueState.h"
#include "stats/WaitEstimator.h"
#include "tokens/TicketPrinter.h"
#include "tokens/TokenIssuer.h"
#include "tokens/WebKeys.h"
#include "web/BoardSessions.h"
#include "web/QueueWatch.h"
#include "web/RateLimiter.h"
#include "web/WebPages.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QUrlQuery>
#include <algorithm>
#include <cstdio>

namespace tallyvo {

namespace {

using web::Reply;
using web::Request;
using web::Response;

const SettingKey WebListen{QStringLiteral("queue"), QStringLiteral("web"), QStringLiteral("listen"),
                           QStringLiteral("0.0.0.0:8080")};
const SettingKey WebTlsCert{QStringLiteral("queue"), QStringLiteral("web"), QStringLiteral("tlsCert"), {}};
const SettingKey WebTlsKey{QStringLiteral("queue"), QStringLiteral("web"), QStringLiteral("tlsKey"), {}};
const SettingKey WebMaxConnections{QStringLiteral("queue"), QStringLiteral("web"),
                                   QStringLiteral("maxConnections"), QStringLiteral("4096")};
const SettingKey WebMaxPerAddress{QStringLiteral("queue"), QStringLiteral("web"),
                                  QStringLiteral("maxPerAddress"), QStringLiteral("64")};
const SettingKey WebTrustedProxies{
    QStringLiteral("queue"), QStringLiteral("web"), QStringLiteral("trustedProxies"), {}};
const SettingKey WebIssuePerMinute{QStringLiteral("queue"), QStringLiteral("web"),
                                   QStringLiteral("issuePerMinute"), QStringLiteral("30")};
const SettingKey WebTexts{QStringLiteral("queue"), QStringLiteral("web"), QStringLiteral("texts"), {}};

std::string json(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

Response jsonAnswer(int status, std::string body) {
    Response r;
    r.status = status;
    r.body = std::move(body);
    r.headers.emplace_back("Cache-Control", "no-store");
    return r;
}

Response error(int status, const QString& why) {
    return jsonAnswer(status, json({{QStringLiteral("error"), why}}));
}

// Text as a JSON string, quotes included.
void appendJson(std::string& out, const QString& text) {
    out += '"';
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void appendJson(std::string& out, const std::optional<int>& n) {
    out += n ? std::to_string(*n) : std::string("null");
}

// What a token's stream carries: the API's object, and what a page needs besides: a recall
// raises callSeq, and a token of an earlier day is no longer current. Written by hand: a call
// changes the place of every waiting token, so thousands of these are written at once.
std::string eventOf(const TicketView& t, const QString& today) {
    std::string out;
    out.reserve(192);
    out += "{\"ahead\":";
    appendJson(out, t.ahead);
    out += ",\"callSeq\":" + std::to_string(t.callSeq) + ",\"counter\":";
    appendJson(out, t.counter);
    out += ",\"current\":";
    out += t.date == today ? "true" : "false";
    out += ",\"date\":";
    appendJson(out, t.date);
    out += ",\"estimateMinutes\":";
    appendJson(out, t.estimateMinutes);
    out += ",\"label\":";
    appendJson(out, t.label);
    out += ",\"service\":";
    appendJson(out, t.service);
    out += ",\"state\":";
    appendJson(out, ticketStateName(t.state));
    out += '}';
    return out;
}

bool sameForVisitor(const TicketView& a, const TicketView& b) {
    return a.state == b.state && a.ahead == b.ahead && a.estimateMinutes == b.estimateMinutes &&
           a.counter == b.counter && a.callSeq == b.callSeq && a.label == b.label && a.service == b.service;
}

QStringList segments(const std::string& path) {
    return QString::fromStdString(path).split(QLatin1Char('/'));
}

} // namespace

WebConfig WebConfig::fromSettings(const SettingsStore& settings, QStringList* problems) {
    WebConfig c;
    const auto number = [&](const SettingKey& key, int least, int* into) {
        bool ok = false;
        const int v = settings.get(key).trimmed().toInt(&ok);
        if (ok && v >= least)
            *into = v;
        else
            problems->append(
                QStringLiteral("[web] %1 must be a whole number of at least %2").arg(key.key).arg(least));
    };
    if (!c.setListen(settings.get(WebListen)))
        problems->append(QStringLiteral("[web] listen must be ADDRESS:PORT"));
    const QString cert = settings.get(WebTlsCert).trimmed();
    const QString key = settings.get(WebTlsKey).trimmed();
    if (!cert.isEmpty() || !key.isEmpty())
        c.tls = web::HttpServer::Tls{cert.toStdString(), key.toStdString()};
    number(WebMaxConnections, 16, &c.limits.maxConnections);
    number(WebMaxPerAddress, 1, &c.limits.maxPerAddress);
    number(WebIssuePerMinute, 1, &c.issuePerMinute);
    for (const QString& a : settings.get(WebTrustedProxies).split(QLatin1Char(','), Qt::SkipEmptyParts))
        c.limits.trustedProxies.push_back(a.trimmed().toStdString());
    c.textsFile = settings.get(WebTexts).trimmed();
    c.themeName = settings.get(Keys::ThemeTheme);
    c.voiceFormat = settings.get(Keys::VoiceFormat);
    return c;
}

bool WebConfig::setListen(const QString& text) {
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    bool ok = false;
    const int p = text.mid(colon + 1).toInt(&ok);
    if (!ok || p < 0 || p > 65535)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return false; // an IPv6 address needs its brackets
    address = host.isEmpty() ? std::string("0.0.0.0") : host.toStdString();
    port = static_cast<std::uint16_t>(p);
    return true;
}

WebStation::WebStation(WebConfig config, const Clock& clock)
    : m_config(std::move(config))
    , m_clock(clock) {}

WebStation::~WebStation() {
    stop();
}

bool WebStation::start(QString* error) {
    m_pages = web::WebPages::load(m_config.textsFile, error);
    if (!m_pages)
        return false;
    m_issueLimit = std::make_unique<web::RateLimiter>(m_config.issuePerMinute);
    m_sessions = std::make_unique<web::BoardSessions>();
    {
        QFile chime(m_config.chimeFile.isEmpty() ? Paths::dataFile(QStringLiteral("ding.wav"))
                                                 : m_config.chimeFile);
        if (chime.open(QIODevice::ReadOnly))
            m_chime = chime.read(8 * 1024 * 1024).toStdString();
    }
    m_server = std::make_unique<web::HttpServer>(
        m_config.limits,
        [this](const Request& r, std::shared_ptr<Reply> reply) { handle(r, std::move(reply)); });
    std::string why;
    if (!m_server->listen(m_config.address, m_config.port, m_config.tls, &why)) {
        *error = QString::fromStdString(why);
        m_server.reset();
        return false;
    }
    m_jobs = std::make_unique<DbJobs>(m_config.db);
    m_jobs->start();
    m_watch = std::make_unique<QueueWatch>(
        m_config.db, m_clock, [this](std::shared_ptr<const QueueState> s) { onState(std::move(s)); },
        [this](const QString& note) {
            if (m_onNote)
                m_onNote(note);
        });
    m_watch->setCallsHandler(
        [this](const QString& day, const QList<WebCall>& calls) { onCalls(day, calls); });
    m_watch->setAfterRead([this](const Database& db) { readBoard(db); });
    m_watch->start();
    m_server->start(m_config.threads);
    return true;
}

void WebStation::stop() {
    // The server first: no request may reach the watch or the jobs once they are gone.
    if (m_server)
        m_server->stop();
    if (m_watch)
        m_watch->stop();
    if (m_jobs)
        m_jobs->stop();
    std::lock_guard lock(m_mutex);
    m_watchers.clear();
    m_displays.clear();
    m_boards.clear();
}

std::uint16_t WebStation::port() const {
    return m_server ? m_server->port() : 0;
}

web::ServerStats WebStation::serverStats() const {
    return m_server ? m_server->stats() : web::ServerStats{};
}

quint64 WebStation::stateReads() const {
    return m_watch ? m_watch->reads() : 0;
}

bool WebStation::ready() const {
    std::lock_guard lock(m_mutex);
    return m_state && m_callsKnown;
}

std::shared_ptr<const QueueState> WebStation::state() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

void WebStation::handle(const Request& request, std::shared_ptr<Reply> reply) {
    const bool read = request.method == "GET" || request.method == "HEAD";
    const QStringList parts = segments(request.path);
    auto notAllowed = [&](const char* allow) {
        Response r = error(405, QStringLiteral("method not allowed"));
        r.headers.emplace_back("Allow", allow);
        reply->respond(std::move(r));
    };

    // /t/WEBKEY and /t/WEBKEY/events
    if (parts.size() >= 3 && parts.size() <= 4 && parts[0].isEmpty() && parts[1] == QLatin1String("t")) {
        const bool events = parts.size() == 4 && parts[3] == QLatin1String("events");
        if (parts.size() == 3 || events) {
            if (!read)
                return notAllowed("GET, HEAD");
            if (events)
                return openEvents(parts[2], std::move(reply));
            return serveTicket(parts[2], true, std::move(reply));
        }
    }
    if (parts.size() >= 2 && parts.size() <= 3 && parts[0].isEmpty() &&
        parts[1] == QLatin1String("display")) {
        const QString what = parts.value(2);
        if (!read &&
            (parts.size() == 2 || what == QLatin1String("events") || what == QLatin1String("chime.wav")))
            return notAllowed("GET, HEAD");
        if (parts.size() == 2)
            return serveDisplay(request, std::move(reply));
        if (what == QLatin1String("events"))
            return openDisplayEvents(request, std::move(reply));
        if (what == QLatin1String("chime.wav") && !m_chime.empty()) {
            Response r;
            r.contentType = "audio/wav";
            r.body = m_chime;
            r.headers.emplace_back("Cache-Control", "max-age=86400");
            return reply->respond(std::move(r));
        }
    }
    if (parts.size() >= 2 && parts.size() <= 3 && parts[0].isEmpty() && parts[1] == QLatin1String("board")) {
        const QString what = parts.value(2);
        if (parts.size() == 2)
            return read ? serveBoard(request, std::move(reply)) : notAllowed("GET, HEAD");
        if (what == QLatin1String("events"))
            return read ? openBoardEvents(request, std::move(reply)) : notAllowed("GET, HEAD");
        if (what == QLatin1String("login"))
            return request.method == "POST" ? boardLogin(request, std::move(reply)) : notAllowed("POST");
        if (what == QLatin1String("logout"))
            return request.method == "POST" ? boardLogout(request, std::move(reply)) : notAllowed("POST");
    }
    if (parts.size() >= 4 && parts[0].isEmpty() && parts[1] == QLatin1String("api") &&
        parts[2] == QLatin1String("v1")) {
        const QString what = parts[3];
        if (parts.size() == 4 && what == QLatin1String("services")) {
            if (!read)
                return notAllowed("GET, HEAD");
            const auto s = state();
            if (!s)
                return reply->respond(error(503, QStringLiteral("the queue is not known yet")));
            QJsonArray list;
            for (const ServiceView& v : s->services())
                list.append(v.toJson());
            return reply->respond(
                jsonAnswer(200, QJsonDocument(list).toJson(QJsonDocument::Compact).toStdString()));
        }
        if (parts.size() == 4 && what == QLatin1String("openapi.json")) {
            if (!read)
                return notAllowed("GET, HEAD");
            Response r;
            r.body = m_pages->openApi();
            r.headers.emplace_back("Cache-Control", "max-age=3600");
            return reply->respond(std::move(r));
        }
        if (what == QLatin1String("tickets") && parts.size() == 4) {
            if (request.method != "POST")
                return notAllowed("POST");
            return issue(request, std::move(reply));
        }
        if (what == QLatin1String("tickets") && parts.size() == 5) {
            if (!read)
                return notAllowed("GET, HEAD");
            return serveTicket(parts[4], false, std::move(reply));
        }
    }
    if (request.path.rfind("/api/", 0) == 0)
        return reply->respond(error(404, QStringLiteral("not found")));
    Response r;
    r.status = 404;
    r.contentType = "text/html; charset=utf-8";
    r.body = m_pages->notFoundPage();
    r.headers.emplace_back("Content-Security-Policy", m_pages->notFoundPolicy());
    reply->respond(std::move(r));
}

void WebStation::serveTicket(const QString& key, bool page, std::shared_ptr<Reply> reply) {
    auto answer = [this, page](const std::optional<TicketView>& t, Reply& to) {
        if (!t) {
            if (!page)
                return to.respond(error(404, QStringLiteral("not found")));
            Response r;
            r.status = 404;
            r.contentType = "text/html; charset=utf-8";
            r.body = m_pages->notFoundPage();
            r.headers.emplace_back("Content-Security-Policy", m_pages->notFoundPolicy());
            return to.respond(std::move(r));
        }
        if (!page)
            return to.respond(jsonAnswer(200, json(t->toJson())));
        Response r;
        r.contentType = "text/html; charset=utf-8";
        r.body = m_pages->ticketPage();
        r.headers.emplace_back("Content-Security-Policy", m_pages->ticketPolicy());
        r.headers.emplace_back("Cache-Control", "no-store");
        to.respond(std::move(r));
    };
    lookUp(key, std::move(reply), answer);
}

// The token with the key: from today's state at once, else from the database on the jobs'
// thread (one of an earlier day, or one issued a moment ago). A malformed key is never looked
// up, and is answered like an unknown one.
void WebStation::lookUp(const QString& key, std::shared_ptr<Reply> reply,
                        const std::function<void(const std::optional<TicketView>&, Reply&)>& done) {
    if (!WebKeys::wellFormed(key))
        return done(std::nullopt, *reply);
    if (const auto s = state())
        if (const TicketView* t = s->ticket(key))
            return done(*t, *reply);
    const bool queued = m_jobs->post([this, key, reply, done](const Database* db) {
        if (!db)
            return reply->respond(error(503, QStringLiteral("the database cannot be reached now")));
        std::optional<TicketView> t;
        try {
            t = QueueState::find(*db, m_clock, key);
        } catch (const DbError&) {
            reply->respond(error(503, QStringLiteral("the database cannot be reached now")));
            throw;
        }
        done(t, *reply);
    });
    if (!queued)
        reply->respond(error(503, QStringLiteral("busy: try again in a moment")));
}

void WebStation::openEvents(const QString& key, std::shared_ptr<Reply> reply) {
    auto open = [this, key](const std::optional<TicketView>& t, Reply& to) {
        if (!t)
            return to.respond(error(404, QStringLiteral("not found")));
        to.openStream([this, key, t](std::shared_ptr<web::EventStream> stream) { watch(key, t, stream); });
    };
    lookUp(key, std::move(reply), open);
}

// Registers the stream and sends its first event under the same lock as a new state, so the
// stream neither misses a change nor gets one twice.
void WebStation::watch(const QString& key, std::optional<TicketView> found,
                       const std::shared_ptr<web::EventStream>& stream) {
    std::lock_guard lock(m_mutex);
    const QString today = m_clock.todayText();
    const TicketView* current = m_state ? m_state->ticket(key) : nullptr;
    const std::string first = current ? eventOf(*current, today) : eventOf(*found, today);
    Watchers& w = m_watchers[key];
    if (current)
        w.last = first;
    stream->send(first);
    w.streams.push_back(stream);
    std::weak_ptr<web::EventStream> weak = stream;
    stream->onClosed([this, key, weak] {
        std::lock_guard closing(m_mutex);
        const auto it = m_watchers.find(key);
        if (it == m_watchers.end())
            return;
        const auto gone = weak.lock();
        auto& list = it->streams;
        list.erase(std::remove_if(
                       list.begin(), list.end(),
                       [&](const std::shared_ptr<web::EventStream>& s) { return s == gone || !s->isOpen(); }),
                   list.end());
        if (list.empty())
            m_watchers.erase(it);
    });
}

void WebStation::onState(std::shared_ptr<const QueueState> next) {
    std::lock_guard lock(m_mutex);
    const std::shared_ptr<const QueueState> before = std::move(m_state);
    m_state = next;
    const QString today = m_clock.todayText();
    std::vector<web::HttpServer::Delivery> batch;
    auto tell = [&](Watchers& w, const TicketView& now) {
        std::string event = eventOf(now, today);
        if (event == w.last)
            return;
        const web::EventStream::Shared framed = web::EventStream::frame(event);
        for (const auto& s : w.streams)
            batch.emplace_back(s, framed);
        w.last = std::move(event);
    };
    // A call reaches the visitor it calls before the thousands whose place only moved up.
    std::vector<std::pair<Watchers*, const TicketView*>> movedUp;
    for (auto it = m_watchers.begin(); it != m_watchers.end(); ++it) {
        const TicketView* now = next->ticket(it.key());
        if (!now)
            continue; // a token of an earlier day does not change any more
        const TicketView* was = before ? before->ticket(it.key()) : nullptr;
        if (was && !it->last.empty() && sameForVisitor(*was, *now))
            continue;
        if (was && was->state == now->state && was->state == TicketState::Waiting)
            movedUp.emplace_back(&*it, now);
        else
            tell(*it, *now);
    }
    for (const auto& [w, now] : movedUp)
        tell(*w, *now);
    m_server->deliver(std::move(batch));
}

void WebStation::serveDisplay(const Request&, std::shared_ptr<Reply> reply) {
    const bool queued = m_jobs->post([this, reply](const Database* db) {
        if (!db)
            return reply->respond(error(503, QStringLiteral("the database cannot be reached now")));
        QJsonObject config;
        try {
            config.insert(QStringLiteral("theme"), DisplayData::theme(*db, m_config.themeName));
        } catch (const DbError&) {
            reply->respond(error(503, QStringLiteral("the database cannot be reached now")));
            throw;
        }
        config.insert(QStringLiteral("voice"), m_config.voiceFormat);
        config.insert(QStringLiteral("chime"), !m_chime.empty());
        Response r;
        r.contentType = "text/html; charset=utf-8";
        r.body = m_pages->displayPage(config);
        r.headers.emplace_back("Content-Security-Policy", m_pages->displayPolicy());
        r.headers.emplace_back("Cache-Control", "no-store");
        reply->respond(std::move(r));
    });
    if (!queued)
        reply->respond(error(503, QStringLiteral("busy: try again in a moment")));
}

// A display's stream: the newest calls to fill its table once, then every call and recall in
// feed order. One that comes back names the last place it had (Last-Event-ID, which browsers
// send by themselves, or ?after=) and gets what came meanwhile, nothing twice.
void WebStation::openDisplayEvents(const Request& request, std::shared_ptr<Reply> reply) {
    const QUrlQuery query(QString::fromStdString(request.query));
    QStringList services;
    for (const QString& s :
         query.queryItemValue(QStringLiteral("services"), QUrl::FullyDecoded).split(QLatin1Char(',')))
        if (!s.trimmed().isEmpty())
            services << s.trimmed();
    bool resumed = false;
    QString resume = QString::fromStdString(request.header("last-event-id")).trimmed();
    if (resume.isEmpty())
        resume = query.queryItemValue(QStringLiteral("after"));
    qint64 after = 0;
    if (!resume.isEmpty())
        after = resume.toLongLong(&resumed);
    if (resumed && after < 0)
        resumed = false;
    bool rowsOk = false;
    const int rows = std::clamp(query.queryItemValue(QStringLiteral("rows")).toInt(&rowsOk), 1, 99);
    {
        std::lock_guard lock(m_mutex);
        if (!m_callsKnown)
            return reply->respond(error(503, QStringLiteral("starting: try again in a moment")));
    }
    reply->openStream([this, services, resumed, after,
                       rows = rowsOk ? rows : 12](std::shared_ptr<web::EventStream> stream) {
        std::lock_guard lock(m_mutex);
        const qint64 last = m_calls.isEmpty() ? 0 : m_calls.last().seq;
        DisplayWatcher w{stream, services, std::max(after, last)};
        if (resumed) {
            for (const WebCall& c : m_calls)
                if (c.seq > after && c.matches(services)) {
                    QJsonObject o = c.toJson();
                    o.insert(QStringLiteral("type"), QStringLiteral("call"));
                    stream->send(json(o), std::to_string(c.seq));
                }
        } else {
            QJsonArray newest;
            for (auto it = m_calls.crbegin(); it != m_calls.crend() && newest.size() < rows; ++it)
                if (it->matches(services))
                    newest.append(it->toJson());
            stream->send(
                json({{QStringLiteral("type"), QStringLiteral("fill")}, {QStringLiteral("calls"), newest}}),
                std::to_string(last));
        }
        m_displays.push_back(std::move(w));
    });
}

void WebStation::onCalls(const QString& day, const QList<WebCall>& calls) {
    std::lock_guard lock(m_mutex);
    if (day != m_callDay) {
        m_calls.clear();
        m_callDay = day;
    }
    for (const WebCall& c : calls) {
        m_calls.removeIf([&](const WebCall& old) { return old.callKey == c.callKey; });
        m_calls.append(c);
    }
    if (!m_callsKnown) {
        // The first read brings the day so far: displays take it as their fill, not as news.
        m_callsKnown = true;
        return;
    }
    std::erase_if(m_displays, [](const DisplayWatcher& w) { return !w.stream->isOpen(); });
    for (DisplayWatcher& w : m_displays)
        for (const WebCall& c : calls) {
            if (c.seq <= w.lastSent)
                continue;
            w.lastSent = c.seq;
            if (!c.matches(w.services))
                continue;
            QJsonObject o = c.toJson();
            o.insert(QStringLiteral("type"), QStringLiteral("call"));
            w.stream->send(json(o), std::to_string(c.seq));
        }
}

std::optional<QString> WebStation::boardUser(const Request& request) const {
    return m_sessions->user(
        web::BoardSessions::keyFromCookies(QString::fromStdString(request.header("cookie"))));
}

namespace {

Response loginAnswer(int status, std::string page, const std::string& policy) {
    Response r;
    r.status = status;
    r.contentType = "text/html; charset=utf-8";
    r.body = std::move(page);
    r.headers.emplace_back("Content-Security-Policy", policy);
    r.headers.emplace_back("Cache-Control", "no-store");
    return r;
}

std::string sessionCookie(const QString& key, bool secure, int maxAge) {
    return std::string(web::BoardSessions::cookieName) + "=" + key.toStdString() +
           "; Path=/board; Max-Age=" + std::to_string(maxAge) + "; HttpOnly; SameSite=Strict" +
           (secure ? "; Secure" : "");
}

} // namespace

void WebStation::serveBoard(const Request& request, std::shared_ptr<Reply> reply) {
    if (!boardUser(request))
        return reply->respond(loginAnswer(200, m_pages->loginPage(QString()), m_pages->loginPolicy()));
    reply->respond(loginAnswer(200, m_pages->boardPage(), m_pages->boardPolicy()));
}

void WebStation::boardLogin(const Request& request, std::shared_ptr<Reply> reply) {
    // A form posts "+" for a space.
    QString form = QString::fromStdString(request.body);
    form.replace(QLatin1Char('+'), QLatin1Char(' '));
    const QUrlQuery fields(form);
    const QString user = fields.queryItemValue(QStringLiteral("username"), QUrl::FullyDecoded).trimmed();
    const QString password = fields.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded);
    const QString peer = QString::fromStdString(request.peer);
    const QJsonObject& texts = m_pages->texts();
    if (const std::optional<int> wait = m_sessions->refusedFor(peer, user)) {
        Response r =
            loginAnswer(429,
                        m_pages->loginPage(texts.value(QStringLiteral("boardTooMany"))
                                               .toString()
                                               .replace(QStringLiteral("{seconds}"), QString::number(*wait))),
                        m_pages->loginPolicy());
        r.headers.emplace_back("Retry-After", std::to_string(*wait));
        return reply->respond(std::move(r));
    }
    const bool secure = request.secure;
    const bool queued = m_jobs->post([this, user, password, peer, secure, reply](const Database* db) {
        if (!db)
            return reply->respond(error(503, QStringLiteral("the database cannot be reached now")));
        std::optional<int> key;
        try {
            if (!user.isEmpty() && !password.isEmpty())
                key = Credentials::checkAdmin(*db, user, password);
        } catch (const DbError&) {
            reply->respond(error(503, QStringLiteral("the database cannot be reached now")));
            throw;
        }
        if (key) {
            Response r;
            r.status = 303;
            r.contentType = "text/plain; charset=utf-8";
            r.headers.emplace_back("Location", "/board");
            r.headers.emplace_back("Set-Cookie",
                                   sessionCookie(m_sessions->begin(user), secure, 12 * 60 * 60));
            r.headers.emplace_back("Cache-Control", "no-store");
            return reply->respond(std::move(r));
        }
        m_sessions->failed(peer, user);
        // A wrong password is answered a second later, which costs a guesser time and nobody else.
        const std::string page =
            m_pages->loginPage(m_pages->texts().value(QStringLiteral("boardWrong")).toString());
        m_jobs->later(
            1000, [this, reply, page] { reply->respond(loginAnswer(401, page, m_pages->loginPolicy())); });
    });
    if (!queued)
        reply->respond(error(503, QStringLiteral("busy: try again in a moment")));
}

void WebStation::boardLogout(const Request& request, std::shared_ptr<Reply> reply) {
    m_sessions->end(web::BoardSessions::keyFromCookies(QString::fromStdString(request.header("cookie"))));
    Response r;
    r.status = 303;
    r.contentType = "text/plain; charset=utf-8";
    r.headers.emplace_back("Location", "/board");
    r.headers.emplace_back("Set-Cookie", sessionCookie(QString(), request.secure, 0));
    reply->respond(std::move(r));
}

void WebStation::openBoardEvents(const Request& request, std::shared_ptr<Reply> reply) {
    if (!boardUser(request))
        return reply->respond(error(401, QStringLiteral("log in first")));
    reply->openStream([this](std::shared_ptr<web::EventStream> stream) {
        std::lock_guard lock(m_mutex);
        if (!m_board.empty())
            stream->send(m_board);
        m_boards.push_back(stream);
        // The figures are read only while someone looks: the first to look has them read now.
        if (m_board.empty() || m_boards.size() == 1)
            m_watch->readSoon();
    });
}

// On the watch's thread after each read of the queue: the board's figures, when someone looks.
void WebStation::readBoard(const Database& db) {
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_boards, [](const std::shared_ptr<web::EventStream>& s) { return !s->isOpen(); });
        if (m_boards.empty()) {
            m_board.clear();
            return;
        }
    }
    std::string board = json(LiveBoard(db, m_clock).snapshot().toJson());
    std::lock_guard lock(m_mutex);
    if (board == m_board)
        return;
    m_board = std::move(board);
    for (const auto& s : m_boards)
        s->send(m_board);
}

void WebStation::issue(const Request& request, std::shared_ptr<Reply> reply) {
    auto unauthorised = [&reply] {
        Response r = error(401, QStringLiteral("an API key is needed to issue tokens"));
        r.headers.emplace_back("WWW-Authenticate", "Bearer");
        reply->respond(std::move(r));
    };
    const std::string auth = request.header("authorization");
    constexpr std::string_view bearer = "Bearer ";
    if (auth.size() <= bearer.size() || auth.compare(0, bearer.size(), bearer) != 0)
        return unauthorised();
    const QString key = QString::fromStdString(auth.substr(bearer.size())).trimmed();

    QJsonParseError parse{};
    const QJsonDocument body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body), &parse);
    const QString serviceName = body.object().value(QStringLiteral("service")).toString();
    if (parse.error != QJsonParseError::NoError || !body.isObject() || serviceName.trimmed().isEmpty())
        return reply->respond(
            error(400, QStringLiteral("the body must be a JSON object with the service's name: "
                                      "{\"service\": NAME}")));

    const bool queued = m_jobs->post([this, key, serviceName, reply, unauthorised](const Database* db) {
        if (!db)
            return reply->respond(error(503, QStringLiteral("the database cannot be reached now")));
        try {
            const std::optional<QString> name = ApiKeys::verify(*db, key);
            if (!name)
                return unauthorised();
            int retry = 0;
            if (!m_issueLimit->take(*name, &retry)) {
                Response r =
                    error(429, QStringLiteral("too many tokens issued with this key: try again later"));
                r.headers.emplace_back("Retry-After", std::to_string(retry));
                return reply->respond(std::move(r));
            }
            const std::optional<QVariantList> service = db->firstRow(
                QStringLiteral("SELECT servAuto, ServName FROM tblService WHERE ServName=? AND active='1'"),
                {serviceName});
            if (!service)
                return reply->respond(error(422, QStringLiteral("no active service has that name")));
            Session session;
            session.ticketCopies = 0;
            NoTicketPrinter printer;
            TokenIssuer issuer(*db, m_clock, session, printer);
            const IssueResult r = issuer.issue(service->at(0).toInt(), service->at(1).toString());
            if (r.status == IssueResult::Status::Limit)
                return reply->respond(
                    error(409, QStringLiteral("the service has given out its last number today")));
            if (!r.stored())
                return reply->respond(error(503, QStringLiteral("the token could not be stored: try again")));
            QJsonObject o{{QStringLiteral("label"), r.token.label},
                          {QStringLiteral("webKey"), r.token.webKey}};
            // The token is stored: whatever happens now, the answer says so.
            std::optional<int> minutes;
            try {
                minutes = WaitEstimator(*db, m_clock).minutesFor(r.token.key);
            } catch (const DbError&) {
            }
            o.insert(QStringLiteral("estimateMinutes"), minutes ? QJsonValue(*minutes) : QJsonValue());
            Response ok = jsonAnswer(201, json(o));
            ok.headers.emplace_back("Location", "/api/v1/tickets/" + r.token.webKey.toStdString());
            reply->respond(std::move(ok));
        } catch (const DbError&) {
            reply->respond(error(503, QStringLiteral("the database cannot be reached now")));
            throw;
        }
    });
    if (!queued)
        reply->respond(error(503, QStringLiteral("busy: try again in a moment")));
}

} // namespace tallyvo
