#include "TestSupport.h"

#include "calling/CallEngine.h"
#include "core/Clock.h"
#include "core/Session.h"

#include <QApplication>
#include <QSet>
#include <QTest>
#include <list>

using namespace tallyvo;

namespace {

// One counter's console: its own session values and engine, as one station has them.
struct Console {
    Session session;
    std::unique_ptr<CallEngine> engine;
};

// A fixed clock that cuts the console's connection the first time it is asked for today's date
// once the call row of `ticket` is committed: a server that goes away right after the call.
class CuttingClock final : public Clock {
public:
    QDate today() const override
    {
        if (victim && watcher->scalar(QStringLiteral("SELECT count(*) FROM tblCall WHERE tickAuto=?"), {ticket})
                          .toInt()
                > 0) {
            victim->close();
            victim = nullptr;
        }
        return QDate(2026, 3, 14);
    }
    QTime now() const override { return QTime(10, 47, 0); }

    const Database* watcher = nullptr;
    mutable Database* victim = nullptr;
    qint64 ticket = 0;
};

struct CallRow {
    int counter;
    QString label;
    QString displayName;
    QString status;
    qint64 ticket;
    QString date;
    QString note;
};

} // namespace

class tst_callengine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void nextTakesLowestWaitingTokenOfTodayAndStampsFinish();
    void nextWithNothingWaitingKeepsLastServedForRecall();
    void recallAnnouncesFirstCallRowAgain();
    void cancelThenNextFinishesCancelledTokenAndCallsNext();
    void callOutOfTurnAndLabReport();
    void callOfKeyNotOfTodayWritesNothing();
    void secondDisplayLineFollowsShowBoth();
    void transferHandsTokenToAnotherCounterOnly();
    void listsFilterOrderAndWaitingMinutes();
    void minutesCountBoundariesCrossed();
    void reopenedConsoleHoldsLastServedToken();
    void choosingAnotherCounterDropsTheTokenInHand();
    void twoConsolesNeverTakeTheSameToken();
    void failedCallRowLeavesTokenWaiting();
    void refusedCallIsNotReported_data();
    void refusedCallIsNotReported();
    void callStandsWhenTheRecountFails();
    void callRowFallsBackToExistingRow();
    void firstCallIsStampedOnce_data();
    void firstCallIsStampedOnce();

private:
    Console& open(const QString& counterName, Database* db = nullptr);
    qint64 addToken(int service, int number, const QString& label, const QString& date = QStringLiteral("2026-03-14"),
                    const QString& time = QStringLiteral("10:05:00"));
    QList<CallRow> calls();
    QString ticketField(qint64 key, const QString& column);

    std::unique_ptr<test::TempDatabase> m_t;
    test::FakeClock m_clock{QDate(2026, 3, 14), QTime(10, 47, 0)};
    std::unique_ptr<test::TempSettings> m_settings;
    test::ScriptedPrompt m_prompt;
    std::list<Console> m_consoles;
    int m_lab = 0;      // service "L": counters A and B
    int m_pharmacy = 0; // service "P": counter C
    int m_a = 0;
    int m_b = 0;
    int m_c = 0;
};

void tst_callengine::init()
{
    m_t = std::make_unique<test::TempDatabase>();
    m_settings = std::make_unique<test::TempSettings>();
    m_prompt = test::ScriptedPrompt();
    m_clock.day = QDate(2026, 3, 14);
    m_clock.time = QTime(10, 47, 0);
    Database& db = m_t->db();
    auto service = [&](const QString& name, const QString& prefix) {
        return static_cast<int>(db.insert(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, "
                                                         "startno, endno, abrno) VALUES (1, ?, '', '1', '1', '999', ?) "
                                                         "RETURNING servAuto"),
                                          {name, prefix}));
    };
    auto counter = [&](int serviceKey, const QString& name, const QString& display) {
        return static_cast<int>(db.insert(QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, "
                                                         "username, pass, active) VALUES (?, ?, ?, '', '', '1') "
                                                         "RETURNING cntAuto"),
                                          {serviceKey, name, display}));
    };
    m_lab = service(QStringLiteral("Lab"), QStringLiteral("L"));
    m_pharmacy = service(QStringLiteral("Pharmacy"), QStringLiteral("P"));
    m_a = counter(m_lab, QStringLiteral("Counter A"), QStringLiteral("Room 1"));
    m_b = counter(m_lab, QStringLiteral("Dr. O'Hara"), QStringLiteral("Room 2"));
    m_c = counter(m_pharmacy, QStringLiteral("Counter C"), QStringLiteral("Desk"));
}

