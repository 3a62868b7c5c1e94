#include "ReportSite.h"
#include "TestSupport.h"

#include "core/Connection.h"
#include "core/Schema.h"
#include "core/Session.h"
#include "reports/Backup.h"
#include "reports/ui/MaintenanceWindows.h"
#include "widgets/Grid.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QUuid>
#include <QPushButton>
#include <QTest>
#include <csignal>
#include <sys/stat.h>
#include <tuple>

using namespace tallyvo;

namespace {

struct Station {
    test::ReportSite site;
    test::TempSettings settings;
    Session session;
    test::FakeClock clock{QDate(2026, 3, 14), QTime(13, 0, 0)};
    test::ScriptedPrompt prompt;
    Connection connection{settings.store, session};
    QTemporaryDir folder;

    Station()
    {
        connection.setOverride(site.temp.url());
        connection.connectDb();
    }
    int count(const char* table)
    {
        return site.temp.db().scalar(QStringLiteral("SELECT count(*) FROM ") + QLatin1String(table)).toInt();
    }
    void call(const QString& day)
    {
        site.temp.db().run(QStringLiteral("INSERT INTO tblCall (cntAuto, no_abr, displayName, status, tickAuto, "
                                          "tickDate) VALUES (1, 'A1', 'One', '1', 1, ?)"),
                           {day});
    }
};

bool sqlite()
{
    return test::testEngine() == Engine::Sqlite;
}

} // namespace

class tst_maintenance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void clearDataDeletesTheSelectedRows_data();
    void clearDataDeletesTheSelectedRows();
    void callDataBeforeTheDayGoes();
    void backupWhileAnotherStationIssues();
    void restoreRefusesWhatIsNotABackup_data();
    void restoreRefusesWhatIsNotABackup();
    void restoreBringsTheDataBack_data();
    void restoreBringsTheDataBack();
    void restoreGivesUpWhileAStationHoldsTheData();
    void copiesInTheSameSecondKeepTheirOwnNames();
    void backupOfAnOlderSchemaIsRestoredAndUpgraded();
    void restoreSaysWhatItLoses();
    void backupWindowGuards();
    void commandLine();
    void backupKeepsTheNewest_data();
    void backupKeepsTheNewest();
    void restoreToolEndsWithItsCaller();
};

void tst_maintenance::clearDataDeletesTheSelectedRows_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<int>("deleted");
    QTest::addColumn<int>("days");
    QTest::newRow("rows 3 to 5 downward") << 3 << 5 << true << 3 << 1;
    QTest::newRow("rows 5 to 3 upward") << 5 << 3 << true << 3 << 1;
    QTest::newRow("one row") << 2 << 2 << true << 1 << 1;
    QTest::newRow("No only refills") << 3 << 5 << false << 0 << 1;
    // A week is read in the background: the refill after the delete too.
    QTest::newRow("a week, rows 2 to 4") << 2 << 4 << true << 3 << 7;
}

void tst_maintenance::clearDataDeletesTheSelectedRows()
{
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(bool, yes);
    QFETCH(int, deleted);
    QFETCH(int, days);
    Station s;
    s.call(QStringLiteral("2026-03-14"));
    frmClearData w(s.connection, s.session, s.clock, s.prompt);
    QCOMPARE(w.windowTitle(), QStringLiteral("Clear Data"));
    // Today's five called tokens; the week adds yesterday's A4 and X1 to X3 of the 10th.
    const int listed = days == 1 ? 5 : 9;
    test::control<QDateEdit>(&w, "dtFrom")->setDate(QDate(2026, 3, 14).addDays(1 - days));
    auto* list = test::control<QComboBox>(&w, "cmbDept");
    list->setCurrentIndex(list->findText(QStringLiteral("All")));
    emit list->activated(list->currentIndex());
    QCOMPARE(w.filling(), days >= 4);
    QTRY_VERIFY(!w.filling());
    Grid* fg = w.grid();
    QCOMPARE(fg->rows(), listed + 1);
    QStringList keys;
    for (int r = qMin(start, end); r <= qMax(start, end); ++r)
        keys << fg->textMatrix(r, 0);
    fg->setRow(start);
    fg->setSelectedRow(end);
    // Another station adds a token meanwhile: the refill shows it.
    s.site.ticket(s.site.consult, 7, QStringLiteral("A"), QStringLiteral("2026-03-14"), s.site.counter1,
                  QStringLiteral("12:30:00"), QStringLiteral("12:31:00"));
    const int before = s.count("tblTicket");

    s.prompt.answers.enqueue(yes);
    QTest::mouseClick(test::control<QPushButton>(&w, "Command3"), Qt::LeftButton);
    QCOMPARE(s.prompt.questions, QStringList{QStringLiteral("Are you want to Delete?              ")});
    QCOMPARE(s.count("tblTicket"), before - deleted);
    for (const QString& key : keys)
        QCOMPARE(s.site.temp.db().scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE tickAuto=?"), {key}).toInt(),
                 yes ? 0 : 1);
    QTRY_VERIFY(!w.filling());
    QCOMPARE(fg->rows(), listed + 1 - deleted + 1);
    QCOMPARE(s.count("tblCall"), 1); // call records stay with their tokens gone
    QVERIFY(s.prompt.messages.isEmpty());
}

