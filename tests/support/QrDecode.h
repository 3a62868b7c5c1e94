#pragma once

#include <QImage>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace tallyvo::test {

// What a phone would read from a picture: the text of the one QR code zbarimg (zbar-tools) finds
// in it, or a line starting "zbarimg:" that says what went wrong, for the test's message.
inline QString decodeQr(const QString& pngFile)
{
    QProcess p;
    p.start(QStringLiteral("zbarimg"), {QStringLiteral("--quiet"), QStringLiteral("--raw"),
                                        QStringLiteral("-Sdisable"), QStringLiteral("-Sqrcode.enable"), pngFile});
    if (!p.waitForFinished(30000))
        return QStringLiteral("zbarimg: did not finish");
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    if (p.exitCode() != 0)
        return QStringLiteral("zbarimg: exit %1, %2").arg(p.exitCode()).arg(QString::fromUtf8(p.readAllStandardError()));
    return out.endsWith(QLatin1Char('\n')) ? out.chopped(1) : out;
}

inline QString decodeQr(const QImage& image)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("code.png"));
    if (!image.save(file))
        return QStringLiteral("zbarimg: the picture could not be saved");
    return decodeQr(file);
}

} // namespace tallyvo::test
