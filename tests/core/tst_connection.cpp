#include "TestSupport.h"

#include "core/Connection.h"
#include "core/Schema.h"
#include "core/Session.h"
#include "core/ui/frmSql.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>

using namespace tallyvo;

class tst_connection : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void targetFollowsSettings();
    void embeddedFileIsCreatedWithSchema();
    void corruptFileIsNamedAndOpensWindow();
    void refusedServerFailsQuickly();
    void silentServerTimesOut();
    void serverConnects();
    void sqlWindowSavesAndTestsSavedValues();
};

void tst_connection::targetFollowsSettings()
{
    test::TempSettings s;
    Session session;
    Connection c(s.store, session);

    c.loadSqlValues();
    DbUrl u = c.target();
    QCOMPARE(u.engine, Engine::Sqlite);
    QCOMPARE(u.path, Connection::defaultDatabaseFile());

    s.store.set(Keys::SqlDatabase, QStringLiteral("/srv/site.sqlite"));
    c.loadSqlValues();
    QCOMPARE(c.target().path, QStringLiteral("/srv/site.sqlite"));

    s.store.set(Keys::SqlEngine, QStringLiteral("PostgreSQL"));
    s.store.set(Keys::SqlHost, QStringLiteral("db.site:6543"));
    s.store.set(Keys::SqlDatabase, QStringLiteral("queue"));
    s.store.set(Keys::SqlUser, QStringLiteral("desk"));
    s.store.set(Keys::SqlPassword, QStringLiteral("pw'1"));
    // Values come from the session, loaded from the store: nothing changes until they are reloaded.
    QCOMPARE(c.target().database, QStringLiteral("/srv/site.sqlite"));
    c.loadSqlValues();
    u = c.target();
    QCOMPARE(u.engine, Engine::Postgres);
    QCOMPARE(u.host, QStringLiteral("db.site"));
    QCOMPARE(u.port, 6543);
    QCOMPARE(u.database, QStringLiteral("queue"));
    // No authentication mode stored: the login travels with the connection.
    QCOMPARE(u.user, QStringLiteral("desk"));
    QCOMPARE(u.password, QStringLiteral("pw'1"));

    s.store.set(Keys::SqlAut, QStringLiteral("Windows Authentication"));
    u = c.target();
    QCOMPARE(u.user, QString());
    QCOMPARE(u.password, QString());

    c.setOverride(DbUrl::sqlite(QStringLiteral("/tmp/override.sqlite")));
    QCOMPARE(c.target().path, QStringLiteral("/tmp/override.sqlite"));
}

void tst_connection::embeddedFileIsCreatedWithSchema()
{
    QTemporaryDir dir;
    test::TempSettings s;
    Session session;
    Connection c(s.store, session);
    const QString file = dir.filePath(QStringLiteral("new/site.sqlite"));
    c.setOverride(DbUrl::sqlite(file));
    QVERIFY2(c.connectDb(), qPrintable(c.lastError()));
    QVERIFY(QFile::exists(file));
    QCOMPARE(Schema::version(*c.db()), Schema::latestVersion());

    // A second connect replaces the connection; whoever still holds the old one can use it.
    auto old = c.db();
    QVERIFY(c.connectDb());
    QVERIFY(old != c.db());
    QCOMPARE(old->scalar(QStringLiteral("SELECT count(*) FROM tbluser")).toInt(), 1);
}

void tst_connection::corruptFileIsNamedAndOpensWindow()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("broken.sqlite"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(8192, 'x'));
    f.close();

    test::TempSettings s;
    Session session;
    Connection c(s.store, session);
    c.setOverride(DbUrl::sqlite(file));
    QString reported;
    c.setFailureHandler([&](const QString& why) { reported = why; });
    QVERIFY(!c.connectDb());
    QVERIFY2(reported.contains(file), qPrintable(reported));
    QCOMPARE(c.lastError(), reported);
    QVERIFY(!c.db()->isOpen());
    // Queries on the failed connection fail cleanly, and say which database is not there.
    try {
        c.db()->run(QStringLiteral("SELECT 1"));
        QFAIL("a query ran on a connection that failed to open");
    } catch (const DbError& e) {
        QVERIFY2(e.text().contains(QStringLiteral("not connected")) && e.text().contains(file), qPrintable(e.text()));
    }
}