void tst_maintenance::callDataBeforeTheDayGoes()
{
    Station s;
    for (const char* day : {"2026-02-28", "2026-03-13", "2026-03-14", "2026-03-14"})
        s.call(QLatin1String(day));
    const int tickets = s.count("tblTicket");
    frmcallDelete w(s.connection, s.clock, s.prompt);
    QCOMPARE(w.windowTitle(), QStringLiteral("Delete Call Data"));
    QCOMPARE(test::control<QDateEdit>(&w, "dtFrom")->date(), QDate(2026, 3, 14));
    auto* button = test::control<QPushButton>(&w, "Command1");
    QCOMPARE(button->text(), QStringLiteral("Delete "));

    QTest::mouseClick(button, Qt::LeftButton); // No
    QCOMPARE(s.count("tblCall"), 4);
    s.prompt.answers.enqueue(true);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(s.prompt.questions.last(), QStringLiteral("Do you want to Delete "));
    QCOMPARE(s.prompt.messages, QStringList{QStringLiteral("Successfully Deleted 2")});
    QCOMPARE(s.count("tblCall"), 2); // today's feed stays
    QCOMPARE(s.count("tblTicket"), tickets);
}

void tst_maintenance::backupWhileAnotherStationIssues()
{
    Station s;
    // Another process keeps issuing tokens while the copy is taken.
    QProcess issuer;
    issuer.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl"),
                 {QStringLiteral("--db"), s.site.temp.url().toString(true), QStringLiteral("issue"),
                  QStringLiteral("Consultation"), QStringLiteral("--count"), QStringLiteral("400")});
    QVERIFY(issuer.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(s.count("tblTicket") > 30, 30000);
    const Backup::Result r = Backup::backup(*s.connection.db(), s.folder.path());
    QVERIFY2(r.status == Backup::Status::Done, qPrintable(r.message));
    QVERIFY(issuer.waitForFinished(120000));
    QCOMPARE(issuer.exitCode(), 0);
    QCOMPARE(QFileInfo(r.path).fileName(), sqlite() ? QStringLiteral("data.mdb") : QStringLiteral("data.dump"));
    if (!sqlite())
        return;
    QString why;
    QVERIFY2(Backup::isTallyvoDatabase(r.path, &why), qPrintable(why));
    Database copy(DbUrl::sqlite(r.path));
    QVERIFY(copy.open());
    const int copied = copy.scalar(QStringLiteral("SELECT count(*) FROM tblTicket")).toInt();
    QVERIFY(copied > 30);
    QVERIFY(copied <= s.count("tblTicket"));
    QVERIFY(!QFileInfo::exists(r.path + QStringLiteral(".part")));
}

void tst_maintenance::restoreRefusesWhatIsNotABackup_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("a text file") << "text";
    QTest::newRow("a database of another program") << "other";
    QTest::newRow("a damaged backup") << "damaged";
    QTest::newRow("the right tables with other columns") << "columns";
    QTest::newRow("a newer schema") << "newer";
    QTest::newRow("a FIFO") << "fifo";
}

