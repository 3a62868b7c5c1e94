// Times the department report ("All", called tokens only) on a busy site's year: by default
// 5,000,000 tokens over 365 days, 20 services in 5 departments, 40 counters, tokens issued from
// 08:00 over nine hours, waiting up to 20 minutes and served in 1 to 15. Prints "name: value"
// lines: the time to fill the site and, for one day, one month and the whole year, the rows
// listed, the median time of a run of the report (query and rows read), and of the report window
// shown: to its first rows on the screen and to its last row and average line, with the processor
// time the process spent on it, on SQLite and on PostgreSQL.
//
//   bench_reports [--tokens N] [--runs N] [--pg postgresql://user:pw@host:port/db] [--no-sqlite]
//                 [--sqlite-file PATH] [--pg-database NAME] [--ranges day,month,year]
//                 [--figures-only | --report-only]
//
// --sqlite-file and --pg-database keep the site (in that file, or in that database on the server,
// which must exist), filled on the first run and reused after, so a profiler can be pointed at the
// report alone. --figures-only leaves the department report out and times the figures alone;
// --report-only does the opposite.
//
// The PostgreSQL URL may also come from TALLYVO_BENCH_PG; the role must be allowed to create a
// throwaway database, which is dropped at the end. The site is made by one INSERT ... SELECT on the
// server side, with the ticket indexes built after it, so filling takes seconds, not hours.

#include "core/Clock.h"
#include "core/Connection.h"
#include "core/Database.h"
#include "core/Prompt.h"
#include "core/Session.h"
#include "core/SettingsStore.h"
#include "core/Schema.h"
#include "reports/Report.h"
#include "reports/ui/ReportWindow.h"
#include "stats/QueueFigures.h"
#include "widgets/Grid.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <sys/resource.h>
#include <cstdio>
#include <memory>
#include <vector>

using namespace tallyvo;

