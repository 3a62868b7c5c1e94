#include "web/WebPages.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

namespace tallyvo::web {

namespace {

QByteArray resource(const QString& name) {
    QFile f(QStringLiteral(":/web/") + name);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("built-in page %s is missing", qPrintable(name));
    return f.readAll();
}

QString escaped(const QString& text) {
    return text.toHtmlEscaped();
}

} // namespace

std::string WebPages::policyFor(const QByteArray& html) {
    auto hashes = [&](const QString& pattern) {
        QString out;
        const QRegularExpression re(pattern, QRegularExpression::DotMatchesEverythingOption);
        for (auto it = re.globalMatch(QString::fromUtf8(html)); it.hasNext();) {
            const QByteArray body = it.next().captured(1).toUtf8();
            out += QStringLiteral(" 'sha256-%1'")
                       .arg(QString::fromLatin1(
                           QCryptographicHash::hash(body, QCryptographicHash::Sha256).toBase64()));
        }
        return out.isEmpty() ? QStringLiteral(" 'none'") : out;
    };
    // Data blocks (a type other than script) are never run, so they need no allowance.
    const QString scripts = hashes(QStringLiteral("<script>(.*?)</script>"));
    const QString styles = hashes(QStringLiteral("<style>(.*?)</style>"));
    // A page with a form posts it to the station, and nowhere else.
    const QString forms = html.contains("<form") ? QStringLiteral("'self'") : QStringLiteral("'none'");
    return QStringLiteral("default-src 'none'; script-src%1; style-src%2; connect-src 'self'; img-src 'self' "
                          "data:; media-src 'self'; "
                          "base-uri 'none'; form-action %3; frame-ancestors 'none'")
        .arg(scripts, styles, forms)
        .toStdString();
}

std::string WebPages::displayPage(const QJsonObject& config) const {
    QByteArray data = QJsonDocument(config).toJson(QJsonDocument::Compact);
    data.replace("<", "\\u003c");
    QByteArray page = m_display;
    page.replace("@CONFIG@", data);
    return page.toStdString();
}

std::string WebPages::loginPage(const QString& error) const {
    QByteArray page = m_login;
    page.replace("@ERROR@", error.isEmpty()
                                ? QByteArray()
                                : "<p class=\"error\" role=\"alert\">" + escaped(error).toUtf8() + "</p>");
    return page.toStdString();
}

std::unique_ptr<WebPages> WebPages::load(const QString& textsFile, QString* error) {
    auto pages = std::make_unique<WebPages>();
    pages->m_texts = QJsonDocument::fromJson(resource(QStringLiteral("texts.json"))).object();
    if (!textsFile.isEmpty()) {
        QFile f(textsFile);
        if (!f.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("the texts file %1 cannot be read: %2").arg(textsFile, f.errorString());
            return nullptr;
        }
        QJsonParseError parse{};
        const QJsonDocument site = QJsonDocument::fromJson(f.read(1024 * 1024), &parse);
        if (parse.error != QJsonParseError::NoError || !site.isObject()) {
            *error =
                QStringLiteral("the texts file %1 is not a JSON object of texts%2")
                    .arg(textsFile,
                         parse.error != QJsonParseError::NoError
                             ? QStringLiteral(" (%1 at offset %2)").arg(parse.errorString()).arg(parse.offset)
                             : QString());
            return nullptr;
        }
        const QJsonObject own = site.object();
        for (auto it = own.begin(); it != own.end(); ++it)
            if (it.value().isString())
                pages->m_texts.insert(it.key(), it.value());
    }

    // The texts go into the page as a data block: "<" is written as \u003c so no text can end it.
    QByteArray texts = QJsonDocument(pages->m_texts).toJson(QJsonDocument::Compact);
    texts.replace("<", "\\u003c");
    QByteArray ticket = resource(QStringLiteral("ticket.html"));
    ticket.replace("@TEXTS@", texts);
    ticket.replace("<html lang=\"en\">",
                   "<html lang=\"" +
                       escaped(pages->m_texts.value(QStringLiteral("lang")).toString()).toUtf8() + "\">");
    pages->m_ticket = ticket.toStdString();
    pages->m_ticketPolicy = policyFor(ticket);

    QByteArray missing = resource(QStringLiteral("not-found.html"));
    const auto text = [&](const char* key) {
        return escaped(pages->m_texts.value(QLatin1String(key)).toString()).toUtf8();
    };
    missing.replace("@LANG@", text("lang"));
    missing.replace("@NOTFOUND_TITLE@", text("notFoundTitle"));
    missing.replace("@NOTFOUND@", text("notFound"));
    pages->m_notFound = missing.toStdString();
    pages->m_notFoundPolicy = policyFor(missing);

    pages->m_openApi = resource(QStringLiteral("openapi.json")).toStdString();
    pages->m_display = resource(QStringLiteral("display.html"));
    pages->m_display.replace("@TEXTS@", texts);
    pages->m_displayPolicy = policyFor(pages->m_display);

    QByteArray login = resource(QStringLiteral("login.html"));
    login.replace("@LANG@", text("lang"));
    login.replace("@TITLE@", text("boardTitle"));
    login.replace("@USER@", text("boardUser"));
    login.replace("@PASSWORD@", text("boardPassword"));
    login.replace("@LOGIN@", text("boardLogin"));
    pages->m_login = login;
    pages->m_loginPolicy = policyFor(login);
    QByteArray board = resource(QStringLiteral("board.html"));
    board.replace("@TEXTS@", texts);
    pages->m_board = board.toStdString();
    pages->m_boardPolicy = policyFor(board);
    return pages;
}

} // namespace tallyvo::web
