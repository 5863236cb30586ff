#include "store/database.h"

#include "store/database_sql.h"
#include "store/datadir.h"
#include "store/seed.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <iterator>

using namespace database_detail;

// ---------------------------------------------------------------------------------------
// Schema

namespace
{

// First 16 bytes of every SQLite 3 database file.
constexpr char kSqliteHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                    'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
constexpr const char *kSourceLanguage = "DEUTSCH";
constexpr const char *kDefaultLanguage = "ENGLISH";
// Problems of a damaged file named in the refusal; the rest would only repeat them.
constexpr int kReportedProblems = 3;
// SQLite's result code for a file that is not a database.
constexpr const char *kSqliteNotADatabase = "26";

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

// Version 1: the six tables. IF NOT EXISTS adopts tables someone created by hand.
void createTables(Sql &sql)
{
    const struct {
        const char *table;
        const char *columns;
    } tables[] = {
        {"TARVELON", "TARVELONID INTEGER NOT NULL, KALIBSTRING TEXT"},
        {"HYDOREGELUNG", "TARVELONID INTEGER NOT NULL, HYDOSENSORID INTEGER NOT NULL, "
                         "HYDOVORGANG INTEGER NOT NULL, sw_UntereWarnung {real}, "
                         "sw_obereWarnung {real}, beschreibung TEXT"},
        {"HYDOARCHIVE", "TARVELONID INTEGER NOT NULL, ASID INTEGER NOT NULL, "
                        "DATUM {datum} NOT NULL, WERT {real}, BEMERKUNG TEXT"},
        {"OSTRACOM", "OSTRACOMID INTEGER NOT NULL, email_servername TEXT, email_receiver TEXT, "
                     "email_sender TEXT, email_username TEXT, email_passwort TEXT, "
                     "email_enabled INTEGER, langtype TEXT"},
        {"HYDOLANG", "Deutsch TEXT NOT NULL, ENGLISH TEXT"},
        {"HYDOLANGTYPE", "LANGTYPE TEXT NOT NULL"},
    };
    for (const auto &t : tables) {
        sql.direct(sql.dialectSql(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (%2{rowid})")
                                      .arg(QLatin1String(t.table), QLatin1String(t.columns))),
                   "Creating the tables");
    }
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

// Applied in order; each brings the schema to its version, on SQLite and PostgreSQL alike.
// Portable SQL serves both; where the dialects differ, Sql::dialectSql fills in the
// spelling (a new table gets {rowid} for "the first matching row", {real} for doubles).
const Migration kMigrations[] = {
    {1, createTables},       {2, createIndexes}, {3, createArchiveSummaries},
    {4, createAlarmQuality}, {5, addMailMaxAge}, {6, createSummaryBatch},
};
static_assert(std::size(kMigrations) == Database::kSchemaVersion);

// PostgreSQL has no user_version; the version lives in a table of its own.
constexpr const char *kVersionTable = "OSTRACOM_SCHEMA";
// Key of the lock that lets one program at a time upgrade a PostgreSQL database.
constexpr qint64 kUpgradeLock = 0x4f535452'41434f4d;

int userVersion(Sql &sql)
{
    const char *what = "Reading the schema version";
    if (sql.postgres()) {
        // Read from the catalog table itself, not through to_regclass: its name lookup may
        // answer from this session's cache, which still says "no such table" when another
        // program created it while we waited for the upgrade lock.
        QSqlQuery t = sql.run(QStringLiteral("SELECT count(*) > 0 FROM pg_catalog.pg_class c "
                                             "JOIN pg_catalog.pg_namespace n ON n.oid = "
                                             "c.relnamespace WHERE c.relname = ? AND "
                                             "n.nspname = current_schema()"),
                              {QString::fromLatin1(kVersionTable).toLower()}, what);
        if (!t.next() || !t.value(0).toBool())
            return 0;
        QSqlQuery q = sql.run(
            QStringLiteral("SELECT max(VERSION) FROM %1").arg(QLatin1String(kVersionTable)), what);
        return q.next() ? q.value(0).toInt() : 0;
    }
    QSqlQuery q = sql.direct(QStringLiteral("PRAGMA user_version"), what);
    return q.next() ? q.value(0).toInt() : 0;
}

void setUserVersion(Sql &sql, int version, const char *what)
{
    if (sql.postgres()) {
        sql.direct(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (VERSION INTEGER NOT NULL)")
                       .arg(QLatin1String(kVersionTable)),
                   what);
        sql.direct(QStringLiteral("DELETE FROM %1").arg(QLatin1String(kVersionTable)), what);
        sql.run(
            QStringLiteral("INSERT INTO %1 (VERSION) VALUES (?)").arg(QLatin1String(kVersionTable)),
            {version}, what);
        return;
    }
    sql.direct(QStringLiteral("PRAGMA user_version = %1").arg(version), what);
}

// Starts the upgrade's transaction, holding off every other program's upgrade until it ends.
void beginUpgrade(Sql &sql, const char *what)
{
    if (sql.postgres()) {
        sql.direct(QStringLiteral("BEGIN"), what);
        sql.run(QStringLiteral("SELECT pg_advisory_xact_lock(?)"), {kUpgradeLock}, what);
        return;
    }
    sql.direct(QStringLiteral("BEGIN IMMEDIATE"), what);
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

// "The first matching row" needs the order rows were added in, which SQLite keeps in its
// own row key. PostgreSQL tables made by another program or an older version get one.
void addRowKeys(Sql &sql)
{
    const QStringList tables = sql.db().tables();
    for (const TableColumns &t : requiredColumns())
        if (tables.contains(QLatin1String(t.table), Qt::CaseInsensitive))
            sql.direct(QStringLiteral("ALTER TABLE %1 ADD COLUMN IF NOT EXISTS rowid BIGINT "
                                      "GENERATED BY DEFAULT AS IDENTITY")
                           .arg(QLatin1String(t.table)),
                       "Adding row keys");
}

// Refuses tables that exist under our names but lack columns the program needs.
void checkExistingTables(Sql &sql)
{
    const QStringList tables = sql.db().tables();
    for (const TableColumns &t : requiredColumns()) {
        const QString table = QLatin1String(t.table);
        if (!tables.contains(table, Qt::CaseInsensitive))
            continue;
        const QSqlRecord record = sql.record(table);
        for (const QString &column : t.columns) {
            bool found = false;
            for (int i = 0; i < record.count() && !found; ++i)
                found = record.fieldName(i).compare(column, Qt::CaseInsensitive) == 0;
            if (!found) {
                Error e(ErrorCode::MissingColumn, sql.location(), table);
                e.what = column;
                throw StoreError(e);
            }
        }
    }
}

} // namespace

namespace
{
// Brings the schema and the seed rows of an open database up to date. Returns the summary
// tables and triggers it found missing and restored.
QStringList upgradeSchema(Sql &sql);

// An existing file must be one this program can read, write and take for SQLite's.
void requireUsableSqliteFile(const QString &path)
{
    if (QFileInfo(path).isDir())
        throw StoreError(ErrorCode::DatabaseIsFolder, path);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw StoreError(ErrorCode::DatabaseUnreadable, path, f.errorString());
    // Opening for writing without truncating changes nothing, and tells now rather than
    // at the first archived value that the file is read-only.
    QFile w(path);
    if (!w.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        throw StoreError(ErrorCode::DatabaseReadOnly, path, w.errorString());
    const QByteArray head = f.read(sizeof kSqliteHeader);
    // An empty file is an empty database; anything else must carry the header.
    if (f.size() > 0 && head != QByteArray(kSqliteHeader, sizeof kSqliteHeader))
        throw StoreError(ErrorCode::NotSqlite, path);
}

// SQLite's own check of an existing file, with the problems it reports.
void requireIntactSqliteFile(Sql &sql, const QString &path)
{
    QSqlQuery q(sql.db());
    if (!q.exec(QStringLiteral("PRAGMA quick_check(%1)").arg(kReportedProblems))) {
        // Only a file SQLite itself calls corrupt is "damaged": a full disk or another
        // program's lock also stops the check, and each needs a different remedy.
        const QSqlError error = q.lastError();
        const auto kind = kindOf(error, path);
        if (error.nativeErrorCode() == QLatin1String(kSqliteNotADatabase))
            throw StoreError(ErrorCode::NotSqlite, path);
        switch (kind) {
        case StoreError::Kind::Damaged:
            throw StoreError(ErrorCode::DatabaseDamaged, path, error.text());
        case StoreError::Kind::Full:
            throw StoreError(ErrorCode::DiskFull, path, error.text());
        case StoreError::Kind::Busy:
            throw StoreError(ErrorCode::DatabaseBusy, path, error.text());
        case StoreError::Kind::Missing:
        case StoreError::Kind::Other:
            break;
        }
        throw StoreError(ErrorCode::CheckFailed, path, error.text());
    }
    QStringList problems;
    while (q.next())
        problems << q.value(0).toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    problems.removeIf([](const QString &line) { return line.startsWith(QLatin1String("***")); });
    if (problems.size() > kReportedProblems)
        problems.resize(kReportedProblems);
    if (problems != QStringList{QStringLiteral("ok")})
        throw StoreError(ErrorCode::DatabaseDamaged, path, problems.join(QStringLiteral("; ")));
}

} // namespace

void Database::prepareSchema()
{
    const QString path = m_shared->location;
    if (m_shared->dialect == Dialect::Postgres) {
        Sql sql(connection(), path);
        m_shared->restoredSummaryObjects = upgradeSchema(sql);
        return;
    }
    const QFileInfo file(path);

    // Everything that can refuse the file runs before the first write.
    try {
        requireWritableDirectory(file.absolutePath());
    } catch (const StoreError &e) {
        throw StoreError(Error::around(ErrorCode::DatabaseUnusable, path, e.error()));
    }
    const bool exists = file.exists();
    if (exists)
        requireUsableSqliteFile(path);

    m_shared->createFile = !exists;
    Sql sql(connection(), path);
    if (exists)
        requireIntactSqliteFile(sql, path);

    m_shared->restoredSummaryObjects = upgradeSchema(sql);
}

namespace
{

// The first version whose archive has summary tables kept by triggers.
constexpr int kSummaryVersion = 3;

QStringList upgradeSchema(Sql &sql)
{
    const QString path = sql.location();
    const int version = userVersion(sql);
    if (version > Database::kSchemaVersion)
        throw StoreError(ErrorCode::SchemaNewer, path, QString::number(version));
    checkExistingTables(sql);

    if (!sql.postgres()) {
        QSqlQuery q = sql.direct(QStringLiteral("PRAGMA journal_mode"), "Reading the journal mode");
        const QString journal = q.next() ? q.value(0).toString() : QString();
        q.finish();
        if (journal.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
            QSqlQuery w = sql.direct(QStringLiteral("PRAGMA journal_mode = WAL"),
                                     "Switching to the WAL journal");
            if (!w.next() ||
                w.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
                throw StoreError(ErrorCode::NoWalJournal, path);
        }
    }

    // Rows archived while a summary trigger was missing (dropped by hand, a restore of
    // the tables alone) were never summarised: the trigger comes back and the summaries
    // are computed anew.
    const bool summariesWhole =
        version < kSummaryVersion || missingSummaryObjects(sql, version).isEmpty();
    // A second open of a current database finds nothing to do and writes nothing.
    if (version == Database::kSchemaVersion && summariesWhole && planSeed(sql).empty())
        return {};

    const char *what = "Upgrading the schema";
    beginUpgrade(sql, what);
    try {
        // Another program may have upgraded it while we waited for the lock.
        const int current = userVersion(sql);
        if (current > Database::kSchemaVersion)
            throw StoreError(ErrorCode::SchemaUpgradedMeanwhile, path, QString::number(current));
        if (sql.postgres())
            addRowKeys(sql);
        // Looked for again under the lock: another program may have restored them.
        QStringList restored;
        if (current >= kSummaryVersion) {
            restored = missingSummaryObjects(sql, current);
            if (!restored.isEmpty())
                createArchiveSummaries(sql);
        }
        for (const Migration &m : kMigrations)
            if (m.version > current)
                m.apply(sql);
        applySeed(sql, planSeed(sql));
        if (current != Database::kSchemaVersion)
            setUserVersion(sql, Database::kSchemaVersion, what);
        sql.direct(QStringLiteral("COMMIT"), what);
        return restored;
    } catch (...) {
        QSqlQuery(sql.db()).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

} // namespace

bool Database::needsUpgrade() const
{
    Sql sql(connection(), location());
    const int version = userVersion(sql);
    // Missing seed rows too: a reading command would show new texts untranslated.
    return version < kSchemaVersion ||
           (version >= kSummaryVersion && !missingSummaryObjects(sql, version).isEmpty()) ||
           !planSeed(sql).empty();
}
