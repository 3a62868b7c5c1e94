// Departments, services and counters as the administration windows store them, on both engines:
// the order of the checks, the delete rules, the counter list's order, names with apostrophes and
// counter passwords and API keys kept as hashes, and the last administrator kept when two stations remove at once.
#include "admin/ApiKeys.h"
#include "admin/Counters.h"
#include "admin/Departments.h"
#include "admin/SiteRecords.h"
#include "display/ThemeData.h"
#include "core/Passwords.h"
#include "core/modSub.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QSqlRecord>
#include <QTest>
#include <atomic>
#include <barrier>
#include <mutex>
#include <thread>

#include "TestSupport.h"

using namespace tallyvo;

class tst_admin : public QObject {
    Q_OBJECT

private slots:
    void init() { m_t = std::make_unique<test::TempDatabase>(); }
    void cleanup() { m_t.reset(); }

    void serviceChecksInOrder_data();
    void serviceChecksInOrder();
    void counterChecksInOrder_data();
    void counterChecksInOrder();
    void deleteRules();
    void apostrophesEverywhere();
    void counterListOrderAndInactiveService();
    void counterPasswordIsHashedAndKeptByEmptyBoxes();
    void usersAndCompany();
    void lastTwoUsersRemovedAtOnceLeaveOne();
    void inactiveVideoIsListedButNotPlayed();
    void apiKeyNames_data();
    void apiKeyNames();
    void apiKeysAreShownOnceAndKeptAsHashes();

private:
    Database& db() { return m_t->db(); }
    qint64 addTicket(qint64 service, const QString& date, qint64 attended = 0)
    {
        return db().insert(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, "
                                          "attended) VALUES (?, 1, ?, '10:00:00', '0', 'A1', ?) RETURNING tickAuto"),
                           {service, date, attended});
    }
    ServiceRecord service(const QString& dept, const QString& name)
    {
        ServiceRecord s;
        s.deptName = dept;
        s.name = name;
        s.startno = QStringLiteral("1");
        s.endno = QStringLiteral("100");
        s.abrno = QStringLiteral("A");
        return s;
    }
    CounterRecord counter(const QString& service, const QString& name, const QString& pass = QString())
    {
        CounterRecord c;
        c.serviceName = service;
        c.name = name;
        c.displayName = name + QStringLiteral(" room");
        c.userName = QStringLiteral("op");
        c.password = pass;
        c.password2 = pass;
        return c;
    }

    std::unique_ptr<test::TempDatabase> m_t;
};

void tst_admin::serviceChecksInOrder_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("dept");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    const QString ok;
    const QString prefix = QStringLiteral("Cannot Save. Prefix Should not be Number");
    const QString start = QStringLiteral("Cannot Save. Enter a valid Starting number");
    const QString end = QStringLiteral("Cannot Save. Enter a valid Ending number");
    const QString range = QStringLiteral("Please Check Starting and Ending Number");
    const QString dept = QStringLiteral("Select a department name");
    const QString name = QStringLiteral("Service name should not be blank");
    auto row = [](const char* tag, const char* p, const char* st, const char* en, const char* d, const char* n,
                  const QString& msg) {
        QTest::newRow(tag) << QString::fromUtf8(p) << QString::fromUtf8(st) << QString::fromUtf8(en)
                           << QString::fromUtf8(d) << QString::fromUtf8(n) << msg;
    };
    row("digits prefix before a bad start", "12", "a", "b", "", "", prefix);
    row("decimal prefix", "1.5", "1", "2", "Lab", "X-ray", prefix);
    row("letter prefix", "A", "1", "2", "Lab", "X-ray", ok);
    row("empty prefix", "", "1", "2", "Lab", "X-ray", ok);
    row("bad start before bad end", "A", "a", "b", "Lab", "X-ray", start);
    row("empty start", "A", "", "5", "Lab", "X-ray", start);
    row("fractional start", "A", "1.5", "5", "Lab", "X-ray", start);
    row("fractional end", "A", "1", "5.5", "Lab", "X-ray", end);
    row("initial 0 and 0", "", "0", "0", "Lab", "X-ray", range);
    row("1 and 1", "", "1", "1", "Lab", "X-ray", range);
    row("end below start", "", "9", "3", "Lab", "X-ray", range);
    row("whole forms", "", " 1e1 ", "300.0", "Lab", "X-ray", ok);
    row("no department, no name", "", "1", "2", "", "", dept);
    row("unknown department", "", "1", "2", "Nope", "X-ray", dept);
    row("inactive department", "", "1", "2", "Closed", "X-ray", ok);
    row("no name", "", "1", "2", "Lab", "", name);
}

