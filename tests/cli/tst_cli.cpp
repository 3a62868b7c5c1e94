#include "TestSupport.h"
#include "ThermalPrinterFakes.h"

#include "admin/ApiKeys.h"
#include "core/Passwords.h"
#include "core/modSub.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>

using namespace tallyvo;

class tst_cli : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initCreatesDemoSiteOnce();
    void adminPasswordIsSet();
    void usageErrorsExitTwo();
    void unreachableDatabaseExitsOneWithOneLine();
    void failuresSayWhatOnOneLine_data();
    void failuresSayWhatOnOneLine();
    void onlyInitCreatesTheFileForTheOwner();
    void issuePrintsOnTheStationPrinter();
    void userCommandsKeepALogin();
    void adminPasswordBringsBackAdmin();
    void issueStoppedBySignalPrintsEveryLabel_data();
    void issueStoppedBySignalPrintsEveryLabel();
    void labelsThatCannotBeWrittenFail_data();
    void labelsThatCannotBeWrittenFail();
    void failedWorkbookKeepsWhatWasThere();
    void statsPrintTheFigures_data();
    void statsPrintTheFigures();
    void statsWorkbookHasCellsAndChart();
    void apiKeyCommands_data();
    void apiKeyCommands();
    void statusShowsTheTokenOfAWebKey_data();
    void statusShowsTheTokenOfAWebKey();
    void issueSaysTheWaitUnderOneLabel();

private:
    struct Run {
        int code;
        QString out;
        QString err;
    };
    static QString program() { return QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl"); }
    static Run ctl(const QStringList& args, const QString& configHome = QString(), const QByteArray& input = {});
    // A service "Desk" (prefix D, numbers 1 to 999999) in a new database; gives its URL.
    static void addDesk(Database& db);
    // A Saturday at the Desk: three tokens (waits 4 and 12 minutes, one never called) and counter
    // "Desk 1" serving 09:04-09:10 and 09:12:30-09:20; the Desk's target is 10 minutes.
    static void addDeskDay(Database& db);
};

void tst_cli::addDesk(Database& db)
{
    const qint64 dept = db.insert(
        QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES ('Front', '', '1') RETURNING deptAuto"));
    db.run(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, startno, endno, abrno) "
                          "VALUES (?, 'Desk', '', '1', '1', '999999', 'D')"),
           {dept});
}

void tst_cli::addDeskDay(Database& db)
{
    addDesk(db);
    const QVariant desk = db.scalar(QStringLiteral("SELECT servAuto FROM tblService WHERE ServName='Desk'"));
    db.run(QStringLiteral("UPDATE tblService SET slaMinutes=10"));
    const qint64 counter = db.insert(QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, username) "
                                                    "VALUES (?, 'Desk 1', 'Desk 1', 'desk1') RETURNING cntAuto"),
                                     {desk});
    const QString add = QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, "
                                       "attended, attTime, firstCall, finished, status) "
                                       "VALUES (?, ?, '2026-03-14', ?, ?, ?, ?, ?, ?, ?, ?)");
    db.run(add, {desk, 1, QStringLiteral("09:00:00"), QStringLiteral("1"), QStringLiteral("D1"), counter,
                 QStringLiteral("09:04:00"), QStringLiteral("09:04:00"), QStringLiteral("09:10:00"),
                 QStringLiteral("Finished")});
    db.run(add, {desk, 2, QStringLiteral("09:00:00"), QStringLiteral("1"), QStringLiteral("D2"), counter,
                 QStringLiteral("09:12:30"), QStringLiteral("09:12:30"), QStringLiteral("09:20:00"),
                 QStringLiteral("Finished")});
    db.run(add, {desk, 3, QStringLiteral("09:30:00"), QStringLiteral("0"), QStringLiteral("D3"), 0, QString(),
                 QVariant(QMetaType(QMetaType::QString)), QString(), QString()});
}

tst_cli::Run tst_cli::ctl(const QStringList& args, const QString& configHome, const QByteArray& input)
{
    QProcess p;
    if (!configHome.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        p.setProcessEnvironment(env);
    }
    p.start(program(), args);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000))
        return {-1, {}, QStringLiteral("did not finish")};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

void tst_cli::initCreatesDemoSiteOnce()
{
    test::TempDatabase t;
    const QString url = t.url().toString(true);
    Run r = ctl({QStringLiteral("--db"), url, QStringLiteral("init"), QStringLiteral("--demo")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(r.out.contains(QStringLiteral("Demo site added")));

    Database& db = t.db();
    QVERIFY(db.scalar(QStringLiteral("SELECT count(*) FROM tblDept")).toInt() >= 2);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblService")).toInt(), 3);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblService WHERE abrno<>'' AND startno<>'' AND endno<>''"))
                 .toInt(),
             3);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblCounter WHERE username<>'' AND pass<>''")).toInt(), 3);
    // The settings' default theme and the settings window's default are both there, with regions.
    for (const QString& theme : {QStringLiteral("HR1"), QStringLiteral("Black H")}) {
        const int key = modSub::getThemeKey(db, theme);
        QVERIFY2(key > 0, qPrintable(theme));
        QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblpos WHERE themeauto=?"), {key}).toInt(), 1);
    }

    r = ctl({QStringLiteral("--db"), url, QStringLiteral("init"), QStringLiteral("--demo")});
    QCOMPARE(r.code, 0);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblService")).toInt(), 3);
}

