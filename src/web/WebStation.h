#pragma once

#include "core/DbUrl.h"
#include "web/DisplayData.h"
#include "web/http/HttpServer.h"

#include <QHash>
#include <QString>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tallyvo {

class Clock;
class Database;
class DbJobs;
class QueueState;
class QueueWatch;
class SettingsStore;
struct TicketView;

namespace web {
class BoardSessions;
class RateLimiter;
class WebPages;
} // namespace web

// How a web station serves: its own settings, the [web] section of the station's settings file,
// and the command line over them.
struct WebConfig {
    DbUrl db;
    std::string address = "0.0.0.0";
    std::uint16_t port = 8080;
    std::optional<web::HttpServer::Tls> tls;
    web::Limits limits;
    int threads = 2;
    // Tokens one API key may issue per minute (a burst of as many, then one every 60/N s).
    int issuePerMinute = 30;
    // A site's own texts for the pages (a JSON object over the built-in one); "" for none.
    QString textsFile;
    // What the browser display shows and says, as every display station takes them from its
    // settings: the theme by name, the announcement's template ('*' the label, '#' the counter),
    // and the chime (the program's own when "").
    QString themeName = QStringLiteral("HR1");
    QString voiceFormat;
    QString chimeFile;

    // Reads the [web] settings; what is malformed keeps its default and is named in *problems.
    static WebConfig fromSettings(const SettingsStore& settings, QStringList* problems);
    // "ADDR:PORT", "[v6]:PORT" or ":PORT"; false when it is none of these.
    bool setListen(const QString& text);
};

// The site's web station: a visitor's phone follows its token at /t/WEBKEY, scripts use the
// JSON API under /api/v1/. It meets the other stations only in the database: it reads today's
// queue again whenever another station commits (QueueWatch), serves pages, answers and events
// from the state it read, and asks the database itself only for a token of an earlier day and
// for issuing. Nothing else is served: no listing, no files.
class WebStation {
public:
    WebStation(WebConfig config, const Clock& clock);
    ~WebStation();
    WebStation(const WebStation&) = delete;
    WebStation& operator=(const WebStation&) = delete;

    // Reads the pages, binds the address and starts serving; false with a reason a person can
    // act on.
    bool start(QString* error);
    void stop();

    std::uint16_t port() const;
    web::ServerStats serverStats() const;
    // Times today's queue was read so far.
    quint64 stateReads() const;
    // Whether the station has read today's queue and calls once, and so serves every route.
    bool ready() const;
    // One line per lost or regained database connection, for the station's log.
    void setNoteHandler(std::function<void(const QString&)> onNote) { m_onNote = std::move(onNote); }

private:
    struct Watchers {
        std::vector<std::shared_ptr<web::EventStream>> streams;
        std::string last; // the event they were sent last
    };

    struct DisplayWatcher {
        std::shared_ptr<web::EventStream> stream;
        QStringList services; // ?services=, empty for all
        qint64 lastSent = 0;  // the feed place it has been sent up to
    };

    void handle(const web::Request& request, std::shared_ptr<web::Reply> reply);
    void serveDisplay(const web::Request& request, std::shared_ptr<web::Reply> reply);
    void openDisplayEvents(const web::Request& request, std::shared_ptr<web::Reply> reply);
    void onCalls(const QString& day, const QList<WebCall>& calls);
    // The supervisors' board: a login, then its figures pushed as they change.
    void serveBoard(const web::Request& request, std::shared_ptr<web::Reply> reply);
    void boardLogin(const web::Request& request, std::shared_ptr<web::Reply> reply);
    void boardLogout(const web::Request& request, std::shared_ptr<web::Reply> reply);
    void openBoardEvents(const web::Request& request, std::shared_ptr<web::Reply> reply);
    std::optional<QString> boardUser(const web::Request& request) const;
    void readBoard(const Database& db);
    void serveTicket(const QString& key, bool page, std::shared_ptr<web::Reply> reply);
    void openEvents(const QString& key, std::shared_ptr<web::Reply> reply);
    void lookUp(const QString& key, std::shared_ptr<web::Reply> reply,
                const std::function<void(const std::optional<TicketView>&, web::Reply&)>& done);
    void issue(const web::Request& request, std::shared_ptr<web::Reply> reply);
    void onState(std::shared_ptr<const QueueState> state);
    void watch(const QString& key, std::optional<TicketView> view,
               const std::shared_ptr<web::EventStream>& stream);
    std::shared_ptr<const QueueState> state() const;

    WebConfig m_config;
    const Clock& m_clock;
    std::unique_ptr<web::WebPages> m_pages;
    std::unique_ptr<web::RateLimiter> m_issueLimit;
    std::unique_ptr<web::HttpServer> m_server;
    std::unique_ptr<QueueWatch> m_watch;
    std::unique_ptr<DbJobs> m_jobs;
    std::function<void(const QString&)> m_onNote;

    mutable std::mutex m_mutex; // the state and the watchers, changed together
    std::shared_ptr<const QueueState> m_state;
    QHash<QString, Watchers> m_watchers;
    // Today's calls in feed order, each call once at its latest place (a recall moves it), for
    // the browser displays; known once the watch has read the day.
    QList<WebCall> m_calls;
    QString m_callDay;
    bool m_callsKnown = false;
    std::vector<DisplayWatcher> m_displays;
    std::string m_chime;
    std::unique_ptr<web::BoardSessions> m_sessions;
    std::vector<std::shared_ptr<web::EventStream>> m_boards;
    std::string m_board; // the board's figures as last read, "" until someone looked
};

} // namespace tallyvo
