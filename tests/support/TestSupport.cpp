#include "TestSupport.h"

#include "core/Schema.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QTest>
#include <cstdio>
#include <cstdlib>

namespace tallyvo::test {

Engine testEngine()
{
    return qEnvironmentVariable("TALLYVO_TEST_ENGINE") == QLatin1String("pg") ? Engine::Postgres : Engine::Sqlite;
}

std::optional<DbUrl> testServer()
{
    const QString text = qEnvironmentVariable("TALLYVO_TEST_PG");
    if (text.isEmpty())
        return std::nullopt;
    return DbUrl::parse(text);
}

namespace {

QString uniqueName()
{
    static QAtomicInteger<int> counter;
    return QStringLiteral("tst_%1_%2_%3")
        .arg(QCoreApplication::applicationPid())
        .arg(QDateTime::currentMSecsSinceEpoch() % 100000000)
        .arg(counter.fetchAndAddRelaxed(1));
}

void serverStatement(const QString& sql)
{
    Database admin(*testServer());
    QString error;
    if (!admin.open(&error))
        qFatal("test server: %s", qPrintable(error));
    admin.run(sql);
}

} // namespace

TempDatabase::TempDatabase()
{
    if (testEngine() == Engine::Sqlite) {
        m_url = DbUrl::sqlite(m_dir.filePath(QStringLiteral("test.sqlite")));
    } else {
        m_url = *testServer();
        const QString name = uniqueName();
        serverStatement(QStringLiteral("CREATE DATABASE %1").arg(name));
        m_url.database = name;
    }
    m_db = std::make_unique<Database>(m_url);
    QString error;
    if (!m_db->open(&error))
        qFatal("test database: %s", qPrintable(error));
    Schema::upgrade(*m_db);
}

TempDatabase::~TempDatabase()
{
    m_db.reset();
    if (m_url.engine == Engine::Postgres) {
        try {
            serverStatement(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_url.database));
        } catch (const DbError& e) {
            qWarning("could not drop %s: %s", qPrintable(m_url.database), qPrintable(e.text()));
        }
    }
}

std::unique_ptr<Database> TempDatabase::openAnother() const
{
    auto db = std::make_unique<Database>(m_url);
    QString error;
    if (!db->open(&error))
        qFatal("second connection: %s", qPrintable(error));
    return db;
}

bool refuseWrites(Database& db, Refusal how, const QString& table)
{
    if (db.engine() == Engine::Sqlite) {
        if (how == Refusal::DiskFull) {
            const int pages = db.scalar(QStringLiteral("PRAGMA page_count")).toInt();
            db.run(QStringLiteral("PRAGMA max_page_count=%1").arg(pages)).next();
            return true;
        }
        db.run(QStringLiteral("PRAGMA foreign_keys=ON"));
        db.run(QStringLiteral("CREATE TABLE IF NOT EXISTS refused_parent (k INTEGER PRIMARY KEY)"));
        db.run(QStringLiteral("CREATE TABLE IF NOT EXISTS refused_commit "
                              "(k INTEGER REFERENCES refused_parent(k) DEFERRABLE INITIALLY DEFERRED)"));
        db.run(QStringLiteral("CREATE TEMP TRIGGER refuse_%1 AFTER INSERT ON main.%1 "
                              "BEGIN INSERT INTO refused_commit VALUES (1); END")
                   .arg(table));
        return true;
    }
    if (how == Refusal::DiskFull)
        return false;
    db.run(QStringLiteral("CREATE OR REPLACE FUNCTION refuse_commit() RETURNS trigger LANGUAGE plpgsql AS "
                          "$$BEGIN RAISE EXCEPTION 'could not extend file: No space left on device'; END$$"));
    db.run(QStringLiteral("CREATE CONSTRAINT TRIGGER refuse_%1 AFTER INSERT ON %1 DEFERRABLE INITIALLY DEFERRED "
                          "FOR EACH ROW EXECUTE FUNCTION refuse_commit()")
               .arg(table));
    return true;
}

void ScriptedPrompt::message(const QString& text, const QString&)
{
    alert(Icon::Information, text);
}

void ScriptedPrompt::alert(Icon icon, const QString& text, const QString&)
{
    messages << text;
    alerts << qMakePair(icon, text);
}

bool ScriptedPrompt::question(const QString& text, const QString&)
{
    questions << text;
    return answers.isEmpty() ? false : answers.dequeue();
}

Prompt::Answer ScriptedPrompt::warningYesNoCancel(const QString& text, const QString& title)
{
    questions << text;
    warningTitles << title;
    return warningAnswers.isEmpty() ? Answer::Cancel : warningAnswers.dequeue();
}

std::optional<QString> ScriptedPrompt::input(const QString& text, const QString&, const QString&)
{
    inputs << text;
    return inputAnswers.isEmpty() ? std::nullopt : inputAnswers.dequeue();
}

QString ScriptedPrompt::openFileName(const QString&, const QString&)
{
    return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
}

QString ScriptedPrompt::saveFileName(const QString&, const QString&)
{
    return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
}

QString ScriptedPrompt::folder(const QString&)
{
    return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
}

int runTests(QObject* test, int argc, char** argv)
{
    if (testEngine() == Engine::Postgres && !testServer()) {
        std::fprintf(stderr, "TALLYVO_TEST_PG names no PostgreSQL server: skipped\n");
        return 77;
    }
    return QTest::qExec(test, argc, argv);
}

} // namespace tallyvo::test