void tst_cli::adminPasswordIsSet()
{
    test::TempDatabase t;
    const QString url = t.url().toString(true);
    const Run r = ctl({QStringLiteral("--db=") + url, QStringLiteral("init"), QStringLiteral("--admin-password"),
                       QStringLiteral("s3cret'pw")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const QString stored =
        t.db().scalar(QStringLiteral("SELECT password FROM tbluser WHERE username='ADMIN'")).toString();
    QCOMPARE(Passwords::verify(stored, QStringLiteral("s3cret'pw")), Passwords::Check::Match);
}

void tst_cli::usageErrorsExitTwo()
{
    test::TempDatabase t;
    const QString url = t.url().toString(true);
    QCOMPARE(ctl({QStringLiteral("--db"), url, QStringLiteral("no-such-command")}).code, 2);
    QCOMPARE(ctl({QStringLiteral("--db"), url, QStringLiteral("init"), QStringLiteral("--bogus")}).code, 2);
    QCOMPARE(ctl({QStringLiteral("--db"), url, QStringLiteral("init"), QStringLiteral("--admin-password")}).code, 2);
    QCOMPARE(ctl({QStringLiteral("--db"), QStringLiteral("ftp://x"), QStringLiteral("init")}).code, 2);
    QCOMPARE(ctl({QStringLiteral("--profile"), QStringLiteral("a/b"), QStringLiteral("init")}).code, 2);
    for (const QStringList& user : {QStringList{}, QStringList{QStringLiteral("rename")},
                                    QStringList{QStringLiteral("add")},
                                    QStringList{QStringLiteral("remove"), QStringLiteral("A"), QStringLiteral("B")},
                                    QStringList{QStringLiteral("add"), QStringLiteral("X"), QStringLiteral("--type"),
                                                QStringLiteral("Root")},
                                    QStringList{QStringLiteral("list"), QStringLiteral("all")}})
        QCOMPARE(ctl(QStringList{QStringLiteral("--db"), url, QStringLiteral("user")} + user).code, 2);
    QCOMPARE(ctl({}).code, 2);
    QCOMPARE(ctl({QStringLiteral("--help")}).code, 0);
}

void tst_cli::unreachableDatabaseExitsOneWithOneLine()
{
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("junk.sqlite")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'j'));
    f.close();
    const Run r = ctl({QStringLiteral("--db"), QStringLiteral("sqlite://") + f.fileName(), QStringLiteral("init")});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
    QVERIFY2(r.err.contains(f.fileName()), qPrintable(r.err));
}

void tst_cli::failuresSayWhatOnOneLine_data()
{
    // @FILE@ is a database with the demo site, @GONE@ a file that is not there.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QString>("mustNotSay");
    const QString file = QStringLiteral("sqlite://@FILE@");
    const QString gone = QStringLiteral("sqlite://@GONE@");
    QTest::newRow("missing file") << QStringList{QStringLiteral("--db"), gone, QStringLiteral("issue"),
                                                 QStringLiteral("Pharmacy")}
                                  << 1 << QStringLiteral("tallyvoctl init") << QString();
    QTest::newRow("missing file, next") << QStringList{QStringLiteral("--db"), gone, QStringLiteral("next"),
                                                       QStringLiteral("Counter 1")}
                                        << 1 << QStringLiteral("@GONE@") << QString();
    QTest::newRow("name with a carriage return")
        << QStringList{QStringLiteral("--db"), file, QStringLiteral("issue"), QStringLiteral("Pharm\racy")} << 1
        << QStringLiteral("'Pharm acy'") << QStringLiteral("\r");
    // A range that cannot hold a day, or a day no site has, is refused naming the option, rather
    // than answered with an empty report.
    const QStringList report{QStringLiteral("--db"), file, QStringLiteral("report"), QStringLiteral("service")};
    QTest::newRow("reversed range") << report + QStringList{QStringLiteral("--from"), QStringLiteral("2026-03-15"),
                                                            QStringLiteral("--to"), QStringLiteral("2026-03-14")}
                                    << 2 << QStringLiteral("--from 2026-03-15 is after --to 2026-03-14") << QString();
    QTest::newRow("year before one") << report + QStringList{QStringLiteral("--from"), QStringLiteral("-0001-01-01")}
                                     << 2 << QStringLiteral("--from") << QString();
    QTest::newRow("signed year") << report + QStringList{QStringLiteral("--to=+2026-01-01")} << 2
                                 << QStringLiteral("--to") << QString();
    QTest::newRow("no such day") << report + QStringList{QStringLiteral("--to"), QStringLiteral("2026-02-30")} << 2
                                 << QStringLiteral("--to") << QString();
    QTest::newRow("issue on year 0") << QStringList{QStringLiteral("--db"), file, QStringLiteral("issue"),
                                                    QStringLiteral("Pharmacy"), QStringLiteral("--date"),
                                                    QStringLiteral("0000-01-01")}
                                     << 2 << QStringLiteral("--date") << QString();
    QTest::newRow("password of a bad URL")
        << QStringList{QStringLiteral("--db"), QStringLiteral("postgresql://desk:s3cret@db:54x2/site"),
                       QStringLiteral("init")}
        << 2 << QStringLiteral("desk:***@db") << QStringLiteral("s3cret");
    QTest::newRow("unknown URL option")
        << QStringList{QStringLiteral("--db"), QStringLiteral("postgresql://desk:s3cret@db/site?sslmod=require"),
                       QStringLiteral("init")}
        << 2 << QStringLiteral("sslmod") << QStringLiteral("s3cret");
}