void tst_maintenance::restoreRefusesWhatIsNotABackup()
{
    QFETCH(QString, kind);
    Station s;
    const QString file = s.folder.filePath(QStringLiteral("data.mdb"));
    if (kind == QLatin1String("text")) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, 'x'));
    } else if (kind == QLatin1String("other")) {
        Database other(DbUrl::sqlite(file));
        QVERIFY(other.open());
        other.run(QStringLiteral("CREATE TABLE customers (id INTEGER, name TEXT)"));
    } else if (kind == QLatin1String("fifo")) {
        QVERIFY(::mkfifo(QFile::encodeName(file).constData(), 0600) == 0);
    } else {
        // A backup of this site, changed the way a backup of some other program or version is.
        Database& live = *s.connection.db();
        const int newer = Schema::latestVersion() + 1;
        if (kind == QLatin1String("columns"))
            live.run(QStringLiteral("ALTER TABLE tblTicket RENAME COLUMN ref TO reference"));
        else if (kind == QLatin1String("newer"))
            live.run(QStringLiteral("INSERT INTO tblversion (version) VALUES (?)"), {newer});
        const Backup::Result b = Backup::backup(live, s.folder.path());
        QVERIFY2(b.status == Backup::Status::Done, qPrintable(b.message));
        if (kind == QLatin1String("columns"))
            live.run(QStringLiteral("ALTER TABLE tblTicket RENAME COLUMN reference TO ref"));
        else if (kind == QLatin1String("newer"))
            live.run(QStringLiteral("DELETE FROM tblversion WHERE version=?"), {newer});
        if (kind == QLatin1String("damaged")) {
            QFile f(b.path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.resize(sqlite() ? f.size() / 2 : 64);
        }
    }
    const int tickets = s.count("tblTicket");
    const QString source = s.folder.filePath(sqlite() || kind == QLatin1String("text") || kind == QLatin1String("other")
                                                     || kind == QLatin1String("fifo")
                                                 ? QStringLiteral("data.mdb")
                                                 : QStringLiteral("data.dump"));
    QElapsedTimer timer;
    timer.start();
    const Backup::Result r = Backup::restore(*s.connection.db(), source);
    QCOMPARE(int(r.status), int(Backup::Status::NotADatabase));
    QVERIFY(timer.elapsed() < 30000); // a FIFO is not read
    QVERIFY(!r.message.isEmpty());
    if (kind == QLatin1String("columns"))
        QVERIFY2(r.message.contains(QLatin1String("tblticket")), qPrintable(r.message));
    if (kind == QLatin1String("newer"))
        QVERIFY2(r.message.contains(QLatin1String("newer")), qPrintable(r.message));
    if (kind == QLatin1String("fifo"))
        QVERIFY2(r.message.contains(QLatin1String("not a regular file")), qPrintable(r.message));
    QVERIFY(r.safetyCopy.isEmpty());
    QCOMPARE(s.count("tblTicket"), tickets);
    // The site goes on working: a fresh connection prepares it and takes a token.
    QVERIFY2(s.connection.connectDb(), qPrintable(s.connection.lastError()));
    s.connection.db()->run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate) VALUES (?, 90, '2026-03-14')"),
                           {s.site.consult});
    QCOMPARE(s.count("tblTicket"), tickets + 1);
}

void tst_maintenance::restoreGivesUpWhileAStationHoldsTheData()
{
    Station s;
    const Backup::Result b = Backup::backup(*s.connection.db(), s.folder.path());
    QVERIFY2(b.status == Backup::Status::Done, qPrintable(b.message));
    const int tickets = s.count("tblTicket");
    // Another station sits in an open transaction: a write on the embedded database, a read
    // that holds the token table on the server.
    std::unique_ptr<Database> other = s.site.temp.openAnother();
    other->run(sqlite() ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
    other->run(QStringLiteral("SELECT count(*) FROM tblTicket")).next();
    // A third station issues meanwhile on the server; on the embedded database the open write
    // keeps every writer out, the restore's and the station's alike.
    QProcess issuer;
    if (!sqlite()) {
        issuer.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl"),
                     {QStringLiteral("--db"), s.site.temp.url().toString(true), QStringLiteral("issue"),
                      QStringLiteral("Consultation"), QStringLiteral("--count"), QStringLiteral("40")});
        QVERIFY(issuer.waitForStarted());
    }
    Backup::Control control;
    control.lockWaitMs = 1500;
    QElapsedTimer timer;
    timer.start();
    const Backup::Result r = Backup::restore(*s.connection.db(), b.path, control);
    const qint64 took = timer.elapsed();
    QCOMPARE(int(r.status), int(Backup::Status::Busy));
    QVERIFY2(r.message.startsWith(QLatin1String("Other stations are working on the database")), qPrintable(r.message));
    QVERIFY2(took < 20000, qPrintable(QString::number(took)));
    if (!sqlite()) {
        QVERIFY(issuer.waitForFinished(60000));
        QCOMPARE(issuer.exitCode(), 0);
        QCOMPARE(s.count("tblTicket"), tickets + 40);
    }
    other->run(QStringLiteral("ROLLBACK"));
    // Nothing was taken back: the tokens issued meanwhile are all there.
    QCOMPARE(s.count("tblTicket"), tickets + (sqlite() ? 0 : 40));

    // A restore cancelled by the user changes nothing either.
    control.cancelled = [] { return true; };
    const Backup::Result cancelled = Backup::restore(*s.connection.db(), b.path, control);
    QCOMPARE(int(cancelled.status), int(Backup::Status::Cancelled));
    QCOMPARE(s.count("tblTicket"), tickets + (sqlite() ? 0 : 40));
}

