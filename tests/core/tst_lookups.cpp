#include "TestSupport.h"

#include "core/Connection.h"
#include "core/Paths.h"
#include "core/Session.h"
#include "core/modSub.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>

using namespace tallyvo;

class tst_lookups : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void namesWithApostrophesAreFound();
    void missingRowsGiveZeroOrEmpty();
    void counterNameSetsDisplayName();
    void duplicateNamesGiveTheFirst();
    void rowExistsGuardsDeletes();
    void dbPathIsLastLineOfPathFile();
    void pathFileFollowsTheStationsDatabase();
    void dataFilesAreFoundInstalledOrBesideTheProgram();

private:
    std::unique_ptr<test::TempDatabase> m_t;
    int m_dept = 0, m_serv = 0, m_counter = 0, m_theme = 0;
    qint64 m_ticket = 0;
};

void tst_lookups::init()
{
    m_t = std::make_unique<test::TempDatabase>();
    Database& db = m_t->db();
    m_dept = int(db.insert(QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES (?, '', '1') "
                                          "RETURNING deptAuto"),
                           {QStringLiteral("Children's Ward")}));
    m_serv = int(db.insert(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, startno, "
                                          "endno, abrno) VALUES (?, ?, '', '1', '1', '99', 'C') RETURNING servAuto"),
                           {m_dept, QStringLiteral("O'Brien Clinic")}));
    m_counter = int(db.insert(QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, username, "
                                             "pass, active) VALUES (?, ?, ?, 'u', 'p', '1') RETURNING cntAuto"),
                              {m_serv, QStringLiteral("Desk 'A'"), QStringLiteral("Room 4")}));
    m_theme = int(db.insert(QStringLiteral("INSERT INTO tbltheme (themename) VALUES (?) RETURNING themeauto"),
                            {QStringLiteral("Night's Watch")}));
    m_ticket = db.insert(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, no_abr) "
                                        "VALUES (?, 7, '2026-03-14', '10:00:00', 'C7') RETURNING tickAuto"),
                         {m_serv});
}

void tst_lookups::cleanup()
{
    m_t.reset();
}

void tst_lookups::namesWithApostrophesAreFound()
{
    const Database& db = m_t->db();
    Session s;
    QCOMPARE(modSub::getDeptKey(db, QStringLiteral("Children's Ward")), m_dept);
    QCOMPARE(modSub::getDeptName(db, m_dept), QStringLiteral("Children's Ward"));
    QCOMPARE(modSub::getServiceKey(db, QStringLiteral("O'Brien Clinic")), m_serv);
    QCOMPARE(modSub::getServiceName(db, m_serv), QStringLiteral("O'Brien Clinic"));
    QCOMPARE(modSub::getCounterKey(db, QStringLiteral("Desk 'A'")), m_counter);
    QCOMPARE(modSub::getCounterName(db, s, m_counter), QStringLiteral("Desk 'A'"));
    QCOMPARE(modSub::getThemeKey(db, QStringLiteral("Night's Watch")), m_theme);
    QCOMPARE(modSub::getTokenLabel(db, m_ticket), QStringLiteral("C7"));
    // A name that only looks like SQL is just a name.
    QCOMPARE(modSub::getDeptKey(db, QStringLiteral("x' OR '1'='1")), 0);
}

void tst_lookups::missingRowsGiveZeroOrEmpty()
{
    const Database& db = m_t->db();
    QCOMPARE(modSub::getDeptKey(db, QStringLiteral("Nowhere")), 0);
    QCOMPARE(modSub::getDeptName(db, 999), QString());
    QCOMPARE(modSub::getServiceKey(db, QStringLiteral("children's ward")), 0);
    QCOMPARE(modSub::getServiceName(db, 999), QString());
    QCOMPARE(modSub::getCounterKey(db, QString()), 0);
    QCOMPARE(modSub::getThemeKey(db, QStringLiteral("Black H")), 0);
    QCOMPARE(modSub::getTokenLabel(db, 123456789), QString());
}

void tst_lookups::counterNameSetsDisplayName()
{
    const Database& db = m_t->db();
    Session s;
    modSub::getCounterName(db, s, m_counter);
    QCOMPARE(s.counterDisplayName, QStringLiteral("Room 4"));
    // A deleted counter clears what an earlier lookup left.
    db.run(QStringLiteral("DELETE FROM tblCounter WHERE cntAuto=?"), {m_counter});
    QCOMPARE(modSub::getCounterName(db, s, m_counter), QString());
    QCOMPARE(s.counterDisplayName, QString());
}

