#include "store/database.h"

#include "store/database_sql.h"

#include <QSqlQuery>

#include <algorithm>

using namespace database_detail;

// ---------------------------------------------------------------------------------------
// Alarm quality of the regulations and the alarm for controllers that deliver no data.
// Plain SQL that every supported database understands: no row identifiers, no upserts.

namespace database_detail
{

void createAlarmQuality(Sql &sql)
{
    sql.direct(QStringLiteral("CREATE TABLE HYDOALARMQUALITAET (TARVELONID INTEGER NOT NULL, "
                              "HYDOSENSORID INTEGER NOT NULL, HYDOVORGANG INTEGER NOT NULL, "
                              "hysterese DOUBLE PRECISION NOT NULL, haltezeit INTEGER NOT NULL, "
                              "wiederholung INTEGER NOT NULL, "
                              "PRIMARY KEY (TARVELONID, HYDOSENSORID, HYDOVORGANG))"),
               "Creating the alarm quality table");
    // NULL, like 0, leaves the alarm off.
    sql.direct(QStringLiteral("ALTER TABLE OSTRACOM ADD COLUMN stale_alarm_seconds INTEGER"),
               "Adding the no-data alarm setting");
}

} // namespace database_detail

namespace
{

AlarmQuality qualityOf(const QSqlQuery &q, int first)
{
    return AlarmQuality{q.value(first).toDouble(), q.value(first + 1).toInt(),
                        q.value(first + 2).toInt()};
}

} // namespace

std::optional<AlarmQuality> Database::alarmQuality(int tarvelonId, int sensor, int regulation) const
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("SELECT hysterese, haltezeit, wiederholung "
                                         "FROM HYDOALARMQUALITAET WHERE TARVELONID = ? AND "
                                         "HYDOSENSORID = ? AND HYDOVORGANG = ?"),
                          {tarvelonId, sensor, regulation}, "Reading an alarm quality");
    if (!q.next())
        return std::nullopt;
    return qualityOf(q, 0);
}

std::vector<Database::AlarmQualityRow> Database::alarmQualities(int tarvelonId) const
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("SELECT HYDOSENSORID, HYDOVORGANG, hysterese, haltezeit, "
                                         "wiederholung FROM HYDOALARMQUALITAET "
                                         "WHERE TARVELONID = ? ORDER BY HYDOSENSORID, HYDOVORGANG"),
                          {tarvelonId}, "Reading the alarm qualities");
    std::vector<AlarmQualityRow> rows;
    while (q.next())
        rows.push_back({q.value(0).toInt(), q.value(1).toInt(), qualityOf(q, 2)});
    return rows;
}

void Database::saveAlarmQuality(int tarvelonId, int sensor, int regulation,
                                const AlarmQuality &quality)
{
    const char *what = "Saving an alarm quality";
    Sql sql(connection(), location());
    Transaction tx(sql, what);
    const QSqlQuery q =
        sql.run(QStringLiteral("UPDATE HYDOALARMQUALITAET SET hysterese = ?, haltezeit = ?, "
                               "wiederholung = ? WHERE TARVELONID = ? AND HYDOSENSORID = ? AND "
                               "HYDOVORGANG = ?"),
                {quality.hysteresis, quality.holdSeconds, quality.repeatSeconds, tarvelonId, sensor,
                 regulation},
                what);
    if (q.numRowsAffected() <= 0)
        sql.run(QStringLiteral("INSERT INTO HYDOALARMQUALITAET (TARVELONID, HYDOSENSORID, "
                               "HYDOVORGANG, hysterese, haltezeit, wiederholung) "
                               "VALUES (?, ?, ?, ?, ?, ?)"),
                {tarvelonId, sensor, regulation, quality.hysteresis, quality.holdSeconds,
                 quality.repeatSeconds},
                what);
    tx.commit();
}

int Database::staleAlarmSeconds() const
{
    Sql sql(connection(), location());
    QSqlQuery q =
        sql.run(QStringLiteral("SELECT stale_alarm_seconds FROM OSTRACOM WHERE OSTRACOMID = ? "
                               "AND stale_alarm_seconds IS NOT NULL"),
                {kSettingsRowId}, "Reading the no-data alarm setting");
    return q.next() ? std::max(0, q.value(0).toInt()) : 0;
}

void Database::saveStaleAlarmSeconds(int seconds)
{
    const char *what = "Saving the no-data alarm setting";
    Sql sql(connection(), location());
    Transaction tx(sql, what);
    const QSqlQuery q =
        sql.run(QStringLiteral("UPDATE OSTRACOM SET stale_alarm_seconds = ? WHERE OSTRACOMID = ?"),
                {seconds, kSettingsRowId}, what);
    if (q.numRowsAffected() <= 0)
        sql.run(QStringLiteral("INSERT INTO OSTRACOM (OSTRACOMID, stale_alarm_seconds) "
                               "VALUES (?, ?)"),
                {kSettingsRowId, seconds}, what);
    tx.commit();
}