namespace {

constexpr int kDays = 365;

// The window's day, which its dates start at; the bench sets them itself.
class FixedDay final : public Clock {
public:
    explicit FixedDay(QDate day)
        : m_day(day)
    {
    }
    QDate today() const override { return m_day; }
    QTime now() const override { return QTime(12, 0); }

private:
    QDate m_day;
};

// A refusal ends the bench instead of waiting for a click.
class QuietPrompt final : public Prompt {
public:
    void message(const QString& text, const QString&) override { qFatal("%s", qPrintable(text)); }
    bool question(const QString& text, const QString&) override
    {
        qFatal("%s", qPrintable(text));
        return false;
    }
    std::optional<QString> input(const QString& text, const QString&, const QString&) override
    {
        qFatal("%s", qPrintable(text));
        return std::nullopt;
    }
    QString openFileName(const QString&, const QString&) override { return QString(); }
    QString saveFileName(const QString&, const QString&) override { return QString(); }
    QString folder(const QString&) override { return QString(); }
};
constexpr int kServices = 20;
constexpr int kDepartments = 5;
const QDate kFirstDay(2025, 1, 1);

void print(const QString& engine, const char* name, double value)
{
    std::printf("%s.%s: %.3f\n", qPrintable(engine), name, value);
    std::fflush(stdout);
}

std::unique_ptr<Database> connect(const DbUrl& url)
{
    auto db = std::make_unique<Database>(url);
    QString error;
    if (!db->open(&error))
        qFatal("%s", qPrintable(error));
    return db;
}

// Pseudo-random but the same on both engines: a multiplicative hash of the day and the token.
QString hashed(const QString& n, const QString& k, int modulo, int salt)
{
    return QStringLiteral("((%1 * 40503 + %2 * 2654435761 + %3) % %4)").arg(n, k).arg(salt).arg(modulo);
}

QString clockText(Engine engine, const QString& seconds)
{
    // Put together without QString::arg, whose placeholders would swallow printf's "%02d".
    const QString s = QStringLiteral("(") + seconds + QStringLiteral(")");
    if (engine == Engine::Sqlite)
        return QStringLiteral("printf('%02d:%02d:%02d', ") + s + QStringLiteral(" / 3600, (") + s +
            QStringLiteral(" / 60) % 60, ") + s + QStringLiteral(" % 60)");
    return QStringLiteral("lpad((") + s + QStringLiteral(" / 3600)::text, 2, '0') || ':' || lpad(((") + s +
        QStringLiteral(" / 60) % 60)::text, 2, '0') || ':' || lpad((") + s + QStringLiteral(" % 60)::text, 2, '0')");
}

void fillSite(const Database& db, int tokens)
{
    const Engine engine = db.engine();
    const int perDay = std::max(kServices, (tokens + kDays - 1) / kDays);
    Transaction t(db);
    for (int d = 0; d < kDepartments; ++d)
        db.run(QStringLiteral("INSERT INTO tblDept (deptAuto, deptName, deptDesc, active) VALUES (?, ?, '', '1')"),
               {d + 1, QStringLiteral("Department %1").arg(d + 1)});
    for (int s = 0; s < kServices; ++s) {
        db.run(QStringLiteral("INSERT INTO tblService (servAuto, deptAuto, ServName, servdesc, active, startno, endno, "
                              "abrno) VALUES (?, ?, ?, '', '1', '1', '99999', ?)"),
               {s + 1, s % kDepartments + 1, QStringLiteral("Service %1").arg(s + 1), QString(QChar(u'A' + s))});
        for (int c = 0; c < 2; ++c)
            db.run(QStringLiteral("INSERT INTO tblCounter (cntAuto, servAuto, contName, displayName, username, pass, "
                                  "active) VALUES (?, ?, ?, ?, ?, '', '1')"),
                   {s * 2 + c + 1, s + 1, QStringLiteral("Counter %1").arg(s * 2 + c + 1),
                    QStringLiteral("C%1").arg(s * 2 + c + 1), QStringLiteral("user%1").arg(s * 2 + c + 1)});
    }

    // Ticket indexes are built once after the rows, not kept up to date row by row.
    std::vector<QString> indexes;
    QSqlQuery q = db.run(engine == Engine::Sqlite
                             ? QStringLiteral("SELECT name, sql FROM sqlite_master WHERE type='index' AND "
                                              "tbl_name='tblTicket' AND sql IS NOT NULL")
                             : QStringLiteral("SELECT indexname, indexdef FROM pg_indexes WHERE tablename='tblticket' "
                                              "AND indexname NOT LIKE '%pkey'"));
    std::vector<QString> names;
    while (q.next()) {
        names.push_back(q.value(0).toString());
        indexes.push_back(q.value(1).toString());
    }
    q.finish();
    for (const QString& name : names)
        db.run(QStringLiteral("DROP INDEX ") + name);

    const QString n = QStringLiteral("d.n"), k = QStringLiteral("i.k");
    const QString service = QStringLiteral("(%1 % %2)").arg(k).arg(kServices);
    const QString issued = QStringLiteral("(28800 + %1 * 32400 / %2)").arg(k).arg(perDay);
    const QString start = QStringLiteral("(%1 + %2)").arg(issued, hashed(n, k, 1201, 17));
    const QString end = QStringLiteral("(%1 + 60 + %2)").arg(start, hashed(n, k, 841, 91));
    // The last day's last tenth is still waiting.
    const QString waiting = QStringLiteral("(%1 = %2 AND %3 >= %4)").arg(n).arg(kDays - 1).arg(k).arg(perDay * 9 / 10);
    const QString day = engine == Engine::Sqlite
                            ? QStringLiteral("date('%1', '+' || %2 || ' days')").arg(kFirstDay.toString(Qt::ISODate), n)
                            : QStringLiteral("to_char(date '%1' + %2, 'YYYY-MM-DD')").arg(kFirstDay.toString(Qt::ISODate), n);
    const QString letter = engine == Engine::Sqlite ? QStringLiteral("char(65 + %1)").arg(service)
                                                    : QStringLiteral("chr(65 + %1)").arg(service);
    const QString number = QStringLiteral("(%1 / %2 + 1)").arg(k).arg(kServices);
    const QString numberText =
        engine == Engine::Sqlite ? QStringLiteral("CAST(%1 AS TEXT)").arg(number) : QStringLiteral("%1::text").arg(number);
    const QString series =
        engine == Engine::Sqlite
            ? QStringLiteral("WITH RECURSIVE dn(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM dn WHERE n < %1), "
                             "ik(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM ik WHERE k < %2) ")
                  .arg(kDays - 1)
                  .arg(perDay - 1)
            : QString();
    const QString from = engine == Engine::Sqlite
                             ? QStringLiteral("FROM dn AS d CROSS JOIN ik AS i")
                             : QStringLiteral("FROM generate_series(0, %1) AS d(n) CROSS JOIN generate_series(0, %2) AS i(k)")
                                   .arg(kDays - 1)
                                   .arg(perDay - 1);
    const QString insert =
        QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, attended, attTime, "
                       "finished, status, ref) ") +
        (engine == Engine::Sqlite ? series : QString()) +
        QStringLiteral("SELECT %1 + 1, %2, %3, %4, CASE WHEN %5 THEN '0' ELSE '1' END, %6 || %7, "
                       "CASE WHEN %5 THEN 0 ELSE %1 * 2 + 1 + (%2 % 2) END, "
                       "CASE WHEN %5 THEN '' ELSE %8 END, CASE WHEN %5 THEN '' ELSE %9 END, "
                       "CASE WHEN %5 THEN '' ELSE 'Finished' END, '' ")
            .arg(service, number, day, clockText(engine, issued), waiting, letter, numberText, clockText(engine, start),
                 clockText(engine, end)) +
        from;
    db.run(insert);
    for (const QString& ddl : indexes)
        db.run(ddl);
    t.commit();
    // A site's year has long been vacuumed by the server's autovacuum; a fresh fill has not.
    db.run(engine == Engine::Postgres ? QStringLiteral("VACUUM ANALYZE") : QStringLiteral("ANALYZE"));
}

