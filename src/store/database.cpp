// Opening and closing the database with one connection per thread, DATUM texts and the
// generic row operations. Each concern has its own database_*.cpp beside this file.

#include "store/database.h"

#include "store/database_sql.h"
#include "store/strings.h"

#include <QAtomicInteger>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

#include <dlfcn.h>
#include <poll.h>
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

// The few libpq functions needed to learn why a server refused a connection.
struct Libpq {
    void *(*connectStartParams)(const char *const *, const char *const *, int);
    int (*connectPoll)(void *);
    int (*setErrorVerbosity)(void *, int);
    int (*socket)(const void *);
    int (*status)(const void *);
    int (*needsPassword)(const void *);
    char *(*errorMessage)(const void *);
    void (*finish)(void *);
};

// libpq as the driver has loaded it, reached without linking it.
const std::optional<Libpq> &libpq()
{
    static const std::optional<Libpq> pq = []() -> std::optional<Libpq> {
        void *lib = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return std::nullopt;
        Libpq f{};
        const bool all =
            (f.connectStartParams = reinterpret_cast<decltype(f.connectStartParams)>(
                 ::dlsym(lib, "PQconnectStartParams"))) &&
            (f.connectPoll =
                 reinterpret_cast<decltype(f.connectPoll)>(::dlsym(lib, "PQconnectPoll"))) &&
            (f.setErrorVerbosity = reinterpret_cast<decltype(f.setErrorVerbosity)>(
                 ::dlsym(lib, "PQsetErrorVerbosity"))) &&
            (f.socket = reinterpret_cast<decltype(f.socket)>(::dlsym(lib, "PQsocket"))) &&
            (f.status = reinterpret_cast<decltype(f.status)>(::dlsym(lib, "PQstatus"))) &&
            (f.needsPassword = reinterpret_cast<decltype(f.needsPassword)>(
                 ::dlsym(lib, "PQconnectionNeedsPassword"))) &&
            (f.errorMessage =
                 reinterpret_cast<decltype(f.errorMessage)>(::dlsym(lib, "PQerrorMessage"))) &&
            (f.finish = reinterpret_cast<decltype(f.finish)>(::dlsym(lib, "PQfinish")));
        return all ? std::optional<Libpq>(f) : std::nullopt;
    }();
    return pq;
}

// The shared location's host, user, database, port and options as libpq's keys and values.
struct ConnectParams {
    std::vector<QByteArray> keys, values;
    std::vector<const char *> k, v;
};

void fillConnectParams(const Database::Shared &s, ConnectParams *p)
{
    std::vector<QByteArray> &keys = p->keys;
    std::vector<QByteArray> &values = p->values;
    keys = {"host", "user", "dbname"};
    values = {s.host.toUtf8(), s.user.toUtf8(), s.databaseName.toUtf8()};
    if (s.port > 0) {
        keys.push_back("port");
        values.push_back(QByteArray::number(s.port));
    }
    for (const QString &option : s.connectOptions.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype equals = option.indexOf(QLatin1Char('='));
        keys.push_back(option.left(equals).toUtf8());
        values.push_back(option.mid(equals + 1).toUtf8());
    }
    for (size_t i = 0; i < keys.size(); ++i) {
        p->k.push_back(keys[i].constData());
        p->v.push_back(values[i].constData());
    }
    p->k.push_back(nullptr);
    p->v.push_back(nullptr);
}