void tst_cli::failuresSayWhatOnOneLine()
{
    if (test::testEngine() == Engine::Postgres)
        QSKIP("about embedded files and the command line: the SQLite run has it");
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, says);
    QFETCH(QString, mustNotSay);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("site.sqlite"));
    const QString gone = dir.filePath(QStringLiteral("deleted.sqlite"));
    QCOMPARE(ctl({QStringLiteral("--db"), QStringLiteral("sqlite://") + file, QStringLiteral("init"),
                  QStringLiteral("--demo")})
                 .code,
             0);
    for (QString& a : args)
        a.replace(QStringLiteral("@FILE@"), file).replace(QStringLiteral("@GONE@"), gone);
    says.replace(QStringLiteral("@GONE@"), gone);
    const Run r = ctl(args);
    QCOMPARE(r.code, code);
    QVERIFY(r.out.isEmpty());
    QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
    QVERIFY2(r.err.contains(says), qPrintable(r.err));
    if (!mustNotSay.isEmpty())
        QVERIFY2(!r.err.contains(mustNotSay), qPrintable(r.err));
    // A refused command makes no database of its own.
    QVERIFY(!QFile::exists(gone));
}

void tst_cli::onlyInitCreatesTheFileForTheOwner()
{
    if (test::testEngine() == Engine::Postgres)
        QSKIP("about embedded files and the command line: the SQLite run has it");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("site/queue.sqlite"));
    const Run r = ctl({QStringLiteral("--db"), QStringLiteral("sqlite://") + file, QStringLiteral("init")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.out.contains(file), qPrintable(r.out));
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
        QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QVERIFY(!(QFileInfo(file).permissions() & others));
    QVERIFY(!(QFileInfo(dir.filePath(QStringLiteral("site"))).permissions() & others));
    // Once there, the other commands use it.
    const Run v = ctl({QStringLiteral("--db"), QStringLiteral("sqlite://") + file, QStringLiteral("schema-version")});
    QVERIFY2(v.code == 0, qPrintable(v.err));
}

void tst_cli::issuePrintsOnTheStationPrinter()
{
    test::TempDatabase t;
    const QString url = t.url().toString(true);
    Database& db = t.db();
    db.run(QStringLiteral("UPDATE tblComp SET compName=?, compAddress=? WHERE compAuto=1"),
           {QStringLiteral("Zoë's Clinic"), QStringLiteral("1 Quay")});
    const qint64 dept = db.insert(
        QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES ('Front', '', '1') RETURNING deptAuto"));
    db.run(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, startno, endno, abrno) "
                          "VALUES (?, 'Consultation', 'Room 4', '1', '1', '99', 'A')"),
           {dept});

    // The station's settings: a thermal printer on a device file, two copies, 58 mm paper.
    QTemporaryDir config;
    SettingsStore settings(config.filePath(QStringLiteral("tallyvo/profiles/kiosk")));
    const QString device = config.filePath(QStringLiteral("lp0"));
    QFile(device).open(QIODevice::WriteOnly);
    settings.set(Keys::PrinterName, QStringLiteral("escpos://") + device);
    settings.set(Keys::PrintNos, QStringLiteral("2"));
    settings.set(Keys::PrinterWidth, QStringLiteral("58"));
    const QStringList issue{QStringLiteral("--profile"), QStringLiteral("kiosk"), QStringLiteral("--db"), url,
                            QStringLiteral("issue"), QStringLiteral("Consultation"), QStringLiteral("--print")};
    Run r = ctl(issue, config.path());
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.out, QStringLiteral("A1\n"));
    QFile printed(device);
    QVERIFY(printed.open(QIODevice::ReadOnly));
    const QVector<test::Printed> copies = test::readEscPos(printed.readAll());
    QCOMPARE(copies.size(), 2);
    for (const test::Printed& p : copies) {
        QCOMPARE(p.texts().value(0), QStringLiteral("Zoë's Clinic"));
        QVERIFY(p.texts().contains(QStringLiteral("A1")));
        QVERIFY(p.texts().contains(QStringLiteral("Room 4")));
        QVERIFY(p.partialCut);
    }

    // The printer is unplugged: the token is stored and named, with the reason, on one line.
    settings.set(Keys::PrinterName, QStringLiteral("escpos://") + config.filePath(QStringLiteral("usb/lp0")));
    r = ctl(issue, config.path());
    QCOMPARE(r.code, 4);
    QCOMPARE(r.out, QStringLiteral("A2\n"));
    QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
    QVERIFY2(r.err.contains(QStringLiteral("A2")) && r.err.contains(QStringLiteral("there is no printer")),
             qPrintable(r.err));
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket")).toInt(), 2);

    // Without --print nothing is printed and the printer's state does not matter.
    r = ctl({QStringLiteral("--profile"), QStringLiteral("kiosk"), QStringLiteral("--db"), url,
             QStringLiteral("issue"), QStringLiteral("Consultation")},
            config.path());
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QStringLiteral("A3\n"));
}

