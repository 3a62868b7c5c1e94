#include "RecordingSpeech.h"
#include "TestSupport.h"

#include "core/DemoSite.h"
#include "core/Schema.h"
#include "display/Announcer.h"
#include "display/CallFeed.h"
#include "display/ui/frmDisplay.h"
#include "widgets/Grid.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <vector>

using namespace tallyvo;

namespace {

// One display station: its settings, speech and window, on the test's clock.
// Closing and opening it again keeps its settings (so its place in the call feed) and its speech.
struct Station {
    Station(const DbUrl& url, const Clock& clock, const FeedTiming& timing = FeedTiming{})
        : speech(new test::RecordingSpeech)
        , announcer(settings.store, std::unique_ptr<SpeechEngine>(speech))
        , m_url(url)
        , m_clock(clock)
        , m_timing(timing)
    {
        open();
    }
    void open() { display = std::make_unique<frmDisplay>(m_url, settings.store, m_clock, announcer, m_timing); }
    void close() { display.reset(); }

    test::TempSettings settings;
    test::RecordingSpeech* speech;
    Announcer announcer;
    std::unique_ptr<frmDisplay> display;

    QString cell(int row, int col) const { return display->FG()->textMatrix(row, col); }
    QStringList labels() const
    {
        QStringList out;
        for (int r = 1; r <= display->R(); ++r)
            out << cell(r, 1);
        while (!out.isEmpty() && out.last().isEmpty())
            out.removeLast();
        return out;
    }

private:
    DbUrl m_url;
    const Clock& m_clock;
    FeedTiming m_timing;
};

QString spoken(const QString& label, const QString& counter)
{
    return Announcer::announcementText(Keys::VoiceFormat.fallback, label, counter);
}

} // namespace

class tst_display : public QObject {
    Q_OBJECT

private:
    test::FakeClock m_clock;

    // A call row as the call engine writes it.
    static qint64 callOn(Database& db, const QString& day, const QString& label, const QString& counter,
                       const QString& note = QString(), const QString& status = QStringLiteral("0"))
    {
        return db.insert(QStringLiteral("INSERT INTO tblCall (cntAuto, no_abr, displayName, status, tickAuto, "
                                        "tickDate, callNote) VALUES (?, ?, ?, ?, ?, ?, ?) RETURNING callauto"),
                         {1, label, counter, status, 0, day, note});
    }
    qint64 call(Database& db, const QString& label, const QString& counter = QStringLiteral("Counter 1"),
                const QString& note = QString())
    {
        return callOn(db, m_clock.todayText(), label, counter, note);
    }
    static QString status(Database& db, qint64 callauto)
    {
        return db.scalar(QStringLiteral("SELECT status FROM tblCall WHERE callauto=?"), {callauto}).toString();
    }
    static void waitConnected(Station& s) { QTRY_VERIFY_WITH_TIMEOUT(s.display->feed().isConnected(), 10000); }

private slots:
    void noCallsToday()
    {
        test::TempDatabase tdb;
        const QString yesterday = m_clock.day.addDays(-1).toString(QStringLiteral("yyyy-MM-dd"));
        const qint64 old = callOn(tdb.db(), yesterday, QStringLiteral("Z9"), QStringLiteral("Counter 1"));
        Station s(tdb.url(), m_clock);
        waitConnected(s);
        QCOMPARE(s.display->FG()->rows(), 13);
        QCOMPARE(s.display->FG1()->rows(), 13);
        QTest::qWait(100);
        QVERIFY(s.labels().isEmpty());
        QVERIFY(s.speech->said.isEmpty());

        // Yesterday's unshown row stays unshown even after today's calls are taken.
        const qint64 today = call(tdb.db(), QStringLiteral("A1"));
        QTRY_COMPARE(s.labels(), QStringList{QStringLiteral("A1 ")});
        QTRY_COMPARE(status(tdb.db(), today), QStringLiteral("1"));
        QTest::qWait(100);
        QCOMPARE(status(tdb.db(), old), QStringLiteral("0"));
        QCOMPARE(s.speech->said, QStringList{spoken(QStringLiteral("A1"), QStringLiteral("Counter 1"))});
    }

