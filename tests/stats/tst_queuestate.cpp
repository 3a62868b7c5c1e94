#include "TestSupport.h"

#include "calling/CallEngine.h"
#include "core/Session.h"
#include "stats/QueueState.h"
#include "stats/WaitEstimator.h"
#include "tokens/TokenIssuer.h"

#include <QApplication>
#include <QJsonDocument>
#include <QTest>
#include <list>
#include <map>

using namespace tallyvo;

namespace {

// One counter's console, as a station has it.
struct Console {
    Session session;
    std::unique_ptr<CallEngine> engine;
};

// "state/ahead/counter", "-" for no place: a token's view in one comparable line.
QString line(const TicketView& v)
{
    return QStringLiteral("%1/%2/%3")
        .arg(ticketStateName(v.state), v.ahead ? QString::number(*v.ahead) : QStringLiteral("-"), v.counter);
}

// A key of the shape WebKeys makes, readable in a failure message.
QString keyNamed(const QString& name)
{
    return name.leftJustified(22, QLatin1Char('0'));
}

} // namespace

class tst_queuestate : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void statesFollowTheCounters_data();
    void statesFollowTheCounters();
    void recallRaisesTheCallSequence();
    void servicesCountWaitingLongestAndEstimate();
    void tokensOfOtherDaysAndUnknownKeys_data();
    void tokensOfOtherDaysAndUnknownKeys();
    void jsonSaysNullForUnknown();

private:
    int addService(const QString& name, const QString& prefix, bool active = true);
    int addCounter(int service, const QString& name, const QString& display);
    Console& console(const QString& counterName);
    StoredToken issue(int service);
    void act(const QString& action);
    void tick() { m_clock.time = m_clock.time.addSecs(60); }

    std::unique_ptr<test::TempDatabase> m_t;
    test::FakeClock m_clock{QDate(2026, 3, 14), QTime(10, 0, 0)};
    std::unique_ptr<test::TempSettings> m_settings;
    test::ScriptedPrompt m_prompt;
    std::list<Console> m_consoles;
    std::map<QString, Console*> m_byName;
    std::map<QString, StoredToken> m_tokens; // by label
    int m_lab = 0;      // "L": Counter A (Room 1), Counter B (Room 2)
    int m_pharmacy = 0; // "P": Counter C, no display name
};

void tst_queuestate::init()
{
    m_t = std::make_unique<test::TempDatabase>();
    m_settings = std::make_unique<test::TempSettings>();
    m_prompt = test::ScriptedPrompt();
    m_clock.day = QDate(2026, 3, 14);
    m_clock.time = QTime(10, 0, 0);
    m_lab = addService(QStringLiteral("Lab"), QStringLiteral("L"));
    m_pharmacy = addService(QStringLiteral("Pharmacy"), QStringLiteral("P"));
    addCounter(m_lab, QStringLiteral("Counter A"), QStringLiteral("Room 1"));
    addCounter(m_lab, QStringLiteral("Counter B"), QStringLiteral("Room 2"));
    addCounter(m_pharmacy, QStringLiteral("Counter C"), QString());
}

void tst_queuestate::cleanup()
{
    m_byName.clear();
    m_consoles.clear();
    m_tokens.clear();
    m_t.reset();
}

int tst_queuestate::addService(const QString& name, const QString& prefix, bool active)
{
    return static_cast<int>(
        m_t->db().insert(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, startno, endno, "
                                        "abrno) VALUES (1, ?, '', ?, '1', '9999', ?) RETURNING servAuto"),
                         {name, active ? QStringLiteral("1") : QStringLiteral("0"), prefix}));
}

int tst_queuestate::addCounter(int service, const QString& name, const QString& display)
{
    return static_cast<int>(
        m_t->db().insert(QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, username, pass, "
                                        "active) VALUES (?, ?, ?, '', '', '1') RETURNING cntAuto"),
                         {service, name, display}));
}

Console& tst_queuestate::console(const QString& counterName)
{
    if (const auto it = m_byName.find(counterName); it != m_byName.end())
        return *it->second;
    Console& c = m_consoles.emplace_back();
    c.engine = std::make_unique<CallEngine>(m_t->db(), m_clock, c.session, m_settings->store, m_prompt);
    const std::optional<QVariantList> row = m_t->db().firstRow(
        QStringLiteral("SELECT cntAuto, servAuto, displayName FROM tblCounter WHERE contName=?"), {counterName});
    c.session.activeCounter = row->value(0).toInt();
    c.session.activeService = row->value(1).toInt();
    c.session.counterDisplayName = row->value(2).toString();
    c.engine->open();
    m_byName[counterName] = &c;
    return c;
}