void tst_cli::userCommandsKeepALogin()
{
    test::TempDatabase t;
    const QString url = t.url().toString(true);
    Database& db = t.db();
    auto user = [&](const QStringList& args, const QByteArray& input = {}) {
        return ctl(QStringList{QStringLiteral("--db"), url, QStringLiteral("user")} + args, QString(), input);
    };
    auto stored = [&](const QString& name) {
        return db.scalar(QStringLiteral("SELECT password FROM tbluser WHERE username=?"), {name}).toString();
    };

    Run r = user({QStringLiteral("add"), QStringLiteral("o'neil")}, "N3w pass\n");
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.out.contains(QStringLiteral("O'NEIL")), qPrintable(r.out));
    QCOMPARE(Passwords::verify(stored(QStringLiteral("O'NEIL")), QStringLiteral("N3w pass")), Passwords::Check::Match);
    QCOMPARE(db.scalar(QStringLiteral("SELECT usertype FROM tbluser WHERE username='O''NEIL'")).toString(),
             QStringLiteral("Admin"));
    r = user({QStringLiteral("list")});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QStringLiteral("ADMIN\nO'NEIL\n"));

    // A taken name in any letter case is refused; no password, or an empty one, is a usage error.
    r = user({QStringLiteral("add"), QStringLiteral("Admin")}, "x\n");
    QCOMPARE(r.code, 3);
    QVERIFY2(r.err.contains(QStringLiteral("Existing User")), qPrintable(r.err));
    QCOMPARE(user({QStringLiteral("add"), QStringLiteral("clerk")}, "").code, 2);
    QCOMPARE(user({QStringLiteral("add"), QStringLiteral("clerk")}, "\n").code, 2);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM tbluser")).toInt(), 2);

    // A new password, stored as a hash; a name nobody has fails and changes nothing.
    r = user({QStringLiteral("password"), QStringLiteral("admin")}, "s3cret'pw\r\n");
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(Passwords::verify(stored(QStringLiteral("ADMIN")), QStringLiteral("s3cret'pw")), Passwords::Check::Match);
    QVERIFY(!stored(QStringLiteral("ADMIN")).contains(QStringLiteral("s3cret")));
    r = user({QStringLiteral("password"), QStringLiteral("nobody")}, "x\n");
    QCOMPARE(r.code, 1);
    QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
    QVERIFY2(r.err.contains(QStringLiteral("nobody")), qPrintable(r.err));

    // Removing: an unknown name fails, the last user is refused as in the window.
    QCOMPARE(user({QStringLiteral("remove"), QStringLiteral("nobody")}).code, 1);
    r = user({QStringLiteral("remove"), QStringLiteral("admin")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    r = user({QStringLiteral("remove"), QStringLiteral("O'Neil")});
    QCOMPARE(r.code, 3);
    QVERIFY2(r.err.contains(QStringLiteral("last user")), qPrintable(r.err));
    QCOMPARE(user({QStringLiteral("list")}).out, QStringLiteral("O'NEIL\n"));
}

void tst_cli::adminPasswordBringsBackAdmin()
{
    // A site whose administrators are all gone (removed through the database) gets ADMIN back.
    test::TempDatabase t;
    const QString url = t.url().toString(true);
    t.db().run(QStringLiteral("DELETE FROM tbluser"));
    Run r = ctl({QStringLiteral("--db"), url, QStringLiteral("init")});
    QCOMPARE(r.code, 0);
    QVERIFY2(r.err.contains(QStringLiteral("no user")) && r.err.contains(QStringLiteral("--admin-password")),
             qPrintable(r.err));
    r = ctl({QStringLiteral("--db"), url, QStringLiteral("init"), QStringLiteral("--admin-password"),
             QStringLiteral("back in")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.out.contains(QStringLiteral("ADMIN was added")), qPrintable(r.out));
    const QString stored =
        t.db().scalar(QStringLiteral("SELECT password FROM tbluser WHERE username='ADMIN'")).toString();
    QCOMPARE(Passwords::verify(stored, QStringLiteral("back in")), Passwords::Check::Match);
    r = ctl({QStringLiteral("--db"), url, QStringLiteral("init"), QStringLiteral("--admin-password"),
             QStringLiteral("again")});
    QVERIFY2(r.out.contains(QStringLiteral("password of ADMIN was set")), qPrintable(r.out));
    QCOMPARE(t.db().scalar(QStringLiteral("SELECT count(*) FROM tbluser")).toInt(), 1);
}

void tst_cli::issueStoppedBySignalPrintsEveryLabel_data()
{
    QTest::addColumn<int>("sig");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void tst_cli::issueStoppedBySignalPrintsEveryLabel()
{
    QFETCH(int, sig);
    test::TempDatabase t;
    addDesk(t.db());
    QProcess p;
    p.start(program(), {QStringLiteral("--db"), t.url().toString(true), QStringLiteral("issue"),
                        QStringLiteral("Desk"), QStringLiteral("--count"), QStringLiteral("100000")});
    // Stopped in the middle of the batch, once a few labels are out.
    QByteArray out;
    while (out.count('\n') < 20 && p.waitForReadyRead(30000))
        out += p.readAllStandardOutput();
    QVERIFY(out.count('\n') >= 20);
    ::kill(pid_t(p.processId()), sig);
    QVERIFY(p.waitForFinished(30000));
    out += p.readAllStandardOutput();
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 128 + sig);
    QCOMPARE(err.count(QLatin1Char('\n')), 1);
    QVERIFY2(err.contains(QStringLiteral("stopped by signal")), qPrintable(err));

    const QList<QByteArray> labels = out.trimmed().split('\n');
    const int stored = t.db().scalar(QStringLiteral("SELECT count(*) FROM tblTicket")).toInt();
    QVERIFY(stored < 100000);
    QCOMPARE(labels.size(), stored);
    QCOMPARE(labels.last(), QByteArray("D") + QByteArray::number(stored));
}

void tst_cli::labelsThatCannotBeWrittenFail_data()
{
    QTest::addColumn<QString>("shell");
    QTest::newRow("full disk") << QStringLiteral("\"$0\" --db \"$1\" issue Desk --count 3 >/dev/full");
    // The reader is gone before the labels come; its end of the pipe is closed.
    QTest::newRow("closed pipe") << QStringLiteral("\"$0\" --db \"$1\" issue Desk --count 1000 | true; "
                                                   "exit ${PIPESTATUS[0]}");
}

void tst_cli::labelsThatCannotBeWrittenFail()
{
    QFETCH(QString, shell);
    test::TempDatabase t;
    addDesk(t.db());
    QProcess p;
    p.start(QStringLiteral("/bin/bash"), {QStringLiteral("-c"), shell, program(), t.url().toString(true)});
    QVERIFY(p.waitForFinished(60000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitCode(), 1);
    QCOMPARE(err.count(QLatin1Char('\n')), 1);
    // The token is stored and named, with the cause; none after it.
    QVERIFY2(err.contains(QStringLiteral("could not be written")), qPrintable(err));
    const int stored = t.db().scalar(QStringLiteral("SELECT count(*) FROM tblTicket")).toInt();
    QVERIFY2(err.contains(QStringLiteral("D%1 was issued").arg(stored)), qPrintable(err));
    QVERIFY(QFileInfo(QStringLiteral("/dev/full")).exists());
}

void tst_cli::failedWorkbookKeepsWhatWasThere()
{
    if (test::testEngine() == Engine::Postgres)
        QSKIP("about files on this machine: the SQLite run has it");
    QTemporaryDir dir;
    const QString url = QStringLiteral("sqlite://") + dir.filePath(QStringLiteral("site.sqlite"));
    QCOMPARE(ctl({QStringLiteral("--db"), url, QStringLiteral("init"), QStringLiteral("--demo")}).code, 0);
    // A device: refused with one line of our own and none of the library's, and still there.
    Run r = ctl({QStringLiteral("--db"), url, QStringLiteral("report"), QStringLiteral("service"),
                 QStringLiteral("--xlsx"), QStringLiteral("/dev/full")});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
    QVERIFY2(r.err.contains(QStringLiteral("/dev/full")) && r.err.contains(QStringLiteral("not a regular file")),
             qPrintable(r.err));
    QVERIFY(QFileInfo(QStringLiteral("/dev/full")).exists());

    // A read-only workbook from last week is refused and stays as it was, with nothing left beside it.
    const QString book = dir.filePath(QStringLiteral("week.xlsx"));
    r = ctl({QStringLiteral("--db"), url, QStringLiteral("report"), QStringLiteral("service"), QStringLiteral("--xlsx"),
             book});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QFile f(book);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    QVERIFY(f.setPermissions(QFileDevice::ReadOwner));
    QCOMPARE(ctl({QStringLiteral("--db"), url, QStringLiteral("issue"), QStringLiteral("Consultation")}).code, 0);
    r = ctl({QStringLiteral("--db"), url, QStringLiteral("report"), QStringLiteral("service"), QStringLiteral("--all"),
             QStringLiteral("--xlsx"), book});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
    QVERIFY2(r.err.contains(QStringLiteral("read-only")) && !r.err.contains(QStringLiteral("[ERROR]")),
             qPrintable(r.err));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("week.xlsx")),
             QStringList{QStringLiteral("week.xlsx")});
}

void tst_cli::statsPrintTheFigures_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected");
    const QStringList day{QStringLiteral("--from"), QStringLiteral("2026-03-14"), QStringLiteral("--to"),
                          QStringLiteral("2026-03-14")};
    QTest::newRow("waiting") << QStringList{QStringLiteral("waiting")} + day
                             << QStringLiteral("Service\tDate\tCalled\tAverage\tMedian\tP90\tLongest\t0-5\t5-10\t"
                                               "10-20\t20-30\t30-60\tOver 60\n"
                                               "Desk\t2026-03-14\t2\t8.0\t4\t12\t12\t1\t0\t1\t0\t0\t0\n");
    QTest::newRow("levels") << QStringList{QStringLiteral("levels"), QStringLiteral("--filter"), QStringLiteral("Desk")} +
                                   day
                            << QStringLiteral("Service\tDate\tIssued\tServed\tCancelled\tNever called\t"
                                              "Within target %\nDesk\t2026-03-14\t3\t2\t0\t1\t50.0\n");
    QTest::newRow("hourly") << QStringList{QStringLiteral("hourly")} + day
                            << QStringLiteral("Weekday\tHour\tIssued\tServed\tAverage waiting\n"
                                              "Saturday\t09:00\t3\t2\t8.0\n");
    // 6 and 8 minutes; 810 of the 960 seconds from 09:04 to 09:20 serving.
    QTest::newRow("counters") << QStringList{QStringLiteral("counters"), QStringLiteral("--filter=Desk 1")} + day
                              << QStringLiteral("Counter\tServed\tAverage service\tServing share %\n"
                                                "Desk 1\t2\t7.0\t84.4\n");
    QTest::newRow("another day") << QStringList{QStringLiteral("levels"), QStringLiteral("--from"),
                                                QStringLiteral("2026-03-15")}
                                 << QStringLiteral("Service\tDate\tIssued\tServed\tCancelled\tNever called\t"
                                                   "Within target %\n");
    QTest::newRow("a service with no tokens")
        << QStringList{QStringLiteral("waiting"), QStringLiteral("--filter"), QStringLiteral("Nobody's")} + day
        << QStringLiteral("Service\tDate\tCalled\tAverage\tMedian\tP90\tLongest\t0-5\t5-10\t10-20\t20-30\t"
                          "30-60\tOver 60\n");
}