    // The newest shown calls of the day fill the table at start without being announced; calls
    // still waiting then enter one by one at the top, in the order they were made, each listed once.
    void initialFill()
    {
        test::TempDatabase tdb;
        const QString today = m_clock.todayText();
        callOn(tdb.db(), today, QStringLiteral("A1"), QStringLiteral("Counter 1"), QString(), QStringLiteral("1"));
        callOn(tdb.db(), today, QStringLiteral("A2"), QStringLiteral("Counter 2"), QStringLiteral("Dr. Rao"),
               QStringLiteral("1"));
        callOn(tdb.db(), m_clock.day.addDays(-1).toString(QStringLiteral("yyyy-MM-dd")), QStringLiteral("X1"),
               QStringLiteral("Counter 1"), QString(), QStringLiteral("1"));
        Station s(tdb.url(), m_clock);
        waitConnected(s);
        QTRY_COMPARE(s.labels(), (QStringList{QStringLiteral("A2 "), QStringLiteral("A1 ")}));
        QCOMPARE(s.cell(1, 2), QStringLiteral("Counter 2\r\nDr. Rao"));
        QCOMPARE(s.cell(2, 2), QStringLiteral("Counter 1"));
        QTest::qWait(50);
        QVERIFY(s.speech->said.isEmpty());
    }

    void waitingCallsAtStart()
    {
        test::TempDatabase tdb;
        callOn(tdb.db(), m_clock.todayText(), QStringLiteral("A1"), QStringLiteral("Counter 1"), QString(),
               QStringLiteral("1"));
        call(tdb.db(), QStringLiteral("A2"));
        call(tdb.db(), QStringLiteral("A3"), QStringLiteral("Counter 2"));
        Station s(tdb.url(), m_clock);
        QTRY_COMPARE(s.labels(), (QStringList{QStringLiteral("A3 "), QStringLiteral("A2 "), QStringLiteral("A1 ")}));
        QTRY_COMPARE(s.speech->said, (QStringList{spoken(QStringLiteral("A2"), QStringLiteral("Counter 1")),
                                                 spoken(QStringLiteral("A3"), QStringLiteral("Counter 2"))}));
        QTest::qWait(50);
        QCOMPARE(s.labels().size(), 3);
    }

    // Each call enters at the top; the thirteenth pushes the first out of a 12-row table.
    void callsPushDown()
    {
        test::TempDatabase tdb;
        Station s(tdb.url(), m_clock);
        waitConnected(s);
        QSignalSpy chimes(s.display.get(), &frmDisplay::chimeStarted);
        QStringList expectedSpeech;
        for (int i = 1; i <= 13; ++i) {
            const QString label = QStringLiteral("A%1").arg(i);
            const QString counter = QStringLiteral("Counter %1").arg(i % 3 + 1);
            call(tdb.db(), label, counter, i == 13 ? QStringLiteral("Room 5") : QString());
            expectedSpeech << spoken(label, counter);
            QTRY_COMPARE(s.cell(1, 1), label + QLatin1Char(' '));
        }
        QStringList expected;
        for (int i = 13; i >= 2; --i)
            expected << QStringLiteral("A%1 ").arg(i);
        QCOMPARE(s.labels(), expected);
        QCOMPARE(s.display->FG()->rows(), 13);
        // The second line is shown, never spoken.
        QCOMPARE(s.cell(1, 2), QStringLiteral("Counter 2\r\nRoom 5"));
        QCOMPARE(s.cell(2, 2), QStringLiteral("Counter 1"));
        QTRY_COMPARE(s.speech->said, expectedSpeech);
        QCOMPARE(chimes.size(), 13);
        QTRY_COMPARE(tdb.db().scalar(QStringLiteral("SELECT count(*) FROM tblCall WHERE status='0'")).toInt(), 0);
        QCOMPARE(s.display->lastLabel(), QStringLiteral("A13"));
        QCOMPARE(s.display->lastCounter(), QStringLiteral("Counter 2"));
    }

