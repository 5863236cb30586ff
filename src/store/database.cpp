// Opening and closing the database with one connection per thread, DATUM texts and the
// generic row operations. Each concern has its own database_*.cpp beside this file.

#include "store/database.h"

#include "store/database_sql.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

#include <sys/statvfs.h>
#include <utility>

using namespace database_detail;

namespace
{

constexpr const char *kDriver = "QSQLITE";
constexpr const char *kPostgresDriver = "QPSQL";
// Seconds to wait for a PostgreSQL server before the cycle gives up on it.
constexpr int kConnectTimeoutSeconds = 10;
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
    struct statvfs fs {
    };
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

bool isPostgresLocation(const QString &location)
{
    return location.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive);
}

bool isConflict(const QSqlError &error)
{
    const QString state = error.nativeErrorCode();
    return state == QLatin1String("40001") || state == QLatin1String("40P01");
}

bool isConnectionLost(const QSqlError &error)
{
    // libpq gives no SQLSTATE when the server cannot be reached at all.
    const QString state = error.nativeErrorCode();
    return state.isEmpty() || state.startsWith(QLatin1String("08")) ||
           state == QLatin1String("57P01") || state == QLatin1String("57P02") ||
           state == QLatin1String("57P03");
}

StoreError::Kind kindOf(const QSqlError &error, const QString &path)
{
    if (isPostgresLocation(path))
        return StoreError::kindOfPostgresState(error.nativeErrorCode());
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

// The kind of a refused PostgreSQL connection: a server that cannot be reached now may be
// reachable at the next cycle; a wrong name or password is not.
StoreError::Kind kindOfRefusedConnection(const QSqlError &error)
{
    const QString text = error.text();
    if (text.contains(QLatin1String("does not exist")))
        return StoreError::Kind::Missing;
    if (text.contains(QLatin1String("authentication")) || text.contains(QLatin1String("password")))
        return StoreError::Kind::Other;
    return StoreError::Kind::Busy;
}

void openConnection(QSqlDatabase &db, const Database::Shared &s)
{
    if (!db.open()) {
        const QSqlError error = db.lastError();
        const auto kind = s.dialect == Dialect::Postgres ? kindOfRefusedConnection(error)
                                                         : kindOf(error, s.location);
        throw StoreError(QStringLiteral("Cannot open database %1: %2%3")
                             .arg(s.location, error.text(), fullDiskNote(kind)),
                         kind);
    }
    QSqlQuery q(db);
    if (s.dialect == Dialect::Postgres) {
        // A lock held by another program is waited for as long as SQLite would wait, then
        // reported as busy. Notices ("already exists, skipping") are no news to anybody.
        q.exec(QStringLiteral("SET lock_timeout = %1").arg(s.busyTimeoutMs));
        q.exec(QStringLiteral("SET client_min_messages = warning"));
    } else {
        q.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(s.busyTimeoutMs));
    }
}

// Reads a postgresql://[user@]host[:port]/dbname[?option=value&...] address into `s`.
// A password in it is refused: it would be visible to every user of the machine.
void readPostgresLocation(const QString &location, Database::Shared &s)
{
    const QUrl url(location, QUrl::StrictMode);
    // What messages name: the address without any password in it.
    QUrl clean = url;
    QUrlQuery cleanQuery(url);
    cleanQuery.removeAllQueryItems(QStringLiteral("password"));
    clean.setQuery(cleanQuery);
    const QString shown = clean.toDisplayString(QUrl::RemovePassword);
    auto refuse = [&](const QString &why) {
        throw StoreError(QStringLiteral("Cannot open database %1: %2").arg(shown, why));
    };
    if (!url.isValid())
        refuse(QStringLiteral("the address is not valid (%1)").arg(url.errorString()));
    if (!url.password().isEmpty())
        refuse(QStringLiteral("a password does not belong in the address; put it in ~/.pgpass "
                              "(or the file PGPASSFILE names) or in PGPASSWORD"));
    s.location = shown;
    s.dialect = Dialect::Postgres;
    s.host = url.host();
    s.port = url.port(-1);
    s.user = url.userName();
    s.databaseName = url.path().mid(1);
    // A server that vanished without closing the connection (power cut, network gone) is
    // noticed within about a minute instead of blocking the cycle until TCP gives up.
    QStringList options{QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutSeconds),
                        QStringLiteral("application_name=ostracom"),
                        QStringLiteral("keepalives_idle=30"),
                        QStringLiteral("keepalives_interval=10"),
                        QStringLiteral("keepalives_count=3"),
                        QStringLiteral("tcp_user_timeout=60000")};
    static const QRegularExpression plainValue(QStringLiteral("^[A-Za-z0-9_./:-]*$"));
    for (const auto &[key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("password"))
            refuse(QStringLiteral("a password does not belong in the address; put it in "
                                  "~/.pgpass (or the file PGPASSFILE names) or in PGPASSWORD"));
        if (!Database::isPlainIdentifier(key) || !plainValue.match(value).hasMatch())
            refuse(QStringLiteral("option %1 has a value this program cannot pass on").arg(key));
        if (key == QLatin1String("host"))
            s.host = value; // a socket folder
        else
            options << key + QLatin1Char('=') + value;
    }
    s.connectOptions = options.join(QLatin1Char(';'));
}

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
        if (owner == m_shared) {
            QSqlDatabase db = QSqlDatabase::database(it->name, false);
            // A connection to a server that went away was closed by the statement that
            // found out; it is opened again here, so the next cycle reaches a server that
            // is back.
            if (!db.isOpen())
                openConnection(db, *m_shared);
            return db;
        }
        ++it;
    }

    Shared &s = *m_shared;
    const QString name = QStringLiteral("ostracom-db%1-c%2").arg(s.instance).arg(++g_connections);
    const bool create = std::exchange(s.createFile, false);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(
            QLatin1String(s.dialect == Dialect::Postgres ? kPostgresDriver : kDriver), name);
        if (s.dialect == Dialect::Postgres) {
            db.setHostName(s.host);
            db.setPort(s.port);
            db.setUserName(s.user);
            db.setDatabaseName(s.databaseName);
            db.setConnectOptions(s.connectOptions);
        } else {
            db.setDatabaseName(sqliteUri(s.location, create));
            db.setConnectOptions(
                QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(s.busyTimeoutMs));
        }
        try {
            openConnection(db, s);
        } catch (...) {
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            throw;
        }
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
    if (location.isEmpty())
        throw StoreError(QStringLiteral("No database file was given"));
    if (isPostgresLocation(location))
        readPostgresLocation(location, *m_shared);
    else
        m_shared->location = QFileInfo(location).absoluteFilePath();
    m_shared->busyTimeoutMs = busyTimeoutMs;
    m_shared->instance = ++g_instances;

    try {
        if (mode == Mode::Prepare) {
            prepareSchema();
        } else if (m_shared->dialect == Dialect::Postgres) {
            if (!connection().tables().contains(QLatin1String("hydoarchive"), Qt::CaseInsensitive))
                throw StoreError(
                    QStringLiteral("Database %1 holds no archive").arg(m_shared->location),
                    StoreError::Kind::Missing);
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