// Why a PostgreSQL server refused a connection, as SQLSTATE. QPSQL reports a failed open
// without one; libpq, which the driver has loaded anyway, gives it when asked before the
// server answers, so the connection is tried once more by hand. Empty when no server
// answered in time, "28P01" when it wanted a password and none was found.
QString refusalState(const Database::Shared &s)
{
    const std::optional<Libpq> &pq = libpq();
    if (!pq)
        return QString();
    // libpq's values: CONNECTION_BAD, PGRES_POLLING_FAILED/READING/WRITING/OK, PQERRORS_SQLSTATE.
    constexpr int kBad = 1, kFailed = 0, kReading = 1, kWriting = 2, kOk = 3, kSqlstate = 3;
    ConnectParams params;
    fillConnectParams(s, &params);
    void *conn = pq->connectStartParams(params.k.data(), params.v.data(), 0);
    if (!conn)
        return QString();
    pq->setErrorVerbosity(conn, kSqlstate);
    // A server that refused the driver a moment ago answers at once; one that does not is
    // as good as unreachable.
    constexpr int kAnswerMs = 3000;
    QElapsedTimer clock;
    clock.start();
    int state = pq->status(conn) == kBad ? kFailed : kWriting;
    while (state != kFailed && state != kOk) {
        pollfd p{pq->socket(conn), short(state == kReading ? POLLIN : POLLOUT), 0};
        const qint64 left = kAnswerMs - clock.elapsed();
        if (left <= 0 || ::poll(&p, 1, int(left)) <= 0)
            break;
        state = pq->connectPoll(conn);
    }
    QString code;
    if (state == kFailed) {
        // Each line of an answer reads "SEVERITY:  SQLSTATE"; libpq's own lines have none.
        static const QRegularExpression sqlstate(QStringLiteral(":\\s+([0-9A-Z]{5})\\s*$"),
                                                 QRegularExpression::MultilineOption);
        auto it = sqlstate.globalMatch(QString::fromUtf8(pq->errorMessage(conn)));
        while (it.hasNext())
            code = it.next().captured(1);
        if (code.isEmpty() && pq->needsPassword(conn))
            code = QStringLiteral("28P01");
    }
    pq->finish(conn);
    return code;
}

void openConnection(QSqlDatabase &db, const Database::Shared &s)
{
    if (!db.open()) {
        const QSqlError error = db.lastError();
        if (s.dialect != Dialect::Postgres) {
            Error e(ErrorCode::DatabaseOpen, s.location, error.text());
            e.cause = StoreError::causeOf(kindOf(error, s.location));
            throw StoreError(e);
        }
        QString state = error.nativeErrorCode();
        if (state.isEmpty())
            state = refusalState(s);
        // A server that cannot be reached now may be at the next cycle; a wrong name or a
        // refused login needs the user.
        if (state == QLatin1String("28P01") || state == QLatin1String("28000"))
            throw StoreError(ErrorCode::LoginRefused, s.location, state);
        if (state == QLatin1String("3D000"))
            throw StoreError(ErrorCode::DatabaseUnknown, s.location);
        Error e(ErrorCode::DatabaseOpen, s.location, error.text());
        e.cause = StoreError::causeOf(StoreError::kindOfPostgresState(state));
        throw StoreError(e);
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

// The parts of a postgresql://[user@]host[:port]/dbname[?option=value&...] address.
struct PostgresAddress {
    QString user;
    QString host;
    QString socketDir; // option host: a folder instead of a server name
    int port = -1;
    QString database;
    QList<QPair<QString, QString>> options;

    // The address as messages and the spool name it, and as it is opened again.
    QString text() const
    {
        QString t = QStringLiteral("postgresql://");
        if (!user.isEmpty())
            t += QString::fromLatin1(QUrl::toPercentEncoding(user)) + QLatin1Char('@');
        t += host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
        if (port >= 0)
            t += QLatin1Char(':') + QString::number(port);
        t += QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(database));
        QStringList pairs;
        if (!socketDir.isEmpty())
            pairs << QStringLiteral("host=") + socketDir;
        for (const auto &[key, value] : options)
            pairs << key + QLatin1Char('=') + value;
        if (!pairs.isEmpty())
            t += QLatin1Char('?') + pairs.join(QLatin1Char('&'));
        return t;
    }
};

// Options passed on to libpq. Passwords stay out (they belong in ~/.pgpass), and so does
// anything that would change where or as whom the program connects behind the address.
bool isAllowedOption(const QString &key)
{
    static const QStringList allowed{
        QStringLiteral("sslmode"),          QStringLiteral("sslrootcert"),
        QStringLiteral("sslcert"),          QStringLiteral("sslkey"),
        QStringLiteral("sslcrl"),           QStringLiteral("connect_timeout"),
        QStringLiteral("application_name"), QStringLiteral("host")};
    return allowed.contains(key);
}

Error addressError(Database::AddressPart part, const QString &option = QString())
{
    return Error(ErrorCode::DatabaseAddress, QString::number(int(part)), option);
}

// Reads an address part by part. Its text is never quoted back, only the name of the part
// that is wrong: a mistyped address may well hold a password.
QString decodedPart(const QString &part)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(part.toUtf8()));
}