    // A recall of the top token: announced again, nothing moves. The same token called again
    // while lower down becomes a new top row.
    void recallAndCallAgain()
    {
        test::TempDatabase tdb;
        Station s(tdb.url(), m_clock);
        waitConnected(s);
        call(tdb.db(), QStringLiteral("A1"));
        QTRY_COMPARE(s.cell(1, 1), QStringLiteral("A1 "));
        const qint64 a2 = call(tdb.db(), QStringLiteral("A2"), QStringLiteral("Counter 2"));
        QTRY_COMPARE(s.cell(1, 1), QStringLiteral("A2 "));
        QTRY_COMPARE(s.speech->said.size(), 2);
        QTRY_VERIFY(!s.display->isBlinking());

        tdb.db().run(QStringLiteral("UPDATE tblCall SET status='0' WHERE callauto=?"), {a2});
        QTRY_COMPARE(s.speech->said.size(), 3);
        QCOMPARE(s.speech->said.at(2), s.speech->said.at(1));
        QVERIFY(s.display->isBlinking());
        QCOMPARE(s.labels(), (QStringList{QStringLiteral("A2 "), QStringLiteral("A1 ")}));
        QTRY_COMPARE(status(tdb.db(), a2), QStringLiteral("1"));

        call(tdb.db(), QStringLiteral("A1"), QStringLiteral("Counter 3"));
        QTRY_COMPARE(s.labels(), (QStringList{QStringLiteral("A1 "), QStringLiteral("A2 "), QStringLiteral("A1 ")}));
        QCOMPARE(s.cell(1, 2), QStringLiteral("Counter 3"));
        QCOMPARE(s.cell(3, 2), QStringLiteral("Counter 1"));

        // The top token called by another counter (after a transfer): the table follows the voice.
        call(tdb.db(), QStringLiteral("A1"), QStringLiteral("Counter 4"));
        QTRY_COMPARE(s.cell(1, 2), QStringLiteral("Counter 4"));
        QCOMPARE(s.labels().size(), 3);
        QTRY_COMPARE(s.speech->said.last(), spoken(QStringLiteral("A1"), QStringLiteral("Counter 4")));
    }

    // Two calls waiting at one look enter in the order they were made.
    void twoWaitingAtOnce()
    {
        test::TempDatabase tdb;
        Station s(tdb.url(), m_clock);
        waitConnected(s);
        {
            Transaction t(tdb.db());
            call(tdb.db(), QStringLiteral("C1"));
            call(tdb.db(), QStringLiteral("C2"), QStringLiteral("Counter 2"));
            t.commit();
        }
        QTRY_COMPARE(s.labels(), (QStringList{QStringLiteral("C2 "), QStringLiteral("C1 ")}));
        QTRY_COMPARE(s.speech->said, (QStringList{spoken(QStringLiteral("C1"), QStringLiteral("Counter 1")),
                                                 spoken(QStringLiteral("C2"), QStringLiteral("Counter 2"))}));
    }

