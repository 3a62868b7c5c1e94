#include "TestSupport.h"

#include "stats/WaitEstimator.h"

#include <QApplication>
#include <QTest>

using namespace tallyvo;

namespace {

const QString dateFormat = QStringLiteral("yyyy-MM-dd");
const QString timeFormat = QStringLiteral("HH:mm:ss");

} // namespace

class tst_waitestimator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void estimateFollowsTheServiceRate_data();
    void estimateFollowsTheServiceRate();
    void tokensAheadAreTheWaitingOnesCalledFirst();

private:
    // count tokens of the service served back to back by each of `counters` counters on `day`,
    // `minutes` each, the last ones finishing at `end`.
    void serveDay(const QDate& day, int counters, int count, int minutes, const QTime& end,
                  const QString& status = QStringLiteral("Finished"));
    qint64 addWaiting(int service, int number, const QDate& day, const QString& call = QStringLiteral("0"));

    std::unique_ptr<test::TempDatabase> m_t;
    // A Saturday afternoon.
    test::FakeClock m_clock{QDate(2026, 3, 14), QTime(14, 0, 0)};
    int m_next = 1;
    static constexpr int service = 3;
};

void tst_waitestimator::init()
{
    m_t = std::make_unique<test::TempDatabase>();
    m_next = 1;
}

void tst_waitestimator::cleanup()
{
    m_t.reset();
}

void tst_waitestimator::serveDay(const QDate& day, int counters, int count, int minutes, const QTime& end,
                                 const QString& status)
{
    for (int c = 1; c <= counters; ++c) {
        for (int i = count; i >= 1; --i) {
            const QTime called = end.addSecs(-60 * minutes * i);
            m_t->db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, "
                                         "attended, attTime, finished, status) VALUES (?, ?, ?, ?, '1', ?, ?, ?, ?, ?)"),
                          {service, m_next, day.toString(dateFormat), called.addSecs(-600).toString(timeFormat),
                           QStringLiteral("S%1").arg(m_next), 100 + c, called.toString(timeFormat),
                           called.addSecs(60 * minutes).toString(timeFormat), status});
            ++m_next;
        }
    }
}

qint64 tst_waitestimator::addWaiting(int serviceKey, int number, const QDate& day, const QString& call)
{
    return m_t->db().insert(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr) "
                                           "VALUES (?, ?, ?, '13:00:00', ?, 'W') RETURNING tickAuto"),
                            {serviceKey, number, day.toString(dateFormat), call});
}

void tst_waitestimator::estimateFollowsTheServiceRate_data()
{
    QTest::addColumn<int>("todayCounters");
    QTest::addColumn<int>("todayServed"); // per counter
    QTest::addColumn<int>("todayMinutes");
    QTest::addColumn<int>("pastWeeks");   // how many earlier same weekdays were open
    QTest::addColumn<int>("pastDayShift"); // 0: the same weekday; else days off it
    QTest::addColumn<int>("pastCounters");
    QTest::addColumn<int>("pastMinutes");
    QTest::addColumn<int>("ahead");
    QTest::addColumn<int>("expected"); // -1: unknown

    QTest::newRow("no history") << 0 << 0 << 0 << 0 << 0 << 0 << 0 << 3 << -1;
    QTest::newRow("steady day") << 1 << 10 << 6 << 0 << 0 << 0 << 0 << 4 << 30;
    QTest::newRow("two counters halve it") << 2 << 10 << 6 << 0 << 0 << 0 << 0 << 4 << 15;
    QTest::newRow("three counters") << 3 << 10 << 6 << 0 << 0 << 0 << 0 << 9 << 20;
    QTest::newRow("head of the queue") << 1 << 10 << 6 << 0 << 0 << 0 << 0 << 0 << 6;
    QTest::newRow("today before history") << 1 << 10 << 6 << 3 << 0 << 1 << 20 << 1 << 12;
    QTest::newRow("weekday fallback") << 0 << 0 << 0 << 2 << 0 << 2 << 8 << 3 << 16;
    QTest::newRow("too few today: weekday's times, today's counter")
        << 1 << 2 << 30 << 2 << 0 << 3 << 10 << 1 << 20;
    QTest::newRow("another weekday is no history") << 0 << 0 << 0 << 2 << 1 << 2 << 8 << 3 << -1;
    QTest::newRow("beyond the weeks looked at") << 0 << 0 << 0 << 1 << 7 * WaitEstimator::historyWeeks << 2 << 8
                                                 << 3 << -1;
}

