#include "TestSupport.h"

#include "core/Dialect.h"
#include "core/DirectRows.h"
#include "core/Passwords.h"
#include "core/Schema.h"

#include <QApplication>
#include <QSignalSpy>
#include <QSqlDriver>
#include <QSqlRecord>
#include <QTest>

using namespace tallyvo;

class tst_schema : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void columnOrderOfEveryTable_data();
    void columnOrderOfEveryTable();
    void newDatabaseHasCompanyAndAdministrator();
    void clientLibraryConnectionOfItsEngineOnly_data();
    void clientLibraryConnectionOfItsEngineOnly();
    void upgradeIsIdempotentAndSeenBySecondStation();
    void tokenNumberIsUniquePerServiceAndDay();
    void flagsDatesAndTimesAreText();
    void minutesCountBoundariesCrossed();
    void headerTableWidensKeepingItsRows();
    void callFeedNumbersCallsAndRecalls();
    void webKeyStepKeepsOldTokensWithoutKeys();
    void webStationStepKeysAndTicketWakeUps();
};

namespace {

// Makes t's database one that an older program left: the tables and their rows as the schema of
// that version has them, built by the very steps of that version.
void rebuildAt(Database& db, int version)
{
    for (const QString& table : Schema::tables())
        db.run(QStringLiteral("DROP TABLE IF EXISTS %1").arg(table));
    db.run(QStringLiteral("DROP TABLE tblversion"));
    Schema::upgrade(db, version);
    QCOMPARE(Schema::version(db), version);
}

} // namespace

void tst_schema::columnOrderOfEveryTable_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("expected");
    auto cols = [](const char* list) { return QString::fromLatin1(list).split(QLatin1Char(' ')); };
    QTest::newRow("tblTicket") << "tblTicket"
                               << cols("tickAuto servAuto tickNo tickDate tickTime call no_abr attended attTime "
                                       "finished status ref webKey firstCall requestKey");
    QTest::newRow("tblCall") << "tblCall"
                             << cols("callauto cntAuto no_abr displayName status tickAuto tickDate callNote feedSeq");
    QTest::newRow("tblService") << "tblService"
                                << cols("servAuto deptAuto ServName servdesc active startno endno abrno slaMinutes");
    QTest::newRow("tblDept") << "tblDept" << cols("deptAuto deptName deptDesc active");
    QTest::newRow("tblCounter") << "tblCounter"
                                << cols("cntAuto servAuto contName displayName username pass active");
    QTest::newRow("tbltheme")
        << "tbltheme"
        << cols("themeauto themename colums rows colwidth rowheight logo displaytime clockfile fonttime sizetime "
                "clrtime backgroundclr linecolor altcolr bgimage hdfont hdclrbg hdfntclr hdfntsize fntcrr sizecrr "
                "clrcrr bgcrr fntval sizeval clrval bgval type screenclr linewidth videofile onlinevideo volume "
                "enablemovie ttlname ttlfont ttlcolor ttlsize scroll tformat enableH Column1 Column2 img1 img2 "
                "newsBG");
    QTest::newRow("tblpos") << "tblpos"
                            << cols("posauto themeauto logoleft logotop logowidth logoheight timeleft timetop "
                                    "timewidth timeheight tblleft tbltop tblwidth tblheight videoleft videotop "
                                    "videowidth videoheight meleft metop mewidth meheight ttlleft ttltop ttlwidth "
                                    "ttlheight newsleft newstop newswidth newsheight");
    QStringList header{QStringLiteral("themeauto")};
    for (int i = 1; i <= Schema::headerCaptions; ++i)
        header << QStringLiteral("caption%1").arg(i);
    QTest::newRow("tblheader") << "tblheader" << header;
    QTest::newRow("tblscroll") << "tblscroll"
                               << cols("scrollAuto message msgrtf msgrtfcopy active fontname fontsize fontcolor "
                                       "bold italic direction");
    QTest::newRow("tblVideo") << "tblVideo" << cols("vidAuto vidPath vidDesc active");
    QTest::newRow("tbluser") << "tbluser" << cols("userAuto username password usertype");
    QTest::newRow("tblComp") << "tblComp" << cols("compAuto compName compAddress");
    QTest::newRow("tblCallSeq") << "tblCallSeq" << cols("seq");
    QTest::newRow("tblDisplayFeed") << "tblDisplayFeed" << cols("displayId feedDate feedSeq");
    QTest::newRow("tblApiKey") << "tblApiKey" << cols("keyAuto name keyHash created");
}