StoredToken tst_queuestate::issue(int service)
{
    Session session;
    session.ticketCopies = 0;
    NoTicketPrinter printer;
    const IssueResult r = TokenIssuer(m_t->db(), m_clock, session, printer).issue(service, QString());
    if (r.status != IssueResult::Status::Issued)
        qFatal("issue failed: %s", qPrintable(r.message()));
    m_tokens[r.token.label] = r.token;
    return r.token;
}

// "A next", "A recall", "A cancel", "A this L1", "A transfer L1 B": what counter "Counter A" does,
// a minute after the step before.
void tst_queuestate::act(const QString& action)
{
    tick();
    const QStringList words = action.split(QLatin1Char(' '));
    CallEngine& engine = *console(QStringLiteral("Counter ") + words[0]).engine;
    const QString& what = words[1];
    if (what == QLatin1String("next"))
        engine.nextAction();
    else if (what == QLatin1String("recall"))
        QVERIFY(engine.updateRc());
    else if (what == QLatin1String("cancel"))
        engine.cancelToken();
    else if (what == QLatin1String("this"))
        QVERIFY(engine.callThis(m_tokens.at(words[2]).key, QString()));
    else if (what == QLatin1String("transfer"))
        QVERIFY(engine.transferToken(QString::number(m_tokens.at(words[2]).key), QStringLiteral("Counter ") + words[3],
                                     QStringLiteral("see the doctor")));
    else
        QFAIL(qPrintable(action));
}

void tst_queuestate::statesFollowTheCounters_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QStringList>("expected"); // L1, L2, L3, P1 as "state/ahead/counter"

    const QString w0 = QStringLiteral("waiting/0/");
    const QString w1 = QStringLiteral("waiting/1/");
    const QString called1 = QStringLiteral("called/-/Room 1");
    const QString called2 = QStringLiteral("called/-/Room 2");
    QTest::newRow("issued") << QStringList{} << QStringList{w0, w1, QStringLiteral("waiting/2/"), w0};
    QTest::newRow("next") << QStringList{QStringLiteral("A next")} << QStringList{called1, w0, w1, w0};
    QTest::newRow("recall keeps it called")
        << QStringList{QStringLiteral("A next"), QStringLiteral("A recall")} << QStringList{called1, w0, w1, w0};
    QTest::newRow("next finishes the token in hand")
        << QStringList{QStringLiteral("A next"), QStringLiteral("A next")}
        << QStringList{QStringLiteral("finished/-/Room 1"), called1, w0, w0};
    QTest::newRow("two counters") << QStringList{QStringLiteral("A next"), QStringLiteral("B next")}
                                  << QStringList{called1, called2, w0, w0};
    QTest::newRow("cancel") << QStringList{QStringLiteral("A next"), QStringLiteral("A cancel")}
                            << QStringList{QStringLiteral("cancelled/-/Room 1"), w0, w1, w0};
    QTest::newRow("cancel, then next")
        << QStringList{QStringLiteral("A next"), QStringLiteral("A cancel"), QStringLiteral("A next")}
        << QStringList{QStringLiteral("cancelled/-/Room 1"), called1, w0, w0};
    // A transferred token is back in its service's queue at its own number: first in line.
    QTest::newRow("transfer re-enters the queue")
        << QStringList{QStringLiteral("A next"), QStringLiteral("A next"), QStringLiteral("A transfer L1 B")}
        << QStringList{QStringLiteral("transferred/0/Room 2"), called1, w1, w0};
    QTest::newRow("transferred token is the next one called")
        << QStringList{QStringLiteral("A next"), QStringLiteral("A next"), QStringLiteral("A transfer L1 B"),
                       QStringLiteral("B next")}
        << QStringList{called2, called1, w0, w0};
    QTest::newRow("finished token called again out of turn")
        << QStringList{QStringLiteral("A next"), QStringLiteral("A next"), QStringLiteral("A this L1")}
        << QStringList{called1, called1, w0, w0};
    QTest::newRow("called out of turn") << QStringList{QStringLiteral("A this L3")}
                                        << QStringList{w0, w1, called1, w0};
    QTest::newRow("counter without a display name") << QStringList{QStringLiteral("C next")}
                                                    << QStringList{w0, w1, QStringLiteral("waiting/2/"),
                                                                   QStringLiteral("called/-/Counter C")};
}

