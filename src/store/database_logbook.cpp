#include "store/database.h"

#include "store/database_sql.h"

#include <QSqlQuery>

using namespace database_detail;

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
        throw StoreError(ErrorCode::LogbookWithoutTime, location);
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
    // The unique index decides, so that two programs writing the same second at once
    // cannot both succeed.
    QSqlQuery q = sql.run(
        QStringLiteral("INSERT INTO HYDOARCHIVE (TARVELONID, ASID, DATUM, WERT, BEMERKUNG) "
                       "VALUES (?, ?, ?, ?, ?) ON CONFLICT (DATUM) WHERE TARVELONID = -1 AND "
                       "ASID = 0 DO NOTHING"),
        {kLogbookTarvelonId, kLogbookAsid, datum, kLogbookWert, textValue(text)}, what);
    return q.numRowsAffected() > 0;
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