void tst_admin::serviceChecksInOrder()
{
    QFETCH(QString, prefix);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, dept);
    QFETCH(QString, name);
    QFETCH(QString, message);
    Departments::insert(db(), {QStringLiteral("Lab"), QString(), true});
    Departments::insert(db(), {QStringLiteral("Closed"), QString(), false});
    ServiceRecord s;
    s.abrno = prefix;
    s.startno = start;
    s.endno = end;
    s.deptName = dept;
    s.name = name;
    QCOMPARE(Services::validate(db(), s), message);
}

void tst_admin::counterChecksInOrder_data()
{
    QTest::addColumn<QString>("pass");
    QTest::addColumn<QString>("pass2");
    QTest::addColumn<QString>("service");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("message");
    auto row = [](const char* tag, const char* p, const char* p2, const char* sv, const char* n, const char* u,
                  const char* msg) {
        QTest::newRow(tag) << QString::fromUtf8(p) << QString::fromUtf8(p2) << QString::fromUtf8(sv)
                           << QString::fromUtf8(n) << QString::fromUtf8(u) << QString::fromUtf8(msg);
    };
    row("case differs, before all else", "abc", "ABC", "", "", "", "Passwords should be same ");
    row("empty and empty", "", "", "Lab", "C1", "op", "");
    row("unknown service", "p", "p", "None", "", "", "Select a valid service");
    row("inactive service", "", "", "Old", "C1", "op", "");
    row("no counter name", "", "", "Lab", "", "", "Counter Name should not be blank");
    row("no user name", "", "", "Lab", "C1", "", "User Name should not be blank");
}

void tst_admin::counterChecksInOrder()
{
    QFETCH(QString, pass);
    QFETCH(QString, pass2);
    QFETCH(QString, service);
    QFETCH(QString, name);
    QFETCH(QString, user);
    QFETCH(QString, message);
    Departments::insert(db(), {QStringLiteral("D"), QString(), true});
    Services::insert(db(), this->service(QStringLiteral("D"), QStringLiteral("Lab")));
    ServiceRecord old = this->service(QStringLiteral("D"), QStringLiteral("Old"));
    old.active = false;
    Services::insert(db(), old);
    CounterRecord c;
    c.password = pass;
    c.password2 = pass2;
    c.serviceName = service;
    c.name = name;
    c.userName = user;
    QCOMPARE(Counters::validate(db(), c), message);
}

void tst_admin::deleteRules()
{
    const qint64 used = Departments::insert(db(), {QStringLiteral("Used"), QString(), true});
    const qint64 unused = Departments::insert(db(), {QStringLiteral("Free"), QString(), false});
    const qint64 withInactive = Departments::insert(db(), {QStringLiteral("Quiet"), QString(), true});
    const qint64 s1 = Services::insert(db(), service(QStringLiteral("Used"), QStringLiteral("S1")));
    ServiceRecord quiet = service(QStringLiteral("Quiet"), QStringLiteral("S2"));
    quiet.active = false;
    Services::insert(db(), quiet);
    const qint64 s3 = Services::insert(db(), service(QStringLiteral("Used"), QStringLiteral("S3")));

    QCOMPARE(Departments::remove(db(), used), DeleteOutcome::InUse);
    QCOMPARE(Departments::remove(db(), withInactive), DeleteOutcome::InUse);
    QCOMPARE(Departments::remove(db(), unused), DeleteOutcome::Deleted);
    QCOMPARE(Departments::list(db()).size(), size_t(2));

    // A token of any date keeps its service; a service that only counters use goes.
    const qint64 c1 = Counters::insert(db(), counter(QStringLiteral("S1"), QStringLiteral("C1")));
    const qint64 c3 = Counters::insert(db(), counter(QStringLiteral("S3"), QStringLiteral("C3")));
    addTicket(s1, QStringLiteral("2019-01-01"), c1);
    QCOMPARE(Services::remove(db(), s1), DeleteOutcome::InUse);
    QCOMPARE(Services::remove(db(), s3), DeleteOutcome::Deleted);
    QVERIFY(db().scalar(QStringLiteral("SELECT count(*) FROM tblCounter WHERE servAuto=?"), {s3}).toInt() == 1);
    // Its counter is no longer listed but still exists.
    QCOMPARE(Counters::list(db()).size(), size_t(1));

    // A counter that called a token stays.
    QCOMPARE(Counters::remove(db(), c1), DeleteOutcome::InUse);
    QCOMPARE(Counters::remove(db(), c3), DeleteOutcome::Deleted);
    QCOMPARE(db().scalar(QStringLiteral("SELECT count(*) FROM tblCounter")).toInt(), 1);
}

