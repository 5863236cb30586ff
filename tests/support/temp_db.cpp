#include "support/temp_db.h"

#include "store/database.h"
#include "support/pg_server.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <gtest/gtest.h>

#include <atomic>

namespace
{

std::atomic<int> g_rawConnections{0};

// Creating and seeding a database costs several disk syncs; tests that only use one get a
// copy of a database prepared once per test program.
QString preparedTemplate()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = QDir(dir.path()).filePath(QStringLiteral("template.db"));
        Database db(file);
        return file;
    }();
    return path;
}

} // namespace

std::ostream &operator<<(std::ostream &out, Backend backend)
{
    return out << backendName(backend);
}

std::string backendName(Backend backend)
{
    return backend == Backend::Postgres ? "PostgreSQL" : "SQLite";
}

TempDb::TempDb(Start start, Backend backend)
    : m_connection(QStringLiteral("test-raw-%1").arg(++g_rawConnections)), m_backend(backend)
{
    if (backend == Backend::Postgres) {
        QString error;
        const PgServer *server = PgServer::shared(&error);
        if (server)
            m_pgDatabase = server->createDatabase(start == Start::Prepared, &error);
        if (m_pgDatabase.isEmpty())
            ADD_FAILURE() << "no PostgreSQL database for this test: " << error.toStdString();
        return;
    }
    if (start == Start::Prepared && !QFile::copy(preparedTemplate(), path()))
        ADD_FAILURE() << "cannot copy the prepared database to " << path().toStdString();
}

TempDb::~TempDb()
{
    close();
    if (!m_pgDatabase.isEmpty()) {
        QString ignored;
        PgServer::shared(&ignored)->dropDatabase(m_pgDatabase);
    }
}

QString TempDb::path() const
{
    if (m_backend == Backend::Postgres) {
        QString ignored;
        const PgServer *server = PgServer::shared(&ignored);
        // An address no server answers, so that a test without a server fails on it.
        return server ? server->url(m_pgDatabase)
                      : QStringLiteral("postgresql://nobody@127.0.0.1:1/none");
    }
    return filePath(QStringLiteral("ostracom.db"));
}

QString TempDb::filePath(const QString &name) const
{
    return QDir(m_dir.path()).filePath(name);
}

QSqlDatabase TempDb::raw()
{
    if (QSqlDatabase::contains(m_connection))
        return QSqlDatabase::database(m_connection);
    QSqlDatabase db;
    QString ignored;
    const PgServer *server = m_backend == Backend::Postgres ? PgServer::shared(&ignored) : nullptr;
    if (server) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connection);
        db.setHostName(server->host());
        db.setPort(server->port());
        db.setUserName(server->user());
        db.setDatabaseName(m_pgDatabase);
    } else {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(path());
    }
    if (!db.open())
        ADD_FAILURE() << "cannot open " << path().toStdString() << ": "
                      << db.lastError().text().toStdString();
    return db;
}

QList<QVariantList> TempDb::rows(const QString &sql, const QVariantList &values)
{
    QSqlQuery q(raw());
    // PostgreSQL prepares only queries and changes of rows, not BEGIN or CREATE.
    const bool prepared = !values.isEmpty();
    if (prepared && !q.prepare(sql)) {
        ADD_FAILURE() << sql.toStdString() << ": " << q.lastError().text().toStdString();
        return {};
    }
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!(prepared ? q.exec() : q.exec(sql))) {
        ADD_FAILURE() << sql.toStdString() << ": " << q.lastError().text().toStdString();
        return {};
    }
    QList<QVariantList> out;
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i);
        out << row;
    }
    return out;
}

QVariant TempDb::exec(const QString &sql, const QVariantList &values)
{
    const QList<QVariantList> all = rows(sql, values);
    return all.isEmpty() || all.first().isEmpty() ? QVariant() : all.first().first();
}

qint64 TempDb::count(const QString &table, const QString &where, const QVariantList &values)
{
    QString sql = QStringLiteral("SELECT COUNT(*) FROM ") + table;
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    return exec(sql, values).toLongLong();
}

bool TempDb::hasTable(const QString &table)
{
    return raw().tables().contains(table, Qt::CaseInsensitive);
}

void TempDb::close()
{
    if (!QSqlDatabase::contains(m_connection))
        return;
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

QByteArray TempDb::fileHash(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
}

DatabaseHolder::DatabaseHolder(const QString &path)
    : m_name(QStringLiteral("database-holder-%1").arg(reinterpret_cast<quintptr>(this)))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(path);
    m_held = db.open() && QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE"));
    if (!m_held)
        m_error = db.lastError().text();
}

DatabaseHolder::~DatabaseHolder()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (m_held)
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QStringList TempDb::summaryRows()
{
    QStringList rows;
    for (int slot : Database::kSummarySlots) {
        const QString table = QStringLiteral("HYDOARCHIVE_SUMMARY_%1").arg(slot);
        const qint64 n = count(table);
        rows << QStringLiteral("%1: %2 rows").arg(table).arg(n);
        const QString joined = m_backend == Backend::Postgres
                                   ? "string_agg(r, ';' ORDER BY TARVELONID, ASID, SLOT)"
                                   : "group_concat(r, ';')";
        rows << exec(QStringLiteral("SELECT %2 FROM (SELECT TARVELONID, ASID, SLOT, "
                                        "TARVELONID || ',' || ASID || ',' || SLOT || ',' || N || "
                                        "',' || round(CAST(SUMWERT AS NUMERIC), 6) || ',' || "
                                        "MINWERT || ',' || MAXWERT || ',' || FIRSTSECOND || ',' "
                                        "|| FIRSTWERT || ',' || LASTSECOND || ',' || LASTWERT AS r "
                                        "FROM %1 ORDER BY TARVELONID, ASID, SLOT) AS s")
                             .arg(table, joined))
                    .toString();
    }
    return rows;
}