void tst_callengine::cleanup()
{
    m_consoles.clear();
    m_t.reset();
}

Console& tst_callengine::open(const QString& counterName, Database* db)
{
    Console& c = m_consoles.emplace_back();
    c.engine = std::make_unique<CallEngine>(db ? *db : m_t->db(), m_clock, c.session, m_settings->store, m_prompt);
    const QVariant key =
        m_t->db().scalar(QStringLiteral("SELECT cntAuto FROM tblCounter WHERE contName=?"), {counterName});
    // As the login does: the counter and its service, then the console opens.
    c.session.activeCounter = key.toInt();
    c.session.activeService =
        m_t->db().scalar(QStringLiteral("SELECT servAuto FROM tblCounter WHERE cntAuto=?"), {key}).toInt();
    c.engine->open();
    return c;
}

qint64 tst_callengine::addToken(int service, int number, const QString& label, const QString& date,
                                const QString& time)
{
    return m_t->db().insert(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, "
                                           "attended) VALUES (?, ?, ?, ?, '0', ?, 0) RETURNING tickAuto"),
                            {service, number, date, time, label});
}

QList<CallRow> tst_callengine::calls()
{
    QList<CallRow> rows;
    QSqlQuery q = m_t->db().run(QStringLiteral("SELECT cntAuto, no_abr, displayName, status, tickAuto, tickDate, "
                                               "callNote FROM tblCall ORDER BY callauto"));
    while (q.next())
        rows.append({q.value(0).toInt(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                     q.value(4).toLongLong(), q.value(5).toString(), q.value(6).toString()});
    return rows;
}

QString tst_callengine::ticketField(qint64 key, const QString& column)
{
    return m_t->db().scalar(QStringLiteral("SELECT %1 FROM tblTicket WHERE tickAuto=?").arg(column), {key}).toString();
}

void tst_callengine::nextTakesLowestWaitingTokenOfTodayAndStampsFinish()
{
    const qint64 k7 = addToken(m_lab, 7, QStringLiteral("L7"));
    const qint64 k5 = addToken(m_lab, 5, QStringLiteral("L5"));
    addToken(m_lab, 1, QStringLiteral("L1"), QStringLiteral("2026-03-15")); // tomorrow's
    addToken(m_pharmacy, 2, QStringLiteral("P2"));                          // another service's
    Console& a = open(QStringLiteral("Counter A"));
    QCOMPARE(a.engine->callStatus(), QStringLiteral("Idle"));
    QCOMPARE(a.engine->pendingText(), QStringLiteral("Total Pending : 2"));
    QCOMPARE(a.engine->lastServed(), QStringLiteral("Last Served : Not Available"));
    QCOMPARE(a.session.counterName, QStringLiteral("Counter A"));
    QCOMPARE(a.session.counterDisplayName, QStringLiteral("Room 1"));

    QVERIFY(a.engine->nextAction());
    QCOMPARE(a.engine->callStatus(), QStringLiteral("Calling"));
    QCOMPARE(a.engine->currentKey(), QString::number(k5));
    QCOMPARE(a.engine->currentLabel(), QStringLiteral("L5"));
    QCOMPARE(a.engine->pendingText(), QStringLiteral("Total Pending : 1"));
    QCOMPARE(ticketField(k5, QStringLiteral("call")), QStringLiteral("1"));
    QCOMPARE(ticketField(k5, QStringLiteral("attended")).toInt(), m_a);
    QCOMPARE(ticketField(k5, QStringLiteral("attTime")), QStringLiteral("10:47:00"));
    QCOMPARE(ticketField(k5, QStringLiteral("status")), QStringLiteral("Finished"));
    QCOMPARE(ticketField(k5, QStringLiteral("finished")), QString());
    const QList<CallRow> rows = calls();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].counter, m_a);
    QCOMPARE(rows[0].label, QStringLiteral("L5"));
    QCOMPARE(rows[0].displayName, QStringLiteral("Room 1"));
    QCOMPARE(rows[0].status, QStringLiteral("0"));
    QCOMPARE(rows[0].ticket, k5);
    QCOMPARE(rows[0].date, QStringLiteral("2026-03-14"));
    QCOMPARE(rows[0].note, QString());

    // The finish time of a token is the moment the next one is asked for.
    m_clock.time = QTime(10, 52, 10);
    QVERIFY(a.engine->nextAction());
    QCOMPARE(ticketField(k5, QStringLiteral("finished")), QStringLiteral("10:52:10"));
    QCOMPARE(a.engine->currentKey(), QString::number(k7));
    QCOMPARE(a.engine->lastServed(), QStringLiteral("Last Served : L5"));
    QCOMPARE(a.engine->pendingText(), QStringLiteral("Total Pending : 0"));
}

