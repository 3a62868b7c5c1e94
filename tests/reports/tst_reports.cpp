#include "ReportSite.h"
#include "TestSupport.h"

#include "reports/Report.h"

#include <QApplication>
#include <QTest>

using namespace tallyvo;

namespace {

QStringList tokens(const ReportResult& r)
{
    QStringList list;
    for (const ReportRow& row : r.rows)
        list << r.text(row, ReportColumn::Token);
    list.sort();
    return list;
}

const ReportRow* rowOf(const ReportResult& r, const QString& token)
{
    for (const ReportRow& row : r.rows)
        if (r.text(row, ReportColumn::Token) == token)
            return &row;
    return nullptr;
}

} // namespace

class tst_reports : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void reportsListTheRightTokens_data();
    void reportsListTheRightTokens();
    void rowsCarryTheCounterUserAndEmptyCells();
    void durationCountsMinuteBoundaries_data();
    void durationCountsMinuteBoundaries();
    void labelsKeepTheirCharacters();
    void averageLine_data();
    void averageLine();
    void filterListIsSortedWithAll();
    void refusedQueryGivesItsText();
};

void tst_reports::reportsListTheRightTokens_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("from");
    QTest::addColumn<bool>("showAll");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("average");

    const int dept = int(ReportKind::Department), serv = int(ReportKind::Service), cnt = int(ReportKind::Counter),
              pend = int(ReportKind::Pending);
    const QString today = QStringLiteral("2026-03-14");
    // A called but unfinished token (B3) counts 0 minutes; a deleted counter's token (B2) stays.
    QTest::newRow("All today, called") << dept << "All" << today << false << "A1 A2 B1 B2 B3" << "4.4";
    QTest::newRow("All today, Show All") << dept << "All" << today << true << "A1 A2 A3 B1 B2 B3" << "";
    QTest::newRow("one department") << dept << "Outpatients" << today << false << "A1 A2" << "6";
    QTest::newRow("a name with an apostrophe")
        << dept << "St. Mary's Lab" << today << false << "B1 B2 B3" << "3.33333333333333";
    QTest::newRow("both days included") << dept << "Outpatients" << "2026-03-13" << false << "A1 A2 A4"
                                        << "5";
    QTest::newRow("5, 7 and 10 minutes") << dept << "Radiology" << "2026-03-10" << false << "X1 X2 X3"
                                         << "7.33333333333333";
    QTest::newRow("no such department: no rows, no average") << dept << "Nobody" << today << false << "" << "";
    QTest::newRow("\"all\" is a name, not All") << dept << "all" << today << false << "" << "";
    QTest::newRow("service") << serv << "Blood test" << today << false << "B1 B2 B3" << "3.33333333333333";
    // Only tokens called by a counter that still exists.
    QTest::newRow("counter, All") << cnt << "All" << today << false << "A1 A2 B1 B3" << "5.5";
    QTest::newRow("counter by its name") << cnt << "Counter 1" << today << false << "A1 A2" << "6";
    QTest::newRow("pending: waiting tokens, average 0") << pend << "All" << today << false << "A3" << "0";
    QTest::newRow("pending with Show All: no average") << pend << "All" << today << true << "A3" << "";
    QTest::newRow("pending of a service") << pend << "Blood test" << today << false << "" << "";
}

void tst_reports::reportsListTheRightTokens()
{
    QFETCH(int, kind);
    QFETCH(QString, filter);
    QFETCH(QString, from);
    QFETCH(bool, showAll);
    QFETCH(QString, expected);
    QFETCH(QString, average);

    test::ReportSite site;
    ReportRequest request{ReportKind(kind), filter, QDate::fromString(from, Qt::ISODate), QDate(2026, 3, 14), showAll};
    const ReportResult r = Reports::run(site.temp.db(), request);
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
    QCOMPARE(tokens(r).join(QLatin1Char(' ')), expected);
    QCOMPARE(r.average, average.isEmpty() ? QString() : QStringLiteral("Average Time : ") + average);
}

void tst_reports::rowsCarryTheCounterUserAndEmptyCells()
{
    test::ReportSite site;
    const ReportResult r = Reports::run(
        site.temp.db(), {ReportKind::Department, QStringLiteral("All"), QDate(2026, 3, 14), QDate(2026, 3, 14), true});
    const ReportRow* a1 = rowOf(r, QStringLiteral("A1"));
    QVERIFY(a1);
    QCOMPARE(r.text(*a1, ReportColumn::Dept), QStringLiteral("Outpatients"));
    QCOMPARE(r.text(*a1, ReportColumn::Service), QStringLiteral("Consultation"));
    QCOMPARE(r.text(*a1, ReportColumn::Date), QStringLiteral("2026-03-14"));
    QCOMPARE(r.text(*a1, ReportColumn::Counter), QStringLiteral("alice")); // the user name, not "Counter 1"
    QCOMPARE(r.text(*a1, ReportColumn::From), QStringLiteral("10:00:00"));
    QCOMPARE(r.text(*a1, ReportColumn::To), QStringLiteral("10:05:30"));
    QCOMPARE(r.text(*a1, ReportColumn::Duration), QStringLiteral("5"));
    QVERIFY(a1->key > 0);

    const ReportRow* b3 = rowOf(r, QStringLiteral("B3")); // being served
    QCOMPARE(r.text(*b3, ReportColumn::Counter), QStringLiteral("bob"));
    QCOMPARE(r.text(*b3, ReportColumn::From), QStringLiteral("12:00:00"));
    QCOMPARE(r.text(*b3, ReportColumn::To), QString());
    QCOMPARE(r.text(*b3, ReportColumn::Duration), QString());
    QCOMPARE(r.text(*rowOf(r, QStringLiteral("B2")), ReportColumn::Counter), QString()); // its counter was deleted
    const ReportRow* a3 = rowOf(r, QStringLiteral("A3")); // waiting
    for (const ReportColumn c : {ReportColumn::Counter, ReportColumn::From, ReportColumn::To, ReportColumn::Duration})
        QCOMPARE(r.text(*a3, c), QString());
}