void tst_queuestate::statesFollowTheCounters()
{
    QFETCH(QStringList, actions);
    QFETCH(QStringList, expected);
    issue(m_lab);
    issue(m_lab);
    issue(m_lab);
    issue(m_pharmacy);
    for (const QString& a : actions) {
        act(a);
        if (QTest::currentTestFailed())
            return;
    }

    const QueueState state = QueueState::read(m_t->db(), m_clock);
    QCOMPARE(state.date(), m_clock.day);
    QCOMPARE(state.tickets().size(), size_t(4));
    QStringList got;
    for (const QString& label : {QStringLiteral("L1"), QStringLiteral("L2"), QStringLiteral("L3"), QStringLiteral("P1")}) {
        const StoredToken& token = m_tokens.at(label);
        const TicketView* v = state.ticket(token.webKey);
        QVERIFY2(v, qPrintable(label));
        QCOMPARE(v->label, label);
        QCOMPARE(v->key, token.key);
        QCOMPARE(v->date, m_clock.todayText());
        QCOMPARE(v->service, label.startsWith(QLatin1Char('L')) ? QStringLiteral("Lab") : QStringLiteral("Pharmacy"));
        got << line(*v);
        // A token that was ever called has a place in the call feed; one never called has none.
        QCOMPARE(v->callSeq > 0, v->state != TicketState::Waiting);
        QVERIFY(v->callSeq <= state.lastCallSeq());
        // One token alone reads the same as in the whole day.
        const std::optional<TicketView> found = QueueState::find(m_t->db(), m_clock, token.webKey);
        QVERIFY(found);
        QCOMPARE(line(*found), line(*v));
        QCOMPARE(found->callSeq, v->callSeq);
        QCOMPARE(found->estimateMinutes, v->estimateMinutes);
        QCOMPARE(found->serviceKey, v->serviceKey);
        // The place is the one Next goes by, also as the estimator counts it.
        QCOMPARE(v->ahead, WaitEstimator(m_t->db(), m_clock).ahead(token.key));
    }
    QCOMPARE(got, expected);
}

void tst_queuestate::recallRaisesTheCallSequence()
{
    const StoredToken l1 = issue(m_lab);
    const StoredToken l2 = issue(m_lab);
    QCOMPARE(QueueState::read(m_t->db(), m_clock).lastCallSeq(), qint64(0));
    act(QStringLiteral("A next"));
    const QueueState first = QueueState::read(m_t->db(), m_clock);
    const qint64 called = first.ticket(l1.webKey)->callSeq;
    QVERIFY(called > 0);
    QCOMPARE(first.lastCallSeq(), called);
    QCOMPARE(first.ticket(l2.webKey)->callSeq, qint64(0));

    // The display announces it again: whoever watches the token hears of it by the higher number.
    act(QStringLiteral("A recall"));
    const QueueState again = QueueState::read(m_t->db(), m_clock);
    QVERIFY(again.ticket(l1.webKey)->callSeq > called);
    QCOMPARE(again.lastCallSeq(), again.ticket(l1.webKey)->callSeq);
    QCOMPARE(again.ticket(l1.webKey)->state, TicketState::Called);

    // Calls of another day do not count for today.
    m_clock.day = m_clock.day.addDays(1);
    QCOMPARE(QueueState::read(m_t->db(), m_clock).lastCallSeq(), qint64(0));
    QVERIFY(QueueState::read(m_t->db(), m_clock).tickets().empty());
}

