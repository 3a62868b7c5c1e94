#include "core/Paths.h"

#include "core/Prompt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

namespace tallyvo::Paths {

QString programDir()
{
    return QCoreApplication::applicationDirPath();
}

QStringList dataFolders()
{
    const QString dir = programDir();
    QStringList folders{dir, QDir::cleanPath(dir + QStringLiteral("/../share/tallyvo"))};
    for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const QString folder = QDir::cleanPath(data + QStringLiteral("/tallyvo"));
        if (!folders.contains(folder))
            folders << folder;
    }
    return folders;
}

QString dataFile(const QString& relative, const QStringList& folders)
{
    for (const QString& folder : folders) {
        const QString path = folder + QLatin1Char('/') + relative;
        if (QFileInfo::exists(path))
            return path;
    }
    return folders.value(0) + QLatin1Char('/') + relative;
}

QString dataFile(const QString& relative)
{
    return dataFile(relative, dataFolders());
}

QString dbPathFile(const QString& settingsFolder)
{
    return settingsFolder + QStringLiteral("/path.txt");
}

bool recordDbPath(const QString& settingsFolder, const QString& dbFile)
{
    QFile file(dbPathFile(settingsFolder));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QString last;
        QTextStream in(&file);
        while (!in.atEnd())
            last = in.readLine();
        if (last == dbFile)
            return true;
        file.close();
    }
    QDir().mkpath(settingsFolder);
    QSaveFile out(dbPathFile(settingsFolder));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    out.write(dbFile.toUtf8() + '\n');
    return out.commit();
}

QString getDbPath(const QString& dir, Prompt& prompt)
{
    QFile file(dir + QStringLiteral("/path.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        prompt.alert(Prompt::Icon::Critical, file.errorString());
        return QString();
    }
    QTextStream in(&file);
    QString last;
    while (!in.atEnd())
        last = in.readLine();
    return last;
}

} // namespace tallyvo::Paths
