#include "calling/CallEngine.h"

#include "core/Clock.h"
#include "core/Database.h"
#include "core/Prompt.h"
#include "core/Session.h"
#include "core/SettingsStore.h"
#include "core/modSub.h"

#include <QStringList>
#include <utility>

namespace tallyvo {

namespace {

// A counter that loses a token to another counter takes the next one; every lost round means a
// token was taken, so this bound is never reached by a queue of real size.
constexpr int maxTakeAttempts = 10000;

// The first call of a token is stamped once; a token called before anything stamped it (a
// transferred one, or one called before the column existed) had its first call at attTime.
const QString firstCallSet = QStringLiteral("firstCall=coalesce(nullif(firstCall, ''), nullif(attTime, ''), ?)");

qint64 keyOf(const QString& text)
{
    bool ok = false;
    const qint64 key = text.trimmed().toLongLong(&ok);
    return ok ? key : 0;
}

} // namespace

CallEngine::CallEngine(const Database& db, const Clock& clock, Session& session, const SettingsStore& settings,
                       Prompt& prompt)
    : m_db(db)
    , m_statements(db)
    , m_clock(clock)
    , m_session(session)
    , m_settings(settings)
    , m_prompt(prompt)
    , m_callStatus(tr("Idle"))
{
}

QString CallEngine::today() const
{
    return m_clock.todayText();
}

bool CallEngine::showBoth() const
{
    const QString fallback = m_showBothDefault ? QStringLiteral("1") : QStringLiteral("0");
    return m_settings.get(Keys::ShowBoth, fallback).trimmed() == QLatin1String("1");
}

void CallEngine::open()
{
    m_callStatus = tr("Idle");
    m_session.counterName = modSub::getCounterName(m_db, m_session, m_session.activeCounter);
    getPending();
    getLast();
}

bool CallEngine::chooseCounter(const QString& contName)
{
    QSqlQuery q = m_db.run(QStringLiteral("SELECT cntAuto, servAuto, contName, displayName FROM tblCounter "
                                          "WHERE contName=? ORDER BY cntAuto LIMIT 1"),
                           {contName});
    if (!q.next())
        return false;
    const int counter = q.value(0).toInt();
    const int service = q.value(1).toInt();
    const QString name = q.value(2).toString();
    const QString displayName = q.value(3).toString();
    q.finish();
    if (counter != m_session.activeCounter) {
        // The token in hand belongs to the counter that called it: another counter must not
        // finish or recall it.
        m_currentKey.clear();
        m_currentLabel.clear();
    }
    m_session.activeCounter = counter;
    m_session.activeService = service;
    m_session.counterName = name;
    m_session.counterDisplayName = displayName;
    getLast();
    getPending();
    return true;
}

void CallEngine::writeCallRow(qint64 key, const QString& label, Note note, bool hasCallRow)
{
    const QString callNote = note == Note::LabReport
        ? QStringLiteral("Lab Report")
        : (showBoth() ? m_session.counterName : QString());
    const QVariantList values{m_session.activeCounter, label, m_session.counterDisplayName, key, today(), callNote};
    static const QString insertSql = QStringLiteral("INSERT INTO tblCall (cntAuto, no_abr, displayName, status, "
                                                    "tickAuto, tickDate, callNote) VALUES (?, ?, ?, '0', ?, ?, ?)");
    if (!hasCallRow) {
        // Nothing to fall back on: a refused row undoes the whole call, so the display never
        // misses a token that was taken.
        m_statements.write(insertSql, values);
        return;
    }
    // The savepoint keeps the surrounding transaction usable when the insert fails, so the
    // token's existing call row can be announced instead.
    m_db.run(QStringLiteral("SAVEPOINT call_row"));
    try {
        m_statements.write(insertSql, values);
        m_db.run(QStringLiteral("RELEASE SAVEPOINT call_row"));
        return;
    } catch (const DbError&) {
        m_db.run(QStringLiteral("ROLLBACK TO SAVEPOINT call_row"));
        const QVariant first =
            m_db.scalar(QStringLiteral("SELECT min(callauto) FROM tblCall WHERE tickAuto=?"), {key});
        if (!first.isValid() || first.isNull())
            throw; // without a call row the display would never show this call: undo the take
        QVariantList update = values;
        update << first;
        m_db.run(QStringLiteral("UPDATE tblCall SET cntAuto=?, no_abr=?, displayName=?, status='0', tickAuto=?, "
                                "tickDate=?, callNote=? WHERE callauto=?"),
                 update);
    }
}

void CallEngine::recountAfterCall()
{
    // The call is saved whatever happens here: a count that cannot be read now (the server going
    // away at this moment) is a warning, never a failed call.
    try {
        getPending();
    } catch (const DbError& e) {
        m_warning =
            tr("%1 is called, but the waiting tokens could not be counted: %2").arg(m_currentLabel, e.text());
    }
}

QString CallEngine::takeWarning()
{
    return std::exchange(m_warning, QString());
}

bool CallEngine::callNext()
{
    m_warning.clear();
    // Taking is one statement that succeeds only while the token still waits. A counter that
    // loses the race to another takes the next one; one that finds nothing waiting is idle.
    static const QString takeSql = QStringLiteral(
        "UPDATE tblTicket SET call='1', attended=?, attTime=?, status='Finished', ") + firstCallSet + QStringLiteral(
        " WHERE call='0' AND tickAuto="
        "(SELECT tickAuto FROM tblTicket WHERE call='0' AND tickDate=? AND servAuto=? ORDER BY tickNo ASC LIMIT 1) "
        "RETURNING tickAuto, no_abr, (SELECT count(*) FROM tblCall WHERE tblCall.tickAuto=tblTicket.tickAuto)");
    for (int attempt = 0; attempt < maxTakeAttempts; ++attempt) {
        {
            const QString now = m_clock.nowText();
            Transaction t(m_db);
            const std::optional<QVariantList> taken = m_statements.firstRow(
                takeSql, {m_session.activeCounter, now, now, today(), m_session.activeService});
            if (taken) {
                const qint64 key = taken->value(0).toLongLong();
                const QString label = taken->value(1).toString();
                writeCallRow(key, label, Note::Normal, taken->value(2).toInt() > 0);
                t.commit();
                m_callStatus = tr("Calling");
                m_currentLabel = label;
                m_currentKey = QString::number(key);
                recountAfterCall();
                return true;
            }
        }
        if (getPending() == 0)
            break;
    }
    m_callStatus = tr("Idle");
    return false;
}

bool CallEngine::callThis(qint64 ticketKey, const QString& kind)
{
    m_warning.clear();
    const Note note = kind == QLatin1String("LAB") ? Note::LabReport : Note::Normal;
    const QString now = m_clock.nowText();
    Transaction t(m_db);
    const std::optional<QVariantList> taken = m_statements.firstRow(
        QStringLiteral("UPDATE tblTicket SET call='1', attended=?, attTime=?, status='Finished', ") + firstCallSet +
            QStringLiteral(" WHERE tickDate=? AND tickAuto=? "
                       "RETURNING no_abr, (SELECT count(*) FROM tblCall WHERE tblCall.tickAuto=tblTicket.tickAuto)"),
        {m_session.activeCounter, now, now, today(), ticketKey});
    if (!taken) {
        m_callStatus = tr("Idle");
        return false;
    }
    const QString label = taken->value(0).toString();
    writeCallRow(ticketKey, label, note, taken->value(1).toInt() > 0);
    t.commit();
    m_callStatus = tr("Calling");
    m_currentLabel = label;
    m_currentKey = QString::number(ticketKey);
    recountAfterCall();
    return true;
}

void CallEngine::callCurrent(Note note)
{
    if (m_currentKey.isEmpty())
        return;
    Transaction t(m_db);
    writeCallRow(keyOf(m_currentKey), m_currentLabel, note, true);
    t.commit();
}

void CallEngine::callRC()
{
    callCurrent(Note::Normal);
}

void CallEngine::callRC1()
{
    callCurrent(Note::LabReport);
}

bool CallEngine::updateRc()
{
    if (m_currentKey.isEmpty())
        return false;
    return m_statements.write(QStringLiteral("UPDATE tblCall SET status='0' WHERE callauto="
                                             "(SELECT min(callauto) FROM tblCall WHERE tickAuto=?)"),
                              {keyOf(m_currentKey)})
        > 0;
}

void CallEngine::setFinish()
{
    if (m_currentKey.isEmpty())
        return;
    m_statements.write(QStringLiteral("UPDATE tblTicket SET finished=? WHERE tickAuto=?"),
                       {m_clock.nowText(), keyOf(m_currentKey)});
}

void CallEngine::cancelToken()
{
    if (m_currentKey.isEmpty())
        return;
    m_statements.write(QStringLiteral("UPDATE tblTicket SET status='Cancelled' WHERE tickAuto=?"),
                       {keyOf(m_currentKey)});
}

bool CallEngine::transferToken(const QString& ticketKey, const QString& targetCounter, const QString& notes)
{
    if (ticketKey.trimmed().isEmpty()) {
        m_prompt.alert(Prompt::Icon::Exclamation, tr("Select a token first"));
        return false;
    }
    const int target = modSub::getCounterKey(m_db, targetCounter);
    if (target == 0 || target == m_session.activeCounter)
        return false;
    m_db.run(QStringLiteral("UPDATE tblTicket SET call='0', attended=?, status='Transferred', ref=? "
                            "WHERE tickAuto=?"),
             {target, notes, keyOf(ticketKey)});
    m_currentKey.clear();
    m_prompt.message(tr("Updated"));
    return true;
}

int CallEngine::getPending()
{
    const std::optional<QVariantList> count =
        m_statements.firstRow(QStringLiteral("SELECT count(tickNo) FROM tblTicket WHERE call='0' AND tickDate=? "
                                             "AND servAuto=?"),
                              {today(), m_session.activeService});
    m_pendingCount = count ? count->value(0).toInt() : 0;
    m_pendingText = tr("Total Pending : ") + QString::number(m_pendingCount);
    return m_pendingCount;
}

void CallEngine::getLast()
{
    const std::optional<QVariantList> last =
        m_statements.firstRow(QStringLiteral("SELECT no_abr, tickAuto FROM tblTicket WHERE call='1' AND tickDate=? "
                                             "AND attended=? ORDER BY tickAuto DESC LIMIT 1"),
                              {today(), m_session.activeCounter});
    if (!last) {
        m_lastServed = tr("Last Served : Not Available");
        return;
    }
    m_lastServed = tr("Last Served : ") + last->value(0).toString();
    m_currentKey = QString::number(last->value(1).toLongLong());
    m_currentLabel = last->value(0).toString();
}

bool CallEngine::nextAction()
{
    if (!m_currentKey.isEmpty()) {
        setFinish();
        m_currentKey.clear();
    }
    getLast();
    return callNext();
}

QList<AttendRow> CallEngine::attendRows(bool cancelled) const
{
    QList<AttendRow> rows;
    QSqlQuery q = m_db.run(QStringLiteral("SELECT tickAuto, no_abr, attTime, finished FROM tblTicket WHERE call='1' "
                                          "AND tickDate=? AND attended=? AND status%1'Cancelled' "
                                          "ORDER BY tickAuto DESC")
                               .arg(cancelled ? QStringLiteral("=") : QStringLiteral("<>")),
                           {today(), m_session.activeCounter});
    while (q.next())
        rows.append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString()});
    return rows;
}

