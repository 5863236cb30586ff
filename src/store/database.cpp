#include "store/database.h"

#include "store/datadir.h"
#include "store/seed.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

#include <iterator>
#include <sys/statvfs.h>
#include <utility>

namespace
{

constexpr const char *kDriver = "QSQLITE";
// First 16 bytes of every SQLite 3 database file.
constexpr char kSqliteHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                    'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
constexpr const char *kDatumFormat = "yyyy-MM-dd HH:mm:ss";
// SQLite's name for the physical row; "the first matching row" is the one with the lowest.
constexpr const char *kRowKey = "rowid";
constexpr int kSettingsRowId = -1;
constexpr const char *kSourceLanguage = "DEUTSCH";
constexpr const char *kDefaultLanguage = "ENGLISH";
// Problems of a damaged file named in the refusal; the rest would only repeat them.
constexpr int kReportedProblems = 3;
// SQLite's result code for a file that is not a database.
constexpr const char *kSqliteNotADatabase = "26";

QAtomicInteger<quint64> g_instances;
QAtomicInteger<quint64> g_connections;

// Every table and the columns the program relies on.
struct TableColumns {
    const char *table;
    QStringList columns;
};

const QList<TableColumns> &requiredColumns()
{
    static const QList<TableColumns> tables{
        {"TARVELON", {"TARVELONID", "KALIBSTRING"}},
        {"HYDOREGELUNG",
         {"TARVELONID", "HYDOSENSORID", "HYDOVORGANG", "sw_UntereWarnung", "sw_obereWarnung",
          "beschreibung"}},
        {"HYDOARCHIVE", {"TARVELONID", "ASID", "DATUM", "WERT", "BEMERKUNG"}},
        {"OSTRACOM",
         {"OSTRACOMID", "email_servername", "email_receiver", "email_sender", "email_username",
          "email_passwort", "email_enabled", "langtype"}},
        {"HYDOLANG", {"Deutsch", kDefaultLanguage}},
        {"HYDOLANGTYPE", {"LANGTYPE"}},
    };
    return tables;
}

// A text column never receives NULL from the program; an empty text stays empty.
QVariant textValue(const QString &s)
{
    return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
}

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

// The kind of a refusal, with a full disk recognised whatever code SQLite gave it.
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

// Runs statements on one connection and turns every failure into a StoreError that names
// the operation and the database.
class Sql
{
public:
    Sql(QSqlDatabase db, QString location) : m_db(std::move(db)), m_location(std::move(location)) {}

    QSqlQuery run(const QString &sql, const QVariantList &values, const char *what) const
    {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            fail(what, q.lastError());
        for (const QVariant &v : values)
            q.addBindValue(v);
        if (!q.exec())
            fail(what, q.lastError());
        return q;
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
        throw StoreError(QStringLiteral("%1 failed on database %2: %3%4")
                             .arg(QString::fromUtf8(what), m_location, error.text(),
                                  fullDiskNote(kind)),
                         kind);
    }

    QSqlDatabase &db() { return m_db; }
    const QString &location() const { return m_location; }

private:
    QSqlDatabase m_db;
    QString m_location;
};

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
        if (!m_sql.db().commit()) {
            const QSqlError error = m_sql.db().lastError();
            m_sql.db().rollback();
            m_done = true;
            m_sql.fail(m_what, error);
        }
        m_done = true;
    }

private:
    Sql &m_sql;
    const char *m_what;
    bool m_done = false;
};

QString equalsAll(const QStringList &columns)
{
    QStringList parts;
    for (const QString &c : columns)
        parts << c + QStringLiteral(" = ?");
    return parts.join(QStringLiteral(" AND "));
}

QString placeholders(qsizetype n)
{
    QStringList marks;
    for (qsizetype i = 0; i < n; ++i)
        marks << QStringLiteral("?");
    return marks.join(QStringLiteral(", "));
}

QString firstRowOf(const QString &table, const QStringList &keyColumns)
{
    return QStringLiteral("SELECT %1 FROM %2 WHERE %3 ORDER BY %1 LIMIT 1")
        .arg(QLatin1String(kRowKey), table, equalsAll(keyColumns));
}

} // namespace

// ---------------------------------------------------------------------------------------
// Connections: one per thread and Database, closed with the Database or when the thread
// ends, whichever comes first.

struct Database::Shared {
    QString location;
    QString uri;
    int busyTimeoutMs = kDefaultBusyTimeoutMs;
    quint64 instance = 0;
    bool createFile = false; // only the very first connection of a new database creates it

