#include "design/ui/NewsFiles.h"

#include "design/Rtf.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

namespace tallyvo {

namespace {

// Larger files are no scroll-news message: they are refused rather than loaded into the box.
constexpr qint64 kMaxFileBytes = 8 * 1024 * 1024;

bool isWordDocument(const QByteArray& head, const QString& path)
{
    static const QByteArray ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    if (head.startsWith(ole))
        return true;
    const QString suffix = QFileInfo(path).suffix().toLower();
    return (suffix == QLatin1String("doc") || suffix == QLatin1String("docx")) && !Rtf::looksLikeRtf(head);
}

// Plain text in UTF-8 when it is valid UTF-8, else in the Windows code page most such files use.
QString decodeText(const QByteArray& data)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(data);
    if (!utf8.hasError())
        return text;
    QByteArray rtf("{\\rtf1\\ansi ");
    for (char c : data) {
        if (c == '\\' || c == '{' || c == '}')
            rtf += '\\';
        if (c == '\n')
            rtf += "\\par ";
        else if (c != '\r')
            rtf += c;
    }
    rtf += '}';
    return Rtf::read(rtf).plainText();
}

} // namespace

RtfDocument NewsFiles::fromLines(const QString& text, int indentTwips)
{
    RtfDocument doc;
    for (const QString& line : text.split(QLatin1Char('\n')))
        doc.paragraphs << RtfParagraph{RtfAlign::Left, false, indentTwips, 0, 0, {RtfRun{line, {}}}};
    return doc;
}

std::optional<RtfDocument> NewsFiles::read(const QString& path, int indentTwips, QString* refusal)
{
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *refusal = tr("%1 could not be opened: %2").arg(name, file.errorString());
        return std::nullopt;
    }
    if (file.size() > kMaxFileBytes) {
        *refusal = tr("%1 is too large for a news message.").arg(name);
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (isWordDocument(bytes.left(8), path)) {
        *refusal = tr("%1 is a Word document, which this editor cannot read. Save it as Rich Text "
                      "Format (*.rtf) or as text in the program that made it, and open that file.")
                       .arg(name);
        return std::nullopt;
    }
    if (Rtf::looksLikeRtf(bytes))
        return Rtf::read(bytes);
    if (bytes.contains('\0')) {
        *refusal = tr("%1 is neither text nor rich text and cannot be read.").arg(name);
        return std::nullopt;
    }
    QString text = decodeText(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    RtfDocument doc = fromLines(text, indentTwips);
    if (text.endsWith(QLatin1Char('\n')))
        doc.paragraphs.removeLast();
    return doc;
}

QString NewsFiles::write(const QString& path, const QString& plainText, const RtfDocument& document)
{
    QSaveFile file(path);
    const bool plain = QFileInfo(path).suffix().compare(QLatin1String("txt"), Qt::CaseInsensitive) == 0;
    const QByteArray bytes = plain ? plainText.toUtf8() : Rtf::write(document).toLatin1();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return tr("%1 could not be written: %2").arg(QFileInfo(path).fileName(), file.errorString());
    return QString();
}

} // namespace tallyvo
