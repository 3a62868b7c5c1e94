#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace tallyvo {

class Database;

// What a delete rule came to.
enum class DeleteOutcome { Deleted, InUse };

struct DeptRecord {
    QString name;
    QString desc;
    bool active = true;
};

// Departments group the services a visitor chooses from.
class Departments {
    Q_DECLARE_TR_FUNCTIONS(Departments)

public:
    // Every department, active or not, in key order: key, name, active flag.
    static std::vector<QStringList> list(const Database& db);
    // Names of the active departments, the choices of the service window.
    static QStringList activeNames(const Database& db);

    // The message of the one check ("" when it passes): a name, but blanks alone and
    // duplicates are allowed.
    static QString validate(const DeptRecord& rec);
    static std::optional<DeptRecord> get(const Database& db, qint64 key);
    static qint64 insert(const Database& db, const DeptRecord& rec);
    // Nothing happens when the key is gone.
    static void update(const Database& db, qint64 key, const DeptRecord& rec);
    // Refused while any service, active or not, belongs to it. The check and the delete are one
    // statement, so a service added meanwhile by another station is never orphaned.
    static DeleteOutcome remove(const Database& db, qint64 key);
};

// The longest target wait a service can have: a day.
inline constexpr int longestTargetMinutes = 24 * 60;

struct ServiceRecord {
    QString deptName; // as chosen or typed in "Select Dept"
    QString name;
    QString desc;
    bool active = true;
    QString startno = QStringLiteral("0"); // stored as typed
    QString endno = QStringLiteral("0");
    QString abrno;
    QString slaMinutes; // the target wait as typed; empty for none
};

// Services, each with the numbering rules of its tokens.
class Services {
    Q_DECLARE_TR_FUNCTIONS(Services)

public:
    // Services whose department exists, in key order: key, department, name, start, end,
    // prefix, active flag.
    static std::vector<QStringList> list(const Database& db);
    // Names of the active services, the choices of the counter window.
    static QStringList activeNames(const Database& db);

    // The first failing check's message, in the order the operator is told them: prefix, start,
    // end, range, department, name, target wait; "" when the service may be stored.
    static QString validate(const Database& db, const ServiceRecord& rec);
    // The department name is the one the name lookup gives for its stored key.
    static std::optional<ServiceRecord> get(const Database& db, qint64 key);
    static qint64 insert(const Database& db, const ServiceRecord& rec);
    static void update(const Database& db, qint64 key, const ServiceRecord& rec);
    // Refused while any token of any date was issued for it. Counters keep the key of a deleted
    // service.
    static DeleteOutcome remove(const Database& db, qint64 key);
};

} // namespace tallyvo
