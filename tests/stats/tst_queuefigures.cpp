#include "TestSupport.h"

#include "stats/LiveBoard.h"
#include "stats/QueueFigures.h"
#include "stats/WaitEstimator.h"

#include <QJsonArray>

#include <QApplication>
#include <QTest>

using namespace tallyvo;

using Rows = QList<QStringList>;
Q_DECLARE_METATYPE(Rows)

namespace {

// One token as "service date tickTime firstCall attTime finished call status counter": "-" for a
// NULL first call (a row from before it was kept), "." for an empty text, "0" for no counter;
// <TAB>, <NL>, <BS> and <SP> stand for a tab, a line break, a backslash and a blank in a cell.
// Services: Lab, Xray (department Clinic), Old (its department is gone). Counters: A, B.
QStringList tokens(std::initializer_list<const char*> lines)
{
    QStringList all;
    for (const char* l : lines)
        all << QString::fromLatin1(l);
    return all;
}

QStringList row(std::initializer_list<const char*> cells)
{
    QStringList r;
    for (const char* c : cells)
        r << QString::fromLatin1(c);
    return r;
}

} // namespace

class tst_queuefigures : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void helpers();
    void nearestRankOnKnownSets_data();
    void nearestRankOnKnownSets();
    void figures_data();
    void figures();
    void liveBoard();

private:
    void store(const QStringList& lines);
    FigureTable run(const QString& kind, FigureRequest request, int readers);

    std::unique_ptr<test::TempDatabase> m_t;
    QHash<QString, int> m_services;
    QHash<QString, int> m_counters;
};

void tst_queuefigures::init()
{
    m_t = std::make_unique<test::TempDatabase>();
    Database& db = m_t->db();
    const qint64 clinic =
        db.insert(QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES ('Clinic', '', '1') "
                                 "RETURNING deptAuto"));
    const qint64 gone =
        db.insert(QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES ('Gone', '', '1') "
                                 "RETURNING deptAuto"));
    for (const QString& name : {QStringLiteral("Lab"), QStringLiteral("Xray"), QStringLiteral("Old")})
        m_services.insert(name, int(db.insert(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, active, "
                                                             "startno, endno, abrno) VALUES (?, ?, '1', '1', '999', "
                                                             "?) RETURNING servAuto"),
                                              {name == QLatin1String("Old") ? gone : clinic, name, name.left(1)})));
    db.run(QStringLiteral("DELETE FROM tblDept WHERE deptAuto=?"), {gone});
    for (const QString& name : {QStringLiteral("A"), QStringLiteral("B")})
        m_counters.insert(name, int(db.insert(QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, "
                                                             "username) VALUES (?, ?, ?, ?) RETURNING cntAuto"),
                                              {m_services.value(QStringLiteral("Lab")), name, name, name})));
}

void tst_queuefigures::cleanup()
{
    m_t.reset();
}

void tst_queuefigures::store(const QStringList& lines)
{
    int number = 1;
    for (const QString& line : lines) {
        const QStringList f = line.split(QLatin1Char(' '));
        QVERIFY2(f.size() == 9, qPrintable(line));
        auto text = [](QString v) {
            if (v == QLatin1String("."))
                return QString();
            v.replace(QLatin1String("<TAB>"), QLatin1String("\t"));
            v.replace(QLatin1String("<NL>"), QLatin1String("\n"));
            v.replace(QLatin1String("<BS>"), QLatin1String("\\"));
            v.replace(QLatin1String("<SP>"), QLatin1String(" "));
            return v;
        };
        const QVariant first = f[3] == QLatin1String("-") ? QVariant(QMetaType(QMetaType::QString)) : QVariant(text(f[3]));
        m_t->db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, firstCall, attTime, "
                                     "finished, call, status, attended, no_abr) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                      {m_services.value(f[0]), number, text(f[1]), text(f[2]), first, text(f[4]), text(f[5]), f[6],
                       text(f[7]),
                       m_counters.value(f[8], 0), QStringLiteral("T%1").arg(number)});
        ++number;
    }
}

