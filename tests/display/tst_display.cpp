#include "RecordingSpeech.h"
#include "TestSupport.h"

#include "core/Schema.h"
#include "display/Announcer.h"
#include "display/CallFeed.h"
#include "display/ui/frmDisplay.h"
#include "widgets/Grid.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace tallyvo;

namespace {

// One display station: its settings, speech and window, on the test's clock.
struct Station {
    Station(const DbUrl& url, const Clock& clock)
        : speech(new test::RecordingSpeech)
        , announcer(settings.store, std::unique_ptr<SpeechEngine>(speech))
        , display(url, settings.store, clock, announcer)
    {
    }
    test::TempSettings settings;
    test::RecordingSpeech* speech;
    Announcer announcer;
    frmDisplay display;

    QString cell(int row, int col) const { return display.FG()->textMatrix(row, col); }
    QStringList labels() const
    {
        QStringList out;
        for (int r = 1; r <= display.R(); ++r)
            out << cell(r, 1);
        while (!out.isEmpty() && out.last().isEmpty())
            out.removeLast();
        return out;
    }
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
    static void waitConnected(Station& s) { QTRY_VERIFY_WITH_TIMEOUT(s.display.feed().isConnected(), 10000); }

private slots:
    void noCallsToday()
    {
        test::TempDatabase tdb;
        const QString yesterday = m_clock.day.addDays(-1).toString(QStringLiteral("yyyy-MM-dd"));
        const qint64 old = callOn(tdb.db(), yesterday, QStringLiteral("Z9"), QStringLiteral("Counter 1"));
        Station s(tdb.url(), m_clock);
        waitConnected(s);
        QCOMPARE(s.display.FG()->rows(), 13);
        QCOMPARE(s.display.FG1()->rows(), 13);
        QTest::qWait(100);
        QVERIFY(s.labels().isEmpty());
        QVERIFY(s.speech->said.isEmpty());

        // Yesterday's unshown row stays unshown even after today's calls are taken.
        const qint64 today = call(tdb.db(), QStringLiteral("A1"));
        QTRY_COMPARE(s.labels(), QStringList{QStringLiteral("A1 ")});
        QCOMPARE(status(tdb.db(), today), QStringLiteral("1"));
        QTest::qWait(100);
        QCOMPARE(status(tdb.db(), old), QStringLiteral("0"));
        QCOMPARE(s.speech->said, QStringList{spoken(QStringLiteral("A1"), QStringLiteral("Counter 1"))});
    }

    // The newest shown calls of the day fill the table at start without being announced; calls
    // still waiting then enter one by one at the top, newest first, each listed once.
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
        QTRY_COMPARE(s.labels(), (QStringList{QStringLiteral("A2 "), QStringLiteral("A3 "), QStringLiteral("A1 ")}));
        QTRY_COMPARE(s.speech->said, (QStringList{spoken(QStringLiteral("A3"), QStringLiteral("Counter 2")),
                                                 spoken(QStringLiteral("A2"), QStringLiteral("Counter 1"))}));
        QTest::qWait(50);
        QCOMPARE(s.labels().size(), 3);
    }

    // Each call enters at the top; the thirteenth pushes the first out of a 12-row table.
    void callsPushDown()
    {
        test::TempDatabase tdb;
        Station s(tdb.url(), m_clock);
        waitConnected(s);
        QSignalSpy chimes(&s.display, &frmDisplay::chimeStarted);
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
        QCOMPARE(s.display.FG()->rows(), 13);
        // The second line is shown, never spoken.
        QCOMPARE(s.cell(1, 2), QStringLiteral("Counter 2\r\nRoom 5"));
        QCOMPARE(s.cell(2, 2), QStringLiteral("Counter 1"));
        QTRY_COMPARE(s.speech->said, expectedSpeech);
        QCOMPARE(chimes.size(), 13);
        QCOMPARE(tdb.db().scalar(QStringLiteral("SELECT count(*) FROM tblCall WHERE status='0'")).toInt(), 0);
        QCOMPARE(s.display.lastLabel(), QStringLiteral("A13"));
        QCOMPARE(s.display.lastCounter(), QStringLiteral("Counter 2"));
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
        QTRY_VERIFY(!s.display.isBlinking());

        tdb.db().run(QStringLiteral("UPDATE tblCall SET status='0' WHERE callauto=?"), {a2});
        QTRY_COMPARE(s.speech->said.size(), 3);
        QCOMPARE(s.speech->said.at(2), s.speech->said.at(1));
        QVERIFY(s.display.isBlinking());
        QCOMPARE(s.labels(), (QStringList{QStringLiteral("A2 "), QStringLiteral("A1 ")}));
        QCOMPARE(status(tdb.db(), a2), QStringLiteral("1"));

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

    // Two calls waiting at one look: the newer enters first, the older next, above it.
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
        QTRY_COMPARE(s.labels(), (QStringList{QStringLiteral("C1 "), QStringLiteral("C2 ")}));
        QTRY_COMPARE(s.speech->said, (QStringList{spoken(QStringLiteral("C2"), QStringLiteral("Counter 2")),
                                                 spoken(QStringLiteral("C1"), QStringLiteral("Counter 1"))}));
    }