void tst_callengine::nextWithNothingWaitingKeepsLastServedForRecall()
{
    const qint64 k1 = addToken(m_lab, 1, QStringLiteral("L1"));
    Console& a = open(QStringLiteral("Counter A"));
    QVERIFY(a.engine->nextAction());
    m_t->db().run(QStringLiteral("UPDATE tblCall SET status='1'")); // the display showed it

    m_clock.time = QTime(11, 0, 0);
    QVERIFY(!a.engine->nextAction());
    QCOMPARE(a.engine->callStatus(), QStringLiteral("Idle"));
    QCOMPARE(a.engine->currentKey(), QString::number(k1));
    QCOMPARE(a.engine->lastServed(), QStringLiteral("Last Served : L1"));
    QCOMPARE(ticketField(k1, QStringLiteral("finished")), QStringLiteral("11:00:00"));
    QCOMPARE(calls().size(), 1);

    QVERIFY(a.engine->updateRc());
    QCOMPARE(calls().value(0).status, QStringLiteral("0"));

    // Pressed again later: the finish time moves with it.
    m_clock.time = QTime(11, 3, 0);
    QVERIFY(!a.engine->nextAction());
    QCOMPARE(ticketField(k1, QStringLiteral("finished")), QStringLiteral("11:03:00"));

    // A counter that has called nothing has nothing to recall.
    Console& b = open(QStringLiteral("Dr. O'Hara"));
    QVERIFY(b.engine->currentKey().isEmpty());
    QVERIFY(!b.engine->updateRc());
}

void tst_callengine::recallAnnouncesFirstCallRowAgain()
{
    const qint64 k1 = addToken(m_lab, 1, QStringLiteral("L1"));
    Console& a = open(QStringLiteral("Counter A"));
    QVERIFY(a.engine->callNext());
    QVERIFY(a.engine->callThis(k1, QString()));
    QCOMPARE(calls().size(), 2);
    m_t->db().run(QStringLiteral("UPDATE tblCall SET status='1'"));
    const QString attTimeBefore = ticketField(k1, QStringLiteral("attTime"));

    m_clock.time = QTime(12, 0, 0);
    QVERIFY(a.engine->updateRc());
    const QList<CallRow> rows = calls();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].status, QStringLiteral("0"));
    QCOMPARE(rows[1].status, QStringLiteral("1"));
    QCOMPARE(ticketField(k1, QStringLiteral("attTime")), attTimeBefore);
}

void tst_callengine::cancelThenNextFinishesCancelledTokenAndCallsNext()
{
    const qint64 k1 = addToken(m_lab, 1, QStringLiteral("L1"));
    const qint64 k2 = addToken(m_lab, 2, QStringLiteral("L2"));
    Console& a = open(QStringLiteral("Counter A"));
    a.engine->cancelToken(); // nothing in hand: nothing happens
    QVERIFY(a.engine->nextAction());
    a.engine->cancelToken();
    QCOMPARE(ticketField(k1, QStringLiteral("status")), QStringLiteral("Cancelled"));
    QCOMPARE(ticketField(k1, QStringLiteral("call")), QStringLiteral("1"));
    QCOMPARE(a.engine->currentKey(), QString::number(k1));

    m_clock.time = QTime(10, 58, 0);
    QVERIFY(a.engine->nextAction());
    QCOMPARE(ticketField(k1, QStringLiteral("finished")), QStringLiteral("10:58:00"));
    QCOMPARE(ticketField(k1, QStringLiteral("status")), QStringLiteral("Cancelled"));
    QCOMPARE(a.engine->currentKey(), QString::number(k2));
    // Cancelled tokens count as served last.
    QCOMPARE(a.engine->lastServed(), QStringLiteral("Last Served : L1"));

    const QList<AttendRow> cancelled = a.engine->addCancelled();
    QCOMPARE(cancelled.size(), 1);
    QCOMPARE(cancelled[0].key, k1);
    QCOMPARE(cancelled[0].finished, QStringLiteral("10:58:00"));
    const QList<AttendRow> attended = a.engine->addAttend();
    QCOMPARE(attended.size(), 1);
    QCOMPARE(attended[0].key, k2);
}

