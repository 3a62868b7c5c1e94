#include "core/DirectRows.h"

#include "core/Database.h"

#include <QSqlRecord>
#include <atomic>
#include <libpq-fe.h>
#include <sqlite3.h>

namespace tallyvo {

namespace {

// A null text is bound as an empty one, as Database::run binds it.
QByteArray textOf(const QVariant& v) {
    return v.toString().toUtf8();
}

bool isWhole(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
        return true;
    default:
        return false;
    }
}

} // namespace

DirectRows::DirectRows(sqlite3* raw, const QString& sql, const QVariantList& values) {
    prepare(raw, sql, values);
}

void DirectRows::prepare(sqlite3* raw, const QString& sql, const QVariantList& values) {
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(raw, text.constData(), int(text.size()), &m_stmt, nullptr) != SQLITE_OK) {
        const QString why = QString::fromUtf8(sqlite3_errmsg(raw));
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        throw DbError(why);
    }
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& v = values[i];
        if (!v.isValid() || (v.isNull() && v.typeId() != QMetaType::QString))
            sqlite3_bind_null(m_stmt, i + 1);
        else if (isWhole(v))
            sqlite3_bind_int64(m_stmt, i + 1, v.toLongLong());
        else {
            const QByteArray b = textOf(v);
            sqlite3_bind_text(m_stmt, i + 1, b.constData(), int(b.size()), SQLITE_TRANSIENT);
        }
    }
}

DirectRows::DirectRows(const Database& db, const QString& sql, const QVariantList& values, Plan plan) {
    if (sqlite3* raw = db.sqliteHandle()) {
        prepare(raw, sql, values);
        return;
    }
    PGconn* conn = db.postgresHandle();
    const auto state = conn ? PQtransactionStatus(conn) : PQTRANS_UNKNOWN;
    if (!conn || PQstatus(conn) != CONNECTION_OK || state == PQTRANS_ACTIVE || state == PQTRANS_UNKNOWN) {
        viaQueryLayer(db, sql, values);
        return;
    }
    // '?' is one byte in UTF-8 and never part of another character's bytes.
    QByteArray text;
    text.reserve(sql.size() + 8);
    int n = 0;
    for (const char c : sql.toUtf8()) {
        if (c == '?')
            text += '$' + QByteArray::number(++n);
        else
            text += c;
    }
    std::vector<QByteArray> bound;
    std::vector<const char*> params;
    bound.reserve(size_t(values.size()));
    for (const QVariant& v : values) {
        const bool null = !v.isValid() || (v.isNull() && v.typeId() != QMetaType::QString);
        bound.push_back(null ? QByteArray() : textOf(v));
        params.push_back(null ? nullptr : bound.back().constData());
    }
    // Only outside a transaction: a kept statement the server no longer has fails, and a failure
    // inside a transaction would end the caller's transaction with it.
    if (plan == Plan::Kept && state == PQTRANS_IDLE) {
        QHash<QString, QByteArray>& kept = db.keptStatements();
        QByteArray name = kept.value(sql);
        if (name.isEmpty()) {
            static std::atomic<int> made{0};
            const QByteArray fresh = "tallyvo_kept_" + QByteArray::number(++made);
            PGresult* prepared =
                PQprepare(conn, fresh.constData(), text.constData(), int(params.size()), nullptr);
            if (PQresultStatus(prepared) == PGRES_COMMAND_OK) {
                kept.insert(sql, fresh);
                name = fresh;
            }
            PQclear(prepared);
        }
        if (!name.isEmpty()) {
            m_result = PQexecPrepared(conn, name.constData(), int(params.size()), params.data(), nullptr,
                                      nullptr, 0);
            if (PQresultStatus(m_result) == PGRES_TUPLES_OK) {
                m_rows = PQntuples(m_result);
                return;
            }
            // Gone with a connection made again under the same handle, or refused: run afresh
            // below, which says why if it fails again.
            kept.remove(sql);
            PQclear(m_result);
            m_result = nullptr;
            if (PQstatus(conn) == CONNECTION_BAD) {
                viaQueryLayer(db, sql, values);
                return;
            }
        }
    }
    m_result =
        PQexecParams(conn, text.constData(), int(params.size()), nullptr, params.data(), nullptr, nullptr, 0);
    if (PQresultStatus(m_result) == PGRES_TUPLES_OK) {
        m_rows = PQntuples(m_result);
        return;
    }
    const QString why = QString::fromUtf8(PQresultErrorMessage(m_result)).trimmed();
    PQclear(m_result);
    m_result = nullptr;
    if (PQstatus(conn) == CONNECTION_BAD) {
        // Gone under us: the query layer makes the connection again and runs the read once more.
        viaQueryLayer(db, sql, values);
        return;
    }
    throw DbError(why.isEmpty() ? QString::fromUtf8(PQerrorMessage(conn)).trimmed() : why);
}

DirectRows::~DirectRows() {
    sqlite3_finalize(m_stmt);
    PQclear(m_result);
}

void DirectRows::viaQueryLayer(const Database& db, const QString& sql, const QVariantList& values) {
    m_query.emplace(db.run(sql, values));
}

bool DirectRows::next() {
    if (m_stmt) {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            throw DbError(QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(m_stmt))));
        return false;
    }
    if (m_result)
        return ++m_row < m_rows;
    if (!m_query || !m_query->next())
        return false;
    const int columns = m_query->record().count();
    m_cells.assign(size_t(columns), QByteArray());
    for (int c = 0; c < columns; ++c)
        if (!m_query->isNull(c))
            m_cells[size_t(c)] = m_query->value(c).toString().toUtf8();
    return true;
}

bool DirectRows::isNull(int column) const {
    if (m_stmt)
        return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
    if (m_result)
        return PQgetisnull(m_result, m_row, column) != 0;
    return m_query->isNull(column);
}

QByteArrayView DirectRows::bytes(int column) const {
    if (m_stmt) {
        // One call into the statement, not two: the value's own text and length, without the
        // statement's checks, which is safe as the rows are read on the thread that asked for them.
        sqlite3_value* value = sqlite3_column_value(m_stmt, column);
        const char* t = reinterpret_cast<const char*>(sqlite3_value_text(value));
        return t ? QByteArrayView(t, sqlite3_value_bytes(value)) : QByteArrayView();
    }
    if (m_result)
        return QByteArrayView(PQgetvalue(m_result, m_row, column), PQgetlength(m_result, m_row, column));
    return column < int(m_cells.size()) ? QByteArrayView(m_cells[size_t(column)]) : QByteArrayView();
}

qint64 DirectRows::integer(int column) const {
    if (m_stmt)
        return sqlite3_column_int64(m_stmt, column);
    bool ok = false;
    const qint64 v = bytes(column).toLongLong(&ok);
    return ok ? v : 0;
}

std::optional<qint64> DirectRows::integerOf(const Database& db, const QString& sql,
                                            const QVariantList& values, Plan plan) {
    DirectRows rows(db, sql, values, plan);
    if (!rows.next() || rows.isNull(0))
        return std::nullopt;
    return rows.integer(0);
}

} // namespace tallyvo