    QMutex mutex;
    QSet<QString> names; // connections still open
};

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
// Schema

namespace
{

// Version 1: the six tables. IF NOT EXISTS adopts tables someone created by hand.
void createTables(Sql &sql)
{
    const char *statements[] = {
        "CREATE TABLE IF NOT EXISTS TARVELON (TARVELONID INTEGER NOT NULL, KALIBSTRING TEXT)",
        "CREATE TABLE IF NOT EXISTS HYDOREGELUNG (TARVELONID INTEGER NOT NULL, "
        "HYDOSENSORID INTEGER NOT NULL, HYDOVORGANG INTEGER NOT NULL, sw_UntereWarnung REAL, "
        "sw_obereWarnung REAL, beschreibung TEXT)",
        "CREATE TABLE IF NOT EXISTS HYDOARCHIVE (TARVELONID INTEGER NOT NULL, "
        "ASID INTEGER NOT NULL, DATUM TEXT NOT NULL, WERT REAL, BEMERKUNG TEXT)",
        "CREATE TABLE IF NOT EXISTS OSTRACOM (OSTRACOMID INTEGER NOT NULL, email_servername TEXT, "
        "email_receiver TEXT, email_sender TEXT, email_username TEXT, email_passwort TEXT, "
        "email_enabled INTEGER, langtype TEXT)",
        "CREATE TABLE IF NOT EXISTS HYDOLANG (Deutsch TEXT NOT NULL, ENGLISH TEXT)",
        "CREATE TABLE IF NOT EXISTS HYDOLANGTYPE (LANGTYPE TEXT NOT NULL)",
    };
    for (const char *s : statements)
        sql.direct(QString::fromLatin1(s), "Creating the tables");
}

// Version 2: the archive index and the one-logbook-entry-per-second rule. Logbook entries
// that already share a second are first moved to the next free second, so none is lost.
void createIndexes(Sql &sql)
{
    QList<QPair<qint64, QString>> entries;
    {
        QSqlQuery q =
            sql.run(QStringLiteral("SELECT rowid, DATUM FROM HYDOARCHIVE "
                                   "WHERE TARVELONID = ? AND ASID = ? "
                                   "ORDER BY DATUM, rowid"),
                    {Database::kLogbookTarvelonId, Database::kLogbookAsid}, "Reading the logbook");
        while (q.next())
            entries.append({q.value(0).toLongLong(), q.value(1).toString()});
    }
    QSet<QString> taken;
    for (const auto &e : std::as_const(entries))
        taken.insert(e.second);
    QString previous;
    for (const auto &[rowid, datum] : std::as_const(entries)) {
        if (datum != previous) {
            previous = datum;
            continue;
        }
        QDateTime t = Database::datumFromText(datum);
        QString moved;
        do {
            t = t.addSecs(1);
            moved = Database::datumText(t);
        } while (taken.contains(moved));
        taken.insert(moved);
        sql.run(QStringLiteral("UPDATE HYDOARCHIVE SET DATUM = ? WHERE rowid = ?"), {moved, rowid},
                "Separating logbook entries of the same second");
    }

    sql.direct(QStringLiteral("CREATE INDEX IF NOT EXISTS HYDOARCHIVE_SENSOR_DATUM "
                              "ON HYDOARCHIVE (TARVELONID, ASID, DATUM)"),
               "Creating the archive index");
    sql.direct(QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS HYDOARCHIVE_LOGBOOK_SECOND "
                              "ON HYDOARCHIVE (DATUM) WHERE TARVELONID = -1 AND ASID = 0"),
               "Creating the logbook index");
}

struct Migration {
    int version;
    void (*apply)(Sql &);
};

// Applied in order; each brings the schema to its version.
const Migration kMigrations[] = {
    {1, createTables},
    {2, createIndexes},
};
static_assert(std::size(kMigrations) == Database::kSchemaVersion);

int userVersion(Sql &sql)
{
    QSqlQuery q = sql.direct(QStringLiteral("PRAGMA user_version"), "Reading the schema version");
    return q.next() ? q.value(0).toInt() : 0;
}

// What the seed would add or fill in; empty when the database has every seed row.
struct SeedWork {
    QStringList languageTypes;
    bool settingsRow = false;
    QList<SeedTranslation> add;
    QList<SeedTranslation> fill; // rows whose translation is missing or the "???" marker

    bool empty() const
    {
        return languageTypes.isEmpty() && !settingsRow && add.isEmpty() && fill.isEmpty();
    }
};

