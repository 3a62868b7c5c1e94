#include "ReportSite.h"
#include "TestSupport.h"

#include "reports/Report.h"

#include <QApplication>
#include <QSqlQuery>
#include <QTest>

#include <map>
#include <atomic>
#include <set>

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
    void everyRowReadsAsStored_data();
    void everyRowReadsAsStored();
    void rowBlocksKeepOrderAcrossJoins_data();
    void rowBlocksKeepOrderAcrossJoins();
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

void tst_reports::everyRowReadsAsStored_data()
{
    QTest::addColumn<int>("days");
    QTest::addColumn<int>("perDay");
    // Short ranges are read in one part, longer ones in two on two connections and joined; the
    // last case spans several of the result's blocks of rows in each part.
    QTest::newRow("one day") << 1 << 40;
    QTest::newRow("three days, one part") << 3 << 500;
    QTest::newRow("a week, two parts") << 7 << 300;
    QTest::newRow("two parts over several blocks") << 8 << 11000;
}

void tst_reports::everyRowReadsAsStored()
{
    QFETCH(int, days);
    QFETCH(int, perDay);
    test::ReportSite site;
    Database& db = site.temp.db();
    const QDate first(2026, 4, 1);
    {
        Transaction t(db);
        // Numbered on the server: the same rows on both engines, in seconds even for many.
        const QString sql = QStringLiteral(
            "INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, attended, attTime, finished, "
            "status) WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < %1) "
            "SELECT CAST(? AS INTEGER), k, CAST(? AS TEXT), '08:00:00', '1', CAST(? AS TEXT) || CAST(k AS TEXT), "
            "CAST(? AS INTEGER), "
            "CASE WHEN k % 7 = 0 THEN '9:30:00' WHEN k % 3 = 0 THEN '09:' || CAST(k % 50 + 10 AS TEXT) || ':30' "
            "ELSE '09:00:15' END, "
            "CASE WHEN k % 5 = 0 THEN '' ELSE '10:30:00' END, 'Finished' FROM n")
                                .arg(perDay);
        for (int d = 0; d < days; ++d) {
            const bool consult = d % 2 == 0;
            db.run(sql, {consult ? site.consult : site.blood, first.addDays(d).toString(Qt::ISODate),
                         consult ? QStringLiteral("Ä") : QStringLiteral("B"), consult ? site.counter1 : qint64(99)});
        }
        // Odd values on the range's first and last day: a label missing, times written by hand.
        const QString last = first.addDays(days - 1).toString(Qt::ISODate);
        site.ticket(site.blood, 90001, QStringLiteral("B"), first.toString(Qt::ISODate), site.counter2,
                    QStringLiteral("10:75:00"), QStringLiteral("11:20:00"));
        site.ticket(site.blood, 90002, QStringLiteral("B"), last, site.counter2, QStringLiteral("9:05:00"),
                    QStringLiteral("10:07"));
        const qint64 unlabelled = site.ticket(site.consult, 90003, QStringLiteral("A"), last, site.counter1,
                                              QStringLiteral("10:05"), QStringLiteral("10:07:30"));
        db.run(QStringLiteral("UPDATE tblTicket SET no_abr=NULL WHERE tickAuto=?"), {unlabelled});
        // Characters a text transfer must escape, in a label and in a time.
        site.ticket(site.blood, 90004, QStringLiteral("B\\\t\n\\N"), last, site.counter2,
                    QStringLiteral("\\N"), QStringLiteral("10:07:30\r"));
        t.commit();
    }

    const ReportResult r = Reports::run(
        db, {ReportKind::Department, QStringLiteral("All"), first, first.addDays(days - 1), false});
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));

    // What the database holds, read plainly, row by row.
    struct Stored {
        QStringList cells;
        int minutes = 0;
    };
    std::map<qint64, Stored> stored;
    QSqlQuery q = db.run(QStringLiteral("SELECT t.tickAuto, d.deptName, s.ServName, t.no_abr, t.tickDate, c.username, "
                                        "t.attTime, t.finished FROM tblTicket t JOIN tblService s ON s.servAuto=t.servAuto "
                                        "JOIN tblDept d ON d.deptAuto=s.deptAuto LEFT JOIN tblCounter c ON "
                                        "c.cntAuto=t.attended WHERE t.tickDate >= ? AND t.tickDate <= ? AND t.call='1'"),
                         {first.toString(Qt::ISODate), first.addDays(days - 1).toString(Qt::ISODate)});
    double sum = 0;
    while (q.next()) {
        QStringList cells;
        for (int c = 1; c < 8; ++c)
            cells << (q.isNull(c) ? QString() : q.value(c).toString());
        const std::optional<int> m = Reports::minutesBetween(cells[5], cells[6]);
        cells << (m ? QString::number(*m) : QString());
        sum += m.value_or(0);
        stored[q.value(0).toLongLong()] = {cells, m.value_or(0)};
    }
    q = QSqlQuery(); // the connection idle again, as a window finds it
    QCOMPARE(r.rows.size(), stored.size());
    QCOMPARE(stored.size(), size_t(days * perDay + 4));

    const ReportColumn shown[] = {ReportColumn::Dept, ReportColumn::Service, ReportColumn::Token, ReportColumn::Date,
                                  ReportColumn::Counter, ReportColumn::From, ReportColumn::To,
                                  ReportColumn::Duration};
    auto readsAsStored = [&](const ReportResult& read) {
        QCOMPARE(read.rows.size(), stored.size());
        std::set<qint64> seen;
        for (size_t i = 0; i < read.rows.size(); ++i) {
            const ReportRow& row = read.rows[i];
            const auto it = stored.find(row.key);
            QVERIFY2(it != stored.end(), qPrintable(QString::number(row.key)));
            QVERIFY2(seen.insert(row.key).second, "a token listed twice");
            QCOMPARE(read.text(i, ReportColumn::Sn), QString::number(i + 1));
            QCOMPARE(read.text(i, ReportColumn::Key), QString::number(row.key));
            QStringList cells;
            for (const ReportColumn c : shown)
                cells << read.text(i, c);
            if (cells != it->second.cells)
                QFAIL(qPrintable(QStringLiteral("row %1: %2 instead of %3")
                                     .arg(i + 1)
                                     .arg(cells.join(QLatin1Char('|')).left(300),
                                          it->second.cells.join(QLatin1Char('|')))));
        }
    };
    readsAsStored(r);
    if (QTest::currentTestFailed())
        return;

    // Read in the background in parts, as a window reads a long range: the same rows, handed
    // over in the order of the days, and the same average line. A few days are read at once.
    std::atomic<int> partsReady = 0;
    const std::unique_ptr<ReportFill> fill = ReportFill::start(
        db, {ReportKind::Department, QStringLiteral("All"), first, first.addDays(days - 1), false},
        [&partsReady] { ++partsReady; });
    QCOMPARE(fill != nullptr, days >= 4);
    if (fill) {
        ReportResult inParts;
        QVERIFY(fill->takeParts(inParts, true));
        QVERIFY2(inParts.error.isEmpty(), qPrintable(inParts.error));
        QCOMPARE(fill->taken(), fill->parts());
        QTRY_COMPARE(partsReady.load(), fill->parts()); // told after each part is handed over
        // The first day alone, then a week at a time in each half.
        const int half = days / 2;
        QCOMPARE(fill->parts(), 1 + (half - 1 + 6) / 7 + (days - half + 6) / 7);
        readsAsStored(inParts);
        for (size_t i = 1; i < inParts.rows.size(); ++i)
            QVERIFY(inParts.text(i - 1, ReportColumn::Date) <= inParts.text(i, ReportColumn::Date));
        QCOMPARE(inParts.average, r.average);

        // Given up while reading (the window refilled or closed): the reading stops, and the
        // station's own connection is left as it was.
        ReportFill::start(db, {ReportKind::Department, QStringLiteral("All"), first, first.addDays(days - 1), true},
                          [] {})
            .reset();
        QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE tickNo=90001")).toInt(), 1);
    }
    // A row found by itself reads as by its place, the block's last and the next block's first too.
    for (size_t i : {size_t(0), ReportRows::kBlockRows - 1, ReportRows::kBlockRows, r.rows.size() - 1}) {
        if (i >= r.rows.size())
            continue;
        QCOMPARE(r.text(r.rows[i], ReportColumn::Sn), QString::number(i + 1));
        QCOMPARE(r.text(r.rows[i], ReportColumn::Token), r.text(i, ReportColumn::Token));
    }
    QCOMPARE(r.average, QStringLiteral("Average Time : ") + Reports::generalNumber(sum / double(stored.size())));
    // An odd time is kept once per part read, however many rows have it.
    QVERIFY2(r.texts.size() <= 12, qPrintable(QString::number(r.texts.size())));
}