    // Ten 200 ms steps, regular first, ending bold; a new blink starts over.
    void blinkSteps()
    {
        test::TempDatabase tdb;
        Station s(tdb.url(), m_clock);
        Grid* fg = s.display.FG();
        s.display.blink();
        QVERIFY(s.display.isBlinking());
        QCOMPARE(s.display.blinkStep(), 1);
        QVERIFY(!fg->cellFontBold(1, 1));
        QVERIFY(!fg->cellFontBold(1, 2));
        for (int step = 2; step <= 9; ++step) {
            s.display.Timer6_Timer();
            QCOMPARE(fg->cellFontBold(1, 1), step % 2 == 0);
            QCOMPARE(fg->cellFontBold(1, 2), step % 2 == 0);
        }
        s.display.blink();
        QCOMPARE(s.display.blinkStep(), 1);
        QElapsedTimer t;
        t.start();
        QTRY_VERIFY_WITH_TIMEOUT(!s.display.isBlinking(), 5000);
        QVERIFY2(t.elapsed() >= 1600, qPrintable(QString::number(t.elapsed())));
        QVERIFY(fg->cellFontBold(1, 1));
        QVERIFY(fg->cellFontBold(1, 2));
        QCOMPARE(s.display.blinkStep(), 0);
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
            QVERIFY(s.display.isBlinking());
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

    // Two displays on one database: each call is announced by exactly one of them.
    void twoDisplaysAnnounceOnce()
    {
        test::TempDatabase tdb;
        Station first(tdb.url(), m_clock);
        Station second(tdb.url(), m_clock);
        waitConnected(first);
        waitConnected(second);
        QStringList expected;
        for (int i = 1; i <= 40; ++i) {
            const QString label = QStringLiteral("E%1").arg(i);
            call(tdb.db(), label);
            expected << spoken(label, QStringLiteral("Counter 1"));
            // Some calls alone, some in quick runs, so both displays race for them.
            if (i % 4 == 0)
                QTest::qWait(15);
        }
        QTRY_COMPARE_WITH_TIMEOUT(
            tdb.db().scalar(QStringLiteral("SELECT count(*) FROM tblCall WHERE status='0'")).toInt(), 0, 10000);
        QTRY_COMPARE(first.speech->said.size() + second.speech->said.size(), 40);
        QTest::qWait(100);
        QStringList all = first.speech->said + second.speech->said;
        all.sort();
        expected.sort();
        QCOMPARE(all, expected);
        QCOMPARE(first.display.feed().stats().claims + second.display.feed().stats().claims, quint64(40));
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
        QSignalSpy changes(&s->display.feed(), &CallFeed::connectionChanged);
        QTRY_VERIFY(!s->display.feed().lastError().isEmpty());
        QVERIFY(!s->display.feed().isConnected());
        s->display.blink();
        QTRY_VERIFY_WITH_TIMEOUT(!s->display.isBlinking(), 5000);

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
        QTRY_VERIFY_WITH_TIMEOUT(s->display.feed().isConnected(), 15000);
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
        QSignalSpy changes(&s.display.feed(), &CallFeed::connectionChanged);

        tdb.db().run(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                    "WHERE datname = current_database() AND pid <> pg_backend_pid()"));
        QTRY_COMPARE(tdb.db().scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = "
                                                    "current_database() AND pid <> pg_backend_pid()")).toInt(), 0);
        call(tdb.db(), QStringLiteral("G2"));
        call(tdb.db(), QStringLiteral("G3"));
        QTRY_COMPARE_WITH_TIMEOUT(s.speech->said.size(), 3, 15000);
        QCOMPARE(s.speech->said.mid(1), (QStringList{spoken(QStringLiteral("G3"), QStringLiteral("Counter 1")),
                                                    spoken(QStringLiteral("G2"), QStringLiteral("Counter 1"))}));
        QCOMPARE(s.labels(), (QStringList{QStringLiteral("G2 "), QStringLiteral("G3 "), QStringLiteral("G1 ")}));
        QVERIFY(s.display.feed().isConnected());
        QVERIFY(s.display.feed().stats().reconnects >= 1);
        QCOMPARE(changes.size(), 2);
    }
};

TALLYVO_TEST_MAIN(tst_display)
#include "tst_display.moc"