FigureTable tst_queuefigures::run(const QString& kind, FigureRequest request, int readers)
{
    const QueueFigures f(m_t->db(), request, readers);
    if (kind == QLatin1String("waiting"))
        return QueueFigures::table(f.waiting());
    if (kind == QLatin1String("levels"))
        return QueueFigures::table(f.levels());
    if (kind == QLatin1String("hourly"))
        return QueueFigures::table(f.hourly());
    return QueueFigures::table(f.counters());
}

void tst_queuefigures::helpers()
{
    QCOMPARE(QueueFigures::secondOfDay(u"10:05:59"), 10 * 3600 + 5 * 60 + 59);
    QCOMPARE(QueueFigures::secondOfDay(u"00:00:00"), 0);
    for (const char16_t* bad : {u"", u"10:05", u"24:00:00", u"10:60:00", u"1O:05:00", u" 10:05:0"})
        QCOMPARE(QueueFigures::secondOfDay(bad), -1);
    // Minute boundaries crossed, not elapsed minutes rounded.
    QCOMPARE(QueueFigures::minutesBetween(QueueFigures::secondOfDay(u"10:05:59"), QueueFigures::secondOfDay(u"10:06:01")),
             1);
    QCOMPARE(QueueFigures::minutesBetween(QueueFigures::secondOfDay(u"10:05:00"), QueueFigures::secondOfDay(u"10:05:59")),
             0);
    // Half up, from whole numbers: 7/4 = 1.75 and 1/4 = 0.25 round up, 2/3 = 0.666.. to 0.7.
    QCOMPARE(QueueFigures::tenths(7, 4), 1.8);
    QCOMPARE(QueueFigures::tenths(1, 4), 0.3);
    QCOMPARE(QueueFigures::tenths(2, 3), 0.7);
    QCOMPARE(QueueFigures::tenths(1, 3), 0.3);
    QCOMPARE(QueueFigures::tenths(5, 0), 0.0);
    // Each band holds up to and including its top.
    QCOMPARE(QueueFigures::band(0), 0);
    QCOMPARE(QueueFigures::band(5), 0);
    QCOMPARE(QueueFigures::band(6), 1);
    QCOMPARE(QueueFigures::band(60), 4);
    QCOMPARE(QueueFigures::band(61), 5);
}

void tst_queuefigures::nearestRankOnKnownSets_data()
{
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<int>("median");
    QTest::addColumn<int>("p90");
    QTest::newRow("one") << QList<int>{7} << 7 << 7;
    QTest::newRow("two") << QList<int>{2, 1} << 1 << 2;
    QTest::newRow("four") << QList<int>{3, 1, 4, 2} << 2 << 4;
    QTest::newRow("ten") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10} << 5 << 9;
    QTest::newRow("eleven") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11} << 6 << 10;
    QTest::newRow("skewed") << QList<int>{0, 61, 0, 60, 0} << 0 << 61;
    QTest::newRow("none") << QList<int>{} << 0 << 0;
}

void tst_queuefigures::nearestRankOnKnownSets()
{
    QFETCH(QList<int>, values);
    QFETCH(int, median);
    QFETCH(int, p90);
    std::vector<int> sorted(values.begin(), values.end());
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(QueueFigures::nearestRank(sorted, 50), median);
    QCOMPARE(QueueFigures::nearestRank(sorted, 90), p90);
}

