#pragma once

#include <QObject>
#include <QString>

class QFileSystemWatcher;

namespace tallyvo {

// Wakes its owner when an embedded database may have been written by another connection or
// process: every commit appends to the write-ahead log beside the file. A hint only: the change
// counter (SqliteChangeCounter) tells whether anything was really committed. The folder is
// watched too, so a log created or replaced later is followed.
class SqliteWalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SqliteWalWatcher(const QString& databaseFile, QObject* parent = nullptr);

    // False when the system would not watch the database's folder: then touched never comes.
    bool isWatching() const { return m_watching; }

signals:
    void touched();

private:
    void followLog();

    QFileSystemWatcher* m_watcher;
    QString m_log;
    bool m_watching = false;
};

} // namespace tallyvo
