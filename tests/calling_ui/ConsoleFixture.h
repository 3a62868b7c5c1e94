#pragma once

// A small site for the console tests: one department, two services, three counters, and a way to
// issue today's tokens as the ticket station would.
#include "calling/ui/frmCall.h"
#include "core/Connection.h"
#include "core/Database.h"
#include "core/Session.h"

#include "TestSupport.h"

#include <QWidget>
#include <memory>

namespace tallyvo::test {

struct ConsoleSite {
    TempDatabase tdb;
    TempSettings settings;
    Session session;
    Connection connection{settings.store, session};
    ScriptedPrompt prompt;
    FakeClock clock{QDate(2026, 3, 14), QTime(10, 47, 0)};
    int serviceA = 0;
    int serviceX = 0;
    int counterA = 0; // "Room A", service A, display "Dr. Ames"
    int counterB = 0; // "Room B", service A, display "Dr. Bell"
    int counterX = 0; // "X-Ray", service X, inactive

    ConsoleSite() {
        connection.setOverride(tdb.url());
        const qint64 dept = db().insert(QStringLiteral(
            "INSERT INTO tblDept (deptName, deptDesc) VALUES ('Clinic', '') RETURNING deptAuto"));
        serviceA = static_cast<int>(db().insert(
            QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, startno, endno, abrno) "
                           "VALUES (?, 'Consult', '', '1', '999', 'A') RETURNING servAuto"),
            {dept}));
        serviceX = static_cast<int>(db().insert(
            QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, startno, endno, abrno) "
                           "VALUES (?, 'Scan''s', '', '1', '999', 'X') RETURNING servAuto"),
            {dept}));
        counterA = addCounter(serviceA, QStringLiteral("Room A"), QStringLiteral("Dr. Ames"));
        counterB = addCounter(serviceA, QStringLiteral("Room B"), QStringLiteral("Dr. Bell"));
        counterX =
            addCounter(serviceX, QStringLiteral("X-Ray"), QStringLiteral("Dr. X"), QStringLiteral("0"));
        // The console of a counter login.
        session.activeCounter = counterA;
        session.activeService = serviceA;
        session.isAdmin = false;
    }

    Database& db() { return tdb.db(); }

    int addCounter(int service, const QString& name, const QString& display,
                   const QString& active = QStringLiteral("1")) {
        return static_cast<int>(db().insert(
            QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, username, pass, active) "
                           "VALUES (?, ?, ?, 'u', 'p', ?) RETURNING cntAuto"),
            {service, name, display, active}));
    }

    // A waiting token of today (or of another day).
    qint64 issue(int service, int number, const QString& time = QStringLiteral("10:05:00"),
                 QDate day = QDate(2026, 3, 14)) {
        const QString prefix = service == serviceA ? QStringLiteral("A") : QStringLiteral("X");
        return db().insert(
            QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, no_abr) "
                           "VALUES (?, ?, ?, ?, ?) RETURNING tickAuto"),
            {service, number, day.toString(QStringLiteral("yyyy-MM-dd")), time,
             prefix + QString::number(number)});
    }

    QString ticket(qint64 key, const QString& column) {
        return db()
            .scalar(QStringLiteral("SELECT %1 FROM tblTicket WHERE tickAuto=?").arg(column), {key})
            .toString();
    }
    int callRows() { return db().scalar(QStringLiteral("SELECT COUNT(*) FROM tblCall")).toInt(); }
    QString lastCall(const QString& column) {
        return db()
            .scalar(QStringLiteral("SELECT %1 FROM tblCall ORDER BY callauto DESC LIMIT 1").arg(column))
            .toString();
    }

    // A counter console for the active counter, shown.
    std::unique_ptr<frmCall> openConsole() {
        auto w = std::make_unique<frmCall>(connection, settings.store, session, clock, prompt);
        w->show();
        return w;
    }
};

} // namespace tallyvo::test