void tst_reports::durationCountsMinuteBoundaries_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("minutes");
    QTest::newRow("two seconds over a boundary") << "10:05:59" << "10:06:01" << "1";
    QTest::newRow("59 seconds within a minute") << "10:05:00" << "10:05:59" << "0";
    QTest::newRow("over the hour") << "09:59:59" << "10:00:00" << "1";
    QTest::newRow("a working day") << "08:30:10" << "17:45:05" << "555";
    QTest::newRow("not finished") << "10:00:00" << "" << "";
    QTest::newRow("before midnight") << "23:59:59" << "00:00:01" << "-1439";
    // Times written by hand or by older stations are shown as they stand.
    QTest::newRow("minutes past 59") << "10:75:00" << "11:20:00" << "5";
    QTest::newRow("no seconds") << "10:05" << "10:07:30" << "2";
    QTest::newRow("one-digit hour") << "9:05:00" << "10:00:00" << "";
}

void tst_reports::labelsKeepTheirCharacters()
{
    test::ReportSite site;
    int number = 7;
    for (const QString& abbreviation : {QStringLiteral("Ä"), QStringLiteral("Ж"), QStringLiteral("C")})
        site.ticket(site.consult, number++, abbreviation, QStringLiteral("2026-03-21"), site.counter1,
                    QStringLiteral("10:00:00"), QStringLiteral("10:02:00"));
    const ReportResult r = Reports::run(
        site.temp.db(), {ReportKind::Service, QStringLiteral("Consultation"), QDate(2026, 3, 21), QDate(2026, 3, 21), false});
    QCOMPARE(tokens(r), QStringList({QStringLiteral("C9"), QStringLiteral("Ä7"), QStringLiteral("Ж8")}));
}

void tst_reports::durationCountsMinuteBoundaries()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, minutes);
    test::ReportSite site;
    site.ticket(site.consult, 9, QStringLiteral("A"), QStringLiteral("2026-03-20"), site.counter1, from, to);
    const ReportResult r = Reports::run(
        site.temp.db(), {ReportKind::Service, QStringLiteral("Consultation"), QDate(2026, 3, 20), QDate(2026, 3, 20), false});
    QCOMPARE(int(r.rows.size()), 1);
    QCOMPARE(r.text(0, ReportColumn::From), from);
    QCOMPARE(r.text(0, ReportColumn::To), to);
    QCOMPARE(r.text(0, ReportColumn::Duration), minutes);
}

void tst_reports::averageLine_data()
{
    QTest::addColumn<QString>("durations"); // "|" between rows; "-" for none
    QTest::addColumn<QString>("line");
    QTest::newRow("22 over 3") << "5|7|10" << "Average Time : 7.33333333333333";
    QTest::newRow("15 over 2") << "5|10" << "Average Time : 7.5";
    QTest::newRow("30 over 3") << "10|10|10" << "Average Time : 10";
    QTest::newRow("empty and text count 0") << "9||abc" << "Average Time : 3";
    QTest::newRow("leading number") << "12 min|0" << "Average Time : 6";
    QTest::newRow("no rows") << "-" << "";
}

void tst_reports::averageLine()
{
    QFETCH(QString, durations);
    QFETCH(QString, line);
    const QStringList list = durations == QLatin1String("-") ? QStringList() : durations.split(QLatin1Char('|'));
    QCOMPARE(Reports::averageLine(list).value_or(QString()), line);
}

void tst_reports::filterListIsSortedWithAll()
{
    test::ReportSite site;
    auto names = [&](ReportKind kind) { return Reports::filterNames(site.temp.db(), kind).join(QLatin1Char('|')); };
    QCOMPARE(names(ReportKind::Department), QStringLiteral("All|Outpatients|Radiology|St. Mary's Lab"));
    QCOMPARE(names(ReportKind::Counter), QStringLiteral("All|Counter 1|Counter 2"));
    QCOMPARE(names(ReportKind::Pending), QStringLiteral("All|Blood test|Consultation|X-ray"));
}

void tst_reports::refusedQueryGivesItsText()
{
    test::ReportSite site;
    site.temp.db().run(QStringLiteral("DROP TABLE tblDept"));
    const ReportResult r = Reports::run(
        site.temp.db(), {ReportKind::Department, QStringLiteral("All"), QDate(2026, 3, 14), QDate(2026, 3, 14), false});
    QVERIFY(r.rows.empty());
    QVERIFY2(r.error.contains(QLatin1String("tbldept"), Qt::CaseInsensitive), qPrintable(r.error));
    QCOMPARE(r.average, QString());
}

TALLYVO_TEST_MAIN(tst_reports)
#include "tst_reports.moc"