void tst_admin::apostrophesEverywhere()
{
    const QString dept = QStringLiteral("Children's Ward");
    const QString serv = QStringLiteral("O'Brien's Clinic");
    const QString cnt = QStringLiteral("Dr. D'Souza");
    const qint64 d = Departments::insert(db(), {dept, QStringLiteral("it's here"), true});
    QCOMPARE(Departments::get(db(), d)->name, dept);
    QCOMPARE(Departments::activeNames(db()), QStringList{dept});
    QCOMPARE(modSub::getDeptKey(db(), dept), int(d));

    QCOMPARE(Services::validate(db(), service(dept, serv)), QString());
    const qint64 s = Services::insert(db(), service(dept, serv));
    const auto got = Services::get(db(), s);
    QCOMPARE(got->deptName, dept);
    QCOMPARE(got->name, serv);
    QCOMPARE(modSub::getServiceKey(db(), serv), int(s));
    QCOMPARE(Services::list(db()).front().mid(1, 2), (QStringList{dept, serv}));

    QCOMPARE(Counters::validate(db(), counter(serv, cnt)), QString());
    const qint64 c = Counters::insert(db(), counter(serv, cnt, QStringLiteral("it's")));
    QCOMPARE(Counters::get(db(), c)->serviceName, serv);
    QCOMPARE(Counters::list(db()).front(), (QStringList{QString::number(c), dept, serv, cnt, QStringLiteral("1")}));
    QCOMPARE(modSub::getCounterKey(db(), cnt), int(c));

    CounterRecord renamed = counter(serv, cnt + QStringLiteral("'s desk"));
    Counters::update(db(), c, renamed);
    QCOMPARE(Counters::get(db(), c)->name, cnt + QStringLiteral("'s desk"));
}

void tst_admin::counterListOrderAndInactiveService()
{
    Departments::insert(db(), {QStringLiteral("D"), QString(), true});
    ServiceRecord old = service(QStringLiteral("D"), QStringLiteral("Old"));
    old.active = false;
    Services::insert(db(), old);
    Services::insert(db(), service(QStringLiteral("D"), QStringLiteral("New")));
    for (const char* name : {"Counter 3", "Counter 1", "Counter 2"})
        Counters::insert(db(), counter(QStringLiteral("Old"), QString::fromLatin1(name)));
    QStringList names;
    for (const QStringList& r : Counters::list(db()))
        names << r.at(3);
    QCOMPARE(names, (QStringList{QStringLiteral("Counter 1"), QStringLiteral("Counter 2"), QStringLiteral("Counter 3")}));
    QCOMPARE(Services::activeNames(db()), QStringList{QStringLiteral("New")});

    // A counter of an inactive service reads back with that service and saves again unchanged.
    const qint64 key = Counters::list(db()).front().at(0).toLongLong();
    CounterRecord rec = *Counters::get(db(), key);
    QCOMPARE(rec.serviceName, QStringLiteral("Old"));
    rec.displayName = QStringLiteral("Room 9");
    QCOMPARE(Counters::validate(db(), rec), QString());
    Counters::update(db(), key, rec);
    QCOMPARE(db().scalar(QStringLiteral("SELECT servAuto FROM tblCounter WHERE cntAuto=?"), {key}).toInt(),
             modSub::getServiceKey(db(), QStringLiteral("Old")));
}

