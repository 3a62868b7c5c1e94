#include "core/SafeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

// The file's data on the disk, so that a crash after it takes its name never leaves it empty.
bool flush(const QString& path, QString* why)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::fsync(fd) == 0;
    if (!ok)
        *why = tr("%1: %2").arg(QDir::toNativeSeparators(path), systemError(errno));
    if (fd >= 0)
        ::close(fd);
    return ok;
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
    if (!flush(temp, why))
        return false;
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) == 0)
        return true;
    *why = tr("%1: %2").arg(QDir::toNativeSeparators(target), systemError(errno));
    return false;
}

Claim claim(const QString& temp, const QString& target, QString* why)
{
    if (!flush(temp, why))
        return Claim::Failed;
    const QByteArray from = QFile::encodeName(temp);
    const QByteArray to = QFile::encodeName(target);
    // A hard link takes the name only while it is free, in one step: two runs at the same moment
    // never end up with one file.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return Claim::Done;
    }
    if (errno == EEXIST)
        return Claim::Taken;
    // A file system without hard links: take a free name, with a moment's race left.
    if (errno == EPERM || errno == EOPNOTSUPP || errno == EXDEV) {
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
            return Claim::Taken;
        return replace(temp, target, why) ? Claim::Done : Claim::Failed;
    }
    *why = tr("%1: %2").arg(QDir::toNativeSeparators(target), systemError(errno));
    return Claim::Failed;
}

QString publishNew(const QString& temp, const QString& target, QString* why)
{
    const QFileInfo info(target);
    const QString base = info.dir().filePath(info.completeBaseName());
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    for (int n = 1; n < 1000; ++n) {
        const QString name = n == 1 ? target : QStringLiteral("%1-%2%3").arg(base).arg(n).arg(suffix);
        switch (claim(temp, name, why)) {
        case Claim::Done:
            return name;
        case Claim::Failed:
            return QString();
        case Claim::Taken:
            break;
        }
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