SeedWork planSeed(Sql &sql)
{
    SeedWork work;
    {
        QSet<QString> present;
        QSqlQuery q =
            sql.run(QStringLiteral("SELECT LANGTYPE FROM HYDOLANGTYPE"), "Reading the languages");
        while (q.next())
            present.insert(q.value(0).toString().toUpper());
        for (const char *lang : {kSourceLanguage, kDefaultLanguage})
            if (!present.contains(QLatin1String(lang)))
                work.languageTypes << QLatin1String(lang);
    }
    {
        QSqlQuery q = sql.run(QStringLiteral("SELECT 1 FROM OSTRACOM WHERE OSTRACOMID = ?"),
                              {kSettingsRowId}, "Reading the settings row");
        work.settingsRow = !q.next();
    }
    {
        // Folded key -> (stored key, stored translation) of the first row of each key.
        QHash<QString, QPair<QString, QVariant>> rows;
        QSqlQuery q = sql.run(QStringLiteral("SELECT Deutsch, ENGLISH FROM HYDOLANG"),
                              "Reading the translations");
        while (q.next()) {
            const QString german = q.value(0).toString();
            const QString folded = german.toCaseFolded();
            if (!rows.contains(folded))
                rows.insert(folded, {german, q.value(1)});
        }
        for (const SeedTranslation &t : builtInSeed().entries) {
            const auto it = rows.constFind(t.german.toCaseFolded());
            if (it == rows.constEnd()) {
                work.add << t;
                continue;
            }
            // A translation nobody wrote yet (NULL or the marker of an unknown text) is
            // filled in; anything else is a translator's work and stays.
            const QVariant stored = it->second;
            if (stored.isNull() || stored.toString() == it->first + QStringLiteral("???"))
                work.fill << SeedTranslation{it->first, t.english};
        }
    }
    return work;
}

void applySeed(Sql &sql, const SeedWork &work)
{
    for (const QString &lang : work.languageTypes)
        sql.run(QStringLiteral("INSERT INTO HYDOLANGTYPE (LANGTYPE) VALUES (?)"), {lang},
                "Adding a language");
    if (work.settingsRow)
        sql.run(QStringLiteral("INSERT INTO OSTRACOM (OSTRACOMID, email_servername, "
                               "email_receiver, email_sender, email_username, email_passwort, "
                               "email_enabled, langtype) VALUES (?, '', '', '', '', '', 0, ?)"),
                {kSettingsRowId, QLatin1String(kDefaultLanguage)}, "Adding the settings row");
    {
        QSqlQuery q(sql.db());
        if (!q.prepare(QStringLiteral("INSERT INTO HYDOLANG (Deutsch, ENGLISH) VALUES (?, ?)")))
            sql.fail("Adding the translations", q.lastError());
        for (const SeedTranslation &t : work.add) {
            q.addBindValue(t.german);
            q.addBindValue(t.english);
            if (!q.exec())
                sql.fail("Adding the translations", q.lastError());
        }
    }
    for (const SeedTranslation &t : work.fill)
        sql.run(QStringLiteral("UPDATE HYDOLANG SET ENGLISH = ? WHERE Deutsch = ? "
                               "AND (ENGLISH IS NULL OR ENGLISH = ?)"),
                {t.english, t.german, t.german + QStringLiteral("???")}, "Filling in translations");
}

// Refuses tables that exist under our names but lack columns the program needs.
void checkExistingTables(Sql &sql)
{
    const QStringList tables = sql.db().tables();
    for (const TableColumns &t : requiredColumns()) {
        const QString table = QLatin1String(t.table);
        if (!tables.contains(table, Qt::CaseInsensitive))
            continue;
        const QSqlRecord record = sql.db().record(table);
        for (const QString &column : t.columns) {
            bool found = false;
            for (int i = 0; i < record.count() && !found; ++i)
                found = record.fieldName(i).compare(column, Qt::CaseInsensitive) == 0;
            if (!found)
                throw StoreError(QStringLiteral("Database %1 cannot be used: table %2 has no "
                                                "column %3")
                                     .arg(sql.location(), table, column));
        }
    }
}

} // namespace