void tst_callengine::callOutOfTurnAndLabReport()
{
    addToken(m_lab, 5, QStringLiteral("L5"));
    const qint64 k7 = addToken(m_lab, 7, QStringLiteral("L7"));
    Console& a = open(QStringLiteral("Counter A"));
    Console& b = open(QStringLiteral("Dr. O'Hara"));
    QVERIFY(a.engine->callThis(k7, QString()));
    QCOMPARE(a.engine->currentLabel(), QStringLiteral("L7"));
    QCOMPARE(a.engine->pendingText(), QStringLiteral("Total Pending : 1"));

    // Any token of today can be called again, also one another counter holds: it moves over.
    m_clock.time = QTime(11, 10, 0);
    QVERIFY(b.engine->callThis(k7, QStringLiteral("LAB")));
    QCOMPARE(ticketField(k7, QStringLiteral("attended")).toInt(), m_b);
    QCOMPARE(ticketField(k7, QStringLiteral("attTime")), QStringLiteral("11:10:00"));
    const QList<CallRow> rows = calls();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[1].counter, m_b);
    QCOMPARE(rows[1].displayName, QStringLiteral("Room 2"));
    QCOMPARE(rows[1].note, QStringLiteral("Lab Report"));

    // callRC1 alone writes a lab-report row for the token in hand.
    b.engine->callRC1();
    QCOMPARE(calls().size(), 3);
    QCOMPARE(calls().last().note, QStringLiteral("Lab Report"));
    QCOMPARE(calls().last().ticket, k7);
}

void tst_callengine::callOfKeyNotOfTodayWritesNothing()
{
    const qint64 tomorrow = addToken(m_lab, 1, QStringLiteral("L1"), QStringLiteral("2026-03-15"));
    const qint64 today = addToken(m_lab, 1, QStringLiteral("L1"));
    Console& a = open(QStringLiteral("Counter A"));
    QVERIFY(a.engine->callThis(today, QString()));
    QVERIFY(!a.engine->callThis(tomorrow, QString()));
    QCOMPARE(a.engine->callStatus(), QStringLiteral("Idle"));
    QVERIFY(!a.engine->callThis(999999, QStringLiteral("LAB")));
    QCOMPARE(ticketField(tomorrow, QStringLiteral("call")), QStringLiteral("0"));
    QCOMPARE(calls().size(), 1);
    // The token in hand stays.
    QCOMPARE(a.engine->currentKey(), QString::number(today));
}

void tst_callengine::secondDisplayLineFollowsShowBoth()
{
    for (int i = 1; i <= 5; ++i)
        addToken(m_lab, i, QStringLiteral("L%1").arg(i));
    Console& b = open(QStringLiteral("Dr. O'Hara"));
    SettingsStore& settings = m_settings->store;

    QVERIFY(b.engine->callNext()); // setting missing, check box off
    b.engine->setShowBothDefault(true);
    QVERIFY(b.engine->callNext()); // setting missing, check box on
    settings.set(Keys::ShowBoth, QStringLiteral("0"));
    QVERIFY(b.engine->callNext());
    settings.set(Keys::ShowBoth, QStringLiteral("1"));
    QVERIFY(b.engine->callNext());
    QVERIFY(b.engine->callThis(b.engine->currentKey().toLongLong(), QStringLiteral("LAB")));

    QStringList notes;
    for (const CallRow& r : calls())
        notes << r.note;
    QCOMPARE(notes, (QStringList{QString(), QStringLiteral("Dr. O'Hara"), QString(), QStringLiteral("Dr. O'Hara"),
                                 QStringLiteral("Lab Report")}));
}

