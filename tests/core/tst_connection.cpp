#include "TestSupport.h"

#include "core/Connection.h"
#include "core/DirectRows.h"
#include "core/Schema.h"
#include "core/Session.h"
#include "core/StatementCache.h"
#include "core/ui/frmSql.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

using namespace tallyvo;

class tst_connection : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void targetFollowsSettings();
    void hostBoxTakesIpv6_data();
    void hostBoxTakesIpv6();
    void hostBoxTakesSeveralServers_data();
    void hostBoxTakesSeveralServers();
    void embeddedFileIsCreatedWithSchema();
    void corruptFileIsNamedAndOpensWindow();
    void damagedPageIsFoundWhenTheStationStarts();
    void refusedServerFailsQuickly();
    void silentServerTimesOut();
    void serverConnects();
    void sqlWindowSavesAndTestsSavedValues();
    void sqlWindowUnderOverrideTestsWhatItShows();
    void lostServerConnectionIsMadeAgain_data();
    void lostServerConnectionIsMadeAgain();
    void stationWorksAgainWhenItsServerIsBack();
};

namespace {

// Nobody but the owner may read or write it.
bool ownerOnly(const QString& path)
{
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
        QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    return QFileInfo::exists(path) && !(QFileInfo(path).permissions() & others);
}

// A server that can be taken off the network and put back: a forwarder to the real one, on a
// thread of its own since a station waits for its server without an event loop.
class ServerLink : public QObject {
public:
    ServerLink(QString host, quint16 port)
        : m_host(std::move(host))
        , m_port(port)
    {
        moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(this, [this] { up(); }, Qt::BlockingQueuedConnection);
    }
    ~ServerLink() override
    {
        QMetaObject::invokeMethod(this, [this] { down(); delete m_server; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    quint16 port() const { return m_listenPort; }
    // Every connection broken and none taken, as a server that has gone; then back on the same port.
    void cut() { QMetaObject::invokeMethod(this, [this] { down(); }, Qt::BlockingQueuedConnection); }
    void restore() { QMetaObject::invokeMethod(this, [this] { up(); }, Qt::BlockingQueuedConnection); }

private:
    void up()
    {
        if (!m_server) {
            m_server = new QTcpServer;
            QObject::connect(m_server, &QTcpServer::newConnection, this, [this] { accept(); });
        }
        m_server->listen(QHostAddress::LocalHost, m_listenPort);
        m_listenPort = m_server->serverPort();
    }
    void down()
    {
        if (m_server)
            m_server->close();
        for (QTcpSocket* s : std::as_const(m_sockets)) {
            s->abort();
            s->deleteLater();
        }
        m_sockets.clear();
    }
    void accept()
    {
        while (QTcpSocket* client = m_server->nextPendingConnection()) {
            auto* server = new QTcpSocket;
            m_sockets << client << server;
            QObject::connect(client, &QTcpSocket::readyRead, server, [client, server] { server->write(client->readAll()); });
            QObject::connect(server, &QTcpSocket::readyRead, client, [client, server] { client->write(server->readAll()); });
            QObject::connect(server, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
            QObject::connect(client, &QTcpSocket::disconnected, server, &QTcpSocket::disconnectFromHost);
            server->connectToHost(m_host, m_port);
            server->waitForConnected(5000);
        }
    }

    QThread m_thread;
    QString m_host;
    quint16 m_port;
    quint16 m_listenPort = 0;
    QTcpServer* m_server = nullptr;
    QList<QTcpSocket*> m_sockets;
};

} // namespace

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

void tst_connection::hostBoxTakesIpv6_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("name") << QStringLiteral(" db.site ") << QStringLiteral("db.site") << 5432;
    QTest::newRow("name:port") << QStringLiteral("db.site:6543") << QStringLiteral("db.site") << 6543;
    QTest::newRow("empty") << QString() << QStringLiteral("localhost") << 5432;
    QTest::newRow("::1") << QStringLiteral("::1") << QStringLiteral("::1") << 5432;
    QTest::newRow("[::1]") << QStringLiteral("[::1]") << QStringLiteral("::1") << 5432;
    QTest::newRow("[::1]:5433") << QStringLiteral("[::1]:5433") << QStringLiteral("::1") << 5433;
    QTest::newRow("full v6") << QStringLiteral("fd00:0:0:1::20") << QStringLiteral("fd00:0:0:1::20") << 5432;
}

void tst_connection::hostBoxTakesIpv6()
{
    QFETCH(QString, typed);
    QFETCH(QString, host);
    QFETCH(int, port);
    test::TempSettings s;
    Session session;
    Connection c(s.store, session);
    s.store.set(Keys::SqlEngine, QStringLiteral("PostgreSQL"));
    s.store.set(Keys::SqlHost, typed);
    s.store.set(Keys::SqlDatabase, QStringLiteral("queue"));
    c.loadSqlValues();
    const DbUrl u = c.target();
    QCOMPARE(u.host, host);
    QCOMPARE(u.port, port);
    if (host.contains(QLatin1Char(':')))
        QVERIFY2(u.describe().endsWith(QStringLiteral("[%1]:%2").arg(host).arg(port)), qPrintable(u.describe()));
}

void tst_connection::hostBoxTakesSeveralServers_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("servers"); // what the station connects to, or "refused"
    QTest::newRow("two") << QStringLiteral("db1:5432,db2:5433") << QStringLiteral("db1:5432,db2:5433");
    QTest::newRow("spaces, default port") << QStringLiteral(" db1 , db2 ") << QStringLiteral("db1:5432,db2:5432");
    QTest::newRow("v6") << QStringLiteral("[fd00::1]:5432,fd00::2") << QStringLiteral("[fd00::1]:5432,[fd00::2]:5432");
    QTest::newRow("empty entry") << QStringLiteral("db1,,db2") << QStringLiteral("refused");
    QTest::newRow("bad port") << QStringLiteral("db1,db2:70000") << QStringLiteral("refused");
    QTest::newRow("not a host") << QStringLiteral("db1,db 2") << QStringLiteral("refused");
}

void tst_connection::hostBoxTakesSeveralServers()
{
    QFETCH(QString, typed);
    QFETCH(QString, servers);
    test::TempSettings s;
    Session session;
    test::ScriptedPrompt prompt;
    Connection c(s.store, session);
    s.store.set(Keys::SqlEngine, QStringLiteral("PostgreSQL"));
    s.store.set(Keys::SqlHost, QStringLiteral("old.site"));
    frmSql w(s.store, session, c, prompt);
    w.show();
    test::control<QLineEdit>(&w, "txtHost")->setText(typed);
    QTest::mouseClick(test::control<QPushButton>(&w, "cmdSave"), Qt::LeftButton);
    c.loadSqlValues();
    if (servers == QLatin1String("refused")) {
        // Said at once, and the servers in use stay as they were.
        QCOMPARE(prompt.messages.size(), 1);
        QVERIFY2(prompt.messages.first().startsWith(QLatin1String("Host: ")), qPrintable(prompt.messages.first()));
        QCOMPARE(s.store.get(Keys::SqlHost), QStringLiteral("old.site"));
        return;
    }
    QVERIFY(prompt.messages.isEmpty());
    const DbUrl u = c.target();
    QCOMPARE(u.hostAndPort(), servers);
    // Of several servers a station takes the one that accepts writes.
    QVERIFY2(u.connectOptions().contains(QLatin1String("target_session_attrs='read-write'")),
             qPrintable(u.connectOptions()));
}

void tst_connection::embeddedFileIsCreatedWithSchema()
{
    QTemporaryDir dir;
    test::TempSettings s;
    Session session;
    Connection c(s.store, session);
    const QString file = dir.filePath(QStringLiteral("new/deeper/site.sqlite"));
    c.setOverride(DbUrl::sqlite(file));
    QStringList notices;
    c.setCreatedHandler([&](const QString& text) { notices << text; });
    QVERIFY2(c.connectDb(), qPrintable(c.lastError()));
    QVERIFY(QFile::exists(file));
    QCOMPARE(Schema::version(*c.db()), Schema::latestVersion());
    // The user is told which file was made; it and the folders made for it are the owner's only,
    // and so are the files SQLite keeps beside it.
    QCOMPARE(notices.size(), 1);
    QVERIFY2(notices[0].contains(file), qPrintable(notices[0]));
    for (const QString& path : {dir.filePath(QStringLiteral("new")), dir.filePath(QStringLiteral("new/deeper")), file,
                                file + QStringLiteral("-wal"), file + QStringLiteral("-shm")})
        QVERIFY2(ownerOnly(path), qPrintable(path));

    // A second connect replaces the connection; whoever still holds the old one can use it.
    auto old = c.db();
    QVERIFY(c.connectDb());
    QVERIFY(old != c.db());
    QCOMPARE(old->scalar(QStringLiteral("SELECT count(*) FROM tbluser")).toInt(), 1);
    QCOMPARE(notices.size(), 1);
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

void tst_connection::damagedPageIsFoundWhenTheStationStarts()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("site.sqlite"));
    int pages = 0;
    {
        Database db(DbUrl::sqlite(file));
        QVERIFY(db.open());
        Schema::upgrade(db);
        for (int i = 0; i < 3000; ++i)
            db.run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, attended) "
                                  "VALUES (1, ?, '2026-03-14', '10:00:00', '0', ?, 0)"),
                   {i, QStringLiteral("A%1").arg(i)});
        pages = db.scalar(QStringLiteral("PRAGMA page_count")).toInt();
    } // the last connection closing writes everything into the file itself
    QVERIFY(pages > 10);

    test::TempSettings s;
    Session session;
    {
        Connection sound(s.store, session);
        sound.setOverride(DbUrl::sqlite(file));
        QVERIFY2(sound.connectDb(), qPrintable(sound.lastError()));
    }

    // One page of the ticket table's rows overwritten, far from anything the start-up reads.
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.seek(qint64(pages - 3) * 4096));
    f.write(QByteArray(4096, '\x5a'));
    f.close();

    Connection c(s.store, session);
    c.setOverride(DbUrl::sqlite(file));
    QString reported;
    c.setFailureHandler([&](const QString& why) { reported = why; });
    QVERIFY(!c.connectDb());
    QVERIFY2(reported.contains(QStringLiteral("damaged")) && reported.contains(file), qPrintable(reported));
    QVERIFY(!reported.contains(QLatin1Char('\n')));
    QVERIFY(!c.db()->isOpen());
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
    // A server is named as one, on one line (libpq says it in two).
    QVERIFY2(c.lastError().contains(QStringLiteral("database x on 127.0.0.1:%1").arg(port)), qPrintable(c.lastError()));
    QVERIFY(!c.lastError().contains(QLatin1Char('\n')));
    QVERIFY(!c.lastError().contains(QStringLiteral("file")));
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

    // Connection options of the URL reach the server: a name it records, and a demand for TLS
    // that a server without it must refuse rather than be ignored.
    QString error;
    const QString base = server->toString(true) + (server->options.isEmpty() ? QLatin1Char('?') : QLatin1Char('&'));
    Database named(*DbUrl::parse(base + QStringLiteral("application_name=counter%207"), &error));
    QVERIFY2(named.open(&error), qPrintable(error));
    QCOMPARE(named.scalar(QStringLiteral("SELECT current_setting('application_name')")).toString(),
             QStringLiteral("counter 7"));
    if (named.scalar(QStringLiteral("SELECT current_setting('ssl')")).toString() == QLatin1String("off")) {
        Database tls(*DbUrl::parse(base + QStringLiteral("sslmode=require")));
        QVERIFY(!tls.open(&error));
        QVERIFY2(error.contains(QStringLiteral("SSL"), Qt::CaseInsensitive), qPrintable(error));
    }
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