void Database::prepareSchema()
{
    const QString path = m_shared->location;
    const QFileInfo file(path);

    // Everything that can refuse the file runs before the first write.
    try {
        requireWritableDirectory(file.absolutePath());
    } catch (const StoreError &e) {
        throw StoreError(QStringLiteral("Database %1 cannot be used: %2").arg(path, e.message()));
    }
    const bool exists = file.exists();
    if (exists) {
        if (file.isDir())
            throw StoreError(QStringLiteral("Database %1 is a folder, not a file").arg(path));
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            throw StoreError(
                QStringLiteral("Database %1 cannot be read: %2").arg(path, f.errorString()));
        // Opening for writing without truncating changes nothing, and tells now rather than
        // at the first archived value that the file is read-only.
        QFile w(path);
        if (!w.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
            throw StoreError(
                QStringLiteral("Database %1 cannot be written: %2").arg(path, w.errorString()));
        const QByteArray head = f.read(sizeof kSqliteHeader);
        // An empty file is an empty database; anything else must carry the header.
        if (f.size() > 0 && head != QByteArray(kSqliteHeader, sizeof kSqliteHeader))
            throw StoreError(QStringLiteral("%1 is not a SQLite database; the file was left "
                                            "unchanged")
                                 .arg(path));
    }

    m_shared->createFile = !exists;
    Sql sql(connection(), path);

    if (exists) {
        QSqlQuery q(sql.db());
        if (!q.exec(QStringLiteral("PRAGMA quick_check(%1)").arg(kReportedProblems))) {
            // Only a file SQLite itself calls corrupt is "damaged": a full disk or another
            // program's lock also stops the check, and each needs a different remedy.
            const QSqlError error = q.lastError();
            const auto kind = kindOf(error, path);
            if (error.nativeErrorCode() == QLatin1String(kSqliteNotADatabase))
                throw StoreError(QStringLiteral("%1 is not a SQLite database; the file was left "
                                                "unchanged")
                                     .arg(path),
                                 kind);
            if (kind == StoreError::Kind::Damaged)
                throw StoreError(
                    QStringLiteral("Database %1 is damaged and was left unchanged: %2")
                        .arg(path, error.text()),
                    kind);
            if (kind == StoreError::Kind::Full)
                throw StoreError(QStringLiteral("Database %1 cannot be opened: the disk is full "
                                                "(%2)")
                                     .arg(path, error.text()),
                                 kind);
            if (kind == StoreError::Kind::Busy)
                throw StoreError(QStringLiteral("Database %1 is locked by another program (%2)")
                                     .arg(path, error.text()),
                                 kind);
            throw StoreError(QStringLiteral("Database %1 cannot be checked: %2")
                                 .arg(path, error.text()),
                             kind);
        }
        QStringList problems;
        while (q.next())
            problems << q.value(0).toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        problems.removeIf(
            [](const QString &line) { return line.startsWith(QLatin1String("***")); });
        if (problems.size() > kReportedProblems)
            problems.resize(kReportedProblems);
        if (problems != QStringList{QStringLiteral("ok")})
            throw StoreError(QStringLiteral("Database %1 is damaged and was left unchanged: %2")
                                 .arg(path, problems.join(QStringLiteral("; "))),
                             StoreError::Kind::Damaged);
    }

    const int version = userVersion(sql);
    if (version > kSchemaVersion)
        throw StoreError(QStringLiteral("Database %1 has schema version %2, newer than this "
                                        "program knows (%3); it was left unchanged")
                             .arg(path)
                             .arg(version)
                             .arg(kSchemaVersion));
    checkExistingTables(sql);

    {
        QSqlQuery q = sql.direct(QStringLiteral("PRAGMA journal_mode"), "Reading the journal mode");
        const QString journal = q.next() ? q.value(0).toString() : QString();
        q.finish();
        if (journal.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
            QSqlQuery w = sql.direct(QStringLiteral("PRAGMA journal_mode = WAL"),
                                     "Switching to the WAL journal");
            if (!w.next() ||
                w.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
                throw StoreError(QStringLiteral("Database %1 cannot use a WAL journal").arg(path));
        }
    }

    // A second open of a current database finds nothing to do and writes nothing.
    if (version == kSchemaVersion && planSeed(sql).empty())
        return;

    const char *what = "Upgrading the schema";
    sql.direct(QStringLiteral("BEGIN IMMEDIATE"), what);
    try {
        // Another program may have upgraded it while we waited for the lock.
        const int current = userVersion(sql);
        if (current > kSchemaVersion)
            throw StoreError(QStringLiteral("Database %1 was upgraded to schema version %2 by a "
                                            "newer program")
                                 .arg(path)
                                 .arg(current));
        for (const Migration &m : kMigrations)
            if (m.version > current)
                m.apply(sql);
        applySeed(sql, planSeed(sql));
        if (current != kSchemaVersion)
            sql.direct(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion), what);
        sql.direct(QStringLiteral("COMMIT"), what);
    } catch (...) {
        QSqlQuery(sql.db()).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
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

// ---------------------------------------------------------------------------------------
// Languages

bool Database::isPlainIdentifier(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return plain.match(name).hasMatch();
}

std::optional<QString> Database::languageColumn(const QString &language) const
{
    if (!isPlainIdentifier(language))
        return std::nullopt;
    const QSqlRecord record = connection().record(QStringLiteral("HYDOLANG"));
    for (int i = 0; i < record.count(); ++i)
        if (record.fieldName(i).compare(language, Qt::CaseInsensitive) == 0)
            return record.fieldName(i);
    return std::nullopt;
}

namespace
{

QString requireColumn(const Database &db, const QString &language)
{
    const auto column = db.languageColumn(language);
    if (!column)
        throw StoreError(QStringLiteral("Language \"%1\" is not a column of table HYDOLANG in "
                                        "database %2")
                             .arg(language, db.location()));
    return *column;
}

} // namespace

QList<QPair<QString, QString>> Database::translations(const QString &language) const
{
    const QString column = requireColumn(*this, language);
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("SELECT Deutsch, %1 FROM HYDOLANG ORDER BY %2")
                              .arg(column, QLatin1String(kRowKey)),
                          "Reading the translations");
    QList<QPair<QString, QString>> rows;
    while (q.next()) {
        const QVariant translation = q.value(1);
        rows.append(
            {q.value(0).toString(), translation.isNull() ? QString() : translation.toString()});
    }
    return rows;
}

bool Database::addTranslation(const QString &language, const QString &german, const QString &text)
{
    const QString column = requireColumn(*this, language);
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("INSERT INTO HYDOLANG (Deutsch, %1) SELECT ?, ? "
                                         "WHERE NOT EXISTS (SELECT 1 FROM HYDOLANG "
                                         "WHERE Deutsch = ?)")
                              .arg(column),
                          {german, textValue(text), german}, "Adding a translation");
    return q.numRowsAffected() > 0;
}

QStringList Database::languages() const
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("SELECT LANGTYPE FROM HYDOLANGTYPE ORDER BY LANGTYPE ASC"),
                          "Reading the languages");
    QStringList names;
    while (q.next())
        names << q.value(0).toString();
    return names;
}

