#include "core/Schema.h"

#include "core/Database.h"
#include "core/Passwords.h"

#include <QMutex>

#include <algorithm>
#include <functional>
#include <vector>

namespace tallyvo::Schema {

namespace {

using Step = std::function<void(const Database&)>;

void createTables(const Database& db)
{
    const QString key = db.dialect().autoKey();
    const QString real = db.dialect().realType();
    auto create = [&](const QString& ddl) { db.run(ddl.arg(key)); };

    create(QStringLiteral("CREATE TABLE tblTicket (tickAuto %1, servAuto INTEGER NOT NULL, "
                          "tickNo INTEGER NOT NULL, tickDate TEXT NOT NULL, tickTime TEXT, "
                          "call TEXT NOT NULL DEFAULT '0', no_abr TEXT, attended INTEGER NOT NULL DEFAULT 0, "
                          "attTime TEXT NOT NULL DEFAULT '', finished TEXT NOT NULL DEFAULT '', "
                          "status TEXT NOT NULL DEFAULT '', ref TEXT NOT NULL DEFAULT '')"));
    create(QStringLiteral("CREATE TABLE tblCall (callauto %1, cntAuto INTEGER, no_abr TEXT, displayName TEXT, "
                          "status TEXT NOT NULL DEFAULT '0', tickAuto INTEGER, tickDate TEXT, "
                          "callNote TEXT NOT NULL DEFAULT '')"));
    create(QStringLiteral("CREATE TABLE tblService (servAuto %1, deptAuto INTEGER, ServName TEXT, servdesc TEXT, "
                          "active TEXT NOT NULL DEFAULT '1', startno TEXT, endno TEXT, abrno TEXT)"));
    create(QStringLiteral("CREATE TABLE tblDept (deptAuto %1, deptName TEXT, deptDesc TEXT, "
                          "active TEXT NOT NULL DEFAULT '1')"));
    create(QStringLiteral("CREATE TABLE tblCounter (cntAuto %1, servAuto INTEGER, contName TEXT, displayName TEXT, "
                          "username TEXT, pass TEXT, active TEXT NOT NULL DEFAULT '1')"));
    create(QStringLiteral(
        "CREATE TABLE tbltheme (themeauto %1, themename TEXT, colums TEXT, rows TEXT, colwidth TEXT, "
        "rowheight TEXT, logo TEXT, displaytime INTEGER, clockfile TEXT, fonttime TEXT, sizetime TEXT, "
        "clrtime INTEGER, backgroundclr INTEGER, linecolor INTEGER, altcolr INTEGER, bgimage TEXT, "
        "hdfont TEXT, hdclrbg INTEGER, hdfntclr INTEGER, hdfntsize TEXT, fntcrr TEXT, sizecrr TEXT, "
        "clrcrr INTEGER, bgcrr INTEGER, fntval TEXT, sizeval TEXT, clrval INTEGER, bgval INTEGER, "
        "type TEXT, screenclr INTEGER, linewidth TEXT, videofile TEXT, onlinevideo TEXT, volume TEXT, "
        "enablemovie INTEGER, ttlname TEXT, ttlfont TEXT, ttlcolor INTEGER, ttlsize TEXT, "
        "scroll INTEGER, tformat TEXT, enableH INTEGER, Column1 TEXT, Column2 TEXT, img1 TEXT, img2 TEXT, "
        "newsBG INTEGER)"));
    QString pos = QStringLiteral("CREATE TABLE tblpos (posauto %1, themeauto INTEGER");
    for (const char* c : {"logoleft", "logotop", "logowidth", "logoheight", "timeleft", "timetop", "timewidth",
                          "timeheight", "tblleft", "tbltop", "tblwidth", "tblheight", "videoleft", "videotop",
                          "videowidth", "videoheight", "meleft", "metop", "mewidth", "meheight", "ttlleft",
                          "ttltop", "ttlwidth", "ttlheight", "newsleft", "newstop", "newswidth", "newsheight"})
        pos += QStringLiteral(", %1 ").arg(QLatin1String(c)) + real;
    create(pos + QLatin1Char(')'));
    // Header captions: column i of the token table takes position i; position 0 is the theme.
    db.run(QStringLiteral("CREATE TABLE tblheader (themeauto INTEGER, caption1 TEXT, caption2 TEXT, "
                          "caption3 TEXT, caption4 TEXT, caption5 TEXT, caption6 TEXT)"));
    create(QStringLiteral("CREATE TABLE tblscroll (scrollAuto %1, message TEXT, msgrtf TEXT, msgrtfcopy TEXT, "
                          "active TEXT NOT NULL DEFAULT '1', fontname TEXT, fontsize TEXT, fontcolor INTEGER, "
                          "bold INTEGER, italic INTEGER, direction TEXT)"));
    create(QStringLiteral("CREATE TABLE tblVideo (vidAuto %1, vidPath TEXT, vidDesc TEXT, "
                          "active TEXT NOT NULL DEFAULT '1')"));
    create(QStringLiteral("CREATE TABLE tbluser (userAuto %1, username TEXT, password TEXT, usertype TEXT)"));
    create(QStringLiteral("CREATE TABLE tblComp (compAuto %1, compName TEXT, compAddress TEXT)"));

    // Two stations can never store the same number for a service and day.
    db.run(QStringLiteral("CREATE UNIQUE INDEX ux_ticket_number ON tblTicket (servAuto, tickDate, tickNo)"));
    // Today's tokens of a counter (served, cancelled, transferred lists, last served).
    db.run(QStringLiteral("CREATE INDEX ix_ticket_counter ON tblTicket (tickDate, attended, call)"));
    // Tokens of a date range (reports, clearing).
    db.run(QStringLiteral("CREATE INDEX ix_ticket_date ON tblTicket (tickDate)"));
    // The display's feed: today's calls by status, newest first.
    db.run(QStringLiteral("CREATE INDEX ix_call_feed ON tblCall (tickDate, status, callauto)"));
    db.run(QStringLiteral("CREATE INDEX ix_call_ticket ON tblCall (tickAuto)"));

    if (db.engine() == Engine::Postgres) {
        // Displays listen instead of polling: every call row written or set back to unshown wakes them.
        db.run(QStringLiteral("CREATE OR REPLACE FUNCTION tallyvo_call_notify() RETURNS trigger AS $$ "
                              "BEGIN IF NEW.status = '0' THEN PERFORM pg_notify('tallyvo_call', "
                              "NEW.callauto::text); END IF; RETURN NEW; END $$ LANGUAGE plpgsql"));
        db.run(QStringLiteral("CREATE TRIGGER trg_call_notify AFTER INSERT OR UPDATE OF status ON tblCall "
                              "FOR EACH ROW EXECUTE FUNCTION tallyvo_call_notify()"));
    }

    // A new database can be logged into at once: the company row and the first administrator.
    db.run(QStringLiteral("INSERT INTO tblComp (compAuto, compName, compAddress) VALUES (1, ?, ?)"),
           {QStringLiteral("Tallyvo"), QString()});
    db.run(QStringLiteral("INSERT INTO tbluser (username, password, usertype) VALUES (?, ?, ?)"),
           {QStringLiteral("ADMIN"), Passwords::hash(defaultAdminPassword), QStringLiteral("Admin")});
}

// Reports over a range of days read every token column they show from one index, in date order,
// instead of looking each row up in the table: a month of a busy site is read many times faster.
void reportIndex(const Database& db)
{
    db.run(QStringLiteral("CREATE INDEX IF NOT EXISTS ix_ticket_report ON tblTicket "
                          "(tickDate, call, servAuto, attended, no_abr, attTime, finished)"));
}

// A theme may have more token table columns than the six captions tblheader started with: one
// caption column for each column the display can show, position i still holding column i.
void widenHeader(const Database& db)
{
    const int have = static_cast<int>(db.columns(QStringLiteral("tblheader")).size()) - 1;
    for (int i = std::max(have, 0) + 1; i <= headerCaptions; ++i)
        db.run(QStringLiteral("ALTER TABLE tblheader ADD COLUMN caption%1 TEXT").arg(i));
}

// Every display follows the calls on its own: each new call and each recall takes the next
// number of one counter row (tblCallSeq), in commit order, because the row stays locked until
// the writer commits; each display keeps its place in tblDisplayFeed. status keeps its meaning:
// '0' until some display has shown the call.
void addCallFeed(const Database& db)
{
    db.run(QStringLiteral("ALTER TABLE tblCall ADD COLUMN feedSeq INTEGER"));
    db.run(QStringLiteral("CREATE INDEX ix_call_seq ON tblCall (feedSeq)"));
    db.run(QStringLiteral("CREATE TABLE tblCallSeq (seq INTEGER NOT NULL)"));
    db.run(QStringLiteral("CREATE TABLE tblDisplayFeed (displayId TEXT NOT NULL PRIMARY KEY, "
                          "feedDate TEXT NOT NULL, feedSeq INTEGER NOT NULL)"));
    // Calls waiting when the database is upgraded keep their order.
    db.run(QStringLiteral("UPDATE tblCall SET feedSeq=callauto WHERE status='0'"));
    db.run(QStringLiteral("INSERT INTO tblCallSeq (seq) SELECT coalesce(max(callauto), 0) FROM tblCall"));
    if (db.engine() == Engine::Postgres) {
        db.run(QStringLiteral("CREATE OR REPLACE FUNCTION tallyvo_call_seq() RETURNS trigger AS $$ "
                              "BEGIN IF NEW.status = '0' THEN UPDATE tblCallSeq SET seq = seq + 1 "
                              "RETURNING seq INTO NEW.feedSeq; END IF; RETURN NEW; END $$ LANGUAGE plpgsql"));
        db.run(QStringLiteral("CREATE TRIGGER trg_call_seq BEFORE INSERT OR UPDATE OF status ON tblCall "
                              "FOR EACH ROW EXECUTE FUNCTION tallyvo_call_seq()"));
    } else {
        // SQLite has one writer at a time, so the counter's order is the commit order by itself.
        const QString numbering = QStringLiteral(
            "BEGIN UPDATE tblCallSeq SET seq = seq + 1; "
            "UPDATE tblCall SET feedSeq = (SELECT seq FROM tblCallSeq) WHERE callauto = NEW.callauto; END");
        db.run(QStringLiteral("CREATE TRIGGER trg_call_seq_new AFTER INSERT ON tblCall WHEN NEW.status = '0' ")
               + numbering);
        db.run(QStringLiteral("CREATE TRIGGER trg_call_seq_again AFTER UPDATE OF status ON tblCall "
                              "WHEN NEW.status = '0' ")
               + numbering);
    }
}

// A visitor follows a token from a phone by a key that cannot be guessed, so a token can be shown
// to whoever holds its ticket and to nobody else. Tokens stored before this step have none and can
// never be found by one (NULL is never equal to anything, and the unique rule ignores NULLs).
void addWebKey(const Database& db)
{
    db.run(QStringLiteral("ALTER TABLE tblTicket ADD COLUMN webKey TEXT"));
    db.run(QStringLiteral("CREATE UNIQUE INDEX ux_ticket_webkey ON tblTicket (webKey)"));
}

// The web station: keys for the programs that issue tokens through its API, kept only as hashes,
// and on PostgreSQL a wake-up for every token written (issued, cancelled, transferred), since the
// call notifications alone would leave visitors' pages behind on everything but calls.
void addWebStation(const Database& db)
{
    // Restoring an older backup on PostgreSQL replaces only what the backup holds: the keys' table
    // of the newer database is still there when the restored site is brought up to date again.
    db.run(QStringLiteral("CREATE TABLE IF NOT EXISTS tblApiKey (keyAuto %1, name TEXT NOT NULL, "
                          "keyHash TEXT NOT NULL, created TEXT NOT NULL)")
               .arg(db.dialect().autoKey()));
    db.run(QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS ux_apikey_name ON tblApiKey (name)"));
    db.run(QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS ux_apikey_hash ON tblApiKey (keyHash)"));
    if (db.engine() == Engine::Postgres) {
        db.run(QStringLiteral("CREATE OR REPLACE FUNCTION tallyvo_ticket_notify() RETURNS trigger AS $$ "
                              "BEGIN PERFORM pg_notify('tallyvo_ticket', NEW.tickAuto::text); RETURN NEW; END $$ "
                              "LANGUAGE plpgsql"));
        // Likewise a restored dump may hold the trigger already.
        db.run(QStringLiteral("DROP TRIGGER IF EXISTS trg_ticket_notify ON tblTicket"));
        db.run(QStringLiteral("CREATE TRIGGER trg_ticket_notify AFTER INSERT OR UPDATE ON tblTicket "
                              "FOR EACH ROW EXECUTE FUNCTION tallyvo_ticket_notify()"));
    }
}

// Managers are judged on how long people waited, which attTime cannot tell once a token is called
// again: firstCall keeps the time of its first call (NULL on rows from before, which fall back to
// attTime). A service's target wait in whole minutes; NULL is none.
void addWaitingFigures(const Database& db)
{
    db.run(QStringLiteral("ALTER TABLE tblTicket ADD COLUMN firstCall TEXT"));
    db.run(QStringLiteral("ALTER TABLE tblService ADD COLUMN slaMinutes INTEGER"));
}

// A ticket station whose server goes while a token is being stored cannot know whether it was
// stored: it asks again by the key it stored the token with, and finds the token the first try
// left instead of issuing a second one for the same visitor. Tokens stored before have none.
void addRequestKey(const Database& db)
{
    db.run(QStringLiteral("ALTER TABLE tblTicket ADD COLUMN requestKey TEXT"));
    db.run(QStringLiteral("CREATE UNIQUE INDEX ux_ticket_request ON tblTicket (requestKey)"));
}

// Step n brings the database from version n-1 to n. Add new steps at the end; never edit one
// that has shipped.
const std::vector<Step>& steps()
{
    static const std::vector<Step> all{createTables, reportIndex, addCallFeed, widenHeader, addWebKey,
                                       addWebStation, addWaitingFigures, addRequestKey};
    return all;
}

} // namespace

int latestVersion()
{
    return static_cast<int>(steps().size());
}

int version(const Database& db)
{
    if (!db.hasTable(QStringLiteral("tblversion")))
        return 0;
    return db.scalar(QStringLiteral("SELECT max(version) FROM tblversion")).toInt();
}

void upgrade(const Database& db, int last)
{
    if (last <= 0 || last > latestVersion())
        last = latestVersion();
    if (version(db) >= last)
        return;
    for (int target = 1; target <= last; ++target) {
        Transaction t(db);
        const QString lock = db.dialect().migrationLock();
        if (!lock.isEmpty())
            db.run(lock);
        db.run(QStringLiteral("CREATE TABLE IF NOT EXISTS tblversion (version INTEGER NOT NULL)"));
        // Another station may have run this step while we waited for the lock.
        if (db.scalar(QStringLiteral("SELECT max(version) FROM tblversion")).toInt() >= target)
            continue;
        steps()[static_cast<size_t>(target - 1)](db);
        db.run(QStringLiteral("INSERT INTO tblversion (version) VALUES (?)"), {target});
        t.commit();
    }
}

QMap<QString, QStringList> columnsAt(int wanted)
{
    if (wanted < 1 || wanted > latestVersion())
        return {};
    // Built once per version on a private in-memory database by the very steps that made the
    // site's, so the reference can never drift from what the program creates.
    static QMutex lock;
    static QMap<int, QMap<QString, QStringList>> known;
    QMutexLocker hold(&lock);
    if (!known.contains(wanted)) {
        QMap<QString, QStringList> columns;
        {
            Database scratch(DbUrl::sqlite(QStringLiteral(":memory:")));
            QString why;
            if (!scratch.open(&why))
                throw DbError(why);
            upgrade(scratch, wanted);
            for (const QString& table : tables()) {
                if (!scratch.hasTable(table))
                    continue;
                QStringList names = scratch.columns(table);
                for (QString& n : names)
                    n = n.toLower();
                columns.insert(table.toLower(), names);
            }
        }
        known.insert(wanted, columns);
    }
    return known.value(wanted);
}

QStringList tables()
{
    return {QStringLiteral("tblTicket"), QStringLiteral("tblCall"),    QStringLiteral("tblService"),
            QStringLiteral("tblDept"),   QStringLiteral("tblCounter"), QStringLiteral("tbltheme"),
            QStringLiteral("tblpos"),    QStringLiteral("tblheader"),  QStringLiteral("tblscroll"),
            QStringLiteral("tblVideo"),  QStringLiteral("tbluser"),    QStringLiteral("tblComp"),
            QStringLiteral("tblCallSeq"), QStringLiteral("tblDisplayFeed"), QStringLiteral("tblApiKey")};
}

} // namespace tallyvo::Schema