    // Ten 200 ms steps, regular first, ending bold; a new blink starts over.
    void blinkSteps()
    {
        test::TempDatabase tdb;
        Station s(tdb.url(), m_clock);
        Grid* fg = s.display->FG();
        s.display->blink();
        QVERIFY(s.display->isBlinking());
        QCOMPARE(s.display->blinkStep(), 1);
        QVERIFY(!fg->cellFontBold(1, 1));
        QVERIFY(!fg->cellFontBold(1, 2));
        for (int step = 2; step <= 9; ++step) {
            s.display->Timer6_Timer();
            QCOMPARE(fg->cellFontBold(1, 1), step % 2 == 0);
            QCOMPARE(fg->cellFontBold(1, 2), step % 2 == 0);
        }
        s.display->blink();
        QCOMPARE(s.display->blinkStep(), 1);
        QElapsedTimer t;
        t.start();
        QTRY_VERIFY_WITH_TIMEOUT(!s.display->isBlinking(), 5000);
        QVERIFY2(t.elapsed() >= 1600, qPrintable(QString::number(t.elapsed())));
        QVERIFY(fg->cellFontBold(1, 1));
        QVERIFY(fg->cellFontBold(1, 2));
        QCOMPARE(s.display->blinkStep(), 0);
    }

    // While a long announcement is being spoken, later calls still reach the table and blink;
    // their announcements follow in order.
    void speechDoesNotHoldTheTable()
    {
        test::TempDatabase tdb;
        Station s(tdb.url(), m_clock);
        s.speech->autoFinish = false;
        waitConnected(s);
        for (const char* label : {"D1", "D2", "D3"}) {
            call(tdb.db(), QLatin1String(label));
            QTRY_COMPARE(s.cell(1, 1), QLatin1String(label) + QLatin1Char(' '));
            QVERIFY(s.display->isBlinking());
        }
        QCOMPARE(s.speech->said.size(), 1);
        QCOMPARE(s.announcer.pending(), 3);
        s.speech->finishNow();
        QTRY_COMPARE(s.speech->said.size(), 2);
        s.speech->finishNow();
        QTRY_COMPARE(s.speech->said.size(), 3);
        QCOMPARE(s.speech->said, (QStringList{spoken(QStringLiteral("D1"), QStringLiteral("Counter 1")),
                                             spoken(QStringLiteral("D2"), QStringLiteral("Counter 1")),
                                             spoken(QStringLiteral("D3"), QStringLiteral("Counter 1"))}));
    }

    // Any number of displays on one database: each shows and announces every call and every
    // recall once, in the order they were made, and every call ends up marked shown.
    void everyDisplayShowsEveryCall_data()
    {
        QTest::addColumn<int>("displays");
        QTest::newRow("two") << 2;
        QTest::newRow("three") << 3;
    }
    void everyDisplayShowsEveryCall()
    {
        QFETCH(int, displays);
        test::TempDatabase tdb;
        std::vector<std::unique_ptr<Station>> stations;
        for (int i = 0; i < displays; ++i) {
            stations.push_back(std::make_unique<Station>(tdb.url(), m_clock));
            waitConnected(*stations.back());
        }
        auto allSaid = [&](qsizetype n) {
            return std::all_of(stations.begin(), stations.end(), [n](const auto& s) { return s->speech->said.size() == n; });
        };
        QStringList expected;
        for (int i = 1; i <= 30; ++i) {
            const QString label = QStringLiteral("E%1").arg(i);
            const qint64 row = call(tdb.db(), label);
            expected << spoken(label, QStringLiteral("Counter 1"));
            if (i % 5 == 0) {
                // Recall, as a console does, once the call is on every screen.
                QTRY_VERIFY(allSaid(expected.size()));
                tdb.db().run(QStringLiteral("UPDATE tblCall SET status='0' WHERE callauto=?"), {row});
                expected << spoken(label, QStringLiteral("Counter 1"));
            }
            // Some calls alone, some in quick runs.
            if (i % 4 == 0)
                QTest::qWait(15);
        }
        QStringList table;
        for (int i = 30; i >= 19; --i)
            table << QStringLiteral("E%1 ").arg(i);
        for (const auto& s : stations) {
            QTRY_COMPARE_WITH_TIMEOUT(s->speech->said, expected, 10000);
            QCOMPARE(s->labels(), table);
        }
        QTRY_COMPARE(tdb.db().scalar(QStringLiteral("SELECT count(*) FROM tblCall WHERE status='0'")).toInt(), 0);
        QTest::qWait(100);
        for (const auto& s : stations) {
            QCOMPARE(s->speech->said.size(), expected.size());
            QCOMPARE(s->display->feed().stats().calls, quint64(expected.size()));
        }
    }