void tst_schema::columnOrderOfEveryTable()
{
    QFETCH(QString, table);
    QFETCH(QStringList, expected);
    test::TempDatabase t;
    // Record windows read columns by position: names and order must hold on both engines.
    QSqlQuery q = t.db().run(QStringLiteral("SELECT * FROM %1").arg(table));
    const QSqlRecord rec = q.record();
    QStringList actual;
    for (int i = 0; i < rec.count(); ++i)
        actual << rec.fieldName(i).toLower();
    QStringList lower;
    for (const QString& c : expected)
        lower << c.toLower();
    QCOMPARE(actual, lower);
}

void tst_schema::newDatabaseHasCompanyAndAdministrator()
{
    test::TempDatabase t;
    for (const QString& table : Schema::tables())
        QVERIFY2(t.db().hasTable(table), qPrintable(table));
    QSqlQuery comp = t.db().run(QStringLiteral("SELECT compAuto, compName FROM tblComp"));
    QVERIFY(comp.next());
    QCOMPARE(comp.value(0).toInt(), 1);
    QVERIFY(!comp.value(1).toString().isEmpty());
    QVERIFY(!comp.next());

    const QString stored =
        t.db().scalar(QStringLiteral("SELECT password FROM tbluser WHERE username='ADMIN'")).toString();
    QVERIFY(Passwords::isHash(stored));
    QCOMPARE(Passwords::verify(stored, Schema::defaultAdminPassword), Passwords::Check::Match);
    QCOMPARE(Passwords::verify(stored, QStringLiteral("wrong")), Passwords::Check::NoMatch);
    // A password an older database kept in plain text logs in once and asks to be rehashed.
    QCOMPARE(Passwords::verify(QStringLiteral("secret"), QStringLiteral("secret")),
             Passwords::Check::MatchNeedsRehash);
    QCOMPARE(Passwords::verify(QString(), QString()), Passwords::Check::NoMatch);
}

void tst_schema::clientLibraryConnectionOfItsEngineOnly_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QVariantList>("values");
    // Direct reads must give what the query layer gives, whichever way they went.
    QTest::addColumn<bool>("whileQueryLayerReads");

    const QString tokens = QStringLiteral("SELECT tickAuto, no_abr, attTime, webKey FROM tblTicket WHERE tickDate=? "
                                          "AND servAuto=? ORDER BY tickNo");
    QTest::newRow("whole number and text bound") << tokens << QVariantList{QStringLiteral("2026-03-02"), 1} << false;
    QTest::newRow("number bound as text") << tokens << QVariantList{QStringLiteral("2026-03-02"), QStringLiteral("1")}
                                          << false;
    QTest::newRow("apostrophe and question mark in a value")
        << QStringLiteral("SELECT count(*), CAST(? AS TEXT) FROM tblTicket WHERE no_abr=?")
        << QVariantList{QStringLiteral("it's?"), QStringLiteral("A1")} << false;
    QTest::newRow("null text bound as empty") << QStringLiteral("SELECT count(*) FROM tblTicket WHERE attTime=?")
                                              << QVariantList{QString()} << false;
    QTest::newRow("no rows") << tokens << QVariantList{QStringLiteral("1999-01-01"), 1} << false;
    QTest::newRow("while the query layer reads") << tokens << QVariantList{QStringLiteral("2026-03-02"), 1} << true;
}