// ---------------------------------------------------------------------------------------
// Settings row

std::optional<MailSettings> Database::mailSettings() const
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("SELECT email_servername, email_receiver, email_sender, "
                                         "email_username, email_passwort, email_enabled "
                                         "FROM OSTRACOM WHERE OSTRACOMID = ? ORDER BY %1 LIMIT 1")
                              .arg(QLatin1String(kRowKey)),
                          {kSettingsRowId}, "Reading the mail settings");
    if (!q.next())
        return std::nullopt;
    MailSettings m;
    m.servername = q.value(0).toString();
    m.receiver = q.value(1).toString();
    m.sender = q.value(2).toString();
    m.username = q.value(3).toString();
    m.passwort = q.value(4).toString();
    m.enabled = q.value(5).toInt();
    return m;
}

void Database::saveMailSettings(const MailSettings &m)
{
    insertOrUpdate(QStringLiteral("OSTRACOM"), {QStringLiteral("OSTRACOMID")}, {kSettingsRowId},
                   {QStringLiteral("email_servername"), QStringLiteral("email_receiver"),
                    QStringLiteral("email_sender"), QStringLiteral("email_username"),
                    QStringLiteral("email_passwort"), QStringLiteral("email_enabled")},
                   {textValue(m.servername), textValue(m.receiver), textValue(m.sender),
                    textValue(m.username), textValue(m.passwort), m.enabled},
                   "Saving the mail settings");
}

std::optional<QString> Database::languageSetting() const
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(
        QStringLiteral("SELECT langtype FROM OSTRACOM WHERE OSTRACOMID = ? ORDER BY %1 LIMIT 1")
            .arg(QLatin1String(kRowKey)),
        {kSettingsRowId}, "Reading the language setting");
    if (!q.next() || q.value(0).isNull() || q.value(0).toString().isEmpty())
        return std::nullopt;
    return q.value(0).toString();
}

void Database::saveLanguageSetting(const QString &language)
{
    insertOrUpdate(QStringLiteral("OSTRACOM"), {QStringLiteral("OSTRACOMID")}, {kSettingsRowId},
                   {QStringLiteral("langtype")}, {textValue(language)},
                   "Saving the language setting");
}

// ---------------------------------------------------------------------------------------
// Regulations