    // A display started after some calls lists them and announces none. One that closes and
    // opens again goes on where it stopped: what it showed is not announced again, what came
    // meanwhile (or was on its way when it closed) is announced once, in order.
    void startedLaterAndReopened()
    {
        test::TempDatabase tdb;
        Station a(tdb.url(), m_clock);
        waitConnected(a);
        call(tdb.db(), QStringLiteral("H1"));
        const qint64 h2 = call(tdb.db(), QStringLiteral("H2"), QStringLiteral("Counter 2"));
        QTRY_COMPARE(status(tdb.db(), h2), QStringLiteral("1"));

        Station b(tdb.url(), m_clock);
        waitConnected(b);
        QTRY_COMPARE(b.labels(), (QStringList{QStringLiteral("H2 "), QStringLiteral("H1 ")}));
        QCOMPARE(b.cell(1, 2), QStringLiteral("Counter 2"));

        // Closed the moment it has shown H3, before its place would be written: it is written
        // on the way out.
        const qint64 h3 = call(tdb.db(), QStringLiteral("H3"));
        const QString aId = a.display->feed().displayId();
        QTRY_COMPARE(a.cell(1, 1), QStringLiteral("H3 "));
        a.close();
        QCOMPARE(tdb.db().scalar(QStringLiteral("SELECT feedSeq FROM tblDisplayFeed WHERE displayId=?"), {aId})
                     .toLongLong(),
                 tdb.db().scalar(QStringLiteral("SELECT feedSeq FROM tblCall WHERE callauto=?"), {h3}).toLongLong());
        call(tdb.db(), QStringLiteral("H4"));
        call(tdb.db(), QStringLiteral("H5"));
        QTRY_COMPARE(b.cell(1, 1), QStringLiteral("H5 "));
        a.open();
        waitConnected(a);
        QTRY_COMPARE(a.cell(1, 1), QStringLiteral("H5 "));
        // Closed with a call on its way, before it could be shown.
        call(tdb.db(), QStringLiteral("H6"));
        a.close();
        a.open();

        QStringList all;
        for (int i = 1; i <= 6; ++i)
            all << spoken(QStringLiteral("H%1").arg(i), i == 2 ? QStringLiteral("Counter 2") : QStringLiteral("Counter 1"));
        QTRY_COMPARE(a.speech->said, all);
        QTRY_COMPARE(b.speech->said, all.mid(2));
        QTRY_COMPARE(a.labels(), (QStringList{QStringLiteral("H6 "), QStringLiteral("H5 "), QStringLiteral("H4 "),
                                             QStringLiteral("H3 "), QStringLiteral("H2 "), QStringLiteral("H1 ")}));
        QTest::qWait(100);
        QCOMPARE(a.speech->said.size(), 6);
        QCOMPARE(b.speech->said.size(), 4);
        QCOMPARE(tdb.db().scalar(QStringLiteral("SELECT count(*) FROM tblDisplayFeed")).toInt(), 2);
    }