double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

QStringList g_ranges{QStringLiteral("day"), QStringLiteral("month"), QStringLiteral("year")};
bool g_figuresOnly = false;
bool g_reportOnly = false;

struct Range {
    const char* name;
    QDate from;
    QDate to;
    int runs;
};

// The waiting, service-level, hourly and counter figures of a range.
void measureFigures(const QString& engine, const Database& db, const Range& range)
{
    const char* kinds[] = {"waiting", "levels", "hourly", "counters"};
    for (int k = 0; k < 4; ++k) {
        FigureRequest figures;
        figures.from = range.from;
        figures.to = range.to;
        figures.scope = k == 3 ? FigureRequest::Scope::Counter : FigureRequest::Scope::Service;
        std::vector<double> figureMs;
        size_t figureRows = 0;
        for (int i = 0; i < std::max(1, range.runs / 2); ++i) {
            QElapsedTimer t;
            t.start();
            const FigureTable table = QueueFigures(db, figures).table(FigureKind(k));
            figureMs.push_back(double(t.nsecsElapsed()) / 1e6);
            figureRows = table.rows.size();
        }
        print(engine, (QByteArray(range.name) + '_' + kinds[k] + "_rows").constData(), double(figureRows));
        print(engine, (QByteArray(range.name) + '_' + kinds[k] + "_ms").constData(), median(figureMs));
    }
}