void tst_queuefigures::figures_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("targets"); // "Service=minutes ..."
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("scope"); // FigureRequest::Scope
    QTest::addColumn<QString>("filter");
    QTest::addColumn<Rows>("expected");

    const int service = int(FigureRequest::Scope::Service);
    const int counter = int(FigureRequest::Scope::Counter);
    const int department = int(FigureRequest::Scope::Department);

    // Waiting minutes from issue to first call, at minute boundaries; later calls do not count.
    const QStringList boundaries = tokens({
        "Lab 2026-03-14 10:05:59 10:06:01 10:06:01 10:09:00 1 Finished A",  // 1
        "Lab 2026-03-14 10:05:00 10:05:59 10:05:59 10:09:00 1 Finished A",  // 0
        "Lab 2026-03-14 10:00:30 10:42:10 10:55:00 11:00:00 1 Finished B",  // 42: recalled at 10:55
        "Lab 2026-03-14 10:00:00 10:10:00 10:40:00 10:50:00 1 Finished B",  // 10: transferred, called again
        "Lab 2026-03-14 10:00:00 - 10:20:00 10:30:00 1 Finished A",         // 20: before firstCall existed
        "Lab 2026-03-14 10:00:00 . 10:07:00 10:30:00 1 Finished A",         // 7: empty first call
        "Lab 2026-03-14 10:00:00 10:03:00 10:03:00 10:04:00 1 Cancelled A", // 3: cancelled, waited too
        "Lab 2026-03-14 10:00:00 . . . 0 . 0",                              // never called
        "Lab 2026-03-14 10:10:00 10:05:00 10:05:00 10:30:00 1 Finished A",  // called before issued: no wait
        "Lab 2026-03-15 09:00:00 09:30:00 09:30:00 09:40:00 1 Finished A",  // 30, next day
    });
    // Waits 0 1 3 7 10 20 42: average 83/7 = 11.857 -> 11.9, median rank 4 = 7, P90 rank 7 = 42.
    QTest::newRow("waiting at minute boundaries")
        << boundaries << "" << "waiting" << service << "All"
        << Rows{row({"Lab", "2026-03-14", "8", "11.9", "7", "42", "42", "3", "2", "1", "0", "1", "0"}),
                row({"Lab", "2026-03-15", "1", "30.0", "30", "30", "30", "0", "0", "0", "1", "0", "0"})};
    QTest::newRow("waiting of another service") << boundaries << "" << "waiting" << service << "Xray" << Rows{};

    // Bands hold up to and including their top; averages round half up.
    QTest::newRow("bands and rounding")
        << tokens({"Xray 2026-03-14 08:00:00 08:05:00 08:05:00 08:06:00 1 Finished A",
                   "Xray 2026-03-14 08:00:00 08:06:00 08:06:00 08:07:00 1 Finished A",
                   "Xray 2026-03-14 08:00:00 08:20:00 08:20:00 08:21:00 1 Finished A",
                   "Xray 2026-03-14 08:00:00 09:00:00 09:00:00 09:01:00 1 Finished A",
                   "Xray 2026-03-14 08:00:00 09:01:00 09:01:00 09:02:00 1 Finished A",
                   "Xray 2026-03-14 08:00:00 08:30:30 08:30:30 09:02:00 1 Finished B",
                   "Lab 2026-03-14 08:00:00 08:01:00 08:01:00 09:02:00 1 Finished B",
                   "Lab 2026-03-14 08:00:00 08:02:00 08:02:00 09:02:00 1 Finished B",
                   "Lab 2026-03-14 08:00:00 08:02:00 08:02:00 09:02:00 1 Finished B",
                   "Lab 2026-03-14 08:00:00 08:02:00 08:02:00 09:02:00 1 Finished B"})
        // Xray: 5 6 20 30 60 61 = 182/6 = 30.33; median rank 3 = 20; P90 rank 6 = 61.
        // Lab: 1 2 2 2 = 7/4 = 1.75 -> 1.8.
        << "" << "waiting" << service << "All"
        << Rows{row({"Lab", "2026-03-14", "4", "1.8", "2", "2", "2", "4", "0", "0", "0", "0", "0"}),
                row({"Xray", "2026-03-14", "6", "30.3", "20", "61", "61", "1", "1", "1", "1", "1", "1"})};

    // Service levels: 4 served (waits 3 10 11 25), 1 cancelled, 2 never called, 1 transferred and
    // waiting again (it was called, so it is not "never called"), 8 issued.
    const QStringList levelDay = tokens({
        "Lab 2026-03-14 09:00:00 09:03:00 09:03:00 09:10:00 1 Finished A",
        "Lab 2026-03-14 09:00:00 09:10:00 09:10:00 09:20:00 1 Finished A",
        "Lab 2026-03-14 09:00:00 09:11:00 09:11:00 09:20:00 1 Finished B",
        "Lab 2026-03-14 09:00:00 09:25:00 09:25:00 09:40:00 1 Finished B",
        "Lab 2026-03-14 09:00:00 09:02:00 09:02:00 09:03:00 1 Cancelled A",
        "Lab 2026-03-14 09:00:00 . . . 0 . 0",
        "Lab 2026-03-14 09:05:00 . . . 0 . 0",
        "Lab 2026-03-14 09:05:00 09:06:00 09:06:00 . 0 Transferred B",
    });
    QTest::newRow("levels without target") << levelDay << "" << "levels" << service << "All"
                                           << Rows{row({"Lab", "2026-03-14", "8", "4", "1", "2", ""})};
    QTest::newRow("levels target 10") << levelDay << "Lab=10" << "levels" << service << "All"
                                      << Rows{row({"Lab", "2026-03-14", "8", "4", "1", "2", "50.0"})};
    QTest::newRow("levels target 11") << levelDay << "Lab=11" << "levels" << service << "All"
                                      << Rows{row({"Lab", "2026-03-14", "8", "4", "1", "2", "75.0"})};
    QTest::newRow("levels target 2") << levelDay << "Lab=2" << "levels" << service << "All"
                                     << Rows{row({"Lab", "2026-03-14", "8", "4", "1", "2", "0.0"})};
    QTest::newRow("levels of another service's target") << levelDay << "Xray=5" << "levels" << service << "All"
                                                        << Rows{row({"Lab", "2026-03-14", "8", "4", "1", "2", ""})};
    QTest::newRow("waiting of the level day") << levelDay << "" << "waiting" << service << "All"
                                              << Rows{row({"Lab", "2026-03-14", "6", "8.7", "3", "25", "25", "3",
                                                           "1", "1", "1", "0", "0"})};
    QTest::newRow("nothing served, target set")
        << tokens({"Lab 2026-03-14 09:00:00 . . . 0 . 0"}) << "Lab=10" << "levels" << service << "All"
        << Rows{row({"Lab", "2026-03-14", "1", "0", "0", "1", ""})};

    // Hourly load: issued in the hour of issue, served in the hour serving began, the average wait
    // of the tokens issued in that hour. 2026-03-09 and -16 are Mondays, 2026-03-14 a Saturday.
    QTest::newRow("hourly buckets")
        << tokens({"Lab 2026-03-09 09:59:59 10:00:10 10:00:10 10:05:00 1 Finished A",
                   "Lab 2026-03-09 10:00:00 10:20:00 10:20:00 10:25:00 1 Finished A",
                   "Lab 2026-03-09 10:30:00 . . . 0 . 0",
                   "Lab 2026-03-16 10:10:00 10:15:00 10:15:00 10:20:00 1 Finished B",
                   "Xray 2026-03-14 23:50:00 23:59:30 23:59:30 . 1 Finished B",
                   "Xray 2026-03-14 23:51:00 23:55:00 23:55:00 23:56:00 1 Cancelled B"})
        << "" << "hourly" << service << "All"
        << Rows{row({"Monday", "09:00", "1", "0", "1.0"}), row({"Monday", "10:00", "3", "3", "12.5"}),
                row({"Saturday", "23:00", "2", "1", "6.5"})};

    // Counter A: served 09:00-09:10 and 09:20-09:30:30 (recalled, same call), a no-show
    // 09:10-09:12, a token transferred to B at 09:12 that B called at 09:40 and finished 09:45.
    // A: 2 served, 10 and 10 minutes, serving 1230 s of 09:00:00-09:30:30 (1830 s) = 67.2 %.
    const QStringList counterDay = tokens({
        "Lab 2026-03-14 08:50:00 09:00:00 09:00:00 09:10:00 1 Finished A",
        "Lab 2026-03-14 08:50:00 09:10:00 09:10:00 09:12:00 1 Cancelled A",
        "Lab 2026-03-14 08:50:00 09:12:00 09:40:00 09:45:00 1 Finished B",
        "Lab 2026-03-14 08:50:00 09:20:00 09:20:00 09:30:30 1 Finished A",
        "Lab 2026-03-14 08:50:00 09:50:00 09:50:00 . 1 Finished B",
        "Xray 2026-03-14 08:50:00 09:00:00 09:00:00 09:05:00 1 Finished 0",
    });
    QTest::newRow("counters one day")
        << counterDay << "" << "counters" << counter << "All"
        // B: one finished (5 min, 09:40-09:45 is all its span); its open token has no finish.
        << Rows{row({"A", "2", "10.0", "67.2"}), row({"B", "2", "5.0", "100.0"})};
    QTest::newRow("counters over two days, one counter")
        << (counterDay + tokens({"Lab 2026-03-15 08:50:00 09:00:00 09:00:00 09:05:00 1 Finished A",
                                 "Lab 2026-03-15 08:50:00 09:05:00 09:05:00 09:20:00 1 Finished A"}))
        << "" << "counters" << counter << "A"
        // Second day: 5 + 15 minutes, serving the whole 09:00-09:20. Spans 1830 + 1200 s,
        // serving 1230 + 1200 s: 2430 / 3030 = 80.2 %; minutes 10 10 5 15 = 10.0.
        << Rows{row({"A", "4", "10.0", "80.2"})};

    // Cells that are not what the stations write: a first call or issue time that is not a
    // clock time gives no wait (and no fallback to attTime), a call other than '1' is not in a
    // counter's hand, a status other than exactly "Cancelled" is not cancelled. Tabs, line breaks
    // and backslashes in cells come through as they are.
    const QStringList odd = tokens({
        "Lab 2026-03-14 10:00:00 10:05:00<TAB>x 10:05:00 10:09:00 1 Finished A", // called, no wait
        "Lab 2026-03-14 10:00<BS>00 10:05:00 10:05:00 10:09:00 1 Finished A",    // called, no wait
        "Lab 2026-03-14 10:00:00 10:03:00 10:03:00 10:09:00 1 Finished<NL> A",   // 3, served
        "Lab 2026-03-14 24:00:00 24:05:00 . . 0 . 0",                            // never called
        "Lab 2026-03-14 10:00:00 10:04:00 . . 2 . 0",                            // 4, not served
        "Lab 2026-03-14 10:00:00 - 10:06:00 10:09:00 1 Cancelled<SP> A",         // 6, served
        "Lab 2026-03-14 10:00:00 10:0\xef\xbc\x97:00 10:07:00 10:09:00 1 Finished A", // not ASCII digits
        "Lab 2026-03-14<TAB>x 10:00:00 10:01:00 10:01:00 10:02:00 1 Finished A",  // a day of its own
    });
    // Waits 3 4 6: 13/3 = 4.3, median rank 2 = 4, P90 rank 3 = 6.
    QTest::newRow("odd cells waiting") << odd << "" << "waiting" << service << "All"
                                       << Rows{row({"Lab", "2026-03-14", "6", "4.3", "4", "6", "6", "2", "1", "0",
                                                    "0", "0", "0"}),
                                               row({"Lab", "2026-03-14\tx", "1", "1.0", "1", "1", "1", "1", "0", "0",
                                                    "0", "0", "0"})};
    // Served: every call '1', the status that only looks cancelled too; waits 3 and 6 within 6.
    QTest::newRow("odd cells levels") << odd << "Lab=6" << "levels" << service << "All"
                                      << Rows{row({"Lab", "2026-03-14", "7", "5", "0", "1", "40.0"}),
                                              row({"Lab", "2026-03-14\tx", "1", "1", "0", "0", "100.0"})};

    // Filters: a department, and tokens whose department is gone are not listed.
    QTest::newRow("department filter")
        << tokens({"Lab 2026-03-14 09:00:00 09:01:00 09:01:00 09:02:00 1 Finished A",
                   "Old 2026-03-14 09:00:00 09:01:00 09:01:00 09:02:00 1 Finished A"})
        << "" << "levels" << department << "Clinic" << Rows{row({"Lab", "2026-03-14", "1", "1", "0", "0", ""})};
    QTest::newRow("unknown department") << tokens({"Lab 2026-03-14 09:00:00 09:01:00 09:01:00 09:02:00 1 Finished A"})
                                        << "" << "levels" << department << "Nowhere" << Rows{};
    QTest::newRow("out of range")
        << tokens({"Lab 2026-03-08 09:00:00 09:01:00 09:01:00 09:02:00 1 Finished A",
                   "Lab 2026-03-16 09:00:00 09:01:00 09:01:00 09:02:00 1 Finished A"})
        << "" << "levels" << service << "All" << Rows{};
}