namespace
{

const QStringList &regulationKeys()
{
    static const QStringList keys{QStringLiteral("TARVELONID"), QStringLiteral("HYDOSENSORID"),
                                  QStringLiteral("HYDOVORGANG")};
    return keys;
}

} // namespace

std::optional<RegulationRow> Database::regulationRow(int tarvelonId, int sensor,
                                                     int regulation) const
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("SELECT sw_UntereWarnung, sw_obereWarnung, beschreibung "
                                         "FROM HYDOREGELUNG WHERE TARVELONID = ? AND "
                                         "HYDOSENSORID = ? AND HYDOVORGANG = ? "
                                         "ORDER BY %1 LIMIT 1")
                              .arg(QLatin1String(kRowKey)),
                          {tarvelonId, sensor, regulation}, "Reading a regulation");
    if (!q.next())
        return std::nullopt;
    return RegulationRow{q.value(0).toDouble(), q.value(1).toDouble(), q.value(2).toString()};
}

void Database::saveRegulationRow(int tarvelonId, int sensor, int regulation, double lowerWarning,
                                 double upperWarning, const QString &beschreibung)
{
    insertOrUpdate(QStringLiteral("HYDOREGELUNG"), regulationKeys(),
                   {tarvelonId, sensor, regulation},
                   {QStringLiteral("sw_UntereWarnung"), QStringLiteral("sw_obereWarnung"),
                    QStringLiteral("beschreibung")},
                   {lowerWarning, upperWarning, textValue(beschreibung)}, "Saving a regulation");
}

void Database::saveRegulationBeschreibung(int tarvelonId, int sensor, int regulation,
                                          const QString &beschreibung)
{
    insertOrUpdate(QStringLiteral("HYDOREGELUNG"), regulationKeys(),
                   {tarvelonId, sensor, regulation}, {QStringLiteral("beschreibung")},
                   {textValue(beschreibung)}, "Saving a regulation description");
}

void Database::saveRegulationLowerWarning(int tarvelonId, int sensor, int regulation, double value)
{
    insertOrUpdate(QStringLiteral("HYDOREGELUNG"), regulationKeys(),
                   {tarvelonId, sensor, regulation}, {QStringLiteral("sw_UntereWarnung")}, {value},
                   "Saving a lower warning limit");
}

void Database::saveRegulationUpperWarning(int tarvelonId, int sensor, int regulation, double value)
{
    insertOrUpdate(QStringLiteral("HYDOREGELUNG"), regulationKeys(),
                   {tarvelonId, sensor, regulation}, {QStringLiteral("sw_obereWarnung")}, {value},
                   "Saving an upper warning limit");
}

// ---------------------------------------------------------------------------------------
// Controllers

std::optional<QString> Database::calibration(int tarvelonId) const
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(
        QStringLiteral("SELECT KALIBSTRING FROM TARVELON WHERE TARVELONID = ? ORDER BY %1 LIMIT 1")
            .arg(QLatin1String(kRowKey)),
        {tarvelonId}, "Reading a calibration");
    if (!q.next())
        return std::nullopt;
    return q.value(0).toString();
}

void Database::saveCalibration(int tarvelonId, const QString &kalibString)
{
    insertOrUpdate(QStringLiteral("TARVELON"), {QStringLiteral("TARVELONID")}, {tarvelonId},
                   {QStringLiteral("KALIBSTRING")}, {textValue(kalibString)},
                   "Saving a calibration");
}

bool Database::controllerIdInUse(int tarvelonId) const
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(
        QStringLiteral("SELECT CASE WHEN EXISTS (SELECT 1 FROM TARVELON WHERE TARVELONID = ?) "
                       "OR EXISTS (SELECT 1 FROM HYDOARCHIVE WHERE TARVELONID = ?) "
                       "OR EXISTS (SELECT 1 FROM HYDOREGELUNG WHERE TARVELONID = ?) "
                       "THEN 1 ELSE 0 END"),
        {tarvelonId, tarvelonId, tarvelonId}, "Checking a controller identifier");
    return q.next() && q.value(0).toInt() != 0;
}

// ---------------------------------------------------------------------------------------
// Archive

std::optional<ArchiveValue> Database::newestArchived(int tarvelonId, int asid) const
{
    ArchiveQuery query;
    query.tarvelonId = tarvelonId;
    query.asid = asid;
    query.order = ArchiveQuery::Order::Descending;
    query.limit = 1;
    const std::vector<ArchiveValue> rows = archiveValues(query);
    if (rows.empty())
        return std::nullopt;
    return rows.front();
}

