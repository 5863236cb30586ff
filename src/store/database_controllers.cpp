#include "store/database.h"

#include "store/database_sql.h"

#include <QPair>
#include <QSet>
#include <QSqlQuery>

using namespace database_detail;

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

std::vector<Database::KeyedRegulationRow> Database::regulationRows(int tarvelonId) const
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("SELECT HYDOSENSORID, HYDOVORGANG, sw_UntereWarnung, "
                                         "sw_obereWarnung, beschreibung FROM HYDOREGELUNG "
                                         "WHERE TARVELONID = ? ORDER BY %1")
                              .arg(QLatin1String(kRowKey)),
                          {tarvelonId}, "Reading the regulations");
    std::vector<KeyedRegulationRow> rows;
    QSet<QPair<int, int>> seen;
    while (q.next()) {
        const int sensor = q.value(0).toInt();
        const int regulation = q.value(1).toInt();
        if (seen.contains({sensor, regulation}))
            continue; // a later duplicate; the first row is the one that counts
        seen.insert({sensor, regulation});
        rows.push_back({sensor,
                        regulation,
                        {q.value(2).toDouble(), q.value(3).toDouble(), q.value(4).toString()}});
    }
    return rows;
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
