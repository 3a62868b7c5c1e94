#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

namespace tallyvo {

// The process-wide active values: who is logged in, which counter and service a console works
// for, and the connection values last loaded from the settings store. Built once at start-up and
// handed to whoever needs it.
struct Session {
    // Counter being worked (set at login or by the administrator console's counter chooser).
    int activeCounter = 0;
    int activeService = 0;
    QString counterName;
    QString counterDisplayName;

    // Login.
    bool isAdmin = false;
    QString adminName;
    int adminKey = 0;

    // Copies printed per ticket.
    int ticketCopies = 1;

    // Connection values as last loaded from the settings store.
    QString sqlHost;
    QString sqlDatabase;
    QString sqlUser;
    QString sqlPassword;

    // The report window activated last: the one whose grids "Send to Excel" exports.
    QPointer<QObject> currentReportWindow;
};

} // namespace tallyvo