QList<AttendRow> CallEngine::addAttend() const
{
    return attendRows(false);
}

QList<AttendRow> CallEngine::addCancelled() const
{
    return attendRows(true);
}

QList<TransferRow> CallEngine::addTrans() const
{
    QList<TransferRow> rows;
    QSqlQuery q = m_db.run(QStringLiteral("SELECT tickAuto, no_abr, attTime, status, ref FROM tblTicket "
                                          "WHERE call='0' AND tickDate=? AND attended=? AND status='Transferred' "
                                          "ORDER BY tickAuto"),
                           {today(), m_session.activeCounter});
    while (q.next())
        rows.append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                     q.value(4).toString()});
    return rows;
}

QList<PendingRow> CallEngine::addPendings() const
{
    QList<PendingRow> rows;
    const QString now = m_clock.nowText();
    QSqlQuery q = m_db.run(QStringLiteral("SELECT tickAuto, no_abr, tickTime FROM tblTicket WHERE call='0' "
                                          "AND tickDate=? AND servAuto=? ORDER BY tickAuto DESC"),
                           {today(), m_session.activeService});
    while (q.next()) {
        const QString issued = q.value(2).toString();
        rows.append({q.value(0).toLongLong(), q.value(1).toString(), issued, minutesBetween(issued, now)});
    }
    return rows;
}

QList<TokenEntry> CallEngine::addTokens() const
{
    QList<TokenEntry> rows;
    QSqlQuery q = m_db.run(QStringLiteral("SELECT tickAuto, no_abr FROM tblTicket WHERE tickDate=? AND servAuto=? "
                                          "ORDER BY tickNo ASC"),
                           {today(), m_session.activeService});
    while (q.next())
        rows.append({q.value(0).toLongLong(), q.value(1).toString()});
    return rows;
}

std::optional<int> CallEngine::minutesBetween(const QString& from, const QString& to)
{
    auto minuteOfDay = [](const QString& t) -> std::optional<int> {
        const QStringList parts = t.trimmed().split(QLatin1Char(':'));
        if (parts.size() < 2)
            return std::nullopt;
        bool okHour = false;
        bool okMinute = false;
        const int hour = parts[0].toInt(&okHour);
        const int minute = parts[1].toInt(&okMinute);
        if (!okHour || !okMinute)
            return std::nullopt;
        return hour * 60 + minute;
    };
    const std::optional<int> a = minuteOfDay(from);
    const std::optional<int> b = minuteOfDay(to);
    if (!a || !b)
        return std::nullopt;
    return *b - *a;
}

} // namespace tallyvo