void tst_connection::sqlWindowUnderOverrideTestsWhatItShows()
{
    // A run with --db works on that database; the window shows, and tests, the saved values.
    QTemporaryDir dir;
    test::TempSettings s;
    Session session;
    test::ScriptedPrompt prompt;
    Connection c(s.store, session);
    const QString running = dir.filePath(QStringLiteral("running.sqlite"));
    const QString saved = dir.filePath(QStringLiteral("saved.sqlite"));
    c.setOverride(DbUrl::sqlite(running));
    QVERIFY(c.connectDb());
    const auto inUse = c.db();
    s.store.set(Keys::SqlDatabase, saved);
    frmSql w(s.store, session, c, prompt);
    w.show();
    auto* test = w.findChild<QPushButton*>(QStringLiteral("cmdTest"));
    QVERIFY(test);

    // The saved file is not there: the test fails and makes nothing, the run goes on as it was.
    QTest::mouseClick(test, Qt::LeftButton);
    QCOMPARE(prompt.messages, QStringList{QStringLiteral("Connection Failed")});
    QVERIFY(!QFile::exists(saved));
    QCOMPARE(c.db(), inUse);
    QVERIFY(inUse->isOpen());

    {
        Database made(DbUrl::sqlite(saved));
        QVERIFY(made.open());
    }
    QTest::mouseClick(test, Qt::LeftButton);
    QCOMPARE(prompt.messages.last(), QStringLiteral("Connection Success"));
    QCOMPARE(c.db(), inUse);
    QCOMPARE(c.db()->url().path, running);
}

