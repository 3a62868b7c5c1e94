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
