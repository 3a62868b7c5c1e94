#pragma once

#include "tokens/TicketPrinter.h"

#include <QCoreApplication>
#include <QDate>
#include <QString>
#include <functional>
#include <optional>

namespace tallyvo {

class Clock;
class Database;
struct Session;

// A token as stored in tblTicket.
struct StoredToken {
    qint64 key = 0; // tickAuto
    int number = 0; // tickNo
    QString label;  // no_abr
    QString date;   // tickDate, "yyyy-MM-dd"
    QString webKey; // webKey: what a visitor's phone names the token by (see WebKeys)
};

// What became of one issue.
struct IssueResult {
    Q_DECLARE_TR_FUNCTIONS(IssueResult)

public:
    enum class Status {
        Issued,      // stored and every copy printed
        Limit,       // the number is beyond the service's end number: nothing stored, nothing printed
        Failed,      // the token could not be stored (error says why): nothing printed
        PrintFailed, // stored, but at least one copy did not print (error says why)
    };

    Status status = Status::Failed;
    StoredToken token;     // set for Issued and PrintFailed
    int copiesPrinted = 0; // copies the printer accepted
    QString error;         // the database's or the printer's text

    bool stored() const { return status == Status::Issued || status == Status::PrintFailed; }
    // What the operator is told: "" for Issued, "Limit", the database's error, or which token was
    // stored without its ticket.
    QString message() const;
};

// Numbering of tokens per service and issue date.
//
// The next number is the highest tickNo of the service on the issue date plus one, or the
// service's startno for the first token of that date. Several stations issue at once: the
// number is chosen and stored by one statement, and the unique rule on (servAuto, tickDate,
// tickNo) turns a collision into a retry, so no number is ever stored twice. The ticket is
// printed only after the token is stored. Each token is stored with its web key in the same
// statement, so no token is ever seen without one.
//
// A connection lost while a token is being stored (a failover) leaves it unknown whether the
// token was stored. Each issue stores its token with a request key of its own, so the issuer
// asks by that key on the new connection: it takes the token the first try stored, or stores
// it now. When the server cannot be asked yet, the issue fails and its key is kept: the
// operator's next issue of that service asks first and takes that token. One visitor never gets
// two tokens, and a token is reported only once it is stored.
class TokenIssuer {
    Q_DECLARE_TR_FUNCTIONS(TokenIssuer)

public:
    TokenIssuer(const Database& db, const Clock& clock, const Session& session, TicketPrinter& printer);

    // The date tokens are issued for; today unless set. Returns to today after each stored token,
    // as the ticket window's date box does.
    void setIssueDate(const QDate& date);
    QDate issueDate() const;

    // The number the next token of the service gets on the issue date; 0 when the service does
    // not exist. Another station may take it first: getEnd() then stores the next free one.
    int getToken(int serviceKey) const;

    // Checks the service's end number, stores the token and prints session.ticketCopies copies.
    // `number` is what getToken() gave; when another station stored it meanwhile, the token gets
    // the next free number, checked against the end number again. Database errors are returned
    // as Failed, never thrown.
    IssueResult getEnd(int serviceKey, const QString& serviceName, int number);

    // getToken() and getEnd() in one: what the ticket window and tallyvoctl run for a click.
    IssueResult issue(int serviceKey, const QString& serviceName);

    // Stores a token of the service on the issue date: its number follows the highest of that
    // date, or is `number` when the date has none yet. Only when that number is at most
    // lastNumber (nullopt otherwise). Throws DbError when the database refuses the row.
    // requestKey, when given, is stored with it: one key, one token.
    std::optional<StoredToken> addRc(int serviceKey, const QString& prefix, int number, int lastNumber,
                                     const QString& requestKey = QString());

    // The moments a connection can be lost in while a token is stored: before the statement
    // reached the server, after the server stored it but before its answer came back, and when
    // the issuer asks what a lost try left. A test sets a hook that breaks the connection there.
    enum class StoreMoment { Before, Stored, Lookup };
    void setStoreHook(std::function<void(StoreMoment)> hook) { m_storeHook = std::move(hook); }

    // An issue whose outcome could not be learnt (empty key: none), for an issuer that lives for
    // one click to hand on to the next.
    struct Pending {
        int service = 0;
        QString requestKey;
    };
    Pending pending() const { return {m_pendingService, m_pendingKey}; }
    void setPending(const Pending& p)
    {
        m_pendingService = p.service;
        m_pendingKey = p.requestKey;
    }

    // The label called last today for the service (highest ticket key among today's called
    // tokens); "" when it has called nothing today. What a ticket shows as "Now Serving".
    QString getNowServing(int serviceKey) const;

    // Prefix immediately followed by the number: "A" and 7 give "A7".
    static QString tokenLabel(const QString& prefix, int number);
    // The whole number a text of tblService stands for, read as the service window accepts it
    // ("300.0" and "1e1" are whole); empty, not a number or not whole counts as 0.
    static int numberOf(const QString& text);

private:
    QString issueDateText() const;
    IssueResult store(int serviceKey, const QString& serviceName, int number, bool checkNumber);
    std::optional<StoredToken> storeOnce(int serviceKey, const QString& prefix, int number, int lastNumber);
    std::optional<StoredToken> byRequestKey(const QString& requestKey) const;

    const Database& m_db;
    const Clock& m_clock;
    const Session& m_session;
    TicketPrinter& m_printer;
    QDate m_issueDate;
    std::function<void(StoreMoment)> m_storeHook;
    // The key of an issue whose outcome could not be learnt, and its service.
    QString m_pendingKey;
    int m_pendingService = 0;
};

} // namespace tallyvo