void measure(const QString& engine, const Database& db, int tokens, int runs)
{
    if (db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket")).toLongLong() == 0) {
        QElapsedTimer fill;
        fill.start();
        fillSite(db, tokens);
        print(engine, "fill_s", double(fill.elapsed()) / 1000.0);
    }
    print(engine, "tokens", db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket")).toDouble());
    db.run(QStringLiteral("UPDATE tblService SET slaMinutes=15"));

    const Range ranges[] = {{"day", QDate(2025, 6, 17), QDate(2025, 6, 17), runs},
                            {"month", QDate(2025, 6, 1), QDate(2025, 6, 30), runs},
                            {"year", kFirstDay, kFirstDay.addDays(kDays - 1), std::max(1, runs / 4)}};
    for (const Range& r : ranges) {
        if (!g_ranges.contains(QLatin1String(r.name)))
            continue;
        if (g_figuresOnly) {
            measureFigures(engine, db, r);
            continue;
        }
        const ReportRequest request{ReportKind::Department, QStringLiteral("All"), r.from, r.to, false};
        Reports::run(db, request); // warm the caches once
        std::vector<double> ms;
        size_t rows = 0;
        for (int i = 0; i < r.runs; ++i) {
            QElapsedTimer t;
            t.start();
            const ReportResult result = Reports::run(db, request);
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
            if (!result.error.isEmpty())
                qFatal("%s", qPrintable(result.error));
            rows = result.rows.size();
        }
        const QByteArray rowsName = QByteArray(r.name) + "_rows";
        const QByteArray msName = QByteArray(r.name) + "_ms";
        print(engine, rowsName.constData(), double(rows));
        print(engine, msName.constData(), median(ms));

        // The report window itself, shown: from "Show" to its first rows on the screen, and to
        // the last row and the average line (the same as the report's).
        const QString expected = Reports::run(db, request).average;
        std::vector<double> firstMs, windowMs, windowCpuMs, stallMs;
        QTemporaryDir settingsDir;
        SettingsStore settings(settingsDir.path());
        Session session;
        Connection connection(settings, session);
        connection.setOverride(db.url());
        const FixedDay clock(r.to);
        QuietPrompt prompt;
        frmReport window(connection, session, clock, prompt);
        window.resize(1000, 700);
        window.show();
        window.findChild<QComboBox*>(QStringLiteral("cmbDept"))->setEditText(QStringLiteral("All"));
        window.findChild<QDateEdit*>(QStringLiteral("dtFrom"))->setDate(r.from);
        window.findChild<QDateEdit*>(QStringLiteral("DTto"))->setDate(r.to);
        QCoreApplication::processEvents();
        for (int i = 0; i < std::max(1, r.runs / 2); ++i) {
            // How long the window left its events waiting: the longest gap between the ticks of
            // a timer due every 5 ms, from "Show" to the average line.
            QElapsedTimer sinceTick;
            double longestGap = 0;
            QTimer ticks;
            ticks.setInterval(5);
            QObject::connect(&ticks, &QTimer::timeout, [&] {
                longestGap = std::max(longestGap, double(sinceTick.nsecsElapsed()) / 1e6);
                sinceTick.restart();
            });
            QElapsedTimer t;
            const double cpuBefore = cpuMs();
            t.start();
            sinceTick.start();
            ticks.start();
            window.addFG();
            while (window.filling() && window.grid()->rows() <= 1)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            QCoreApplication::processEvents(); // the first rows drawn
            firstMs.push_back(double(t.nsecsElapsed()) / 1e6);
            // TALLYVO_SHOTS=<folder> keeps a picture of the window with its first rows.
            if (const QString shots = qEnvironmentVariable("TALLYVO_SHOTS"); !shots.isEmpty() && i == 0)
                window.grab().save(QDir(shots).filePath(engine + QLatin1Char('-') + QLatin1String(r.name) +
                                                        QStringLiteral("-first-rows.png")));
            while (window.filling())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            QCoreApplication::processEvents();
            windowMs.push_back(double(t.nsecsElapsed()) / 1e6);
            windowCpuMs.push_back(cpuMs() - cpuBefore);
            ticks.stop();
            stallMs.push_back(std::max(longestGap, double(sinceTick.nsecsElapsed()) / 1e6));
            const QString average = window.findChild<QLabel*>(QStringLiteral("lblAvg"))->text();
            if (average != expected)
                qFatal("the window's average line %s differs from the report's %s", qPrintable(average),
                       qPrintable(expected));
            if (size_t(window.grid()->rows() - 1) != rows)
                qFatal("the window shows %d rows of the report's %zu", window.grid()->rows() - 1, rows);
        }
        window.close();
        print(engine, (QByteArray(r.name) + "_window_first_rows_ms").constData(), median(firstMs));
        const QByteArray windowName = QByteArray(r.name) + "_window_ms";
        print(engine, windowName.constData(), median(windowMs));
        print(engine, (QByteArray(r.name) + "_window_longest_stall_ms").constData(), median(stallMs));
        // The process's own processor time for it (all its threads; not the server's): on a
        // shared machine a steadier figure than the time on the clock.
        print(engine, (QByteArray(r.name) + "_window_cpu_ms").constData(), median(windowCpuMs));
        // The process's peak so far: the report and its window for this range and those before it.
        rusage peak{};
        getrusage(RUSAGE_SELF, &peak);
        print(engine, (QByteArray(r.name) + "_window_peak_rss_mb").constData(), double(peak.ru_maxrss) / 1024.0);

        if (!g_reportOnly)
            measureFigures(engine, db, r);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    print(engine, "peak_rss_mb", double(usage.ru_maxrss) / 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int tokens = 5000000;
    int runs = 5;
    bool sqlite = true;
    QString sqliteFile;
    QString pgDatabase;
    QString pg = qEnvironmentVariable("TALLYVO_BENCH_PG");
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--tokens"))
            tokens = args.value(++i).toInt();
        else if (args[i] == QLatin1String("--runs"))
            runs = std::max(1, args.value(++i).toInt());
        else if (args[i] == QLatin1String("--pg"))
            pg = args.value(++i);
        else if (args[i] == QLatin1String("--sqlite-file"))
            sqliteFile = args.value(++i);
        else if (args[i] == QLatin1String("--pg-database"))
            pgDatabase = args.value(++i);
        else if (args[i] == QLatin1String("--ranges"))
            g_ranges = args.value(++i).split(QLatin1Char(','));
        else if (args[i] == QLatin1String("--figures-only"))
            g_figuresOnly = true;
        else if (args[i] == QLatin1String("--report-only"))
            g_reportOnly = true;
        else if (args[i] == QLatin1String("--no-sqlite"))
            sqlite = false;
        else
            qFatal("unknown argument %s", qPrintable(args[i]));
    }

    if (sqlite) {
        QTemporaryDir dir;
        auto db = connect(DbUrl::sqlite(sqliteFile.isEmpty() ? dir.filePath(QStringLiteral("bench.sqlite")) : sqliteFile));
        Schema::upgrade(*db);
        measure(QStringLiteral("sqlite"), *db, tokens, runs);
    }
    if (!pg.isEmpty()) {
        QString error;
        const std::optional<DbUrl> given = DbUrl::parse(pg, &error);
        if (!given)
            qFatal("%s", qPrintable(error));
        const QString name = pgDatabase.isEmpty()
            ? QStringLiteral("tallyvo_bench_reports_%1").arg(QCoreApplication::applicationPid())
            : pgDatabase;
        if (pgDatabase.isEmpty()) {
            auto admin = connect(*given);
            admin->run(QStringLiteral("CREATE DATABASE %1").arg(name));
        }
        {
            DbUrl url = *given;
            url.database = name;
            auto db = connect(url);
            Schema::upgrade(*db);
            measure(QStringLiteral("pg"), *db, tokens, runs);
        }
        if (pgDatabase.isEmpty()) {
            auto admin = connect(*given);
            admin->run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
        }
    } else {
        std::printf("pg: not measured (give --pg URL or TALLYVO_BENCH_PG)\n");
    }
    return 0;
}
