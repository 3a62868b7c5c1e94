#pragma once

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

namespace tallyvo {

class Database;

struct VideoRecord {
    QString path;
    QString desc;
    bool active = true;
};

// The display's playlist.
class Videos {
    Q_DECLARE_TR_FUNCTIONS(Videos)

public:
    // Every entry in key order: key, description, "Yes"/"No" for active, "" (an empty
    // column), path.
    static std::vector<QStringList> list(const Database& db);
    // The file chooser's filter: what the display plays, videos and pictures.
    static QString fileFilter();
    static QString validate(const VideoRecord& rec);
    static std::optional<VideoRecord> get(const Database& db, qint64 key);
    static qint64 insert(const Database& db, const VideoRecord& rec);
    static void update(const Database& db, qint64 key, const VideoRecord& rec);
    static void remove(const Database& db, qint64 key);
};

// Administrator logins, passwords kept as hashes.
class Users {
    Q_DECLARE_TR_FUNCTIONS(Users)

public:
    // Key and name of every user, in key order.
    static QList<std::pair<qint64, QString>> list(const Database& db);
    // The key of the first user of that name; 0 when none.
    static qint64 keyOf(const Database& db, const QString& name);
    // "" when added (the name in capitals); else the message: details missing, or a user of
    // that name in any letter case exists.
    static QString add(const Database& db, const QString& name, const QString& password, const QString& type);
    // Never the last user, also when another station deletes at the same moment; true when
    // the user was deleted.
    static bool remove(const Database& db, qint64 key);
    enum class Removal { Removed, NoSuchUser, LastUser };
    // The same by name, in any letter case, telling why nothing was removed.
    static Removal removeByName(const Database& db, const QString& name);
    // Stores the hash of a new password for the user of that name, in any letter case; false
    // when there is no such user.
    static bool setPassword(const Database& db, const QString& name, const QString& password);
};

// The company lines printed at the top of every ticket.
class Company {
    Q_DECLARE_TR_FUNCTIONS(Company)

public:
    // Name and address; nullopt when the row is missing.
    static std::optional<std::pair<QString, QString>> get(const Database& db);
    static QString validate(const QString& name);
    // Updates the row, or creates it with key 1 when it is missing.
    static void save(const Database& db, const QString& name, const QString& address);
};

} // namespace tallyvo