void tst_queuestate::servicesCountWaitingLongestAndEstimate()
{
    Database& db = m_t->db();
    addService(QStringLiteral("Archive"), QStringLiteral("X"), false);
    const int dental = addService(QStringLiteral("Dental"), QStringLiteral("D"));
    // Lab served ten tokens this morning, 6 minutes each, by one counter still at work.
    const int a = db.scalar(QStringLiteral("SELECT cntAuto FROM tblCounter WHERE contName='Counter A'")).toInt();
    for (int n = 1; n <= 10; ++n) {
        const QTime called = QTime(9, 40).addSecs(6 * 60 * (n - 1));
        db.run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, attended, "
                              "attTime, finished, status) VALUES (?, ?, ?, '08:00:00', '1', ?, ?, ?, ?, 'Finished')"),
               {m_lab, n, m_clock.todayText(), QStringLiteral("L%1").arg(n), a, called.toString(u"HH:mm:ss"),
                called.addSecs(360).toString(u"HH:mm:ss")});
    }
    // Waiting: one issued at 09:00:59, one stored before tokens had web keys, one at 10:05.
    m_clock.time = QTime(9, 0, 59);
    const StoredToken first = issue(m_lab);
    db.run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr) "
                          "VALUES (?, 12, ?, '09:30:00', '0', 'L12')"),
           {m_lab, m_clock.todayText()});
    m_clock.time = QTime(10, 5, 0);
    const StoredToken last = issue(m_lab);
    QCOMPARE(last.label, QStringLiteral("L13"));
    // Dental: one waiting, no history to estimate from.
    issue(dental);
    m_clock.time = QTime(10, 47, 0);
    // A row written again comes last out of its table on some engines: the queue's order is the
    // numbers', not the rows'.
    db.run(QStringLiteral("UPDATE tblTicket SET ref=ref WHERE tickAuto=?"), {first.key});

    const QueueState state = QueueState::read(db, m_clock);
    const std::optional<int> none;
    QStringList names;
    for (const ServiceView& s : state.services())
        names << s.name;
    QCOMPARE(names, (QStringList{QStringLiteral("Dental"), QStringLiteral("Lab"), QStringLiteral("Pharmacy")}));

    const ServiceView& lab = state.services().at(1);
    QCOMPARE(lab.key, m_lab);
    QCOMPARE(lab.waiting, 3);
    // From 09:00:59 to 10:47:00 crosses 107 minute boundaries.
    QCOMPARE(lab.longestWaitMinutes, std::optional<int>(107));
    QCOMPARE(lab.estimateMinutes, std::optional<int>(4 * 6));
    QCOMPARE(lab.estimateMinutes, WaitEstimator(db, m_clock).minutes(m_lab, lab.waiting));

    const ServiceView& dent = state.services().at(0);
    QCOMPARE(dent.waiting, 1);
    QCOMPARE(dent.longestWaitMinutes, std::optional<int>(42));
    QCOMPARE(dent.estimateMinutes, none);
    const ServiceView& pharmacy = state.services().at(2);
    QCOMPARE(pharmacy.waiting, 0);
    QCOMPARE(pharmacy.longestWaitMinutes, none);

    // The token without a web key is not listed but stands in the queue.
    QCOMPARE(state.tickets().size(), size_t(3));
    const TicketView* f = state.ticket(first.webKey);
    const TicketView* l = state.ticket(last.webKey);
    QVERIFY(f && l);
    QCOMPARE(f->ahead, std::optional<int>(0));
    QCOMPARE(l->ahead, std::optional<int>(2));
    QCOMPARE(f->estimateMinutes, std::optional<int>(6));
    QCOMPARE(l->estimateMinutes, std::optional<int>(18));
    for (const TicketView& t : state.tickets())
        QCOMPARE(t.estimateMinutes, WaitEstimator(db, m_clock).minutesFor(t.key));
    QVERIFY(!state.ticket(QStringLiteral("L13")));
    QVERIFY(!state.ticket(QString()));
}

void tst_queuestate::tokensOfOtherDaysAndUnknownKeys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected"); // line(), or "" for none

    QTest::newRow("earlier day, never called") << keyNamed(QStringLiteral("waited")) << QStringLiteral("cancelled/-/");
    QTest::newRow("earlier day, transferred and never called again")
        << keyNamed(QStringLiteral("transferred")) << QStringLiteral("cancelled/-/");
    QTest::newRow("earlier day, called and never closed")
        << keyNamed(QStringLiteral("open")) << QStringLiteral("finished/-/Room 1");
    QTest::newRow("earlier day, cancelled") << keyNamed(QStringLiteral("cancelled"))
                                            << QStringLiteral("cancelled/-/Room 1");
    QTest::newRow("later day") << keyNamed(QStringLiteral("tomorrow")) << QStringLiteral("waiting/-/");
    QTest::newRow("unknown") << keyNamed(QStringLiteral("nobody")) << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("too short") << QStringLiteral("waited") << QString();
    QTest::newRow("too long") << keyNamed(QStringLiteral("waited")) + QLatin1Char('0') << QString();
    QTest::newRow("not base64url") << keyNamed(QStringLiteral("wait/ed")) << QString();
    QTest::newRow("quote") << keyNamed(QStringLiteral("' OR ''='")) << QString();
}