void tst_maintenance::copiesInTheSameSecondKeepTheirOwnNames()
{
    Station s;
    const Backup::Result b = Backup::backup(*s.connection.db(), s.folder.path());
    QVERIFY2(b.status == Backup::Status::Done, qPrintable(b.message));
    const Backup::Result first = Backup::restore(*s.connection.db(), b.path);
    const Backup::Result second = Backup::restore(*s.connection.db(), b.path);
    QVERIFY2(first.status == Backup::Status::Done, qPrintable(first.message));
    QVERIFY2(second.status == Backup::Status::Done, qPrintable(second.message));
    QVERIFY(first.safetyCopy != second.safetyCopy);
    // Backups and safety copies hold the password hashes: the owner's alone.
    for (const QString& file : {b.path, first.safetyCopy, second.safetyCopy}) {
        QVERIFY2(QFileInfo::exists(file), qPrintable(file));
        QCOMPARE(QFileInfo(file).permissions() & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                 QFile::Permissions());
    }

    // Two stations back up into one folder at the same moment: both succeed, one backup stays,
    // and nothing half-written is left beside it.
    QTemporaryDir shared;
    QList<QProcess*> runs;
    for (int i = 0; i < 2; ++i) {
        auto* p = new QProcess(this);
        p->start(QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl"),
                 {QStringLiteral("--db"), s.site.temp.url().toString(true), QStringLiteral("backup"), shared.path()});
        runs << p;
    }
    for (QProcess* p : runs) {
        QVERIFY(p->waitForFinished(120000));
        QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
        delete p;
    }
    const QStringList left = QDir(shared.path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(left, QStringList{Backup::fileName(*s.connection.db())});
    QString why;
    if (sqlite())
        QVERIFY2(Backup::isTallyvoDatabase(QDir(shared.path()).filePath(left.first()), &why), qPrintable(why));
}

// A backup taken before tokens had web keys is still the site's: it is restored and brought up
// to date, its tokens keeping their rows without a key.
void tst_maintenance::backupOfAnOlderSchemaIsRestoredAndUpgraded()
{
    Station s;
    Database& live = *s.connection.db();
    const int before = 4;
    // What the steps after it added goes too.
    live.run(QStringLiteral("DROP INDEX ux_ticket_request"));
    live.run(QStringLiteral("ALTER TABLE tblTicket DROP COLUMN requestKey"));
    live.run(QStringLiteral("DROP INDEX ux_ticket_webkey"));
    live.run(QStringLiteral("ALTER TABLE tblTicket DROP COLUMN webKey"));
    live.run(QStringLiteral("ALTER TABLE tblTicket DROP COLUMN firstCall"));
    live.run(QStringLiteral("ALTER TABLE tblService DROP COLUMN slaMinutes"));
    // Nor had it the tables later steps add.
    const QMap<QString, QStringList> then = Schema::columnsAt(before);
    for (const QString& table : Schema::columnsAt(Schema::latestVersion()).keys()) {
        if (!then.contains(table))
            live.run(QStringLiteral("DROP TABLE %1").arg(table));
    }
    live.run(QStringLiteral("DELETE FROM tblversion WHERE version > ?"), {before});
    QCOMPARE(Schema::version(live), before);
    const int tickets = s.count("tblTicket");
    QVERIFY(tickets > 0);
    const Backup::Result b = Backup::backup(live, s.folder.path());
    QVERIFY2(b.status == Backup::Status::Done, qPrintable(b.message));

    // The site moves on with this program, then goes back to the older backup.
    Schema::upgrade(live);
    live.run(QStringLiteral("DELETE FROM tblTicket"));
    const Backup::Result r = Backup::restore(live, b.path);
    QVERIFY2(r.status == Backup::Status::Done, qPrintable(r.message));
    Database& restored = *s.connection.db();
    QCOMPARE(Schema::version(restored), Schema::latestVersion());
    QCOMPARE(restored.scalar(QStringLiteral("SELECT count(*) FROM tblTicket")).toInt(), tickets);
    QCOMPARE(restored.scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE webKey IS NULL")).toInt(), tickets);
}

void tst_maintenance::restoreSaysWhatItLoses()
{
    Station s; // today is 2026-03-14, 13:00
    const Backup::Result b = Backup::backup(*s.connection.db(), s.folder.path());
    QVERIFY2(b.status == Backup::Status::Done, qPrintable(b.message));
    Backup::Loss loss;
    QCOMPARE(int(Backup::check(*s.connection.db(), b.path, s.clock, &loss).status), int(Backup::Status::Done));
    QVERIFY2(loss.isEmpty(), qPrintable(loss.text()));
    QVERIFY(loss.text().isEmpty());

    // The site works on after the backup: three tokens, the last two minutes ago, and two calls.
    for (int n = 20; n < 23; ++n)
        s.site.ticket(s.site.consult, n, QStringLiteral("A"), QStringLiteral("2026-03-14"), 0,
                      QStringLiteral("12:%1:00").arg(n + 36), QString());
    s.call(QStringLiteral("2026-03-14"));
    s.call(QStringLiteral("2026-03-14"));
    s.call(QStringLiteral("2026-03-13"));
    QCOMPARE(int(Backup::check(*s.connection.db(), b.path, s.clock, &loss).status), int(Backup::Status::Done));
    QCOMPARE(loss.tokens, 3);
    QCOMPARE(loss.calls, 2);
    QCOMPARE(loss.minutesSinceWrite, 2);
    QVERIFY2(loss.text().contains(QLatin1String("lacks 3 of today's tokens and 2 of today's calls")), qPrintable(loss.text()));
    QVERIFY2(loss.text().contains(QLatin1String("2 minutes ago")), qPrintable(loss.text()));

    // The window's question says it before "Type 'Yes'"; No leaves everything.
    frmBackup w(s.connection, s.clock, s.prompt);
    s.prompt.fileAnswers.enqueue(b.path);
    QTest::mouseClick(test::control<QPushButton>(&w, "Command2"), Qt::LeftButton);
    const int tickets = s.count("tblTicket");
    s.prompt.inputAnswers.enqueue(QStringLiteral("no"));
    QTest::mouseClick(test::control<QPushButton>(&w, "Command3"), Qt::LeftButton);
    QCOMPARE(s.prompt.inputs, QStringList{loss.text() + QStringLiteral("\n\nType 'Yes' to Restore ")});
    QVERIFY(s.prompt.messages.isEmpty());
    QCOMPARE(s.count("tblTicket"), tickets);
}

void tst_maintenance::restoreBringsTheDataBack_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("restored");
    QTest::newRow("yes") << "yes" << true;
    QTest::newRow("YES") << "YES" << true;
    QTest::newRow("Yes") << "Yes" << true;
    QTest::newRow("no") << "no" << false;
    QTest::newRow("cancelled") << "" << false;
}

void tst_maintenance::restoreBringsTheDataBack()
{
    QFETCH(QString, answer);
    QFETCH(bool, restored);
    Station s;
    const int tickets = s.count("tblTicket");
    frmBackup w(s.connection, s.clock, s.prompt);
    QCOMPARE(w.windowTitle(), QStringLiteral("Backup & Restore"));
    s.prompt.fileAnswers.enqueue(s.folder.path());
    s.prompt.answers.enqueue(true);
    QTest::mouseClick(test::control<QPushButton>(&w, "Command4"), Qt::LeftButton); // no folder yet: asked for one
    QCOMPARE(s.prompt.questions, QStringList{QStringLiteral("Do you want to backup")});
    QCOMPARE(s.prompt.messages.size(), 1);
    QVERIFY2(s.prompt.messages[0].startsWith(QStringLiteral("Backup Completed Successfully \n")),
             qPrintable(s.prompt.messages[0]));
    const QString file = s.folder.filePath(sqlite() ? QStringLiteral("data.mdb") : QStringLiteral("data.dump"));
    QVERIFY(QFileInfo::exists(file));

    s.site.temp.db().run(QStringLiteral("DELETE FROM tblTicket WHERE no_abr LIKE 'A%'"));
    const int afterDelete = s.count("tblTicket");
    s.prompt.fileAnswers.enqueue(file);
    QTest::mouseClick(test::control<QPushButton>(&w, "Command2"), Qt::LeftButton);
    QCOMPARE(test::control<QLineEdit>(&w, "Text1")->text(), file);
    if (!answer.isEmpty())
        s.prompt.inputAnswers.enqueue(answer);
    s.prompt.messages.clear();
    QTest::mouseClick(test::control<QPushButton>(&w, "Command3"), Qt::LeftButton);
    QCOMPARE(s.prompt.inputs, QStringList{QStringLiteral("Type 'Yes' to Restore ")});
    QCOMPARE(s.count("tblTicket"), restored ? tickets : afterDelete);
    if (!restored) {
        QVERIFY(s.prompt.messages.isEmpty());
        return;
    }
    QCOMPARE(s.prompt.messages.size(), 1);
    QVERIFY2(s.prompt.messages[0].startsWith(QStringLiteral("Restore Complete!\n")), qPrintable(s.prompt.messages[0]));
    // The database as it was before the restore is kept, and the message names it.
    const QString safety = s.prompt.messages[0].section(QStringLiteral("kept in "), 1);
    QVERIFY2(QFileInfo::exists(safety), qPrintable(safety));
    QVERIFY(safety.contains(QLatin1String("before-restore")));
    // The restored database is the station's: a fresh connection sees it too.
    w.close();
    QCOMPARE(s.connection.db()->scalar(QStringLiteral("SELECT count(*) FROM tblTicket")).toInt(), tickets);
}

void tst_maintenance::backupWindowGuards()
{
    Station s;
    frmBackup w(s.connection, s.clock, s.prompt);
    if (sqlite()) {
        // The database's own folder would replace the database.
        s.prompt.fileAnswers.enqueue(QFileInfo(s.site.temp.url().path).absolutePath());
        QTest::mouseClick(test::control<QPushButton>(&w, "Command5"), Qt::LeftButton);
        s.prompt.answers.enqueue(true);
        QTest::mouseClick(test::control<QPushButton>(&w, "Command4"), Qt::LeftButton);
        QCOMPARE(s.prompt.messages, QStringList{QStringLiteral("Select a different folder ")});
        // Nor is the database its own backup.
        s.prompt.fileAnswers.enqueue(s.site.temp.url().path);
        QTest::mouseClick(test::control<QPushButton>(&w, "Command2"), Qt::LeftButton);
        QTest::mouseClick(test::control<QPushButton>(&w, "Command3"), Qt::LeftButton);
        QCOMPARE(s.prompt.messages.last(), QStringLiteral("Source file should not be same"));
        QVERIFY(s.prompt.inputs.isEmpty());
    }
    // No folder and the folder browser cancelled: nothing is asked or written.
    frmBackup fresh(s.connection, s.clock, s.prompt);
    s.prompt.messages.clear();
    s.prompt.questions.clear();
    QTest::mouseClick(test::control<QPushButton>(&fresh, "Command4"), Qt::LeftButton);
    QVERIFY(s.prompt.questions.isEmpty());
    QVERIFY(s.prompt.messages.isEmpty());
}

void tst_maintenance::commandLine()
{
    Station s;
    for (const char* day : {"2026-03-01", "2026-03-02", "2026-03-14"})
        s.call(QLatin1String(day));
    auto ctl = [&](QStringList args) {
        QProcess p;
        p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl"),
                QStringList{QStringLiteral("--db"), s.site.temp.url().toString(true)} + args);
        p.waitForFinished(120000);
        return std::make_tuple(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()).trimmed(),
                               QString::fromUtf8(p.readAllStandardError()));
    };
    auto [code, out, err] = ctl({QStringLiteral("clear-calls"), QStringLiteral("--before"), QStringLiteral("2026-03-14")});
    QCOMPARE(code, 0);
    QCOMPARE(out, QStringLiteral("2"));
    QCOMPARE(s.count("tblCall"), 1);
    for (const char* day : {"14-03-2026", "-0001-01-01", "2026-02-30"}) {
        std::tie(code, out, err) = ctl({QStringLiteral("clear-calls"), QStringLiteral("--before"), QLatin1String(day)});
        QCOMPARE(code, 2);
    }
    QCOMPARE(s.count("tblCall"), 1);

    std::tie(code, out, err) = ctl({QStringLiteral("backup"), s.folder.path()});
    QVERIFY2(code == 0, qPrintable(err));
    QVERIFY(QFileInfo::exists(out));
    const QString backupFile = out;
    s.site.temp.db().run(QStringLiteral("DELETE FROM tblTicket"));
    // The refusal without --yes says what would be lost: tokens issued since the backup today.
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    for (int n = 1; n <= 4; ++n)
        s.site.ticket(s.site.consult, n, QStringLiteral("A"), today, 0, QString(), QString());
    std::tie(code, out, err) = ctl({QStringLiteral("restore"), backupFile});
    QCOMPARE(code, 2); // not without --yes
    QVERIFY2(err.contains(QLatin1String("lacks 4 of today's tokens")), qPrintable(err));
    QCOMPARE(s.count("tblTicket"), 4);
    std::tie(code, out, err) = ctl({QStringLiteral("restore"), backupFile, QStringLiteral("--yes")});
    QVERIFY2(code == 0, qPrintable(err));
    QCOMPARE(s.count("tblTicket"), 10);
    std::tie(code, out, err) = ctl({QStringLiteral("restore"), s.folder.filePath(QStringLiteral("missing.mdb")),
                                    QStringLiteral("--yes")});
    QCOMPARE(code, 1);
    QCOMPARE(err.count(QLatin1Char('\n')), 1);
    // A database whose schema can no longer be brought up to date is still restored from its
    // backup, and works again.
    s.site.temp.db().run(QStringLiteral("DELETE FROM tblversion WHERE version >= 3"));
    std::tie(code, out, err) = ctl({QStringLiteral("schema-version")});
    QVERIFY2(code == 1 && err.contains(QLatin1String("cannot be prepared")), qPrintable(err));
    std::tie(code, out, err) = ctl({QStringLiteral("restore"), backupFile, QStringLiteral("--yes")});
    QVERIFY2(code == 0, qPrintable(err));
    std::tie(code, out, err) = ctl({QStringLiteral("schema-version")});
    QCOMPARE(out, QString::number(Schema::latestVersion()));
}