void tst_connection::refusedServerFailsQuickly()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close(); // nothing listens there now

    test::TempSettings s;
    Session session;
    Connection c(s.store, session);
    c.setOverride(DbUrl::parse(QStringLiteral("postgresql://u:p@127.0.0.1:%1/x").arg(port)));
    int failures = 0;
    c.setFailureHandler([&](const QString&) { ++failures; });
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!c.connectDb());
    QVERIFY(timer.elapsed() < 5000);
    QCOMPARE(failures, 1);
    QVERIFY(c.lastError().contains(QStringLiteral("127.0.0.1")));
}

void tst_connection::silentServerTimesOut()
{
    // Accepts the connection and never answers: the client gives up after its 10 s limit.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    test::TempSettings s;
    Session session;
    Connection c(s.store, session);
    c.setOverride(DbUrl::parse(QStringLiteral("postgresql://u:p@127.0.0.1:%1/x").arg(silent.serverPort())));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!c.connectDb());
    QVERIFY2(timer.elapsed() < 15000, qPrintable(QString::number(timer.elapsed())));
}

void tst_connection::serverConnects()
{
    const auto server = test::testServer();
    if (!server)
        QSKIP("no PostgreSQL server for this run");
    test::TempSettings s;
    Session session;
    Connection c(s.store, session);
    DbUrl wrong = *server;
    wrong.password += QStringLiteral("x");
    c.setOverride(wrong);
    QVERIFY(!c.connectDb());
    c.setOverride(*server);
    QVERIFY2(c.connectDb(), qPrintable(c.lastError()));
}

void tst_connection::sqlWindowSavesAndTestsSavedValues()
{
    QTemporaryDir dir;
    test::TempSettings s;
    Session session;
    test::ScriptedPrompt prompt;
    Connection c(s.store, session);
    const QString good = dir.filePath(QStringLiteral("good.sqlite"));
    s.store.set(Keys::SqlDatabase, good);
    frmSql w(s.store, session, c, prompt);
    w.show();
    QCOMPARE(w.windowTitle(), QStringLiteral("SQL Settings"));
    auto* database = w.findChild<QLineEdit*>(QStringLiteral("txtDatabase"));
    auto* aut = w.findChild<QComboBox*>(QStringLiteral("cmbAut"));
    auto* password = w.findChild<QLineEdit*>(QStringLiteral("txtPassword"));
    auto* test = w.findChild<QPushButton*>(QStringLiteral("cmdTest"));
    auto* save = w.findChild<QPushButton*>(QStringLiteral("cmdSave"));
    QVERIFY(database && aut && password && test && save);
    QCOMPARE(database->text(), good);
    QCOMPARE(aut->currentText(), QStringLiteral("SQL Authentication"));
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    QCOMPARE(session.sqlDatabase, good);

    // A path typed but not saved is not what the test uses.
    database->setText(QStringLiteral("/proc/no/such/place.sqlite"));
    QTest::mouseClick(test, Qt::LeftButton);
    QCOMPARE(prompt.messages, QStringList{QStringLiteral("Connection Success")});

    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(s.store.get(Keys::SqlDatabase), QStringLiteral("/proc/no/such/place.sqlite"));
    QCOMPARE(session.sqlDatabase, QStringLiteral("/proc/no/such/place.sqlite"));
    QCOMPARE(s.store.get(Keys::SqlAut), QStringLiteral("SQL Authentication"));
    QTest::mouseClick(test, Qt::LeftButton);
    QCOMPARE(prompt.messages.last(), QStringLiteral("Connection Failed"));
}

TALLYVO_TEST_MAIN(tst_connection)
#include "tst_connection.moc"
