#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace tallyvo {

class Database;

// One scroll-news message, a tblscroll row. A new message starts with the values a new message
// is saved with.
struct NewsRecord {
    qint64 key = 0; // 0 until stored
    QString message; // plain text, without '<', '>' and '/'
    QString rtf;     // stored in msgrtf and again in msgrtfcopy
    bool active = true;
    QString fontName = QStringLiteral("Arial");
    QString fontSize = QStringLiteral("20");
    int fontColor = 0; // 0x00BBGGRR
    bool bold = false;
    bool italic = false;
    QString direction = QStringLiteral("Left");
};

// A line of the news list.
struct NewsListRow {
    qint64 key = 0;
    QString message;
    bool active = false;
    QString direction;
};

// The scroll-news messages in the database. Keys are 64-bit throughout, so a site with many
// messages edits and deletes the row it means.
class NewsStore {
public:
    explicit NewsStore(const Database& db)
        : m_db(db)
    {
    }

    // The text as stored: every '>', '<' and '/' removed.
    static QString strip(const QString& text);

    // The messages in key order: only the active ones when activeOnly; with a search text only
    // those whose plain text contains it (case aside). Every character of the search, quotes and
    // the wildcards % and _ included, stands for itself.
    QList<NewsListRow> list(bool activeOnly, const QString& search = QString()) const;
    std::optional<NewsRecord> find(qint64 key) const;
    // Stores a new message; its key.
    qint64 insert(const NewsRecord& record) const;
    // Rewrites the row of record.key; false when that row no longer exists.
    bool update(const NewsRecord& record) const;
    bool remove(qint64 key) const;

private:
    const Database& m_db;
};

} // namespace tallyvo