void tst_schema::clientLibraryConnectionOfItsEngineOnly()
{
    QFETCH(QString, sql);
    QFETCH(QVariantList, values);
    QFETCH(bool, whileQueryLayerReads);
    // Reports, backups and the display feed read through these; without them they fall back
    // to slower paths, or cannot work at all, without a word.
    test::TempDatabase t;
    const bool sqlite = t.db().engine() == Engine::Sqlite;
    QCOMPARE(t.db().sqliteHandle() != nullptr, sqlite);
    QCOMPARE(t.db().postgresHandle() != nullptr, !sqlite);

    for (int n = 1; n <= 3; ++n)
        t.db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, attTime, "
                                  "webKey) VALUES (1, ?, '2026-03-02', '08:00:00', '0', ?, ?, ?)"),
                   {n, QStringLiteral("A%1").arg(n), n == 2 ? QStringLiteral("08:10:00") : QString(),
                    n == 3 ? QVariant() : QVariant(QStringLiteral("k%1").arg(n))});
    std::vector<QStringList> expected;
    {
        QSqlQuery q = t.db().run(sql, values);
        while (q.next()) {
            QStringList row;
            for (int c = 0; c < q.record().count(); ++c)
                row << (q.isNull(c) ? QStringLiteral("<null>") : q.value(c).toString());
            expected.push_back(row);
        }
    }
    std::optional<QSqlQuery> reading;
    if (whileQueryLayerReads) {
        reading.emplace(t.db().run(QStringLiteral("SELECT tickAuto FROM tblTicket ORDER BY tickAuto")));
        QVERIFY(reading->next());
    }
    // Once, then kept: prepared on the first run, run by name on the second.
    for (const DirectRows::Plan plan : {DirectRows::Plan::Once, DirectRows::Plan::Kept, DirectRows::Plan::Kept}) {
        std::vector<QStringList> got;
        DirectRows rows(t.db(), sql, values, plan);
        while (rows.next()) {
            QStringList row;
            for (int c = 0; c < int(expected.empty() ? 0 : expected.front().size()); ++c)
                row << (rows.isNull(c) ? QStringLiteral("<null>") : rows.text(c));
            got.push_back(row);
        }
        QCOMPARE(got, expected);
    }
    if (reading && sqlite) {
        // The query layer's read goes on undisturbed (PostgreSQL's driver keeps one read at a
        // time on a connection, whoever starts the next).
        int more = 0;
        while (reading->next())
            ++more;
        QCOMPARE(more, 2);
    }
}

void tst_schema::upgradeIsIdempotentAndSeenBySecondStation()
{
    test::TempDatabase t;
    auto other = t.openAnother();
    Schema::upgrade(*other);
    Schema::upgrade(t.db());
    QCOMPARE(Schema::version(*other), Schema::latestVersion());
    QCOMPARE(t.db().scalar(QStringLiteral("SELECT count(*) FROM tblversion")).toInt(), Schema::latestVersion());
    QCOMPARE(t.db().scalar(QStringLiteral("SELECT count(*) FROM tbluser")).toInt(), 1);
}

void tst_schema::tokenNumberIsUniquePerServiceAndDay()
{
    test::TempDatabase t;
    const QString insert = QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, no_abr) "
                                          "VALUES (?, ?, ?, '10:00:00', 'A7')");
    t.db().run(insert, {1, 7, QStringLiteral("2026-03-14")});
    t.db().run(insert, {2, 7, QStringLiteral("2026-03-14")}); // another service
    t.db().run(insert, {1, 7, QStringLiteral("2026-03-15")}); // another day
    try {
        t.db().run(insert, {1, 7, QStringLiteral("2026-03-14")});
        QFAIL("a second token 7 of the same service and day was stored");
    } catch (const DbError& e) {
        QVERIFY2(Dialect::isUniqueViolation(e.text()), qPrintable(e.text()));
    }
}

void tst_schema::flagsDatesAndTimesAreText()
{
    test::TempDatabase t;
    t.db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr) "
                              "VALUES (1, 1, '2026-03-14', '09:30:00', ?, 'A1')"),
               {QString::number(0)});
    QSqlQuery q = t.db().run(QStringLiteral("SELECT call, attended, attTime, finished, status, ref FROM tblTicket "
                                            "WHERE call='0' AND tickDate='2026-03-14'"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("0"));
    QCOMPARE(q.value(1).toInt(), 0);
    for (int i = 2; i < 6; ++i)
        QCOMPARE(q.value(i).toString(), QString());
    // Date ranges compare as text.
    QCOMPARE(t.db()
                 .scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE tickDate>=? AND tickDate<=?"),
                         {QStringLiteral("2026-03-01"), QStringLiteral("2026-03-31")})
                 .toInt(),
             1);
}

void tst_schema::minutesCountBoundariesCrossed()
{
    test::TempDatabase t;
    auto diff = [&](const QString& from, const QString& to) {
        t.db().run(QStringLiteral("DELETE FROM tblTicket"));
        t.db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, attTime, finished) "
                                  "VALUES (1, 1, '2026-03-14', ?, ?)"),
                   {from, to});
        return t.db().scalar(QStringLiteral("SELECT %1 FROM tblTicket")
                                 .arg(Dialect::minutesBetween(QStringLiteral("attTime"), QStringLiteral("finished"))));
    };
    QCOMPARE(diff(QStringLiteral("10:05:00"), QStringLiteral("10:47:00")).toInt(), 42);
    QCOMPARE(diff(QStringLiteral("10:05:59"), QStringLiteral("10:06:00")).toInt(), 1);
    QCOMPARE(diff(QStringLiteral("10:05:00"), QStringLiteral("10:05:59")).toInt(), 0);
    QVERIFY(diff(QStringLiteral("10:05:00"), QString()).isNull());
}