    // A recall made while another display is still marking the call shown: that late mark must
    // not mark the recall shown too, so a display started next still announces it.
    void recallWhileAnotherDisplayMarks()
    {
        test::TempDatabase tdb;
        // A display slow to show its calls: the test says when it has shown one.
        CallFeed slow(tdb.url(), QStringLiteral("slow"), m_clock);
        QList<CallRow> arrived;
        connect(&slow, &CallFeed::callArrived, this, [&](const CallRow& c) { arrived << c; });
        slow.start(12);
        QTRY_VERIFY(slow.isConnected());
        const qint64 row = call(tdb.db(), QStringLiteral("J1"));
        QTRY_COMPARE(arrived.size(), 1);

        tdb.db().run(QStringLiteral("UPDATE tblCall SET status='0' WHERE callauto=?"), {row});
        slow.markShown(arrived.first());
        const QString place = QStringLiteral("SELECT feedSeq FROM tblDisplayFeed WHERE displayId='slow'");
        QTRY_COMPARE(tdb.db().scalar(place).toLongLong(), arrived.first().feedSeq);
        QCOMPARE(status(tdb.db(), row), QStringLiteral("0"));
        QTRY_COMPARE(arrived.size(), 2);
        QCOMPARE(arrived.at(1).callauto, row);

        Station later(tdb.url(), m_clock);
        QTRY_COMPARE(later.speech->said, QStringList{spoken(QStringLiteral("J1"), QStringLiteral("Counter 1"))});
        QTRY_COMPARE(status(tdb.db(), row), QStringLiteral("1"));
        slow.markShown(arrived.at(1));
        QTRY_COMPARE(tdb.db().scalar(place).toLongLong(), arrived.at(1).feedSeq);
        QTest::qWait(100);
        QCOMPARE(arrived.size(), 2);
        QCOMPARE(later.speech->said.size(), 1);
    }

    // On SQLite a call made by another process reaches the display through the change of the
    // database's log, not by polling: with the safety look a minute away the feed does not
    // wake while nothing happens, and the call still arrives at once.
    void embeddedCallFromAnotherProcess()
    {
        if (test::testEngine() != Engine::Sqlite)
            QSKIP("the embedded engine only");
        test::TempDatabase tdb;
        QVERIFY(DemoSite::create(tdb.db()));
        FeedTiming slow;
        slow.safetyMs = 60000;
        slow.checkMs = 60000;
        // tallyvoctl dates its call by the system's clock.
        const SystemClock clock;
        Station s(tdb.url(), clock, slow);
        waitConnected(s);
        QTest::qWait(200);
        const FeedStats before = s.display->feed().stats();
        QTest::qWait(1000);
        const FeedStats idle = s.display->feed().stats();
        QCOMPARE(idle.wakeups, before.wakeups);
        QCOMPARE(idle.statements, before.statements);

        const QString ctl = QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl");
        const QString db = tdb.url().toString(true);
        for (const QStringList& args : {QStringList{QStringLiteral("issue"), QStringLiteral("Consultation")},
                                        QStringList{QStringLiteral("next"), QStringLiteral("Counter 1")}}) {
            QProcess p;
            p.start(ctl, QStringList{QStringLiteral("--db"), db} + args);
            QVERIFY(p.waitForFinished(30000));
            QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        }
        QElapsedTimer sinceCall;
        sinceCall.start();
        QTRY_VERIFY_WITH_TIMEOUT(s.display->lastLabel().startsWith(QLatin1Char('A')), 5000);
        QVERIFY2(sinceCall.elapsed() < 5000, qPrintable(QString::number(sinceCall.elapsed())));
        QCOMPARE(s.speech->said.size(), 1);
    }

