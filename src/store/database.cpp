// Opening and closing the database with one connection per thread, DATUM texts and the
// generic row operations. Each concern has its own database_*.cpp beside this file.

#include "store/database.h"

#include "store/database_sql.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <sys/statvfs.h>
#include <utility>

using namespace database_detail;

namespace
{

constexpr const char *kDriver = "QSQLITE";
constexpr const char *kDatumFormat = "yyyy-MM-dd HH:mm:ss";

QAtomicInteger<quint64> g_instances;
QAtomicInteger<quint64> g_connections;

QString sqliteUri(const QString &path, bool create)
{
    return QStringLiteral("file:") + QString::fromLatin1(QUrl::toPercentEncoding(path, "/")) +
           (create ? QStringLiteral("?mode=rwc") : QStringLiteral("?mode=rw"));
}

// SQLite reports a full disk as a plain I/O error when it cannot even create its journal
// files; the folder's free space tells the two apart.
bool diskIsFull(const QString &path)
{
    struct statvfs fs {};
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    return ::statvfs(folder.constData(), &fs) == 0 && fs.f_bavail == 0;
}

QString placeholders(qsizetype n)
{
    QStringList marks;
    for (qsizetype i = 0; i < n; ++i)
        marks << QStringLiteral("?");
    return marks.join(QStringLiteral(", "));
}

} // namespace

namespace database_detail
{

StoreError::Kind kindOf(const QSqlError &error, const QString &path)
{
    const StoreError::Kind kind = StoreError::kindOfSqliteCode(error.nativeErrorCode());
    if (kind == StoreError::Kind::Other && diskIsFull(path))
        return StoreError::Kind::Full;
    return kind;
}

QString fullDiskNote(StoreError::Kind kind)
{
    return kind == StoreError::Kind::Full ? QStringLiteral(" (the disk is full)") : QString();
}

} // namespace database_detail

// ---------------------------------------------------------------------------------------
// Connections: one per thread and Database, closed with the Database or when the thread
// ends, whichever comes first.

namespace
{

struct ThreadConnection {
    std::weak_ptr<Database::Shared> owner;
    QString name;
};

void closeConnection(Database::Shared &shared, const QString &name)
{
    bool open = false;
    {
        QMutexLocker lock(&shared.mutex);
        open = shared.names.remove(name);
    }
    if (open)
        QSqlDatabase::removeDatabase(name);
}

struct ThreadConnections {
    std::vector<ThreadConnection> list;
    ~ThreadConnections()
    {
        for (const ThreadConnection &c : list)
            if (const auto owner = c.owner.lock())
                closeConnection(*owner, c.name);
    }
};

thread_local ThreadConnections t_connections;

} // namespace

QSqlDatabase Database::connection() const
{
    auto &list = t_connections.list;
    for (auto it = list.begin(); it != list.end();) {
        const auto owner = it->owner.lock();
        if (!owner) {
            it = list.erase(it);
            continue;
        }
        if (owner == m_shared)
            return QSqlDatabase::database(it->name, false);
        ++it;
    }

    Shared &s = *m_shared;
    const QString name = QStringLiteral("ostracom-db%1-c%2").arg(s.instance).arg(++g_connections);
    const bool create = std::exchange(s.createFile, false);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QLatin1String(kDriver), name);
        db.setDatabaseName(sqliteUri(s.location, create));
        db.setConnectOptions(
            QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(s.busyTimeoutMs));
        if (!db.open()) {
            const QString cause = db.lastError().text();
            const auto kind = kindOf(db.lastError(), s.location);
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            throw StoreError(QStringLiteral("Cannot open database %1: %2%3")
                                 .arg(s.location, cause, fullDiskNote(kind)),
                             kind);
        }
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(s.busyTimeoutMs));
    }
    {
        QMutexLocker lock(&s.mutex);
        s.names.insert(name);
    }
    list.push_back({m_shared, name});
    return QSqlDatabase::database(name, false);
}

namespace
{

void closeAllConnections(Database::Shared &shared)
{
    QSet<QString> names;
    {
        QMutexLocker lock(&shared.mutex);
        names.swap(shared.names);
    }
    for (const QString &name : std::as_const(names))
        QSqlDatabase::removeDatabase(name);
}

} // namespace

Database::Database(const QString &location, Mode mode, int busyTimeoutMs)
    : m_shared(std::make_shared<Shared>())
{
    if (location.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive))
        throw StoreError(QStringLiteral("Cannot open database %1: PostgreSQL databases are not "
                                        "supported by this build")
                             .arg(location));
    if (location.isEmpty())
        throw StoreError(QStringLiteral("No database file was given"));
    m_shared->location = QFileInfo(location).absoluteFilePath();
    m_shared->busyTimeoutMs = busyTimeoutMs;
    m_shared->instance = ++g_instances;

    try {
        if (mode == Mode::Prepare) {
            prepareSchema();
        } else {
            if (!QFileInfo(m_shared->location).isFile())
                throw StoreError(
                    QStringLiteral("Database %1 does not exist").arg(m_shared->location),
                    StoreError::Kind::Missing);
            connection();
        }
    } catch (...) {
        // No destructor runs for a refused database; its connection must not stay open.
        closeAllConnections(*m_shared);
        throw;
    }
}

Database::~Database()
{
    closeAllConnections(*m_shared);
}

QString Database::location() const
{
    return m_shared->location;
}

QString Database::datumText(const QDateTime &time)
{
    if (!time.isValid())
        return QString();
    return time.toLocalTime().toString(QLatin1String(kDatumFormat));
}

QString Database::datumText(const QDate &date, const QTime &time)
{
    if (!date.isValid() || !time.isValid())
        return QString();
    return date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') +
           time.toString(QStringLiteral("HH:mm:ss"));
}

bool Database::isDatumText(const QString &text)
{
    if (text.size() != 19 || text[10] != QLatin1Char(' '))
        return false;
    return QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd")).isValid() &&
           QTime::fromString(text.mid(11), QStringLiteral("HH:mm:ss")).isValid();
}

QDateTime Database::datumFromText(const QString &text)
{
    return QDateTime::fromString(text, QLatin1String(kDatumFormat)); // local time
}

// ---------------------------------------------------------------------------------------
// Generic row operations

void Database::insertOrUpdate(const QString &table, const QStringList &keyColumns,
                              const QVariantList &keyValues, const QStringList &columns,
                              const QVariantList &values, const char *what)
{
    Sql sql(connection(), location());
    Transaction tx(sql, what);
    QStringList assignments;
    for (const QString &c : columns)
        assignments << c + QStringLiteral(" = ?");
    bool updated = false;
    {
        QSqlQuery q = sql.run(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = (%4)")
                                  .arg(table, assignments.join(QStringLiteral(", ")),
                                       QLatin1String(kRowKey), firstRowOf(table, keyColumns)),
                              values + keyValues, what);
        updated = q.numRowsAffected() > 0;
    }
    if (!updated) {
        const QStringList all = keyColumns + columns;
        sql.run(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                    .arg(table, all.join(QStringLiteral(", ")), placeholders(all.size())),
                keyValues + values, what);
    }
    tx.commit();
}

void Database::deleteFirst(const QString &table, const QStringList &keyColumns,
                           const QVariantList &keyValues, const char *what)
{
    Sql sql(connection(), location());
    sql.run(QStringLiteral("DELETE FROM %1 WHERE %2 = (%3)")
                .arg(table, QLatin1String(kRowKey), firstRowOf(table, keyColumns)),
            keyValues, what);
}