using Part = Database::AddressPart;

// HOST, HOST:PORT, [V6], [V6]:PORT into `a`; the problem or no error.
Error parseHostPort(const QString &hostPort, PostgresAddress *a)
{
    const Error badHost = addressError(Part::Host);
    std::optional<QString> port;
    if (hostPort.startsWith(QLatin1Char('['))) {
        const qsizetype close = hostPort.indexOf(QLatin1Char(']'));
        if (close < 0)
            return badHost;
        a->host = hostPort.mid(1, close - 1).toLower();
        const QString after = hostPort.mid(close + 1);
        if (!QRegularExpression(QStringLiteral("^[0-9a-f:.]+$")).match(a->host).hasMatch() ||
            !(after.isEmpty() || after.startsWith(QLatin1Char(':'))))
            return badHost;
        if (!after.isEmpty())
            port = after.mid(1);
    } else {
        const qsizetype colon = hostPort.indexOf(QLatin1Char(':'));
        a->host = hostPort.left(colon < 0 ? hostPort.size() : colon).toLower();
        if (!QRegularExpression(QStringLiteral("^[a-z0-9._-]*$")).match(a->host).hasMatch())
            return badHost;
        if (colon >= 0)
            port = hostPort.mid(colon + 1);
    }
    if (port) {
        const bool digits =
            QRegularExpression(QStringLiteral("^[0-9]{1,5}$")).match(*port).hasMatch();
        a->port = digits ? port->toInt() : 0;
        if (a->port < 1 || a->port > 65535)
            return addressError(Part::Port);
    }
    return {};
}

// The options after '?' into `a`; the problem or no error.
Error parseOptions(const QString &query, PostgresAddress *a)
{
    static const QRegularExpression plainValue(QStringLiteral("^[A-Za-z0-9_./:-]*\\z"));
    for (const QString &item : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        const QString key = decodedPart(item.left(equals < 0 ? item.size() : equals));
        const QString value = equals < 0 ? QString() : decodedPart(item.mid(equals + 1));
        if (key.contains(QLatin1String("password"), Qt::CaseInsensitive))
            return addressError(Part::Password);
        // An unknown option is named only when it reads name=value: a lone word may be a
        // password typed in the wrong place.
        if (!isAllowedOption(key))
            return addressError(Part::Option,
                                equals >= 0 && Database::isPlainIdentifier(key) ? key : QString());
        if (equals < 0 || !plainValue.match(value).hasMatch())
            return addressError(Part::OptionValue, key);
        if (key == QLatin1String("host"))
            a->socketDir = value;
        else
            a->options.append({key, value});
    }
    return {};
}

std::variant<PostgresAddress, Error> parsePostgresAddress(const QString &location)
{
    using Parsed = std::variant<PostgresAddress, Error>;
    auto fail = [](const Error &why) { return Parsed(why); };
    static const QString scheme = QStringLiteral("postgresql://");
    if (!location.startsWith(scheme, Qt::CaseInsensitive))
        return fail(addressError(Part::Scheme));
    QString rest = location.mid(scheme.size());
    if (rest.contains(QLatin1Char('#')) || rest.contains(QRegularExpression(QStringLiteral("\\s"))))
        return fail(addressError(Part::Space));
    // The query may hold '/' and '@' (a socket folder), so it is split off first.
    const qsizetype question = rest.indexOf(QLatin1Char('?'));
    const QString query = question < 0 ? QString() : rest.mid(question + 1);
    rest.truncate(question < 0 ? rest.size() : question);
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    const QString authority = slash < 0 ? rest : rest.left(slash);
    const QString path = slash < 0 ? QString() : rest.mid(slash + 1);
    // \\z, not $: a '$' also matches before a last line break, which decoding lets in.
    static const QRegularExpression name(QStringLiteral("^[^\\x00-\\x20\\x7f/]+\\z"));

    PostgresAddress a;
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString userInfo = authority.left(at);
        if (userInfo.contains(QLatin1Char(':')))
            return fail(addressError(Part::Password));
        a.user = decodedPart(userInfo);
        if (!name.match(a.user).hasMatch())
            return fail(addressError(Part::User));
    }
    if (const Error why = parseHostPort(authority.mid(at + 1), &a); !why.ok())
        return fail(why);
    // An '@' after the first '/' ends a user part whose password holds a '/': what follows
    // the '/' is no database name and would be shown as one.
    if (path.contains(QLatin1Char('@')))
        return fail(addressError(Part::Password));
    a.database = decodedPart(path);
    if (!name.match(a.database).hasMatch())
        return fail(addressError(Part::Name));
    if (const Error why = parseOptions(query, &a); !why.ok())
        return fail(why);
    return a;
}

