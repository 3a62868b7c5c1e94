#include "core/Paths.h"

#include "core/Prompt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>

namespace tallyvo::Paths {

QString programDir()
{
    return QCoreApplication::applicationDirPath();
}

QString dataFile(const QString& relative)
{
    return programDir() + QLatin1Char('/') + relative;
}

bool makeOwnerFolders(const QString& folder)
{
    QStringList missing;
    for (QString f = QFileInfo(folder).absoluteFilePath(); !QFileInfo::exists(f);) {
        missing.prepend(f);
        const QString parent = QFileInfo(f).absolutePath();
        if (parent == f)
            break;
        f = parent;
    }
    for (const QString& f : std::as_const(missing))
        QDir().mkdir(f, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return QFileInfo(folder).isDir();
}

QString getDbPath(const QString& dir, Prompt& prompt)
{
    QFile file(dir + QStringLiteral("/path.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        prompt.message(file.errorString());
        return QString();
    }
    QTextStream in(&file);
    QString last;
    while (!in.atEnd())
        last = in.readLine();
    return last;
}

} // namespace tallyvo::Paths
