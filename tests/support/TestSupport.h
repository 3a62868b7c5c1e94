#pragma once

#include "core/Clock.h"
#include "core/Database.h"
#include "core/Prompt.h"
#include "core/SettingsStore.h"
#include "core/ui/WidgetDefaults.h"

#include <QPair>
#include <QQueue>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>

namespace tallyvo::test {

// The engine this run of a test program is for: TALLYVO_TEST_ENGINE=sqlite|pg.
Engine testEngine();
// The PostgreSQL server of the test run, from TALLYVO_TEST_PG (a postgresql:// URL of a role that
// may create databases); nullopt when none was given.
std::optional<DbUrl> testServer();

// A fresh, empty database on the test engine with the schema in place; gone when the object is.
class TempDatabase {
public:
    TempDatabase();
    ~TempDatabase();
    TempDatabase(const TempDatabase&) = delete;
    TempDatabase& operator=(const TempDatabase&) = delete;

    Database& db() { return *m_db; }
    const DbUrl& url() const { return m_url; }
    // A second connection to the same database, as another station would have.
    std::unique_ptr<Database> openAnother() const;

private:
    QTemporaryDir m_dir;
    DbUrl m_url;
    std::unique_ptr<Database> m_db;
};

// Makes a connection's writes into `table` fail the way a disk that fills up does.
//   DiskFull: the database may not grow (SQLite's max_page_count): statements that need a new page
//   fail, those that fit into free space still succeed. SQLite only.
//   CommitRefused: the statement runs and hands back its rows, then the commit is refused (a
//   deferred check that always fails), as when the disk fills up while a commit is written.
// Returns false when the engine cannot do it. On SQLite it holds for this connection only.
enum class Refusal { DiskFull, CommitRefused };
bool refuseWrites(Database& db, Refusal how, const QString& table);

// Answers message boxes, questions and input boxes from a script and records what was shown.
class ScriptedPrompt final : public Prompt {
public:
    void message(const QString& text, const QString& title = QString()) override;
    void alert(Icon icon, const QString& text, const QString& title = QString()) override;
    bool question(const QString& text, const QString& title = QString()) override;
    Answer warningYesNoCancel(const QString& text, const QString& title = QString()) override;
    std::optional<QString> input(const QString& text, const QString& title = QString(),
                                 const QString& initial = QString()) override;
    QString openFileName(const QString& title, const QString& filter) override;
    QString saveFileName(const QString& title, const QString& filter) override;
    QString folder(const QString& title) override;

    QStringList messages;  // every message box text, in order
    QList<QPair<Icon, QString>> alerts; // every message box with its icon, in order
    QStringList questions; // every question text, in order
    QStringList inputs;    // every input box text, in order
    QQueue<bool> answers;  // next answers to questions; No when empty
    QQueue<Answer> warningAnswers; // next answers to Yes/No/Cancel warnings; Cancel when empty
    QStringList warningTitles;     // the title of every Yes/No/Cancel warning, in order
    QQueue<std::optional<QString>> inputAnswers; // next input box answers; cancel when empty
    QQueue<QString> fileAnswers; // next file or folder chosen; cancel when empty
};

class FakeClock final : public Clock {
public:
    explicit FakeClock(QDate d = QDate(2026, 3, 14), QTime t = QTime(10, 0, 0))
        : day(d)
        , time(t)
    {
    }
    QDate today() const override { return day; }
    QTime now() const override { return time; }

    QDate day;
    QTime time;
};

// A settings store in a folder of its own.
class TempSettings {
public:
    TempSettings()
        : store(m_dir.path())
    {
    }
    QString folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;

public:
    SettingsStore store;
};

int runTests(QObject* test, int argc, char** argv);

// A window's control by its object name; a missing one ends the test run with its name.
template <typename T>
T* control(QWidget* w, const char* name)
{
    T* c = w->findChild<T*>(QLatin1String(name));
    if (!c)
        qFatal("no control %s in %s", name, qPrintable(w->objectName()));
    return c;
}

} // namespace tallyvo::test

Q_DECLARE_METATYPE(tallyvo::test::Refusal)

// Like QTEST_MAIN, with a full QApplication, and a skip (exit 77) for a PostgreSQL run that has no
// server to run on.
#define TALLYVO_TEST_MAIN(TestClass)                                                                           \
    int main(int argc, char** argv)                                                                            \
    {                                                                                                          \
        QApplication app(argc, argv);                                                                          \
        tallyvo::installWidgetDefaults();                                                                      \
        TestClass tc;                                                                                          \
        return tallyvo::test::runTests(&tc, argc, argv);                                                       \
    }