    // A display started while its database cannot be reached keeps drawing, and shows the calls
    // made meanwhile once it can.
    void startsWhileUnreachable()
    {
        QTemporaryDir dir;
        DbUrl url;
        std::optional<DbUrl> admin;
        if (test::testEngine() == Engine::Sqlite) {
            // A plain file where the database's folder should be: the file cannot be opened.
            QFile blocker(dir.filePath(QStringLiteral("site")));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.close();
            url = DbUrl::sqlite(dir.filePath(QStringLiteral("site/queue.sqlite")));
        } else {
            admin = test::testServer();
            url = *admin;
            url.database = QStringLiteral("tst_unreach_%1").arg(QCoreApplication::applicationPid());
        }

        auto s = std::make_unique<Station>(url, m_clock);
        QSignalSpy changes(&s->display->feed(), &CallFeed::connectionChanged);
        QTRY_VERIFY(!s->display->feed().lastError().isEmpty());
        QVERIFY(!s->display->feed().isConnected());
        s->display->blink();
        QTRY_VERIFY_WITH_TIMEOUT(!s->display->isBlinking(), 5000);

        if (test::testEngine() == Engine::Sqlite) {
            QVERIFY(QFile::remove(dir.filePath(QStringLiteral("site"))));
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("site")));
        } else {
            Database server(*admin);
            QVERIFY(server.open());
            server.run(QStringLiteral("CREATE DATABASE %1").arg(url.database));
        }
        {
            Database site(url);
            QVERIFY(site.open());
            Schema::upgrade(site);
            call(site, QStringLiteral("F1"));
            call(site, QStringLiteral("F2"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(s->display->feed().isConnected(), 15000);
        QTRY_COMPARE(s->speech->said.size(), 2);
        // The display may come back between the two calls: both are announced, in either order.
        QStringList said = s->speech->said;
        said.sort();
        QCOMPARE(said, (QStringList{spoken(QStringLiteral("F1"), QStringLiteral("Counter 1")),
                                    spoken(QStringLiteral("F2"), QStringLiteral("Counter 1"))}));
        QStringList labels = s->labels();
        labels.sort();
        QCOMPARE(labels, (QStringList{QStringLiteral("F1 "), QStringLiteral("F2 ")}));
        QCOMPARE(changes.size(), 1);
        QCOMPARE(changes.first().first().toBool(), true);

        s.reset();
        if (admin) {
            Database server(*admin);
            QVERIFY(server.open());
            server.run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(url.database));
        }
    }

    // The server drops the display's connection: calls made before it is back are all shown.
    void serverDropsTheConnection()
    {
        if (test::testEngine() != Engine::Postgres)
            QSKIP("a PostgreSQL server's connection only");
        test::TempDatabase tdb;
        Station s(tdb.url(), m_clock);
        waitConnected(s);
        call(tdb.db(), QStringLiteral("G1"));
        QTRY_COMPARE(s.cell(1, 1), QStringLiteral("G1 "));
        QSignalSpy changes(&s.display->feed(), &CallFeed::connectionChanged);

        tdb.db().run(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                    "WHERE datname = current_database() AND pid <> pg_backend_pid()"));
        QTRY_COMPARE(tdb.db().scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = "
                                                    "current_database() AND pid <> pg_backend_pid()")).toInt(), 0);
        call(tdb.db(), QStringLiteral("G2"));
        call(tdb.db(), QStringLiteral("G3"));
        QTRY_COMPARE_WITH_TIMEOUT(s.speech->said.size(), 3, 15000);
        QCOMPARE(s.speech->said.mid(1), (QStringList{spoken(QStringLiteral("G2"), QStringLiteral("Counter 1")),
                                                    spoken(QStringLiteral("G3"), QStringLiteral("Counter 1"))}));
        QCOMPARE(s.labels(), (QStringList{QStringLiteral("G3 "), QStringLiteral("G2 "), QStringLiteral("G1 ")}));
        QVERIFY(s.display->feed().isConnected());
        QVERIFY(s.display->feed().stats().reconnects >= 1);
        QCOMPARE(changes.size(), 2);
        // What was shown before and after the drop is written, G1's too if the drop came first.
        QTRY_COMPARE(tdb.db().scalar(QStringLiteral("SELECT count(*) FROM tblCall WHERE status='0'")).toInt(), 0);
        QTRY_COMPARE(tdb.db().scalar(QStringLiteral("SELECT feedSeq FROM tblDisplayFeed")).toLongLong(),
                     tdb.db().scalar(QStringLiteral("SELECT max(feedSeq) FROM tblCall")).toLongLong());
    }
};

TALLYVO_TEST_MAIN(tst_display)
#include "tst_display.moc"