void tst_callengine::transferHandsTokenToAnotherCounterOnly()
{
    const qint64 k1 = addToken(m_lab, 1, QStringLiteral("L1"));
    const qint64 k2 = addToken(m_lab, 2, QStringLiteral("L2"));
    Console& a = open(QStringLiteral("Counter A"));
    QVERIFY(a.engine->nextAction());

    QVERIFY(!a.engine->transferToken(QString(), QStringLiteral("Dr. O'Hara"), QString()));
    QCOMPARE(m_prompt.messages, QStringList{QStringLiteral("Select a token first")});
    m_prompt.messages.clear();

    // To its own counter, or to a name no counter has: nothing, silently.
    QVERIFY(!a.engine->transferToken(QString::number(k1), QStringLiteral("Counter A"), QStringLiteral("x")));
    QVERIFY(!a.engine->transferToken(QString::number(k1), QStringLiteral("Nobody"), QStringLiteral("x")));
    QVERIFY(m_prompt.messages.isEmpty());
    QCOMPARE(ticketField(k1, QStringLiteral("status")), QStringLiteral("Finished"));
    QCOMPARE(a.engine->currentKey(), QString::number(k1));

    QVERIFY(a.engine->transferToken(QString::number(k1), QStringLiteral("Dr. O'Hara"), QStringLiteral("needs X-ray")));
    QCOMPARE(m_prompt.messages, QStringList{QStringLiteral("Updated")});
    QVERIFY(a.engine->currentKey().isEmpty());
    QCOMPARE(ticketField(k1, QStringLiteral("call")), QStringLiteral("0"));
    QCOMPARE(ticketField(k1, QStringLiteral("attended")).toInt(), m_b);
    QCOMPARE(ticketField(k1, QStringLiteral("status")), QStringLiteral("Transferred"));
    QCOMPARE(ticketField(k1, QStringLiteral("ref")), QStringLiteral("needs X-ray"));
    QVERIFY(a.engine->addAttend().isEmpty());

    Console& b = open(QStringLiteral("Dr. O'Hara"));
    const QList<TransferRow> in = b.engine->addTrans();
    QCOMPARE(in.size(), 1);
    QCOMPARE(in[0].key, k1);
    QCOMPARE(in[0].status, QStringLiteral("Transferred"));
    QCOMPARE(in[0].ref, QStringLiteral("needs X-ray"));
    // It waits again in its service's queue, ahead of the higher numbers.
    QCOMPARE(b.engine->pendingText(), QStringLiteral("Total Pending : 2"));
    QVERIFY(b.engine->callThis(k1, QString()));
    QCOMPARE(ticketField(k1, QStringLiteral("status")), QStringLiteral("Finished"));
    QVERIFY(b.engine->addTrans().isEmpty());
    QVERIFY(a.engine->nextAction());
    QCOMPARE(a.engine->currentKey(), QString::number(k2));
}

void tst_callengine::listsFilterOrderAndWaitingMinutes()
{
    const qint64 k1 = addToken(m_lab, 1, QStringLiteral("L1"), QStringLiteral("2026-03-14"), QStringLiteral("10:05:00"));
    const qint64 k3 = addToken(m_lab, 3, QStringLiteral("L3"), QStringLiteral("2026-03-14"), QStringLiteral("10:30:59"));
    const qint64 k2 = addToken(m_lab, 2, QStringLiteral("L2"), QStringLiteral("2026-03-14"), QStringLiteral("10:20:00"));
    addToken(m_lab, 4, QStringLiteral("L4"), QStringLiteral("2026-03-13"));
    addToken(m_pharmacy, 1, QStringLiteral("P1"));
    Console& a = open(QStringLiteral("Counter A"));

    const QList<PendingRow> pending = a.engine->addPendings();
    QCOMPARE(pending.size(), 3);
    QCOMPARE(pending[0].key, k2); // newest key first
    QCOMPARE(pending[1].key, k3);
    QCOMPARE(pending[2].key, k1);
    QCOMPARE(pending[2].tickTime, QStringLiteral("10:05:00"));
    QCOMPARE(pending[2].waitingMinutes, std::optional<int>(42));
    QCOMPARE(pending[1].waitingMinutes, std::optional<int>(17));

    const QList<TokenEntry> tokens = a.engine->addTokens();
    QCOMPARE(tokens.size(), 3);
    QCOMPARE(tokens[0].label, QStringLiteral("L1"));
    QCOMPARE(tokens[1].key, k2);
    QCOMPARE(tokens[2].key, k3);

    QVERIFY(a.engine->nextAction());
    QVERIFY(a.engine->nextAction());
    const QList<AttendRow> attended = a.engine->addAttend();
    QCOMPARE(attended.size(), 2);
    QCOMPARE(attended[0].key, k2);
    QCOMPARE(attended[0].attTime, QStringLiteral("10:47:00"));
    QCOMPARE(attended[1].key, k1);
    QCOMPARE(attended[1].finished, QStringLiteral("10:47:00"));
    QCOMPARE(a.engine->addTokens().size(), 3); // any state

    // Another counter's lists are its own.
    Console& b = open(QStringLiteral("Dr. O'Hara"));
    QVERIFY(b.engine->addAttend().isEmpty());
    QCOMPARE(b.engine->addPendings().size(), 1);
}

