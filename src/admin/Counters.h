#pragma once

#include "admin/Departments.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace tallyvo {

class Database;

struct CounterRecord {
    QString serviceName; // as chosen or typed in "Select Service"
    QString name;
    QString displayName;
    QString userName;
    // The two password boxes. Editing a counter with both empty keeps its stored password; a
    // new counter with both empty gets an empty password.
    QString password;
    QString password2;
    bool active = true;
};

// Counters, each serving one service and logging in with its own password (kept as a hash).
class Counters {
    Q_DECLARE_TR_FUNCTIONS(Counters)

public:
    // Counters whose service and department exist, by counter name: key, department, service,
    // counter name, active flag.
    static std::vector<QStringList> list(const Database& db);

    // The first failing check's message: passwords, service, counter name, user name.
    static QString validate(const Database& db, const CounterRecord& rec);
    // The password boxes come back empty: only a hash is stored.
    static std::optional<CounterRecord> get(const Database& db, qint64 key);
    static qint64 insert(const Database& db, const CounterRecord& rec);
    static void update(const Database& db, qint64 key, const CounterRecord& rec);
    // Refused while any token records it as the counter that called it.
    static DeleteOutcome remove(const Database& db, qint64 key);
};

} // namespace tallyvo