// Any scheme://, so that an address of another kind is refused as one instead of being
// taken for a file name, which would then be shown.
bool isAddress(const QString &location)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return scheme.match(location).hasMatch();
}

void readPostgresLocation(const QString &location, Database::Shared &s)
{
    const auto parsed = parsePostgresAddress(location);
    if (const Error *problem = std::get_if<Error>(&parsed))
        throw StoreError(*problem);
    const PostgresAddress *a = &std::get<PostgresAddress>(parsed);
    s.location = a->text();
    s.dialect = Dialect::Postgres;
    s.host = a->socketDir.isEmpty() ? a->host : a->socketDir;
    s.port = a->port;
    s.user = a->user;
    s.databaseName = a->database;
    // A server that vanished without closing the connection (power cut, network gone) is
    // noticed within about a minute instead of blocking the cycle until TCP gives up.
    QStringList options{QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutSeconds),
                        QStringLiteral("application_name=ostracom"),
                        QStringLiteral("keepalives_idle=30"),
                        QStringLiteral("keepalives_interval=10"),
                        QStringLiteral("keepalives_count=3"),
                        QStringLiteral("tcp_user_timeout=60000")};
    for (const auto &[key, value] : a->options)
        options << key + QLatin1Char('=') + value;
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
    // Without the driver no cycle can ever reach the server: that is the user's to mend.
    if (s.dialect == Dialect::Postgres &&
        !QSqlDatabase::isDriverAvailable(QLatin1String(kPostgresDriver)))
        throw StoreError(ErrorCode::DriverMissing);
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
    : Database(location, QString(), mode, busyTimeoutMs)
{
}

Database::Database(const QString &location, const QString &dataDir, Mode mode, int busyTimeoutMs)
    : m_shared(std::make_shared<Shared>())
{
    if (location.isEmpty())
        throw StoreError(ErrorCode::NoDatabaseGiven);
    if (isAddress(location))
        readPostgresLocation(location, *m_shared);
    else
        m_shared->location = QFileInfo(location).absoluteFilePath();
    m_shared->busyTimeoutMs = busyTimeoutMs;
    m_shared->instance = ++g_instances;
    if (!dataDir.isEmpty())
        m_shared->dataDir = QFileInfo(dataDir).absoluteFilePath();

    try {
        if (mode == Mode::Prepare) {
            prepareSchema();
            // A read-only start passes a folder it must not create; the password then stays
            // where it is until a start that has the folder.
            if (!mailPasswordFile().isEmpty() && QFileInfo(m_shared->dataDir).isDir())
                moveMailPasswordToFile();
        } else if (m_shared->dialect == Dialect::Postgres) {
            if (!connection().tables().contains(QLatin1String("hydoarchive"), Qt::CaseInsensitive))
                throw StoreError(ErrorCode::NoArchive, m_shared->location);
        } else {
            if (!QFileInfo(m_shared->location).isFile())
                throw StoreError(ErrorCode::DatabaseMissing, m_shared->location);
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

Error Database::addressProblem(const QString &location)
{
    if (!isAddress(location))
        return {};
    const auto parsed = parsePostgresAddress(location);
    const Error *problem = std::get_if<Error>(&parsed);
    return problem ? *problem : Error();
}

std::variant<QString, Error> Database::locationText(const QString &location)
{
    if (!isAddress(location))
        return QFileInfo(location).absoluteFilePath();
    const auto parsed = parsePostgresAddress(location);
    if (const Error *problem = std::get_if<Error>(&parsed))
        return *problem;
    return std::get<PostgresAddress>(parsed).text();
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
    // The form every program writes is checked by hand: parsing it with a format took longer
    // than archiving the record. Anything else is left to the parser.
    if (wallSecond(text)) {
        const QStringView t(text);
        return QDate::isValid(t.left(4).toInt(), t.mid(5, 2).toInt(), t.mid(8, 2).toInt());
    }
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