void tst_callengine::minutesCountBoundariesCrossed()
{
    QCOMPARE(CallEngine::minutesBetween(QStringLiteral("10:05:59"), QStringLiteral("10:06:00")), std::optional<int>(1));
    QCOMPARE(CallEngine::minutesBetween(QStringLiteral("10:05:00"), QStringLiteral("10:05:59")), std::optional<int>(0));
    QCOMPARE(CallEngine::minutesBetween(QStringLiteral("09:59:00"), QStringLiteral("11:01:00")),
             std::optional<int>(62));
    QCOMPARE(CallEngine::minutesBetween(QString(), QStringLiteral("11:01:00")), std::optional<int>());
}

void tst_callengine::reopenedConsoleHoldsLastServedToken()
{
    const qint64 k1 = addToken(m_lab, 1, QStringLiteral("L1"));
    addToken(m_lab, 2, QStringLiteral("L2"));
    QVERIFY(open(QStringLiteral("Counter A")).engine->nextAction());
    m_t->db().run(QStringLiteral("UPDATE tblCall SET status='1'"));

    Console& again = open(QStringLiteral("Counter A"));
    QCOMPARE(again.engine->currentKey(), QString::number(k1));
    QCOMPARE(again.engine->currentLabel(), QStringLiteral("L1"));
    QCOMPARE(again.engine->lastServed(), QStringLiteral("Last Served : L1"));
    QCOMPARE(again.engine->callStatus(), QStringLiteral("Idle"));
    QVERIFY(again.engine->updateRc());
    QCOMPARE(calls().value(0).status, QStringLiteral("0"));
}

void tst_callengine::choosingAnotherCounterDropsTheTokenInHand()
{
    const qint64 k1 = addToken(m_lab, 1, QStringLiteral("L1"));
    const qint64 p1 = addToken(m_pharmacy, 1, QStringLiteral("P1"));
    Console& admin = m_consoles.emplace_back();
    admin.engine = std::make_unique<CallEngine>(m_t->db(), m_clock, admin.session, m_settings->store, m_prompt);
    admin.engine->open(); // no counter yet: nothing found
    QVERIFY(!admin.engine->nextAction());

    QVERIFY(!admin.engine->chooseCounter(QStringLiteral("Counter")));
    QVERIFY(admin.engine->chooseCounter(QStringLiteral("Counter A")));
    QCOMPARE(admin.session.activeService, m_lab);
    QCOMPARE(admin.session.counterDisplayName, QStringLiteral("Room 1"));
    QCOMPARE(admin.engine->pendingText(), QStringLiteral("Total Pending : 1"));
    QVERIFY(admin.engine->nextAction());
    QCOMPARE(admin.engine->currentKey(), QString::number(k1));

    // Counter C has served nothing: A's token must not be finished or recalled from C.
    QVERIFY(admin.engine->chooseCounter(QStringLiteral("Counter C")));
    QVERIFY(admin.engine->currentKey().isEmpty());
    QCOMPARE(admin.engine->lastServed(), QStringLiteral("Last Served : Not Available"));
    m_clock.time = QTime(11, 30, 0);
    QVERIFY(admin.engine->nextAction());
    QCOMPARE(ticketField(k1, QStringLiteral("finished")), QString());
    QCOMPARE(calls().last().counter, m_c);
    QCOMPARE(calls().last().displayName, QStringLiteral("Desk"));

    // Back to A: its own last token is in hand again.
    QVERIFY(admin.engine->chooseCounter(QStringLiteral("Counter A")));
    QCOMPARE(admin.engine->currentKey(), QString::number(k1));
    QVERIFY(admin.engine->chooseCounter(QStringLiteral("Counter C")));
    QCOMPARE(admin.engine->currentKey(), QString::number(p1));
}

void tst_callengine::twoConsolesNeverTakeTheSameToken()
{
    for (int i = 1; i <= 6; ++i)
        addToken(m_lab, i, QStringLiteral("L%1").arg(i));
    const std::unique_ptr<Database> second = m_t->openAnother();
    Console& a = open(QStringLiteral("Counter A"));
    Console& b = open(QStringLiteral("Dr. O'Hara"), second.get());
    QSet<QString> taken;
    while (true) {
        const bool gotA = a.engine->nextAction();
        if (gotA)
            taken.insert(a.engine->currentKey());
        const bool gotB = b.engine->nextAction();
        if (gotB)
            taken.insert(b.engine->currentKey());
        if (!gotA && !gotB)
            break;
    }
    QCOMPARE(taken.size(), 6);
    QCOMPARE(calls().size(), 6);
    QCOMPARE(m_t->db().scalar(QStringLiteral("SELECT count(DISTINCT tickAuto) FROM tblCall")).toInt(), 6);
}

