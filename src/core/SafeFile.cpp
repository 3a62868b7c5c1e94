#include "core/SafeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tallyvo::SafeFile {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("SafeFile", text);
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

QString createTemp(const QString& folder, const QString& name, QString* why)
{
    QTemporaryFile file(QDir(folder).filePath(QStringLiteral(".%1.XXXXXX.part").arg(name)));
    file.setAutoRemove(false);
    // QTemporaryFile creates its file exclusively, readable and writable by the owner only.
    if (!file.open()) {
        *why = tr("%1: %2").arg(QDir::toNativeSeparators(file.fileTemplate()), file.errorString());
        return QString();
    }
    const QString path = file.fileName();
    file.close();
    return path;
}

bool replace(const QString& temp, const QString& target, QString* why)
{
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) == 0)
        return true;
    *why = tr("%1: %2").arg(QDir::toNativeSeparators(target), systemError(errno));
    return false;
}

QString publishNew(const QString& temp, const QString& target, QString* why)
{
    const QFileInfo info(target);
    const QString base = info.dir().filePath(info.completeBaseName());
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    for (int n = 1; n < 1000; ++n) {
        const QString name = n == 1 ? target : QStringLiteral("%1-%2%3").arg(base).arg(n).arg(suffix);
        // A hard link takes the name only while it is free, in one step: two runs at the same
        // moment never end up with one file.
        if (::link(QFile::encodeName(temp).constData(), QFile::encodeName(name).constData()) == 0) {
            ::unlink(QFile::encodeName(temp).constData());
            return name;
        }
        if (errno == EEXIST)
            continue;
        // A file system without hard links: take a free name, with a moment's race left.
        if (errno == EPERM || errno == EOPNOTSUPP || errno == EXDEV) {
            if (QFileInfo::exists(name) || QFileInfo(name).isSymLink())
                continue;
            if (replace(temp, name, why))
                return name;
            return QString();
        }
        *why = tr("%1: %2").arg(QDir::toNativeSeparators(name), systemError(errno));
        return QString();
    }
    *why = tr("%1: no free name left beside it").arg(QDir::toNativeSeparators(target));
    return QString();
}

bool isRegularFile(const QString& path, QString* why)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        *why = errno == ENOENT ? tr("%1 does not exist.").arg(QDir::toNativeSeparators(path))
                               : tr("%1: %2").arg(QDir::toNativeSeparators(path), systemError(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = tr("%1 is not a regular file.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

} // namespace tallyvo::SafeFile