namespace
{
// Identity of an archived value for the duplicate check.
QString archiveKey(int tarvelonId, int asid, const QString &datum, double wert)
{
    return QString::number(tarvelonId) + QLatin1Char('|') + QString::number(asid) +
           QLatin1Char('|') + datum + QLatin1Char('|') + QString::number(wert, 'g', 17);
}
} // namespace

int Database::appendArchive(const std::vector<ArchiveRecord> &records, SkipExisting skip)
{
    if (records.empty())
        return 0;
    for (size_t i = 0; i < records.size(); ++i)
        if (!isDatumText(records[i].datum))
            throw StoreError(QStringLiteral("Archive record %1 of %2 has no valid time; nothing "
                                            "was written to database %3")
                                 .arg(i + 1)
                                 .arg(records.size())
                                 .arg(location()));

    const char *what = "Archiving measurements";
    int added = 0;
    Sql sql(connection(), location());
    Transaction tx(sql, what);
    {
        QSqlQuery q(sql.db());
        // Rows already archived are found with one range query per controller instead of
        // a lookup per record: a download normally holds only new records.
        QSet<QString> existing;
        if (skip == SkipExisting::Yes) {
            // Per controller and sensor, so that each look-up runs on the archive's index.
            QMap<QPair<int, int>, QPair<QString, QString>> ranges; // -> first, last DATUM
            for (const ArchiveRecord &r : records) {
                const QString &d = r.datum;
                const QPair<int, int> sensor{r.tarvelonId, r.asid};
                auto it = ranges.find(sensor);
                if (it == ranges.end())
                    ranges.insert(sensor, {d, d});
                else
                    *it = {std::min(it->first, d), std::max(it->second, d)};
            }
            for (auto it = ranges.cbegin(); it != ranges.cend(); ++it) {
                QSqlQuery e =
                    sql.run(QStringLiteral("SELECT DATUM, WERT FROM HYDOARCHIVE "
                                           "WHERE TARVELONID = ? AND ASID = ? AND "
                                           "DATUM >= ? AND DATUM <= ?"),
                            {it.key().first, it.key().second, it->first, it->second}, what);
                while (e.next())
                    existing.insert(archiveKey(it.key().first, it.key().second,
                                               e.value(0).toString(), e.value(1).toDouble()));
            }
        }
        if (!q.prepare(QStringLiteral("INSERT INTO HYDOARCHIVE (DATUM, WERT, TARVELONID, ASID) "
                                      "VALUES (?, ?, ?, ?)")))
            sql.fail(what, q.lastError());
        for (const ArchiveRecord &r : records) {
            const QString &d = r.datum;
            if (skip == SkipExisting::Yes) {
                // Also catches a record repeated within this batch.
                const QString key = archiveKey(r.tarvelonId, r.asid, d, r.wert);
                if (existing.contains(key))
                    continue;
                existing.insert(key);
            }
            q.addBindValue(d);
            q.addBindValue(r.wert);
            q.addBindValue(r.tarvelonId);
            q.addBindValue(r.asid);
            if (!q.exec())
                sql.fail(what, q.lastError()); // the transaction rolls back
            ++added;
        }
    }
    tx.commit();
    return added;
}

std::vector<ArchiveValue> Database::archiveValues(const ArchiveQuery &query) const
{
    using Bound = ArchiveQuery::Bound;
    using Order = ArchiveQuery::Order;
    QString sql = QStringLiteral("SELECT DATUM, WERT FROM HYDOARCHIVE "
                                 "WHERE TARVELONID = ? AND ASID = ?");
    QVariantList values{query.tarvelonId, query.asid};
    if (query.from) {
        sql += query.fromBound == Bound::Inclusive ? QStringLiteral(" AND DATUM >= ?")
                                                   : QStringLiteral(" AND DATUM > ?");
        values << datumText(*query.from);
    }
    if (query.to) {
        sql += query.toBound == Bound::Inclusive ? QStringLiteral(" AND DATUM <= ?")
                                                 : QStringLiteral(" AND DATUM < ?");
        values << datumText(*query.to);
    }
    if (query.order == Order::Ascending)
        sql += QStringLiteral(" ORDER BY DATUM ASC");
    else if (query.order == Order::Descending)
        sql += QStringLiteral(" ORDER BY DATUM DESC");
    if (query.limit) {
        sql += QStringLiteral(" LIMIT ?");
        values << *query.limit;
    }

    Sql s(connection(), location());
    QSqlQuery q = s.run(sql, values, "Reading the archive");
    std::vector<ArchiveValue> rows;
    while (q.next())
        rows.push_back({datumFromText(q.value(0).toString()), q.value(1).toDouble()});
    return rows;
}