void tst_lookups::duplicateNamesGiveTheFirst()
{
    const Database& db = m_t->db();
    db.run(QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, username, pass, active) "
                          "VALUES (?, ?, 'Room 9', 'u2', 'p', '1')"),
           {m_serv, QStringLiteral("Desk 'A'")});
    QCOMPARE(modSub::getCounterKey(db, QStringLiteral("Desk 'A'")), m_counter);
}

void tst_lookups::rowExistsGuardsDeletes()
{
    const Database& db = m_t->db();
    QVERIFY(modSub::rowExists(db, QStringLiteral("tblService"), QStringLiteral("deptAuto"), m_dept));
    QVERIFY(modSub::rowExists(db, QStringLiteral("tblticket"), QStringLiteral("servAuto"), m_serv));
    QVERIFY(!modSub::rowExists(db, QStringLiteral("tblticket"), QStringLiteral("attended"), m_counter));
    QVERIFY(!modSub::rowExists(db, QStringLiteral("tblService"), QStringLiteral("deptAuto"), m_dept + 100));
    QVERIFY_THROWS_EXCEPTION(DbError, modSub::rowExists(db, QStringLiteral("tblService; DROP TABLE tblDept"),
                                                        QStringLiteral("deptAuto"), 1));
    QVERIFY(db.hasTable(QStringLiteral("tblDept")));
}

void tst_lookups::dbPathIsLastLineOfPathFile()
{
    QTemporaryDir dir;
    test::ScriptedPrompt prompt;
    QCOMPARE(Paths::getDbPath(dir.path(), prompt), QString());
    QCOMPARE(prompt.messages.size(), 1); // the missing file is reported

    QFile f(dir.filePath(QStringLiteral("path.txt")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QCOMPARE(Paths::getDbPath(dir.path(), prompt), QString());

    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("/old/data.mdb\n/srv/queue/tallyvo.sqlite\n");
    f.close();
    QCOMPARE(Paths::getDbPath(dir.path(), prompt), QStringLiteral("/srv/queue/tallyvo.sqlite"));
    QCOMPARE(prompt.messages.size(), 1);
}

void tst_lookups::pathFileFollowsTheStationsDatabase()
{
    test::TempSettings settings;
    test::ScriptedPrompt prompt;
    QTemporaryDir dir;
    Session session;
    Connection connection(settings.store, session);
    const QString first = dir.filePath(QStringLiteral("first.sqlite"));
    connection.setOverride(DbUrl::sqlite(first));
    QVERIFY(connection.connectDb());
    QCOMPARE(Paths::getDbPath(settings.folder(), prompt), first);

    // The station moves to another file: path.txt moves with it, so backup copies the right one.
    const QString second = dir.filePath(QStringLiteral("second.sqlite"));
    connection.setOverride(DbUrl::sqlite(second));
    QVERIFY(connection.connectDb());
    QCOMPARE(Paths::getDbPath(settings.folder(), prompt), second);
    QVERIFY(prompt.messages.isEmpty());

    // A folder that cannot be written is said, not hidden.
    QVERIFY(!Paths::recordDbPath(QStringLiteral("/proc/no/such"), second));
}

void tst_lookups::dataFilesAreFoundInstalledOrBesideTheProgram()
{
    QTemporaryDir beside;
    QTemporaryDir installed;
    QDir(installed.path()).mkpath(QStringLiteral("files/clock"));
    QFile(installed.filePath(QStringLiteral("ding.wav"))).open(QIODevice::WriteOnly);
    const QStringList folders{beside.path(), installed.path()};
    QCOMPARE(Paths::dataFile(QStringLiteral("ding.wav"), folders), installed.filePath(QStringLiteral("ding.wav")));
    QCOMPARE(Paths::dataFile(QStringLiteral("files/clock"), folders), installed.filePath(QStringLiteral("files/clock")));
    // A build tree's own copy beside the program comes first.
    QFile(beside.filePath(QStringLiteral("ding.wav"))).open(QIODevice::WriteOnly);
    QCOMPARE(Paths::dataFile(QStringLiteral("ding.wav"), folders), beside.filePath(QStringLiteral("ding.wav")));
    // Missing everywhere: named where it was looked for first.
    QCOMPARE(Paths::dataFile(QStringLiteral("design/01.jpg"), folders), beside.filePath(QStringLiteral("design/01.jpg")));
    // An installed program looks in the share folder beside its bin folder.
    QVERIFY(Paths::dataFolders().contains(QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                                          QStringLiteral("/../share/tallyvo"))));
}

TALLYVO_TEST_MAIN(tst_lookups)
#include "tst_lookups.moc"