void tst_queuestate::tokensOfOtherDaysAndUnknownKeys()
{
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const int a = m_t->db().scalar(QStringLiteral("SELECT cntAuto FROM tblCounter WHERE contName='Counter A'")).toInt();
    auto add = [&](const QString& name, int days, const QString& call, const QString& status, int counter,
                   const QString& finished = QString()) {
        static int number = 0;
        m_t->db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, "
                                     "attended, attTime, finished, status, webKey) VALUES (?, ?, ?, '09:00:00', ?, "
                                     "'L', ?, '09:10:00', ?, ?, ?)"),
                      {m_lab, ++number, m_clock.day.addDays(days).toString(u"yyyy-MM-dd"), call, counter, finished,
                       status, keyNamed(name)});
    };
    add(QStringLiteral("waited"), -1, QStringLiteral("0"), QString(), 0);
    add(QStringLiteral("transferred"), -2, QStringLiteral("0"), QStringLiteral("Transferred"), a);
    add(QStringLiteral("open"), -7, QStringLiteral("1"), QStringLiteral("Finished"), a);
    add(QStringLiteral("cancelled"), -1, QStringLiteral("1"), QStringLiteral("Cancelled"), a, QStringLiteral("09:12:00"));
    add(QStringLiteral("tomorrow"), 1, QStringLiteral("0"), QString(), 0);

    const std::optional<TicketView> found = QueueState::find(m_t->db(), m_clock, key);
    QCOMPARE(found ? line(*found) : QString(), expected);
    if (found) {
        QCOMPARE(found->estimateMinutes, std::optional<int>());
        QVERIFY(found->date != m_clock.todayText());
    }
    // None of them is today's.
    const QueueState state = QueueState::read(m_t->db(), m_clock);
    QVERIFY(state.tickets().empty());
    QVERIFY(!state.ticket(key));
}

void tst_queuestate::jsonSaysNullForUnknown()
{
    const StoredToken l1 = issue(m_lab);
    const StoredToken l2 = issue(m_lab);
    act(QStringLiteral("A next"));
    const QueueState state = QueueState::read(m_t->db(), m_clock);

    // No rate to go on: the place is known, the wait is not.
    QCOMPARE(QJsonDocument(state.ticket(l2.webKey)->toJson()).toJson(QJsonDocument::Compact),
             QByteArray(R"({"ahead":0,"counter":"","estimateMinutes":null,"label":"L2","service":"Lab",)"
                        R"("state":"waiting"})"));
    QCOMPARE(QJsonDocument(state.ticket(l1.webKey)->toJson()).toJson(QJsonDocument::Compact),
             QByteArray(R"({"ahead":null,"counter":"Room 1","estimateMinutes":null,"label":"L1","service":"Lab",)"
                        R"("state":"called"})"));
    QCOMPARE(QJsonDocument(state.services().at(0).toJson()).toJson(QJsonDocument::Compact),
             QByteArray(R"({"estimateMinutes":null,"longestWaitMinutes":1,"name":"Lab","waiting":1})"));
    QCOMPARE(QJsonDocument(state.services().at(1).toJson()).toJson(QJsonDocument::Compact),
             QByteArray(R"({"estimateMinutes":null,"longestWaitMinutes":null,"name":"Pharmacy","waiting":0})"));

    // With a rate, numbers.
    TicketView v = *state.ticket(l2.webKey);
    v.estimateMinutes = 12;
    QCOMPARE(v.toJson().value(QStringLiteral("estimateMinutes")).toInt(-1), 12);
    for (const TicketState s : {TicketState::Waiting, TicketState::Called, TicketState::Transferred,
                                TicketState::Finished, TicketState::Cancelled}) {
        v.state = s;
        QCOMPARE(v.toJson().value(QStringLiteral("state")).toString(), ticketStateName(s));
    }
}

TALLYVO_TEST_MAIN(tst_queuestate)
#include "tst_queuestate.moc"