void tst_callengine::failedCallRowLeavesTokenWaiting()
{
    addToken(m_lab, 1, QStringLiteral("L1"));
    const qint64 k2 = addToken(m_lab, 2, QStringLiteral("L2"));
    Console& a = open(QStringLiteral("Counter A"));
    QVERIFY(a.engine->nextAction());
    // From now on the database refuses a second call row of this counter.
    m_t->db().run(QStringLiteral("CREATE UNIQUE INDEX ux_test_one_per_counter ON tblCall (cntAuto)"));
    QVERIFY_THROWS_EXCEPTION(DbError, a.engine->nextAction());
    QCOMPARE(ticketField(k2, QStringLiteral("call")), QStringLiteral("0"));
    QCOMPARE(ticketField(k2, QStringLiteral("attended")).toInt(), 0);
    QCOMPARE(ticketField(k2, QStringLiteral("status")), QString());
    QCOMPARE(calls().size(), 1);
    QVERIFY(a.engine->currentKey() != QString::number(k2));

    m_t->db().run(QStringLiteral("DROP INDEX ux_test_one_per_counter"));
    QVERIFY(a.engine->nextAction());
    QCOMPARE(a.engine->currentKey(), QString::number(k2));
    QCOMPARE(calls().size(), 2);

    // A database that refuses the statement altogether: the operator gets its text.
    m_t->db().run(QStringLiteral("ALTER TABLE tblCall RENAME TO tblCallGone"));
    addToken(m_lab, 3, QStringLiteral("L3"));
    try {
        a.engine->nextAction();
        QFAIL("no error");
    } catch (const DbError& e) {
        QVERIFY(!e.text().isEmpty());
    }
    QCOMPARE(m_t->db().scalar(QStringLiteral("SELECT call FROM tblTicket WHERE tickNo=3")).toString(),
             QStringLiteral("0"));
}

void tst_callengine::refusedCallIsNotReported_data()
{
    QTest::addColumn<test::Refusal>("how");
    QTest::newRow("disk full") << test::Refusal::DiskFull;
    QTest::newRow("commit refused") << test::Refusal::CommitRefused;
}

void tst_callengine::refusedCallIsNotReported()
{
    QFETCH(test::Refusal, how);
    for (int n = 1; n <= 400; ++n)
        addToken(m_lab, n, QStringLiteral("L%1").arg(n));
    Console& a = open(QStringLiteral("Counter A"));
    if (!test::refuseWrites(m_t->db(), how, QStringLiteral("tblCall")))
        QSKIP("this engine cannot refuse writes that way");
    // Calls that still fit are made; the first that does not throws, and nothing of it stays.
    QStringList called;
    bool refused = false;
    for (int i = 0; i < 400 && !refused; ++i) {
        try {
            QVERIFY(a.engine->nextAction());
            called << a.engine->currentLabel();
        } catch (const DbError& e) {
            QVERIFY(!e.text().isEmpty());
            refused = true;
        }
    }
    QVERIFY(refused);
    QVERIFY(!called.contains(QStringLiteral("L%1").arg(called.size() + 1)));
    QCOMPARE(m_t->db().scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE call='1'")).toInt(), called.size());
    QStringList announced;
    for (const CallRow& row : calls())
        announced << row.label;
    QCOMPARE(announced, called);
}

void tst_callengine::callStandsWhenTheRecountFails()
{
    const qint64 k1 = addToken(m_lab, 1, QStringLiteral("L1"));
    addToken(m_lab, 2, QStringLiteral("L2"));
    const std::unique_ptr<Database> console = m_t->openAnother();
    CuttingClock clock;
    clock.watcher = &m_t->db();
    clock.ticket = k1;
    Session session;
    session.activeCounter = m_a;
    session.activeService = m_lab;
    CallEngine engine(*console, clock, session, m_settings->store, m_prompt);
    engine.open();
    QCOMPARE(engine.pendingCount(), 2);
    clock.victim = console.get();

    QVERIFY(engine.nextAction());
    QCOMPARE(engine.callStatus(), QStringLiteral("Calling"));
    QCOMPARE(engine.currentLabel(), QStringLiteral("L1"));
    QVERIFY(!console->isOpen());
    const QString warning = engine.takeWarning();
    QVERIFY2(warning.contains(QStringLiteral("L1")) && warning.contains(QStringLiteral("not connected")),
             qPrintable(warning));
    QVERIFY(engine.takeWarning().isEmpty());
    QCOMPARE(ticketField(k1, QStringLiteral("call")), QStringLiteral("1"));
    QCOMPARE(calls().size(), 1);
}

void tst_callengine::callRowFallsBackToExistingRow()
{
    const qint64 k1 = addToken(m_lab, 1, QStringLiteral("L1"));
    Console& a = open(QStringLiteral("Counter A"));
    QVERIFY(a.engine->nextAction());
    m_t->db().run(QStringLiteral("UPDATE tblCall SET status='1'"));
    // A second row for the token is refused; the one it has is written over instead.
    m_t->db().run(QStringLiteral("CREATE UNIQUE INDEX ux_test_one_call ON tblCall (tickAuto)"));
    Console& b = open(QStringLiteral("Dr. O'Hara"));
    QVERIFY(b.engine->callThis(k1, QStringLiteral("LAB")));
    const QList<CallRow> rows = calls();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].counter, m_b);
    QCOMPARE(rows[0].status, QStringLiteral("0"));
    QCOMPARE(rows[0].note, QStringLiteral("Lab Report"));
    QCOMPARE(ticketField(k1, QStringLiteral("attended")).toInt(), m_b);
}