void tst_connection::lostServerConnectionIsMadeAgain_data()
{
    QTest::addColumn<QString>("work");     // what the station does when its server has dropped it
    QTest::addColumn<QString>("outcome");  // "done", "not done" or "unknown"
    QTest::addColumn<int>("rowsAfter");    // rows of the probe table afterwards

    // A read is run again on the new connection: the station does not notice.
    QTest::newRow("read") << QStringLiteral("read") << QStringLiteral("done") << 0;
    QTest::newRow("read from the client library") << QStringLiteral("direct") << QStringLiteral("done") << 0;
    // So is a transaction that only begins: everything in it runs on the new connection.
    QTest::newRow("transaction begins") << QStringLiteral("begin") << QStringLiteral("done") << 1;
    // A change on its own may have been stored: it is reported, not run twice.
    QTest::newRow("change") << QStringLiteral("write") << QStringLiteral("unknown") << 0;
    // A transaction the server dropped: the rest of it must not run without it.
    QTest::newRow("inside a transaction") << QStringLiteral("inside") << QStringLiteral("not done") << 0;
    QTest::newRow("commit") << QStringLiteral("commit") << QStringLiteral("unknown") << 0;
}

void tst_connection::lostServerConnectionIsMadeAgain()
{
    QFETCH(QString, work);
    QFETCH(QString, outcome);
    QFETCH(int, rowsAfter);
    const std::optional<DbUrl> server = test::testServer();
    if (!server)
        QSKIP("no PostgreSQL server (TALLYVO_TEST_PG)");
    // The first server of the list is gone for good, as a primary after a failover.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 gonePort = closed.serverPort();
    closed.close();
    DbUrl url = *server;
    url.otherHosts = {{url.host, url.port}};
    url.host = QStringLiteral("127.0.0.1");
    url.port = gonePort;
    QStringList notices;
    Database::setReconnectNotice([&](const QString& line) { notices << line; });
    Database station(url);
    QString why;
    QVERIFY2(station.open(&why), qPrintable(why));
    Database admin(*server);
    QVERIFY(admin.open());
    const QString table = QStringLiteral("probe_%1").arg(QCoreApplication::applicationPid());
    admin.run(QStringLiteral("CREATE TABLE %1 (n INTEGER)").arg(table));
    auto rows = [&] { return admin.scalar(QStringLiteral("SELECT count(*) FROM %1").arg(table)).toInt(); };
    auto dropStation = [&] {
        const QVariant pid = station.scalar(QStringLiteral("SELECT pg_backend_pid()"));
        admin.run(QStringLiteral("SELECT pg_terminate_backend(CAST(? AS INTEGER))"), {pid});
        QTRY_COMPARE(admin.scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE pid=CAST(? AS INTEGER)"),
                                  {pid})
                         .toInt(),
                     0);
    };
    const QString insert = QStringLiteral("INSERT INTO %1 (n) VALUES (1)").arg(table);

    QString result = QStringLiteral("done");
    try {
        if (work == QLatin1String("read")) {
            dropStation();
            QCOMPARE(station.scalar(QStringLiteral("SELECT 6*7")).toInt(), 42);
        } else if (work == QLatin1String("direct")) {
            // Kept prepared on the connection the server then drops, and prepared anew on the next.
            const QString product = QStringLiteral("SELECT 6*CAST(? AS INTEGER)");
            QCOMPARE(DirectRows::integerOf(station, product, {7}, DirectRows::Plan::Kept), 42);
            dropStation();
            QCOMPARE(DirectRows::integerOf(station, product, {7}, DirectRows::Plan::Kept), 42);
            QCOMPARE(DirectRows::integerOf(station, product, {8}, DirectRows::Plan::Kept), 48);
            QCOMPARE(DirectRows::integerOf(station, product, {7}), 42);
        } else if (work == QLatin1String("begin")) {
            dropStation();
            Transaction t(station);
            station.run(insert);
            t.commit();
        } else if (work == QLatin1String("write")) {
            dropStation();
            station.run(insert);
        } else {
            Transaction t(station);
            station.run(insert);
            dropStation();
            try {
                if (work == QLatin1String("inside"))
                    station.run(insert);
                else
                    t.commit();
            } catch (const ConnectionLost&) {
                // Nothing more runs in the lost transaction, not even on the new connection.
                QVERIFY_THROWS_EXCEPTION(ConnectionLost, station.run(insert));
                throw;
            }
        }
    } catch (const ConnectionLost& e) {
        result = e.outcomeUnknown() ? QStringLiteral("unknown") : QStringLiteral("not done");
        // One line that says what happened and where the station is now.
        QVERIFY2(!e.text().contains(QLatin1Char('\n')), qPrintable(e.text()));
        QVERIFY2(e.text().contains(QStringLiteral("Connected again to 127.0.0.1:%1.").arg(server->port)),
                 qPrintable(e.text()));
    }
    QCOMPARE(result, outcome);
    QCOMPARE(rows(), rowsAfter);
    QCOMPARE(notices.size(), 1);
    QVERIFY2(notices.first().contains(QStringLiteral("connected again to 127.0.0.1:%1").arg(server->port)),
             qPrintable(notices.first()));
    // And the station works on.
    station.run(insert);
    QCOMPARE(rows(), rowsAfter + 1);
    admin.run(QStringLiteral("DROP TABLE %1").arg(table));
    Database::setReconnectNotice({});
}

