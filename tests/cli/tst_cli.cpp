#include "TestSupport.h"
#include "ThermalPrinterFakes.h"

#include "core/Passwords.h"
#include "core/modSub.h"

#include <QApplication>
#include <QProcess>
#include <QTest>

using namespace tallyvo;

class tst_cli : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initCreatesDemoSiteOnce();
    void adminPasswordIsSet();
    void usageErrorsExitTwo();
    void unreachableDatabaseExitsOneWithOneLine();
    void issuePrintsOnTheStationPrinter();

private:
    struct Run {
        int code;
        QString out;
        QString err;
    };
    static Run ctl(const QStringList& args, const QString& configHome = QString());
};

tst_cli::Run tst_cli::ctl(const QStringList& args, const QString& configHome)
{
    QProcess p;
    if (!configHome.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        p.setProcessEnvironment(env);
    }
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl"), args);
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

TALLYVO_TEST_MAIN(tst_cli)
#include "tst_cli.moc"