void tst_maintenance::backupKeepsTheNewest_data()
{
    QTest::addColumn<int>("older"); // dated backups in the folder before the run, and one more of
                                    // the newest's second when there are two
    QTest::addColumn<int>("keep");
    QTest::addColumn<bool>("diskFull"); // the new backup cannot be written whole
    QTest::addColumn<int>("left");      // dated backups afterwards, the newest

    QTest::newRow("keeps N") << 5 << 3 << false << 3;
    QTest::newRow("fewer than N present") << 1 << 3 << false << 2;
    QTest::newRow("keep 1 leaves the new one alone") << 2 << 1 << false << 1;
    QTest::newRow("failed new backup keeps all") << 3 << 1 << true << 4;
}

void tst_maintenance::backupKeepsTheNewest()
{
    QFETCH(int, older);
    QFETCH(int, keep);
    QFETCH(bool, diskFull);
    QFETCH(int, left);
    Station s;
    const QString suffix = QFileInfo(Backup::fileName(*s.connection.db())).suffix();
    const QString other = suffix == QLatin1String("mdb") ? QStringLiteral("dump") : QStringLiteral("mdb");
    QTemporaryDir folder;
    QDir dir(folder.path());
    auto write = [&](const QString& name) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("an older backup");
    };
    QStringList dated;
    for (int i = 1; i <= older; ++i) {
        const QString day = QStringLiteral("200101%1").arg(i, 2, 10, QLatin1Char('0'));
        dated << QStringLiteral("tallyvo-") + day + QStringLiteral("T0") + QString::number(i) +
                QStringLiteral("0000Z.") + suffix;
        write(dated.last());
    }
    // Two backups of one second: the second got "-2" and is the newer of the two.
    if (older >= 2) {
        dated.insert(dated.size() - 1, dated.last());
        dated.last().replace(QLatin1Char('.'), QStringLiteral("-2."));
        write(dated.last());
    }
    // What the rotation must never touch: a manual backup, other files, the other engine's
    // backups, a folder and a link that look like its own.
    QTemporaryDir outside;
    const QString target = QDir(outside.path()).filePath(QStringLiteral("precious.txt"));
    QFile precious(target);
    QVERIFY(precious.open(QIODevice::WriteOnly));
    precious.write("not a backup");
    precious.close();
    const QStringList foreign{QStringLiteral("data.") + suffix, QStringLiteral("notes.txt"),
                              QStringLiteral("tallyvo-19990101T000000Z.") + suffix + QStringLiteral(".old"),
                              QStringLiteral("tallyvo-19990101T000000Z.") + other,
                              QStringLiteral("tallyvo-19990102T000000Z.") + suffix,
                              QStringLiteral("tallyvo-19990103T000000Z.") + suffix};
    for (const QString& name : foreign.mid(0, 4))
        write(name);
    QVERIFY(dir.mkdir(foreign[4]));
    QVERIFY(QFile::link(target, dir.filePath(foreign[5])));

    // A full disk, as the new backup is written: no file of the run may grow past 64 KiB, which
    // the site's database can still be opened with and its backup, with these tokens, outgrows.
    if (diskFull) {
        Database& db = s.site.temp.db();
        Transaction t(db);
        for (int n = 1; n <= 4000; ++n)
            db.run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, no_abr) VALUES (?, ?, "
                                  "'2026-01-01', ?)"),
                   {s.site.xray, 1000 + n, QUuid::createUuid().toString()});
        t.commit();
    }
    QProcess p;
    QStringList args{QStringLiteral("--db"), s.site.temp.url().toString(true), QStringLiteral("backup"),
                     QStringLiteral("--keep"), QString::number(keep), folder.path()};
    const QString ctl = QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl");
    if (diskFull)
        p.start(QStringLiteral("/bin/bash"),
                QStringList{QStringLiteral("-c"), QStringLiteral("trap '' XFSZ; ulimit -f 64; exec \"$0\" \"$@\""), ctl} + args);
    else
        p.start(ctl, args);
    QVERIFY(p.waitForFinished(120000));
    const QStringList out = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString err = QString::fromUtf8(p.readAllStandardError());

    QStringList expected = dated;
    if (diskFull) {
        QCOMPARE(p.exitCode(), 1);
        QCOMPARE(err.count(QLatin1Char('\n')), 1);
        QVERIFY2(!err.contains(QLatin1String("cannot be used")), qPrintable(err)); // it failed writing, not opening
        QVERIFY(out.isEmpty());
    } else {
        QVERIFY2(p.exitCode() == 0, qPrintable(err));
        const QString made = QFileInfo(out.value(0)).fileName();
        QVERIFY2(Backup::isKeptName(*s.connection.db(), made), qPrintable(made));
        Backup::Loss loss;
        QCOMPARE(Backup::check(*s.connection.db(), out.value(0), s.clock, &loss).status, Backup::Status::Done);
        expected << made;
        const QStringList removed = expected.mid(0, expected.size() - left);
        expected = expected.mid(expected.size() - left);
        QCOMPARE(out.size(), 1 + removed.size());
        for (const QString& gone : removed)
            QVERIFY2(out.contains(QStringLiteral("removed ") + dir.filePath(gone)), qPrintable(out.join(QLatin1Char('|'))));
    }
    QStringList now = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& name : foreign) {
        QVERIFY2(now.removeOne(name), qPrintable(name));
    }
    now.sort();
    expected.sort();
    QCOMPARE(now, expected); // nothing half-written either
    QCOMPARE(expected.size(), left);
    QVERIFY(QFileInfo(target).exists());
}