void tst_queuefigures::figures()
{
    QFETCH(QStringList, stored);
    QFETCH(QString, targets);
    QFETCH(QString, kind);
    QFETCH(int, scope);
    QFETCH(QString, filter);
    QFETCH(Rows, expected);

    store(stored);
    for (const QString& t : targets.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList kv = t.split(QLatin1Char('='));
        m_t->db().run(QStringLiteral("UPDATE tblService SET slaMinutes=? WHERE ServName=?"), {kv[1].toInt(), kv[0]});
    }
    FigureRequest r;
    r.from = QDate(2026, 3, 9);
    r.to = QDate(2026, 3, 15);
    if (kind == QLatin1String("hourly"))
        r.to = QDate(2026, 3, 16);
    r.scope = FigureRequest::Scope(scope);
    r.name = filter;
    // Read at once, as one slice of days on the station's connection, one slice per day and as
    // the machine decides: the slices' counts must add up to the same figures.
    for (const int readers : {1, 3, 8, 0}) {
        const FigureTable t = run(kind, r, readers);
        QStringList shown;
        for (const QStringList& line : t.rows)
            shown << line.join(QLatin1Char(' '));
        QVERIFY2(Rows(t.rows.begin(), t.rows.end()) == expected,
                 qPrintable(QStringLiteral("%1 readers: %2").arg(readers).arg(shown.join(QStringLiteral(" | ")))));
        for (const QStringList& line : t.rows)
            QCOMPARE(line.size(), t.header.size());
    }
}