void tst_cli::statsPrintTheFigures()
{
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    test::TempDatabase t;
    addDeskDay(t.db());
    const Run r = ctl(QStringList{QStringLiteral("--db"), t.url().toString(true), QStringLiteral("stats")} + args);
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.out, expected);
}

void tst_cli::statsWorkbookHasCellsAndChart()
{
    test::TempDatabase t;
    addDeskDay(t.db());
    QTemporaryDir dir;
    const QString url = t.url().toString(true);
    const QString book = dir.filePath(QStringLiteral("waiting.xlsx"));
    Run r = ctl({QStringLiteral("--db"), url, QStringLiteral("stats"), QStringLiteral("waiting"), QStringLiteral("--from"),
                 QStringLiteral("2026-03-14"), QStringLiteral("--to"), QStringLiteral("2026-03-14"),
                 QStringLiteral("--xlsx"), book});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(r.out.isEmpty());
    // The cells as numbers, the total line under a blank row, and a chart part whose series reads
    // the total line's bands under their headers.
    const char* readBack = R"(
import sys, zipfile, re, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
ws = wb.worksheets[0]
print(ws.title)
for row in ws.iter_rows(values_only=True):
    print("|".join("" if v is None else (v.date().isoformat() if hasattr(v, "date") else str(v)) for v in row))
z = zipfile.ZipFile(sys.argv[1])
for n in sorted(z.namelist()):
    if n.startswith("xl/charts/"):
        print(n, " ".join(re.findall(r"<c:f>([^<]*)</c:f>", z.read(n).decode())))
)";
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(readBack), book});
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()),
             QStringLiteral("Waiting Times\n"
                            "Service|Date|Called|Average|Median|P90|Longest|0-5|5-10|10-20|20-30|30-60|Over 60\n"
                            "Desk|2026-03-14|2|8|4|12|12|1|0|1|0|0|0\n"
                            "||||||||||||\n"
                            "Total||2|||||1|0|1|0|0|0\n"
                            "xl/charts/chart1.xml 'Waiting Times'!$H$1:$M$1 'Waiting Times'!$H$4:$M$4\n"));

    // Unknown kinds and reversed ranges are usage errors, as for report.
    r = ctl({QStringLiteral("--db"), url, QStringLiteral("stats"), QStringLiteral("queues")});
    QCOMPARE(r.code, 2);
    r = ctl({QStringLiteral("--db"), url, QStringLiteral("stats"), QStringLiteral("levels"), QStringLiteral("--from"),
             QStringLiteral("2026-03-15"), QStringLiteral("--to"), QStringLiteral("2026-03-14")});
    QCOMPARE(r.code, 2);
    QVERIFY2(r.err.contains(QStringLiteral("--from 2026-03-15 is after --to 2026-03-14")), qPrintable(r.err));
}