void tst_admin::counterPasswordIsHashedAndKeptByEmptyBoxes()
{
    Departments::insert(db(), {QStringLiteral("D"), QString(), true});
    Services::insert(db(), service(QStringLiteral("D"), QStringLiteral("S")));
    auto stored = [&](qint64 key) {
        return db().scalar(QStringLiteral("SELECT pass FROM tblCounter WHERE cntAuto=?"), {key}).toString();
    };
    const qint64 c = Counters::insert(db(), counter(QStringLiteral("S"), QStringLiteral("C"), QStringLiteral("s3cret")));
    QVERIFY(Passwords::isHash(stored(c)));
    QCOMPARE(Passwords::verify(stored(c), QStringLiteral("s3cret")), Passwords::Check::Match);
    // Editing shows no password; saving with the boxes left empty keeps it.
    CounterRecord rec = *Counters::get(db(), c);
    QCOMPARE(rec.password, QString());
    const QString before = stored(c);
    rec.name = QStringLiteral("C renamed");
    Counters::update(db(), c, rec);
    QCOMPARE(stored(c), before);
    // A new password typed twice replaces it.
    rec.password = rec.password2 = QStringLiteral("other");
    Counters::update(db(), c, rec);
    QCOMPARE(Passwords::verify(stored(c), QStringLiteral("other")), Passwords::Check::Match);
    QCOMPARE(Passwords::verify(stored(c), QStringLiteral("s3cret")), Passwords::Check::NoMatch);
    // A new counter with both boxes empty has the empty password.
    const qint64 open = Counters::insert(db(), counter(QStringLiteral("S"), QStringLiteral("Open")));
    QCOMPARE(Passwords::verify(stored(open), QString()), Passwords::Check::Match);
}

void tst_admin::usersAndCompany()
{
    const QString exists = QStringLiteral("Existing User, select another Name");
    const QString details = QStringLiteral("Enter all Details") + QString(16, QLatin1Char(' '));
    QCOMPARE(details.size(), 33);
    // A new database has ADMIN: the same name in small letters is refused on both engines.
    QCOMPARE(Users::add(db(), QStringLiteral("admin"), QStringLiteral("x"), QStringLiteral("Admin")), exists);
    QCOMPARE(Users::add(db(), QString(), QStringLiteral("x"), QStringLiteral("Admin")), details);
    QCOMPARE(Users::add(db(), QStringLiteral("nurse"), QStringLiteral("x"), QString()), details);
    QCOMPARE(Users::add(db(), QStringLiteral("o'neil"), QString(), QStringLiteral("User")), QString());
    QCOMPARE(Users::add(db(), QStringLiteral("O'Neil"), QString(), QStringLiteral("User")), exists);
    // Older rows in small letters are found too.
    db().run(QStringLiteral("INSERT INTO tbluser (username, password, usertype) VALUES ('clerk', 'x', 'User')"));
    QCOMPARE(Users::add(db(), QStringLiteral("CLERK"), QString(), QStringLiteral("User")), exists);
    db().run(QStringLiteral("DELETE FROM tbluser WHERE username='clerk'"));
    const auto users = Users::list(db());
    QCOMPARE(users.size(), 2);
    QCOMPARE(users.at(1).second, QStringLiteral("O'NEIL"));
    const QString stored =
        db().scalar(QStringLiteral("SELECT password FROM tbluser WHERE userAuto=?"), {users.at(1).first}).toString();
    QCOMPARE(Passwords::verify(stored, QString()), Passwords::Check::Match);
    QCOMPARE(Users::keyOf(db(), QStringLiteral("O'NEIL")), users.at(1).first);

    // Two users: deleting one leaves one; the last one stays.
    QVERIFY(Users::remove(db(), users.at(0).first));
    QVERIFY(!Users::remove(db(), users.at(1).first));
    QCOMPARE(Users::list(db()).size(), 1);

    // Company details update the one row, and make it when it is missing.
    QCOMPARE(Company::validate(QString()), QStringLiteral("Company Name should not be blank"));
    Company::save(db(), QStringLiteral("St. Mary's"), QStringLiteral("Harbour Rd"));
    QCOMPARE(*Company::get(db()), std::pair(QStringLiteral("St. Mary's"), QStringLiteral("Harbour Rd")));
    db().run(QStringLiteral("DELETE FROM tblComp"));
    QVERIFY(!Company::get(db()));
    Company::save(db(), QStringLiteral("New Co"), QString());
    QCOMPARE(Company::get(db())->first, QStringLiteral("New Co"));
    QCOMPARE(db().scalar(QStringLiteral("SELECT compAuto FROM tblComp")).toInt(), 1);
    QCOMPARE(db().scalar(QStringLiteral("SELECT count(*) FROM tblComp")).toInt(), 1);
}

