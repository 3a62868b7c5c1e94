#include "core/Paths.h"

#include "core/Prompt.h"

#include <QCoreApplication>
#include <QFile>
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