void tst_cli::apiKeyCommands_data()
{
    // Each row runs on a database holding a key named "kiosk".
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says"); // on stdout when code is 0, else on stderr
    QTest::addColumn<int>("keysAfter");
    QTest::newRow("add") << QStringList{QStringLiteral("add"), QStringLiteral("O'Brien's booking site")} << 0
                         << QStringLiteral("O'Brien's booking site") << 2;
    QTest::newRow("taken name") << QStringList{QStringLiteral("add"), QStringLiteral("kiosk")} << 3
                                << QStringLiteral("'kiosk' exists already") << 1;
    QTest::newRow("empty name") << QStringList{QStringLiteral("add"), QString()} << 2 << QStringLiteral("empty") << 1;
    QTest::newRow("space at the end") << QStringList{QStringLiteral("add"), QStringLiteral("kiosk ")} << 2
                                      << QStringLiteral("space") << 1;
    QTest::newRow("name too long") << QStringList{QStringLiteral("add"), QString(65, QLatin1Char('k'))} << 2
                                   << QStringLiteral("64") << 1;
    QTest::newRow("no name") << QStringList{QStringLiteral("add")} << 2 << QStringLiteral("missing") << 1;
    QTest::newRow("two names") << QStringList{QStringLiteral("add"), QStringLiteral("a"), QStringLiteral("b")} << 2
                               << QStringLiteral("unexpected argument: b") << 1;
    QTest::newRow("list") << QStringList{QStringLiteral("list")} << 0 << QStringLiteral("kiosk\t") << 1;
    QTest::newRow("list with more") << QStringList{QStringLiteral("list"), QStringLiteral("all")} << 2
                                    << QStringLiteral("all") << 1;
    QTest::newRow("remove") << QStringList{QStringLiteral("remove"), QStringLiteral("kiosk")} << 0
                            << QStringLiteral("kiosk removed") << 0;
    QTest::newRow("remove unknown") << QStringList{QStringLiteral("remove"), QStringLiteral("Kiosk")} << 1
                                    << QStringLiteral("no API key is named 'Kiosk'") << 1;
    QTest::newRow("no action") << QStringList{} << 2 << QStringLiteral("missing") << 1;
    QTest::newRow("unknown action") << QStringList{QStringLiteral("rotate")} << 2 << QStringLiteral("rotate") << 1;
}