void tst_admin::lastTwoUsersRemovedAtOnceLeaveOne()
{
    // Two stations, each with its own connection in its own thread, remove the two remaining users
    // at the same moment, round after round: one may go, never both.
    constexpr int rounds = 30;
    qint64 keys[2] = {};
    bool removed[rounds][2] = {};
    QStringList errors;
    std::mutex errorLock;
    std::barrier sync(3);
    auto station = [&](int which) {
        Database own(m_t->url());
        QString why;
        const bool open = own.open(&why, false);
        for (int round = 0; round < rounds; ++round) {
            sync.arrive_and_wait(); // both users are there
            try {
                if (open)
                    removed[round][which] = Users::remove(own, keys[which]);
            } catch (const DbError& e) {
                why = e.text();
            }
            sync.arrive_and_wait(); // both have tried
        }
        if (!why.isEmpty()) {
            const std::lock_guard lock(errorLock);
            errors << why;
        }
    };
    std::thread first(station, 0);
    std::thread second(station, 1);
    QList<int> left;
    for (int round = 0; round < rounds; ++round) {
        db().run(QStringLiteral("DELETE FROM tbluser"));
        keys[0] = db().insert(QStringLiteral("INSERT INTO tbluser (username, password, usertype) "
                                             "VALUES ('ADMIN', 'x', 'Admin') RETURNING userAuto"));
        keys[1] = db().insert(QStringLiteral("INSERT INTO tbluser (username, password, usertype) "
                                             "VALUES ('NURSE', 'x', 'Admin') RETURNING userAuto"));
        sync.arrive_and_wait();
        sync.arrive_and_wait();
        left << db().scalar(QStringLiteral("SELECT count(*) FROM tbluser")).toInt();
    }
    first.join();
    second.join();
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    for (int round = 0; round < rounds; ++round) {
        QCOMPARE(left[round], 1);
        QVERIFY(removed[round][0] != removed[round][1]);
    }
}

void tst_admin::inactiveVideoIsListedButNotPlayed()
{
    QCOMPARE(Videos::validate({}), QStringLiteral("Please select a video"));
    const qint64 on = Videos::insert(db(), {QStringLiteral("/media/a.mp4"), QStringLiteral("Welcome"), true});
    const qint64 off = Videos::insert(db(), {QStringLiteral("/media/b's.mp4"), QStringLiteral("Old"), false});
    const auto rows = Videos::list(db());
    QCOMPARE(rows.at(0).mid(0, 3), (QStringList{QString::number(on), QStringLiteral("Welcome"), QStringLiteral("Yes")}));
    QCOMPARE(rows.at(1).mid(0, 3), (QStringList{QString::number(off), QStringLiteral("Old"), QStringLiteral("No")}));
    QCOMPARE(rows.at(1).at(4), QStringLiteral("/media/b's.mp4"));
    QCOMPARE(ThemeLoader::loadPlaylist(db()), QStringList{QStringLiteral("/media/a.mp4")});
    Videos::update(db(), off, {QStringLiteral("/media/b's.mp4"), QStringLiteral("Old"), true});
    QCOMPARE(ThemeLoader::loadPlaylist(db()).size(), 2);
    Videos::remove(db(), on);
    QCOMPARE(ThemeLoader::loadPlaylist(db()), QStringList{QStringLiteral("/media/b's.mp4")});
}

void tst_admin::apiKeyNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("good");
    QTest::newRow("plain") << QStringLiteral("front desk kiosk") << true;
    QTest::newRow("apostrophe and accent") << QStringLiteral("Zoë's booking site") << true;
    QTest::newRow("64 characters") << QString(64, QLatin1Char('k')) << true;
    // Counted in characters, not in the UTF-16 units a character outside the first plane takes.
    QTest::newRow("64 characters of two units") << QString::fromUtf8("\xF0\x9F\x8E\xAB").repeated(64) << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("65 characters") << QString(65, QLatin1Char('k')) << false;
    QTest::newRow("space before") << QStringLiteral(" kiosk") << false;
    QTest::newRow("space after") << QStringLiteral("kiosk ") << false;
    QTest::newRow("blank") << QStringLiteral("   ") << false;
    QTest::newRow("tab") << QStringLiteral("front\tdesk") << false;
    QTest::newRow("line break") << QStringLiteral("front\ndesk") << false;
}