void tst_maintenance::restoreToolEndsWithItsCaller()
{
    if (sqlite())
        QSKIP("the embedded database is restored in the program's own process");
    Station s;
    const Backup::Result b = Backup::backup(*s.connection.db(), s.folder.path());
    QVERIFY2(b.status == Backup::Status::Done, qPrintable(b.message));
    // An open transaction keeps pg_restore waiting, so it is surely running when its caller dies.
    std::unique_ptr<Database> other = s.site.temp.openAnother();
    other->run(QStringLiteral("BEGIN"));
    other->run(QStringLiteral("SELECT count(*) FROM tblTicket")).next();
    QProcess ctl;
    ctl.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl"),
              {QStringLiteral("--db"), s.site.temp.url().toString(true), QStringLiteral("restore"), b.path,
               QStringLiteral("--yes")});
    QVERIFY(ctl.waitForStarted());
    auto restoring = [&] {
        // The restoring pg_restore: the one that names the backup and works in one transaction.
        for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile cmd(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (!cmd.open(QIODevice::ReadOnly))
                continue;
            const QByteArray line = cmd.readAll();
            if (line.contains(QFile::encodeName(b.path)) && line.contains("--single-transaction"))
                return true;
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(restoring(), 20000);
    ::kill(static_cast<pid_t>(ctl.processId()), SIGKILL);
    QVERIFY(ctl.waitForFinished(10000));
    // Under a loaded machine the parent-death signal and the exit take a moment.
    QTRY_VERIFY_WITH_TIMEOUT(!restoring(), 15000);
    other->run(QStringLiteral("ROLLBACK"));
}

TALLYVO_TEST_MAIN(tst_maintenance)
#include "tst_maintenance.moc"