void tst_cli::apiKeyCommands()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, says);
    QFETCH(int, keysAfter);
    test::TempDatabase t;
    const QString url = t.url().toString(true);
    const QString kiosk = ApiKeys::add(t.db(), QStringLiteral("kiosk"));
    const Run r = ctl(QStringList{QStringLiteral("--db"), url, QStringLiteral("apikey")} + args);
    QCOMPARE(r.code, code);
    QVERIFY2((code == 0 ? r.out : r.err).contains(says), qPrintable(r.out + r.err));
    if (code != 0) {
        QVERIFY(r.out.isEmpty());
        QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
    }
    QCOMPARE(t.db().scalar(QStringLiteral("SELECT count(*) FROM tblApiKey")).toInt(), keysAfter);
    // The key made before works until it is removed by its own name.
    QCOMPARE(ApiKeys::verify(t.db(), kiosk).has_value(),
             (args != QStringList{QStringLiteral("remove"), QStringLiteral("kiosk")}));
    if (args.value(0) == QLatin1String("add") && code == 0) {
        // A line saying what was done, then the key alone on the last line: the one time it is shown.
        const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        const QString key = lines.last();
        QCOMPARE(ApiKeys::verify(t.db(), key), std::optional<QString>(args.value(1)));
        QCOMPARE(t.db().scalar(QStringLiteral("SELECT count(*) FROM tblApiKey WHERE keyHash=? OR name=?"),
                               {key, key}).toInt(),
                 0);
        // Listed by name, with the time it was made, never with the key.
        const Run list = ctl({QStringLiteral("--db"), url, QStringLiteral("apikey"), QStringLiteral("list")});
        QCOMPARE(list.code, 0);
        const QStringList listed = list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(listed.size(), 2);
        QCOMPARE(listed.at(0).section(QLatin1Char('\t'), 0, 0), args.value(1));
        QVERIFY(QDateTime::fromString(listed.at(0).section(QLatin1Char('\t'), 1), QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                    .isValid());
        QVERIFY(!list.out.contains(key));
    }
}

