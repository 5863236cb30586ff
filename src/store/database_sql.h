#pragma once

// Shared by the database_*.cpp files only: the per-thread connection state and the helpers
// that run statements and turn every failure into a StoreError.

#include "store/database.h"
#include "store/fault_injection.h"

#include <QMutex>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace database_detail
{
enum class Dialect { Sqlite, Postgres };
} // namespace database_detail

// One per Database, shared with the thread-local list of connections that outlives it.
struct Database::Shared {
    QString location;
    int busyTimeoutMs = kDefaultBusyTimeoutMs;
    quint64 instance = 0;
    bool createFile = false; // only the very first connection of a new database creates it
    database_detail::Dialect dialect = database_detail::Dialect::Sqlite;
    // PostgreSQL: where the server is; the password comes from libpq's own sources.
    QString host;
    int port = -1;
    QString user;
    QString databaseName;
    QString connectOptions;
    QString dataDir; // where a PostgreSQL database's mail password is kept; may be empty
    QStringList restoredSummaryObjects; // by the preparation of this handle

    QMutex mutex;
    QSet<QString> names; // connections still open
};

namespace database_detail
{

// SQLite's name for the physical row; "the first matching row" is the one with the lowest.
inline constexpr const char *kRowKey = "rowid";
inline constexpr int kSettingsRowId = -1;

// A text column never receives NULL from the program; an empty text stays empty.
inline QVariant textValue(const QString &s)
{
    return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
}

// The kind of a refusal, with a full disk recognised whatever code SQLite gave it.
StoreError::Kind kindOf(const QSqlError &error, const QString &path);
bool isPostgresLocation(const QString &location);
// PostgreSQL ended the transaction because another one got in its way (deadlock,
// serialisation); the same transaction run again normally succeeds.
bool isConflict(const QSqlError &error);
// The connection to the server is gone; it has to be opened anew.
bool isConnectionLost(const QSqlError &error);
// How many times a transaction that lost a conflict is run in all.
inline constexpr int kConflictAttempts = 5;

// Runs statements on one connection and turns every failure into a StoreError that names
// the operation and the database.
class Sql
{
public:
    Sql(QSqlDatabase db, QString location)
        : m_db(std::move(db)), m_location(std::move(location)),
          m_dialect(m_db.driverName() == QLatin1String("QPSQL") ? Dialect::Postgres
                                                                : Dialect::Sqlite)
    {
    }

    QSqlQuery run(const QString &sql, const QVariantList &values, const char *what) const
    {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            fail(what, q.lastError());
        for (const QVariant &v : values)
            q.addBindValue(v);
        if (!sql.startsWith(QLatin1String("SELECT"), Qt::CaseInsensitive))
            beforeWrite(what);
        if (!q.exec())
            fail(what, q.lastError());
        return q;
    }

    // Every statement that changes rows passes here first, so that a test can make any
    // one of them fail.
    void beforeWrite(const char *what) const
    {
        if (store_faults::failsNow(store_faults::Point::Write))
            failPlanned(what);
    }

    [[noreturn]] void failPlanned(const char *what) const
    {
        Error e(ErrorCode::QueryFailed, m_location, QStringLiteral("planned failure (test)"));
        e.what = QString::fromUtf8(what);
        throw StoreError(e);
    }

    QSqlQuery run(const QString &sql, const char *what) const { return run(sql, {}, what); }

    // Statements that take no values and cannot be prepared in every driver (PRAGMA, BEGIN).
    QSqlQuery direct(const QString &sql, const char *what) const
    {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!q.exec(sql))
            fail(what, q.lastError());
        return q;
    }