// A database made when tblheader had six captions gets the rest; its rows keep position i as
// column i.
void tst_schema::headerTableWidensKeepingItsRows()
{
    test::TempDatabase t;
    Database& db = t.db();
    // The version before the step that widens tblheader (step 4).
    rebuildAt(db, 3);
    QCOMPARE(db.columns(QStringLiteral("tblheader")).size(), 7);
    db.run(QStringLiteral("INSERT INTO tblheader VALUES (4, 'Token', 'Counter', '', '', '', 'Six')"));
    Schema::upgrade(db);
    QCOMPARE(Schema::version(db), Schema::latestVersion());
    QSqlQuery q = db.run(QStringLiteral("SELECT * FROM tblheader WHERE themeauto=4"));
    QVERIFY(q.next());
    QCOMPARE(q.record().count(), Schema::headerCaptions + 1);
    QCOMPARE(q.value(1).toString(), QStringLiteral("Token"));
    QCOMPARE(q.value(6).toString(), QStringLiteral("Six"));
    QVERIFY(q.value(Schema::headerCaptions).isNull());
    QCOMPARE(q.record().fieldName(Schema::headerCaptions).toLower(),
             QStringLiteral("caption%1").arg(Schema::headerCaptions));
}

// Each new call and each recall takes the next place in the display feed, whichever station
// writes it; marking a call shown keeps its place.
void tst_schema::callFeedNumbersCallsAndRecalls()
{
    test::TempDatabase t;
    auto insert = [&](const Database& db, const QString& status) {
        return db.insert(QStringLiteral("INSERT INTO tblCall (cntAuto, no_abr, displayName, status, tickAuto, "
                                        "tickDate, callNote) VALUES (1, 'A1', 'Counter 1', ?, 1, '2026-03-14', '') "
                                        "RETURNING callauto"),
                         {status});
    };
    auto place = [&](qint64 key) {
        return t.db().scalar(QStringLiteral("SELECT feedSeq FROM tblCall WHERE callauto=?"), {key});
    };
    const QString unshown = QStringLiteral("0");
    const QString shown = QStringLiteral("1");
    const qint64 a = insert(t.db(), unshown);
    const qint64 b = insert(t.db(), unshown);
    const qint64 listedOnly = insert(t.db(), shown);
    QCOMPARE(place(a).toLongLong(), 1);
    QCOMPARE(place(b).toLongLong(), 2);
    QVERIFY(place(listedOnly).isNull());

    t.db().run(QStringLiteral("UPDATE tblCall SET status='1' WHERE callauto=?"), {a});
    QCOMPARE(place(a).toLongLong(), 1);
    auto other = t.openAnother();
    other->run(QStringLiteral("UPDATE tblCall SET status='0' WHERE callauto=?"), {a});
    QCOMPARE(place(a).toLongLong(), 3);
    // A call undone gives its number back, so the feed has no gap to wait on.
    {
        Transaction undone(*other);
        insert(*other, unshown);
    }
    QCOMPARE(place(insert(*other, unshown)).toLongLong(), 4);
    QCOMPARE(t.db().scalar(QStringLiteral("SELECT seq FROM tblCallSeq")).toLongLong(), 4);

    const QString save = QStringLiteral("INSERT INTO tblDisplayFeed (displayId, feedDate, feedSeq) VALUES (?, ?, ?)");
    t.db().run(save, {QStringLiteral("kiosk:/home/o'brien"), QStringLiteral("2026-03-14"), 4});
    try {
        t.db().run(save, {QStringLiteral("kiosk:/home/o'brien"), QStringLiteral("2026-03-14"), 5});
        QFAIL("a display had two places in the feed");
    } catch (const DbError& e) {
        QVERIFY2(Dialect::isUniqueViolation(e.text()), qPrintable(e.text()));
    }
}