void tst_cli::statusShowsTheTokenOfAWebKey_data()
{
    QTest::addColumn<QStringList>("before"); // tallyvoctl commands run first
    QTest::addColumn<QString>("key");        // @D1@: the first token's web key
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expected"); // stdout, or stderr when the code is not 0
    const QString unknown = QStringLiteral("tallyvoctl: no token has that web key\n");
    QTest::newRow("waiting") << QStringList{} << QStringLiteral("@D2@") << 0
                             << QStringLiteral("Label: D2\nService: Desk\nState: waiting\nAhead: 1\nEstimate: -\n"
                                               "Counter: -\n");
    QTest::newRow("called") << QStringList{QStringLiteral("next Desk 1")} << QStringLiteral("@D1@") << 0
                            << QStringLiteral("Label: D1\nService: Desk\nState: called\nAhead: -\nEstimate: -\n"
                                              "Counter: Window 1\n");
    QTest::newRow("moved up") << QStringList{QStringLiteral("next Desk 1")} << QStringLiteral("@D2@") << 0
                              << QStringLiteral("Label: D2\nService: Desk\nState: waiting\nAhead: 0\nEstimate: -\n"
                                                "Counter: -\n");
    QTest::newRow("cancelled") << QStringList{QStringLiteral("next Desk 1"), QStringLiteral("cancel Desk 1")}
                               << QStringLiteral("@D1@") << 0
                               << QStringLiteral("Label: D1\nService: Desk\nState: cancelled\nAhead: -\nEstimate: -\n"
                                                 "Counter: Window 1\n");
    // The same answer for a key nobody holds and for text that is no key at all.
    QTest::newRow("unknown") << QStringList{} << QStringLiteral("AAAAAAAAAAAAAAAAAAAAAA") << 1 << unknown;
    QTest::newRow("malformed") << QStringList{} << QStringLiteral("D1") << 1 << unknown;
    QTest::newRow("quote") << QStringList{} << QStringLiteral("' OR ''='") << 1 << unknown;
    QTest::newRow("empty") << QStringList{} << QString() << 1 << unknown;
}

void tst_cli::statusShowsTheTokenOfAWebKey()
{
    QFETCH(QStringList, before);
    QFETCH(QString, key);
    QFETCH(int, code);
    QFETCH(QString, expected);
    test::TempDatabase t;
    Database& db = t.db();
    addDesk(db);
    db.run(QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, username, pass, active) "
                          "SELECT servAuto, 'Desk 1', 'Window 1', '', '', '1' FROM tblService WHERE ServName='Desk'"));
    const QString url = t.url().toString(true);
    QCOMPARE(ctl({QStringLiteral("--db"), url, QStringLiteral("issue"), QStringLiteral("Desk"), QStringLiteral("--count"),
                  QStringLiteral("2")})
                 .out,
             QStringLiteral("D1\nD2\n"));
    for (const QString& command : before) {
        QStringList args{QStringLiteral("--db"), url};
        // The counter's name holds a blank: "next Desk 1" is the command and the counter.
        args << command.section(QLatin1Char(' '), 0, 0) << command.section(QLatin1Char(' '), 1);
        const Run r = ctl(args);
        QVERIFY2(r.code == 0, qPrintable(r.err));
    }
    for (const QString& label : {QStringLiteral("D1"), QStringLiteral("D2")})
        key.replace(QLatin1Char('@') + label + QLatin1Char('@'),
                    db.scalar(QStringLiteral("SELECT webKey FROM tblTicket WHERE no_abr=?"), {label}).toString());
    const Run r = ctl({QStringLiteral("--db"), url, QStringLiteral("status"), key});
    QCOMPARE(r.code, code);
    QCOMPARE(code == 0 ? r.out : r.err, expected);
    if (code != 0)
        QVERIFY(r.out.isEmpty());
    QCOMPARE(ctl({QStringLiteral("--db"), url, QStringLiteral("status")}).code, 2);
}

void tst_cli::issueSaysTheWaitUnderOneLabel()
{
    // tallyvoctl runs on the machine's clock: the desk served three tokens of 4 minutes in the last
    // twenty minutes, so a new token with nobody ahead waits about 4.
    const QTime now = QTime::currentTime();
    if (now < QTime(0, 30) || now > QTime(23, 50))
        QSKIP("the served tokens would cross midnight");
    test::TempDatabase t;
    Database& db = t.db();
    addDesk(db);
    const int desk = db.scalar(QStringLiteral("SELECT servAuto FROM tblService WHERE ServName='Desk'")).toInt();
    for (int i = 0; i < 3; ++i) {
        const QTime called = now.addSecs(-60 * (20 - 4 * i));
        db.run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, attended, "
                              "attTime, finished, status) VALUES (?, ?, ?, '00:00:00', '1', 'D', 7, ?, ?, 'Finished')"),
               {desk, i + 1, QDate::currentDate().toString(u"yyyy-MM-dd"), called.toString(u"HH:mm:ss"),
                called.addSecs(240).toString(u"HH:mm:ss")});
    }
    const QString url = t.url().toString(true);
    Run r = ctl({QStringLiteral("--db"), url, QStringLiteral("issue"), QStringLiteral("Desk")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.out, QStringLiteral("D4\nAbout 4 min\n"));
    // A batch stays one label a line, as the scripts that read it expect.
    r = ctl({QStringLiteral("--db"), url, QStringLiteral("issue"), QStringLiteral("Desk"), QStringLiteral("--count"),
             QStringLiteral("2")});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QStringLiteral("D5\nD6\n"));
    // A token for another day has no wait to tell.
    r = ctl({QStringLiteral("--db"), url, QStringLiteral("issue"), QStringLiteral("Desk"), QStringLiteral("--date"),
             QDate::currentDate().addDays(1).toString(u"yyyy-MM-dd")});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QStringLiteral("D1\n"));
}

TALLYVO_TEST_MAIN(tst_cli)
#include "tst_cli.moc"