void tst_callengine::firstCallIsStampedOnce_data()
{
    // What happens to the token after Counter A's first call at 10:47:00, at 10:55:00; the token's
    // attTime beforehand ("" for a fresh token; a time for one called before firstCall existed).
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("calledBefore");
    QTest::addColumn<QString>("firstCall");
    QTest::addColumn<QString>("attTime");

    QTest::newRow("first call only") << "" << "" << "10:47:00" << "10:47:00";
    QTest::newRow("recall leaves both") << "recall" << "" << "10:47:00" << "10:47:00";
    QTest::newRow("called again out of turn") << "callThis" << "" << "10:47:00" << "10:55:00";
    QTest::newRow("transferred, then taken by Next") << "transfer" << "" << "10:47:00" << "10:55:00";
    QTest::newRow("cancelled") << "cancel" << "" << "10:47:00" << "10:47:00";
    // A row called before the column existed: its first call is the attTime it already had.
    QTest::newRow("older row called again") << "old" << "10:30:00" << "10:30:00" << "10:55:00";
}

void tst_callengine::firstCallIsStampedOnce()
{
    QFETCH(QString, after);
    QFETCH(QString, calledBefore);
    QFETCH(QString, firstCall);
    QFETCH(QString, attTime);

    const qint64 k = addToken(m_lab, 1, QStringLiteral("L1"));
    Console& a = open(QStringLiteral("Counter A"));
    Console& b = open(QStringLiteral("Dr. O'Hara"));
    if (!calledBefore.isEmpty()) {
        // Transferred back into the queue long ago, firstCall unknown.
        m_t->db().run(QStringLiteral("UPDATE tblTicket SET attTime=?, firstCall=NULL WHERE tickAuto=?"),
                      {calledBefore, k});
        m_clock.time = QTime(10, 55, 0);
        QVERIFY(b.engine->callThis(k, QString()));
    } else {
        QVERIFY(a.engine->nextAction());
        QCOMPARE(ticketField(k, QStringLiteral("firstCall")), QStringLiteral("10:47:00"));
        m_clock.time = QTime(10, 55, 0);
        if (after == QLatin1String("recall")) {
            QVERIFY(a.engine->updateRc());
        } else if (after == QLatin1String("callThis")) {
            QVERIFY(b.engine->callThis(k, QStringLiteral("LAB")));
        } else if (after == QLatin1String("transfer")) {
            QVERIFY(a.engine->transferToken(QString::number(k), QStringLiteral("Dr. O'Hara"), QString()));
            QCOMPARE(ticketField(k, QStringLiteral("firstCall")), QStringLiteral("10:47:00"));
            QVERIFY(b.engine->callNext());
        } else if (after == QLatin1String("cancel")) {
            a.engine->cancelToken();
            a.engine->nextAction();
        }
    }
    QCOMPARE(ticketField(k, QStringLiteral("firstCall")), firstCall);
    QCOMPARE(ticketField(k, QStringLiteral("attTime")), attTime);
}

TALLYVO_TEST_MAIN(tst_callengine)
#include "tst_callengine.moc"