// ---------------------------------------------------------------------------------------
// Logbook

namespace
{

const QStringList &logbookKeys()
{
    static const QStringList keys{QStringLiteral("TARVELONID"), QStringLiteral("ASID"),
                                  QStringLiteral("DATUM")};
    return keys;
}

QVariantList logbookKey(const QString &datum)
{
    return {Database::kLogbookTarvelonId, Database::kLogbookAsid, datum};
}

bool logbookEntryExists(Sql &sql, const QString &datum)
{
    QSqlQuery q = sql.run(QStringLiteral("SELECT 1 FROM HYDOARCHIVE WHERE TARVELONID = ? AND "
                                         "ASID = ? AND DATUM = ?"),
                          logbookKey(datum), "Reading the logbook");
    return q.next();
}

void insertLogbookEntry(Sql &sql, const QString &datum, const QString &text, const char *what)
{
    sql.run(QStringLiteral("INSERT INTO HYDOARCHIVE (TARVELONID, ASID, DATUM, WERT, BEMERKUNG) "
                           "VALUES (?, ?, ?, ?, ?)"),
            {Database::kLogbookTarvelonId, Database::kLogbookAsid, datum, Database::kLogbookWert,
             textValue(text)},
            what);
}

QString requireDatum(const QDateTime &time, const QString &location)
{
    const QString datum = Database::datumText(time);
    if (datum.isEmpty())
        throw StoreError(
            QStringLiteral("A logbook entry needs a valid time (database %1)").arg(location));
    return datum;
}

} // namespace

std::optional<QString> Database::logbookText(const QDateTime &time) const
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("SELECT BEMERKUNG FROM HYDOARCHIVE WHERE TARVELONID = ? "
                                         "AND ASID = ? AND DATUM = ?"),
                          logbookKey(requireDatum(time, location())), "Reading the logbook");
    if (!q.next())
        return std::nullopt;
    return q.value(0).toString();
}

bool Database::createLogbookEntry(const QDateTime &time, const QString &text)
{
    const char *what = "Creating a logbook entry";
    const QString datum = requireDatum(time, location());
    Sql sql(connection(), location());
    Transaction tx(sql, what);
    if (logbookEntryExists(sql, datum))
        return false;
    insertLogbookEntry(sql, datum, text, what);
    tx.commit();
    return true;
}

bool Database::moveLogbookEntry(const QDateTime &oldTime, const QDateTime &newTime,
                                const QString &text)
{
    const char *what = "Saving a logbook entry";
    const QString oldDatum = requireDatum(oldTime, location());
    const QString newDatum = requireDatum(newTime, location());
    Sql sql(connection(), location());
    Transaction tx(sql, what);
    if (newDatum != oldDatum && logbookEntryExists(sql, newDatum))
        return false;
    bool moved = false;
    {
        QSqlQuery q = sql.run(QStringLiteral("UPDATE HYDOARCHIVE SET DATUM = ?, BEMERKUNG = ? "
                                             "WHERE %1 = (%2)")
                                  .arg(QLatin1String(kRowKey),
                                       firstRowOf(QStringLiteral("HYDOARCHIVE"), logbookKeys())),
                              QVariantList{newDatum, textValue(text)} + logbookKey(oldDatum), what);
        moved = q.numRowsAffected() > 0;
    }
    // Without an entry to move the text still gets a complete logbook row, not a stray one.
    if (!moved)
        insertLogbookEntry(sql, newDatum, text, what);
    tx.commit();
    return true;
}

void Database::deleteLogbookEntry(const QDateTime &time)
{
    deleteFirst(QStringLiteral("HYDOARCHIVE"), logbookKeys(),
                logbookKey(requireDatum(time, location())), "Deleting a logbook entry");
}

std::vector<LogbookEntry> Database::logbookEntries(const QDateTime &from, const QDateTime &to) const
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("SELECT DATUM, BEMERKUNG FROM HYDOARCHIVE "
                                         "WHERE TARVELONID = ? AND ASID = ? AND DATUM >= ? "
                                         "AND DATUM <= ? ORDER BY DATUM ASC"),
                          {kLogbookTarvelonId, kLogbookAsid, requireDatum(from, location()),
                           requireDatum(to, location())},
                          "Reading the logbook");
    std::vector<LogbookEntry> entries;
    while (q.next())
        entries.push_back({datumFromText(q.value(0).toString()), q.value(1).toString()});
    return entries;
}