// The server is away for a moment (a restart, a promotion still under way): the station says so
// once, and when the server is back it works again by itself, the console's kept statements too.
void tst_connection::stationWorksAgainWhenItsServerIsBack()
{
    const std::optional<DbUrl> server = test::testServer();
    if (!server)
        QSKIP("no PostgreSQL server (TALLYVO_TEST_PG)");
    ServerLink link(server->host, static_cast<quint16>(server->port));
    DbUrl url = *server;
    url.host = QStringLiteral("127.0.0.1");
    url.port = link.port();
    QStringList notices;
    Database::setReconnectNotice([&](const QString& line) { notices << line; });
    Database station(url);
    QString why;
    QVERIFY2(station.open(&why), qPrintable(why));
    StatementCache kept(station);
    const QString sum = QStringLiteral("SELECT CAST(? AS INTEGER) + 1");
    QCOMPARE(kept.firstRow(sum, {41})->value(0).toInt(), 42);

    link.cut();
    try {
        station.scalar(QStringLiteral("SELECT 1"));
        QFAIL("a read on a server that is gone succeeded");
    } catch (const ConnectionLost& e) {
        QVERIFY(!e.outcomeUnknown());
        QVERIFY2(e.text().contains(QLatin1String("cannot be made again yet")), qPrintable(e.text()));
    }
    QCOMPARE(notices.size(), 1);
    // Still away: every statement fails at once, and nothing more is said.
    QVERIFY_THROWS_EXCEPTION(DbError, kept.firstRow(sum, {1}));
    QCOMPARE(notices.size(), 1);

    link.restore();
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            try {
                return kept.firstRow(sum, {1})->value(0).toInt() == 2;
            } catch (const DbError&) {
                return false;
            }
        }(),
        5000);
    QCOMPARE(notices.size(), 2);
    QVERIFY2(notices.last().contains(QStringLiteral("can be reached again")), qPrintable(notices.last()));
    QCOMPARE(station.scalar(QStringLiteral("SELECT 6*7")).toInt(), 42);
    Database::setReconnectNotice({});
}

TALLYVO_TEST_MAIN(tst_connection)
#include "tst_connection.moc"