    [[noreturn]] void fail(const char *what, const QSqlError &error) const
    {
        const StoreError::Kind kind = kindOf(error, m_location);
        m_conflict = postgres() && isConflict(error);
        // The next use of this thread's connection opens it anew.
        if (postgres() && isConnectionLost(error))
            QSqlDatabase(m_db).close();
        Error e(ErrorCode::QueryFailed, m_location, error.text());
        e.what = QString::fromUtf8(what);
        e.cause = StoreError::causeOf(kind);
        throw StoreError(e);
    }

    QSqlDatabase &db() { return m_db; }
    const QString &location() const { return m_location; }
    // The columns of a table; PostgreSQL keeps unquoted names in lower case.
    QSqlRecord record(const QString &table) const
    {
        return m_db.record(postgres() ? table.toLower() : table);
    }
    Dialect dialect() const { return m_dialect; }
    bool postgres() const { return m_dialect == Dialect::Postgres; }
    // True when the last failure was a conflict that a new attempt may not meet.
    bool lastFailureWasConflict() const { return m_conflict; }

    // Statement text with the spellings that differ between the dialects filled in:
    // {real} a double, {bigint} a 64-bit integer, {datum} the DATUM column's type (byte order,
    // whatever the server's locale), {rowid} the row key column PostgreSQL lacks (SQLite has
    // its own), {norowid} a table without that key.
    QString dialectSql(QString text) const
    {
        const bool pg = postgres();
        text.replace(QLatin1String("{real}"),
                     pg ? QLatin1String("DOUBLE PRECISION") : QLatin1String("REAL"));
        text.replace(QLatin1String("{bigint}"),
                     pg ? QLatin1String("BIGINT") : QLatin1String("INTEGER"));
        text.replace(QLatin1String("{datum}"),
                     pg ? QLatin1String("TEXT COLLATE \"C\"") : QLatin1String("TEXT"));
        text.replace(QLatin1String("{rowid}"),
                     pg ? QLatin1String(", rowid BIGINT GENERATED BY DEFAULT AS IDENTITY")
                        : QLatin1String(""));
        text.replace(QLatin1String("{norowid}"),
                     pg ? QLatin1String("") : QLatin1String(" WITHOUT ROWID"));
        return text;
    }

private:
    QSqlDatabase m_db;
    QString m_location;
    Dialect m_dialect;
    mutable bool m_conflict = false;
};

// Statements of many rows: `head`, the placeholders of up to `rowsPerStatement` rows of
// `width` values, then `tail`. The work per statement (and per run of a trigger) is shared by
// its rows. Each row count is prepared once: SQLite's parser takes much longer than that many
// times as long for a statement with many times the placeholders.
class RowStatements
{
public:
    RowStatements(Sql &sql, QString head, QString tail, int width, int rowsPerStatement,
                  const char *what)
        : m_sql(sql), m_head(std::move(head)), m_tail(std::move(tail)), m_width(width),
          m_rowsPerStatement(rowsPerStatement), m_what(what)
    {
    }

    // Writes the rows of `values` (width values each); `leading` is bound before the rows
    // in each statement, for placeholders of `head`.
    void run(const QVariantList &values, const QVariantList &leading = {})
    {
        const qsizetype rows = values.size() / m_width;
        for (qsizetype from = 0; from < rows; from += m_rowsPerStatement) {
            const qsizetype count = std::min<qsizetype>(m_rowsPerStatement, rows - from);
            QSqlQuery &q = prepared(count);
            for (const QVariant &v : leading)
                q.addBindValue(v);
            for (qsizetype i = from * m_width; i < (from + count) * m_width; ++i)
                q.addBindValue(values[i]);
            m_sql.beforeWrite(m_what);
            if (!q.exec())
                m_sql.fail(m_what, q.lastError());
        }
    }

private:
    QSqlQuery &prepared(qsizetype count)
    {
        auto [it, added] = m_prepared.try_emplace(count, m_sql.db());
        if (added) {
            const QString row =
                QLatin1Char('(') +
                QStringList(m_width, QStringLiteral("?")).join(QStringLiteral(", ")) +
                QLatin1Char(')');
            if (!it->second.prepare(m_head + QLatin1Char(' ') +
                                    QStringList(count, row).join(QStringLiteral(", ")) +
                                    QLatin1Char(' ') + m_tail))
                m_sql.fail(m_what, it->second.lastError());
        }
        return it->second;
    }