void tst_reports::rowBlocksKeepOrderAcrossJoins_data()
{
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("later");
    const qint64 block = qint64(ReportRows::kBlockRows);
    QTest::newRow("both empty") << qint64(0) << qint64(0);
    QTest::newRow("nothing later") << qint64(5) << qint64(0);
    QTest::newRow("nothing first") << qint64(0) << qint64(7);
    QTest::newRow("a full block, then one row") << block << qint64(1);
    QTest::newRow("a row short of a block, then two blocks") << block - 1 << 2 * block;
    QTest::newRow("past a block, then past a block") << block + 3 << block + 5;
}

void tst_reports::rowBlocksKeepOrderAcrossJoins()
{
    QFETCH(qint64, first);
    QFETCH(qint64, later);
    ReportRows rows, part;
    for (qint64 i = 0; i < first; ++i)
        rows.emplace_back().key = i;
    for (qint64 i = 0; i < later; ++i)
        part.emplace_back().key = first + i;
    rows.take(std::move(part), [](ReportRow row) {
        row.day = 1;
        return row;
    });
    QVERIFY(part.empty());
    QCOMPARE(qint64(rows.size()), first + later);
    qint64 expected = 0;
    for (const ReportRow& row : rows) {
        QCOMPARE(row.key, expected);
        QCOMPARE(row.day, expected < first ? -1 : 1);
        QCOMPARE(rows.indexOf(&row), std::optional<size_t>(size_t(expected)));
        ++expected;
    }
    QCOMPARE(expected, first + later);
    const ReportRow elsewhere;
    QCOMPARE(rows.indexOf(&elsewhere), std::optional<size_t>());

    // Kept short, the rows left read as before and new ones follow them.
    const size_t kept = size_t((first + later) / 2);
    rows.truncate(kept);
    QCOMPARE(rows.size(), kept);
    rows.emplace_back().key = -7;
    QCOMPARE(rows.back().key, qint64(-7));
    QCOMPARE(rows.back().day, -1);
    if (kept > 0)
        QCOMPARE(rows[kept - 1].key, qint64(kept - 1));
    QCOMPARE(rows.indexOf(&rows[kept]), std::optional<size_t>(kept));
}

TALLYVO_TEST_MAIN(tst_reports)
#include "tst_reports.moc"