void tst_waitestimator::estimateFollowsTheServiceRate()
{
    QFETCH(int, todayCounters);
    QFETCH(int, todayServed);
    QFETCH(int, todayMinutes);
    QFETCH(int, pastWeeks);
    QFETCH(int, pastDayShift);
    QFETCH(int, pastCounters);
    QFETCH(int, pastMinutes);
    QFETCH(int, ahead);
    QFETCH(int, expected);

    serveDay(m_clock.day, todayCounters, todayServed, todayMinutes, m_clock.time);
    for (int w = 1; w <= pastWeeks; ++w)
        serveDay(m_clock.day.addDays(-7 * w - pastDayShift), pastCounters, 12, pastMinutes, QTime(15, 0));
    // Noise that must not count: another service, cancelled tokens, a token still open.
    m_t->db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, call, attended, attTime, finished, "
                                 "status) VALUES (?, 1, ?, '1', 7, '13:50:00', '13:51:00', 'Finished')"),
                  {service + 1, m_clock.todayText()});
    m_t->db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, call, attended, attTime, finished, "
                                 "status) VALUES (?, 9001, ?, '1', 8, '12:00:00', '12:01:00', 'Cancelled')"),
                  {service, m_clock.todayText()});
    m_t->db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, call, attended, attTime, finished, "
                                 "status) VALUES (?, 9002, ?, '1', 8, '09:00:00', '', 'Finished')"),
                  {service, m_clock.day.addDays(-7).toString(dateFormat)});

    WaitEstimator estimator(m_t->db(), m_clock);
    const std::optional<int> got = estimator.minutes(service, ahead);
    QCOMPARE(got.value_or(-1), expected);
    QCOMPARE(estimator.rate(service).has_value(), expected >= 0);
    if (expected >= 0) {
        const bool fromToday = todayServed >= WaitEstimator::fewestServed;
        QCOMPARE(estimator.rate(service)->source,
                 fromToday ? WaitEstimator::Rate::Source::Today : WaitEstimator::Rate::Source::Weekday);
    }
    // Read together with other services (one with a token of its own), each keeps its own rate.
    const auto together = estimator.rates({service + 1, service, service + 2});
    QCOMPARE(together.size(), size_t(3));
    for (const int k : {service, service + 1, service + 2}) {
        const std::optional<WaitEstimator::Rate> alone = estimator.rate(k);
        QCOMPARE(together.at(k).has_value(), alone.has_value());
        if (alone) {
            QCOMPARE(together.at(k)->serviceMinutes, alone->serviceMinutes);
            QCOMPARE(together.at(k)->counters, alone->counters);
            QCOMPARE(together.at(k)->source, alone->source);
        }
    }
}

void tst_waitestimator::tokensAheadAreTheWaitingOnesCalledFirst()
{
    serveDay(m_clock.day, 2, 5, 4, m_clock.time);
    const QDate today = m_clock.day;
    const qint64 head = addWaiting(service, 500, today);
    const qint64 called = addWaiting(service, 501, today, QStringLiteral("1"));
    addWaiting(service + 1, 502, today); // another service
    addWaiting(service, 400, today.addDays(-1)); // yesterday's, never called
    const qint64 transferred = addWaiting(service, 503, today);
    m_t->db().run(QStringLiteral("UPDATE tblTicket SET status='Transferred', attended=101 WHERE tickAuto=?"),
                  {transferred});
    const qint64 third = addWaiting(service, 504, today);
    const qint64 tomorrow = addWaiting(service, 1, today.addDays(1));

    WaitEstimator estimator(m_t->db(), m_clock);
    const std::optional<int> none;
    QCOMPARE(estimator.ahead(head), std::optional<int>(0));
    QCOMPARE(estimator.ahead(transferred), std::optional<int>(1));
    QCOMPARE(estimator.ahead(third), std::optional<int>(2));
    QCOMPARE(estimator.ahead(called), none);
    QCOMPARE(estimator.ahead(987654), none);
    QCOMPARE(estimator.ahead(tomorrow), std::optional<int>(0));

    // Two counters, 4 minutes each: a token every 2 minutes.
    QCOMPARE(estimator.minutesFor(head), std::optional<int>(2));
    QCOMPARE(estimator.minutesFor(third), std::optional<int>(6));
    QCOMPARE(estimator.minutesFor(called), none);
    QCOMPARE(estimator.minutesFor(tomorrow), none);
    // Once the head is called, everyone behind moves up.
    m_t->db().run(QStringLiteral("UPDATE tblTicket SET call='1' WHERE tickAuto=?"), {head});
    QCOMPARE(estimator.ahead(third), std::optional<int>(1));
    QCOMPARE(estimator.minutesFor(third), std::optional<int>(4));
}

TALLYVO_TEST_MAIN(tst_waitestimator)
#include "tst_waitestimator.moc"