// Saturday 10:30. Lab (target 15 minutes): two waiting since 10:10 and 10:25; counter A served
// two tokens (10 and 6 whole minutes) and holds L5 since 10:20; B served one (10 minutes) and
// cancelled one, idle since 09:45. Xray: one waiting since 10:29:59, nothing served.
void tst_queuefigures::liveBoard()
{
    m_t->db().run(QStringLiteral("UPDATE tblService SET active='0' WHERE ServName='Old'"));
    m_t->db().run(QStringLiteral("UPDATE tblService SET slaMinutes=15 WHERE ServName='Lab'"));
    store(tokens({
        "Lab 2026-03-14 10:10:00 . . . 0 . 0",
        "Lab 2026-03-14 10:25:00 . . . 0 . 0",
        "Lab 2026-03-14 08:50:00 09:00:00 09:00:00 09:10:00 1 Finished A",
        "Lab 2026-03-14 08:50:00 09:10:00 09:10:00 09:16:30 1 Finished A",
        "Lab 2026-03-14 09:00:00 10:20:00 10:20:00 . 1 Finished A",
        "Lab 2026-03-14 08:50:00 09:30:00 09:30:00 09:40:00 1 Finished B",
        "Lab 2026-03-14 08:50:00 09:40:00 09:40:00 09:45:00 1 Cancelled B",
        "Lab 2026-03-13 08:50:00 11:00:00 11:00:00 . 1 Finished B", // yesterday: not in hand today
        "Xray 2026-03-14 10:29:59 . . . 0 . 0",
    }));
    const test::FakeClock clock(QDate(2026, 3, 14), QTime(10, 30, 0));
    const LiveBoard::Snapshot b = LiveBoard(m_t->db(), clock).snapshot();
    QCOMPARE(b.services.size(), size_t(2));
    const LiveBoard::ServiceLine& lab = b.services[0];
    QCOMPARE(lab.name, QStringLiteral("Lab"));
    QCOMPARE(lab.waiting, 2);
    QCOMPARE(lab.longestWait, std::optional<int>(20));
    QCOMPARE(lab.servedToday, 4);
    QCOMPARE(lab.averageService, std::optional<double>(8.7));
    QCOMPARE(lab.target, std::optional<int>(15));
    QVERIFY(lab.pastTarget);
    // The estimate is the wait estimator's for a token with everything waiting ahead of it.
    const WaitEstimator estimator(m_t->db(), clock);
    QVERIFY(lab.estimatedWait.has_value());
    QCOMPARE(lab.estimatedWait, estimator.minutes(lab.key, 2));
    const LiveBoard::ServiceLine& xray = b.services[1];
    QCOMPARE(xray.waiting, 1);
    QCOMPARE(xray.longestWait, std::optional<int>(1)); // 10:29:59 to 10:30:00 crosses a minute
    QCOMPARE(xray.servedToday, 0);
    QVERIFY(!xray.averageService && !xray.estimatedWait && !xray.target && !xray.pastTarget);

    QCOMPARE(b.counters.size(), size_t(2));
    QVERIFY(b.counters[0].serving);
    QCOMPARE(b.counters[0].token, QStringLiteral("T5"));
    QCOMPARE(b.counters[0].since, QStringLiteral("10:20:00"));
    QCOMPARE(b.counters[0].service, QStringLiteral("Lab"));
    QVERIFY(!b.counters[1].serving);
    QCOMPARE(b.counters[1].since, QStringLiteral("09:45:00"));

    const QJsonObject json = b.toJson();
    QCOMPARE(json[QStringLiteral("time")].toString(), QStringLiteral("10:30:00"));
    const QJsonObject jl = json[QStringLiteral("services")].toArray()[0].toObject();
    QCOMPARE(jl[QStringLiteral("longestWait")].toInt(), 20);
    QCOMPARE(jl[QStringLiteral("estimatedWait")].toInt(), *lab.estimatedWait);
    QCOMPARE(jl[QStringLiteral("pastTarget")].toBool(), true);
    const QJsonObject jx = json[QStringLiteral("services")].toArray()[1].toObject();
    QVERIFY(jx[QStringLiteral("estimatedWait")].isNull() && jx[QStringLiteral("targetMinutes")].isNull());
    const QJsonObject jb = json[QStringLiteral("counters")].toArray()[1].toObject();
    QCOMPARE(jb[QStringLiteral("state")].toString(), QStringLiteral("idle"));
    QVERIFY(jb[QStringLiteral("token")].isNull());
    QCOMPARE(jb[QStringLiteral("since")].toString(), QStringLiteral("09:45:00"));

    // Nobody past the target once the wait is within it.
    const test::FakeClock early(QDate(2026, 3, 14), QTime(10, 25, 0));
    QVERIFY(!LiveBoard(m_t->db(), early).snapshot().services[0].pastTarget);
}

TALLYVO_TEST_MAIN(tst_queuefigures)
#include "tst_queuefigures.moc"
