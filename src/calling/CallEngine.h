#pragma once

#include "core/StatementCache.h"

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <optional>

namespace tallyvo {

class Clock;
class Database;
class Prompt;
class SettingsStore;
struct Session;

// A row of the Attended and Cancelled lists.
struct AttendRow {
    qint64 key = 0; // tickAuto
    QString label;  // no_abr
    QString attTime;
    QString finished;
};

// A row of the Transfered list: tokens handed to this counter and not called yet.
struct TransferRow {
    qint64 key = 0;
    QString label;
    QString attTime;
    QString status;
    QString ref; // the notes given with the transfer
};

// A row of the Pending list.
struct PendingRow {
    qint64 key = 0;
    QString label;
    QString tickTime;
    // Whole minutes from tickTime to now (minute boundaries crossed); none when tickTime is not
    // a time of day.
    std::optional<int> waitingMinutes;
};

// An entry of today's tokens of the service (the transfer's token choice).
struct TokenEntry {
    qint64 key = 0;
    QString label;
};

// What one counter does with tokens: one engine per console window.
//
// It works for the counter of the session's active values (activeCounter, activeService,
// counterName, counterDisplayName), read at every operation, and keeps the console state the
// window shows. Every date is today of the clock; every time of day is its now.
//
// Errors: a step the database refuses throws DbError with the database's text; earlier steps stay
// saved, a call is never half written, and the console state keeps what the earlier steps set.
// Console windows catch it around each button and hot key and show e.text() in a message box; the
// list queries throw too, and a window refreshing on a timer may keep its old rows instead of
// showing a message every minute.
//
// The engine keeps its statements prepared on the connection: the Database must outlive it.
//
// Several counters work at once: a token is taken only while it is still waiting, and the take
// and its call row are one transaction, so no token is taken twice or taken without a call row.
class CallEngine {
    Q_DECLARE_TR_FUNCTIONS(CallEngine)

public:
    CallEngine(const Database& db, const Clock& clock, Session& session, const SettingsStore& settings,
               Prompt& prompt);

    // Console state.
    const QString& currentKey() const { return m_currentKey; }     // tickAuto as text; "" when none
    const QString& currentLabel() const { return m_currentLabel; } // no_abr of the current token
    const QString& callStatus() const { return m_callStatus; }     // "Calling" or "Idle"
    const QString& lastServed() const { return m_lastServed; }     // "Last Served : " + label, or "Not Available"
    const QString& pendingText() const { return m_pendingText; }   // "Total Pending : " + count
    int pendingCount() const { return m_pendingCount; }
    // What went wrong after the last call was saved (the recount of waiting tokens), once; ""
    // when nothing did. The call itself stands.
    QString takeWarning();

    // Whether a normal call row carries the counter name as second display line when setting
    // show/both is missing: the console's check box.
    void setShowBothDefault(bool show) { m_showBothDefault = show; }

    // The console opens for the active counter: "Idle", the counter's names into the session,
    // then getPending() and getLast().
    void open();
    // The administrator console's counter choice: sets the four active values from the counter
    // named contName, then getLast() and getPending(). False (nothing changed) when no counter
    // has that name.
    bool chooseCounter(const QString& contName);

    // Operations.
    // callNext, callThis and nextAction return true when a token was called ("Calling"), false
    // for "Idle".
    bool callNext();                                   // take and call the lowest waiting token
    bool callThis(qint64 ticketKey, const QString& kind); // call today's token out of turn; kind "LAB" or ""
    void callRC();                                     // write a normal call row for the current token
    void callRC1();                                    // write a "Lab Report" call row for it
    bool updateRc();     // recall: the current token's first call row is announced again; false when none
    void setFinish();    // stamp now as the current token's finish time
    void cancelToken();  // mark the current token "Cancelled"
    // Hands a token to the counter named targetCounter with notes; "Select a token first" when
    // ticketKey is empty. A transfer to this counter or to an unknown name does nothing and says
    // nothing (false). Otherwise "Updated"; the current token is cleared and the caller reloads
    // addTokens().
    bool transferToken(const QString& ticketKey, const QString& targetCounter, const QString& notes);
    int getPending();    // today's waiting tokens of the service, also into pendingText
    void getLast();      // the last token this counter called today becomes current
    bool nextAction();   // "Next": finish the current token, reload the last, call the next

    // Lists for the console's grids.
    QList<AttendRow> addAttend() const;
    QList<AttendRow> addCancelled() const;
    QList<TransferRow> addTrans() const;
    QList<PendingRow> addPendings() const;
    QList<TokenEntry> addTokens() const;

    // Whole minutes from one time of day "HH:mm:ss" to another, counted as minute boundaries
    // crossed (10:05:59 to 10:06:00 is 1); none when either is not a time.
    static std::optional<int> minutesBetween(const QString& from, const QString& to);

private:
    // Today's tokens this counter called: the cancelled ones, or all the others.
    QList<AttendRow> attendRows(bool cancelled) const;
    enum class Note { Normal, LabReport };
    // Writes the call row inside the caller's transaction. When the token has a call row already
    // and the new one is refused, that row is written over and announced instead.
    void writeCallRow(qint64 key, const QString& label, Note note, bool hasCallRow);
    bool showBoth() const;
    QString today() const;
    void callCurrent(Note note);
    void recountAfterCall();

    const Database& m_db;
    StatementCache m_statements;
    const Clock& m_clock;
    Session& m_session;
    const SettingsStore& m_settings;
    Prompt& m_prompt;
    bool m_showBothDefault = false;

    QString m_currentKey;
    QString m_currentLabel;
    QString m_callStatus;
    QString m_lastServed;
    QString m_pendingText;
    int m_pendingCount = 0;
    QString m_warning;
};

} // namespace tallyvo
