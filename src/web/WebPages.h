#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <memory>
#include <string>

namespace tallyvo::web {

// The station's pages, built once at start: the built-in texts with a site's own over them, put
// into each page. Every page is one file with its style and script inline; its policy allows
// exactly that style and script by their hashes, and nothing from anywhere else.
class WebPages {
public:
    // Reads the site's texts file when one is named (a JSON object whose keys replace the built-in
    // ones). nullptr with the reason when it cannot be read or is not such an object.
    static std::unique_ptr<WebPages> load(const QString& textsFile, QString* error);

    const std::string& ticketPage() const { return m_ticket; }
    const std::string& ticketPolicy() const { return m_ticketPolicy; }
    const std::string& notFoundPage() const { return m_notFound; }
    const std::string& notFoundPolicy() const { return m_notFoundPolicy; }
    const std::string& openApi() const { return m_openApi; }
    // The browser display with its settings (theme, voice template) put in as a data block.
    std::string displayPage(const QJsonObject& config) const;
    const std::string& displayPolicy() const { return m_displayPolicy; }
    const QJsonObject& texts() const { return m_texts; }

    // A Content-Security-Policy allowing the page's own inline <style> and executable <script>
    // elements by their SHA-256 hashes, connections to the station itself, and nothing else.
    static std::string policyFor(const QByteArray& html);

private:
    QJsonObject m_texts;
    std::string m_ticket, m_ticketPolicy, m_notFound, m_notFoundPolicy, m_openApi;
    QByteArray m_display;
    std::string m_displayPolicy;
};

} // namespace tallyvo::web