void tst_admin::apiKeyNames()
{
    QFETCH(QString, name);
    QFETCH(bool, good);
    QCOMPARE(ApiKeys::checkName(name).isEmpty(), good);
    try {
        const QString key = ApiKeys::add(db(), name);
        QVERIFY(good);
        QCOMPARE(ApiKeys::verify(db(), key), std::optional<QString>(name));
    } catch (const ApiKeys::Refused& e) {
        QVERIFY2(!good, e.what());
        QCOMPARE(e.reason, ApiKeys::Refused::Reason::BadName);
        QCOMPARE(db().scalar(QStringLiteral("SELECT count(*) FROM tblApiKey")).toInt(), 0);
    }
}

void tst_admin::apiKeysAreShownOnceAndKeptAsHashes()
{
    const QString name = QStringLiteral("O'Brien's kiosk");
    const QString key = ApiKeys::add(db(), name);
    QVERIFY2(key.startsWith(QStringLiteral("tvk_")) && key.size() == ApiKeys::length && ApiKeys::wellFormed(key),
             qPrintable(key));
    QCOMPARE(QByteArray::fromBase64(key.mid(4).toLatin1(), QByteArray::Base64UrlEncoding).size(),
             ApiKeys::randomBytes);
    QCOMPARE(ApiKeys::verify(db(), key), std::optional<QString>(name));

    // What is stored is the key's SHA-256 and nothing from which the key could be read back.
    const QString stored = db().scalar(QStringLiteral("SELECT keyHash FROM tblApiKey WHERE name=?"), {name}).toString();
    QCOMPARE(stored,
             QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex()));
    QSqlQuery row = db().run(QStringLiteral("SELECT * FROM tblApiKey"));
    while (row.next()) {
        for (int i = 0; i < row.record().count(); ++i)
            QVERIFY(!row.value(i).toString().contains(key.mid(4)));
    }
    // A key is not its hash, nor the key with one character changed, nor another site's key.
    const std::optional<QString> none;
    QCOMPARE(ApiKeys::verify(db(), stored), none);
    QString changed = key;
    changed[10] = changed[10] == QLatin1Char('A') ? QLatin1Char('B') : QLatin1Char('A');
    QCOMPARE(ApiKeys::verify(db(), changed), none);
    QCOMPARE(ApiKeys::verify(db(), QStringLiteral("tvk_") + QString(43, QLatin1Char('A'))), none);

    // A taken name is refused and leaves the first key working; another name gets another key.
    try {
        ApiKeys::add(db(), name);
        QFAIL("a name was taken twice");
    } catch (const ApiKeys::Refused& e) {
        QCOMPARE(e.reason, ApiKeys::Refused::Reason::NameTaken);
        QVERIFY2(QString::fromUtf8(e.what()).contains(name), e.what());
    }
    const QString second = ApiKeys::add(db(), QStringLiteral("booking site"));
    QVERIFY(second != key);
    QCOMPARE(ApiKeys::verify(db(), key), std::optional<QString>(name));
    const QList<ApiKeys::Entry> keys = ApiKeys::list(db());
    QCOMPARE(keys.size(), 2);
    QCOMPARE(keys.at(0).name, QStringLiteral("O'Brien's kiosk"));
    QCOMPARE(keys.at(1).name, QStringLiteral("booking site"));
    QVERIFY(QDateTime::fromString(keys.at(0).created, QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid());

    // Removed: the key no longer opens anything; removing it again finds nothing.
    QVERIFY(ApiKeys::remove(db(), name));
    QCOMPARE(ApiKeys::verify(db(), key), none);
    QVERIFY(!ApiKeys::remove(db(), name));
    QCOMPARE(ApiKeys::verify(db(), second), std::optional<QString>(QStringLiteral("booking site")));

    // Text without a key's shape is refused before any query: even with the database gone.
    db().close();
    for (const QString& text : {QString(), second.mid(4), QStringLiteral("Bearer ") + second, second + QLatin1Char('A'),
                                second.left(46) + QLatin1Char('+'), second.left(46) + QChar(0x00e9),
                                QStringLiteral("TVK_") + second.mid(4)})
        QCOMPARE(ApiKeys::verify(db(), text), none);
    QVERIFY_THROWS_EXCEPTION(DbError, ApiKeys::verify(db(), second));
}

TALLYVO_TEST_MAIN(tst_admin)
#include "tst_admin.moc"