// A site's tokens from before web keys keep their rows and get no key: nothing can find them by
// one. New rows may have one each, never one another row has.
void tst_schema::webKeyStepKeepsOldTokensWithoutKeys()
{
    test::TempDatabase t;
    Database& db = t.db();
    rebuildAt(db, 4);
    QVERIFY(!db.columns(QStringLiteral("tblTicket")).contains(QStringLiteral("webKey"), Qt::CaseInsensitive));
    const QString old = QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, no_abr) VALUES (1, ?, "
                                       "'2026-03-13', ?)");
    db.run(old, {1, QStringLiteral("A1")});
    db.run(old, {2, QStringLiteral("A2")});
    // Another station of the older program is still connected while this one upgrades.
    auto other = t.openAnother();
    Schema::upgrade(db);
    QCOMPARE(Schema::version(db), Schema::latestVersion());
    QCOMPARE(Schema::version(*other), Schema::latestVersion());
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket")).toInt(), 2);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE webKey IS NULL")).toInt(), 2);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE webKey=''")).toInt(), 0);
    // Nor a first call or a target: the figures fall back to attTime, and no target is set.
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE firstCall IS NULL")).toInt(), 2);
    // Nor a request key: many tokens without one are no clash.
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE requestKey IS NULL")).toInt(), 2);

    const QString add = QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, webKey) VALUES (1, ?, "
                                       "'2026-03-14', ?)");
    other->run(add, {3, QStringLiteral("k1")});
    try {
        db.run(add, {4, QStringLiteral("k1")});
        QFAIL("two tokens were stored with one web key");
    } catch (const DbError& e) {
        QVERIFY2(Dialect::isUniqueViolation(e.text()), qPrintable(e.text()));
    }
    // The reference a backup of each version is checked against follows the steps.
    QVERIFY(!Schema::columnsAt(4).value(QStringLiteral("tblticket")).contains(QStringLiteral("webkey")));
    QCOMPARE(Schema::columnsAt(5).value(QStringLiteral("tblticket")).last(), QStringLiteral("webkey"));
}

void tst_schema::webStationStepKeysAndTicketWakeUps()
{
    test::TempDatabase t;
    Database& db = t.db();
    // A site of the version before the step gets the keys' table; its tokens stay as they were.
    int step = 1;
    while (step < Schema::latestVersion() && !Schema::columnsAt(step).contains(QStringLiteral("tblapikey")))
        ++step;
    rebuildAt(db, step - 1);
    QVERIFY(!db.hasTable(QStringLiteral("tblApiKey")));
    db.run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate) VALUES (1, 1, '2026-03-14')"));
    Schema::upgrade(db);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket")).toInt(), 1);
    QCOMPARE(Schema::columnsAt(step).value(QStringLiteral("tblapikey")),
             (QStringList{QStringLiteral("keyauto"), QStringLiteral("name"), QStringLiteral("keyhash"),
                          QStringLiteral("created")}));

    // One key per name and per hash, whichever station adds it.
    const QString add =
        QStringLiteral("INSERT INTO tblApiKey (name, keyHash, created) VALUES (?, ?, '2026-03-14 10:00:00')");
    db.run(add, {QStringLiteral("kiosk"), QStringLiteral("h1")});
    auto other = t.openAnother();
    for (const QVariantList& row : {QVariantList{QStringLiteral("kiosk"), QStringLiteral("h2")},
                                    QVariantList{QStringLiteral("site"), QStringLiteral("h1")}}) {
        try {
            other->run(add, row);
            QFAIL("a second key took a name or a hash");
        } catch (const DbError& e) {
            QVERIFY2(Dialect::isUniqueViolation(e.text()), qPrintable(e.text()));
        }
    }

    if (db.engine() != Engine::Postgres)
        return;
    // Whoever listens hears of every token written: issued, then cancelled.
    QSqlDriver* driver = other->handle().driver();
    QVERIFY(driver->subscribeToNotification(QStringLiteral("tallyvo_ticket")));
    QSignalSpy heard(driver, &QSqlDriver::notification);
    const qint64 key = db.insert(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate) VALUES (1, 2, "
                                                "'2026-03-14') RETURNING tickAuto"));
    QTRY_COMPARE(heard.count(), 1);
    QCOMPARE(heard.at(0).at(0).toString(), QStringLiteral("tallyvo_ticket"));
    QCOMPARE(heard.at(0).at(2).toString(), QString::number(key));
    db.run(QStringLiteral("UPDATE tblTicket SET status='Cancelled' WHERE tickAuto=?"), {key});
    QTRY_COMPARE(heard.count(), 2);
    QCOMPARE(heard.at(1).at(2).toString(), QString::number(key));
}

TALLYVO_TEST_MAIN(tst_schema)
#include "tst_schema.moc"