    Sql &m_sql;
    QString m_head;
    QString m_tail;
    int m_width;
    int m_rowsPerStatement;
    const char *m_what;
    std::map<qsizetype, QSqlQuery> m_prepared;
};

// Runs `body` (one whole transaction) again when it lost a conflict with another writer.
template <typename Body> auto retryConflicts(const Sql &sql, Body body)
{
    for (int attempt = 1;; ++attempt) {
        try {
            return body();
        } catch (const StoreError &) {
            if (attempt >= kConflictAttempts || !sql.lastFailureWasConflict())
                throw;
        }
    }
}

// A transaction that rolls back unless committed.
class Transaction
{
public:
    Transaction(Sql &sql, const char *what) : m_sql(sql), m_what(what)
    {
        if (!m_sql.db().transaction())
            m_sql.fail(what, m_sql.db().lastError());
    }
    ~Transaction()
    {
        if (!m_done)
            m_sql.db().rollback();
    }
    void commit()
    {
        if (store_faults::failsNow(store_faults::Point::Commit)) {
            m_sql.db().rollback();
            m_done = true;
            m_sql.failPlanned(m_what);
        }
        if (!m_sql.db().commit()) {
            const QSqlError error = m_sql.db().lastError();
            m_sql.db().rollback();
            m_done = true;
            m_sql.fail(m_what, error);
        }
        m_done = true;
        if (store_faults::committedAnyway())
            m_sql.failPlanned(m_what);
    }

private:
    Sql &m_sql;
    const char *m_what;
    bool m_done = false;
};

// Version 3: the covering archive index, the summary tables with the triggers that keep them,
// and their first filling from the rows already archived.
void createArchiveSummaries(Sql &sql);
// Empties the summary tables of the levels in `levels` (a bit per index of kSummarySlots)
// and fills them from the archive, or from the next finer level, which must be whole.
inline constexpr unsigned kAllSummaryLevels = ~0u;
void fillArchiveSummaries(Sql &sql, unsigned levels = kAllSummaryLevels);
// The summary tables and the triggers that keep them that a database of schema `version`
// lacks (a disabled trigger counts as missing, so does a batch flag left set).
QStringList missingSummaryObjects(Sql &sql, int version);

// Version 6: on SQLite the flag with which this program's own archive batches are summarised
// in one grouped pass per level rather than by the insert trigger row by row.
inline constexpr int kSummaryBatchVersion = 6;
void createSummaryBatch(Sql &sql);
// SQLite, in the transaction that archives new rows, before they are written: sets the flag.
// finishSummaryBatch, after the rows are written, adds them to the summaries and clears it.
// (PostgreSQL's statement trigger groups each statement's rows anyway.)
void beginSummaryBatch(Sql &sql);
void finishSummaryBatch(Sql &sql, const std::vector<const ArchiveRecord *> &rows);

// Version 4: the regulations' alarm quality and the no-data alarm setting.
void createAlarmQuality(Sql &sql);
// Version 5: how long an alarm mail may wait in the outbox.
void addMailMaxAge(Sql &sql);

inline QString equalsAll(const QStringList &columns)
{
    QStringList parts;
    for (const QString &c : columns)
        parts << c + QStringLiteral(" = ?");
    return parts.join(QStringLiteral(" AND "));
}

inline QString firstRowOf(const QString &table, const QStringList &keyColumns)
{
    return QStringLiteral("SELECT %1 FROM %2 WHERE %3 ORDER BY %1 LIMIT 1")
        .arg(QLatin1String(kRowKey), table, equalsAll(keyColumns));
}

} // namespace database_detail
