#include "core/SqliteWalWatcher.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

namespace tallyvo {

SqliteWalWatcher::SqliteWalWatcher(const QString& databaseFile, QObject* parent)
    : QObject(parent)
    , m_watcher(new QFileSystemWatcher(this))
{
    const QFileInfo file(databaseFile);
    m_log = file.absoluteFilePath() + QStringLiteral("-wal");
    m_watching = m_watcher->addPath(file.absolutePath());
    followLog();
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, [this] {
        // A log deleted (the last connection closed it) stops being watched; a new one is
        // picked up through the folder.
        followLog();
        emit touched();
    });
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        followLog();
        emit touched();
    });
}

void SqliteWalWatcher::followLog()
{
    if (m_watching && !m_watcher->files().contains(m_log) && QFileInfo::exists(m_log))
        m_watcher->addPath(m_log);
}

} // namespace tallyvo
