// The archive's summary tables: per sensor and slot of a minute, ten minutes and an hour the
// count, sum, extremes and first and last value, so that a chart of a long range reads a few
// rows per pixel column instead of every archived value. Triggers keep them in the
// transaction of every archive change, whoever writes it.

#include "store/database.h"

#include "store/database_sql.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <map>
#include <tuple>

using namespace database_detail;

namespace
{

constexpr int kLevels = static_cast<int>(std::size(Database::kSummarySlots));
constexpr qint64 kSecondsPerDay = 86400;
// Summary rows per upsert of a batch of this program's.
constexpr int kSlotsPerStatement = 20;

QString summaryTable(int slotSeconds)
{
    return QStringLiteral("HYDOARCHIVE_SUMMARY_%1").arg(slotSeconds);
}

// The triggers that keep the summaries. PostgreSQL runs one function for both rows of an
// update, SQLite has a trigger for each.
QStringList summaryTriggers(const Sql &sql)
{
    QStringList names{QStringLiteral("HYDOARCHIVE_SUMMARY_INSERT"),
                      QStringLiteral("HYDOARCHIVE_SUMMARY_DELETE")};
    if (sql.postgres())
        names << QStringLiteral("HYDOARCHIVE_SUMMARY_UPDATE");
    else
        names << QStringLiteral("HYDOARCHIVE_SUMMARY_UPDATE_OLD")
              << QStringLiteral("HYDOARCHIVE_SUMMARY_UPDATE_NEW");
    return names;
}

// a and b differ, NULL counting as a value of its own.
QString distinct(const Sql &sql, const QString &a, const QString &b)
{
    return QStringLiteral("%1 %2 %3")
        .arg(a, QLatin1String(sql.postgres() ? "IS DISTINCT FROM" : "IS NOT"), b);
}

// The wall-clock second of a DATUM text; NULL for a text that is no DATUM.
QString secondOf(const Sql &sql, const QString &datum)
{
    if (sql.postgres())
        return QStringLiteral("(CASE WHEN %1 ~ '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:"
                              "[0-9]{2}$' THEN CAST(extract(epoch FROM CAST(%1 AS timestamp)) "
                              "AS bigint) END)")
            .arg(datum);
    return QStringLiteral("CAST(strftime('%s', %1) AS INTEGER)").arg(datum);
}

// The DATUM text of a wall-clock second.
QString datumOf(const Sql &sql, const QString &second)
{
    if (sql.postgres())
        return QStringLiteral("to_char(to_timestamp(%1) AT TIME ZONE 'UTC', "
                              "'YYYY-MM-DD HH24:MI:SS')")
            .arg(second);
    return QStringLiteral("datetime(%1, 'unixepoch')").arg(second);
}

// The smaller and the larger of two values (SQLite's min and max of two arguments).
QString least(const Sql &sql, const QString &a, const QString &b)
{
    return QStringLiteral("%1(%2, %3)").arg(QLatin1String(sql.postgres() ? "LEAST" : "min"), a, b);
}

QString greatest(const Sql &sql, const QString &a, const QString &b)
{
    return QStringLiteral("%1(%2, %3)")
        .arg(QLatin1String(sql.postgres() ? "GREATEST" : "max"), a, b);
}

// The start of the slot of `second`, rounded down also before 1970.
QString slotOf(const QString &second, int slotSeconds)
{
    const QString length = QString::number(slotSeconds);
    return QStringLiteral("(") + second + QStringLiteral(" - ((") + second + QStringLiteral(" % ") +
           length + QStringLiteral(") + ") + length + QStringLiteral(") % ") + length +
           QStringLiteral(")");
}

// Logbook entries and rows without a value are not measurements.
QString isSensorRow(const QString &row)
{
    return QStringLiteral("NOT (%1.TARVELONID = %2 AND %1.ASID = %3)")
        .arg(row)
        .arg(Database::kLogbookTarvelonId)
        .arg(Database::kLogbookAsid);
}

const QString kColumns = QStringLiteral("TARVELONID, ASID, SLOT, N, SUMWERT, MINWERT, MAXWERT, "
                                        "FIRSTSECOND, FIRSTWERT, LASTSECOND, LASTWERT");

// Merges the row proposed for insertion (`excluded`) into the slot's row: first and last
// follow the order by time and then value.
QString mergeIntoSlot(const Sql &sql, const QString &t)
{
    auto column = [&](const char *name) { return t + QLatin1Char('.') + QLatin1String(name); };
    return QStringLiteral("ON CONFLICT (TARVELONID, ASID, SLOT) DO UPDATE SET "
                          "N = %1 + excluded.N, SUMWERT = %2 + excluded.SUMWERT, MINWERT = %3, "
                          "MAXWERT = %4, FIRSTWERT = CASE WHEN (excluded.FIRSTSECOND, "
                          "excluded.FIRSTWERT) < (%5, %6) THEN excluded.FIRSTWERT ELSE %6 END, "
                          "FIRSTSECOND = %7, LASTWERT = CASE WHEN (excluded.LASTSECOND, "
                          "excluded.LASTWERT) > (%8, %9) THEN excluded.LASTWERT ELSE %9 END, "
                          "LASTSECOND = %10;")
        .arg(column("N"), column("SUMWERT"),
             least(sql, column("MINWERT"), QStringLiteral("excluded.MINWERT")),
             greatest(sql, column("MAXWERT"), QStringLiteral("excluded.MAXWERT")),
             column("FIRSTSECOND"), column("FIRSTWERT"),
             least(sql, column("FIRSTSECOND"), QStringLiteral("excluded.FIRSTSECOND")),
             column("LASTSECOND"), column("LASTWERT"))
        .arg(greatest(sql, column("LASTSECOND"), QStringLiteral("excluded.LASTSECOND")));
}

// Adds NEW to its slot.
QString addNewRow(const Sql &sql, int slotSeconds)
{
    const QString t = summaryTable(slotSeconds);
    return QStringLiteral("INSERT INTO %1 (%2) SELECT NEW.TARVELONID, NEW.ASID, %3, 1, NEW.WERT, "
                          "NEW.WERT, NEW.WERT, s, NEW.WERT, s, NEW.WERT FROM (SELECT %4 AS s) "
                          "AS n WHERE true %5")
        .arg(t, kColumns, slotOf(QStringLiteral("s"), slotSeconds),
             secondOf(sql, QStringLiteral("NEW.DATUM")), mergeIntoSlot(sql, t));
}

// Adds the measurements among the rows a statement inserted (PostgreSQL's transition table
// new_rows) to their slots, one summary row per slot: a batch of a download is summarised in
// one pass instead of a pass per row.
QString addNewRows(const Sql &sql, int slotSeconds)
{
    const QString t = summaryTable(slotSeconds);
    return QStringLiteral(
               "INSERT INTO %1 (%2) SELECT TARVELONID, ASID, slot, count(*), sum(WERT), "
               "min(WERT), max(WERT), min(s), min(WERT) FILTER (WHERE f = 1), max(s), "
               "max(WERT) FILTER (WHERE l = 1) FROM (SELECT TARVELONID, ASID, WERT, s, slot, "
               "row_number() OVER (PARTITION BY TARVELONID, ASID, slot ORDER BY s, WERT) AS f, "
               "row_number() OVER (PARTITION BY TARVELONID, ASID, slot ORDER BY s DESC, "
               "WERT DESC) AS l FROM (SELECT TARVELONID, ASID, WERT, s, %3 AS slot FROM "
               "(SELECT n.TARVELONID, n.ASID, n.WERT, %4 AS s FROM new_rows n WHERE %5 AND "
               "n.WERT IS NOT NULL) AS m WHERE s IS NOT NULL) AS k) AS r "
               "GROUP BY TARVELONID, ASID, slot %6")
        .arg(t, kColumns, slotOf(QStringLiteral("s"), slotSeconds),
             secondOf(sql, QStringLiteral("n.DATUM")), isSensorRow(QStringLiteral("n")),
             mergeIntoSlot(sql, t));
}

// Computes the slot of `row` anew from the archive: after a row was changed or removed the
// extremes cannot be corrected from the summary alone.
QString recomputeSlotOf(const Sql &sql, const QString &row, int slotSeconds)
{
    const QString table = summaryTable(slotSeconds);
    const QString slot = slotOf(secondOf(sql, row + QStringLiteral(".DATUM")), slotSeconds);
    const QString same = QStringLiteral("TARVELONID = %1.TARVELONID AND ASID = %1.ASID").arg(row);
    const QString inSlot =
        QStringLiteral("f.TARVELONID = %1.TARVELONID AND f.ASID = %1.ASID AND f.DATUM >= b.lo "
                       "AND f.DATUM < b.hi AND f.WERT IS NOT NULL")
            .arg(row);
    auto pick = [&](const char *what, const char *order) {
        return QStringLiteral("(SELECT %1 FROM HYDOARCHIVE f WHERE %2 ORDER BY %3 LIMIT 1)")
            .arg(QLatin1String(what), inSlot, QLatin1String(order));
    };
    const QByteArray second = secondOf(sql, QStringLiteral("f.DATUM")).toUtf8();
    return QStringLiteral("DELETE FROM %1 WHERE %2 AND SLOT = %3; "
                          "INSERT INTO %1 (%4) SELECT %5.TARVELONID, %5.ASID, b.slot, count(*), "
                          "sum(h.WERT), min(h.WERT), max(h.WERT), %6, %7, %8, %9 FROM "
                          "(SELECT slot, %10 AS lo, %11 AS hi FROM (SELECT %3 AS slot) AS a) AS b "
                          "JOIN HYDOARCHIVE h ON h.TARVELONID = %5.TARVELONID AND "
                          "h.ASID = %5.ASID AND h.DATUM >= b.lo AND h.DATUM < b.hi AND "
                          "h.WERT IS NOT NULL GROUP BY b.slot, b.lo, b.hi;")
        .arg(table, same, slot, kColumns, row, pick(second.constData(), "f.DATUM, f.WERT"),
             pick("f.WERT", "f.DATUM, f.WERT"),
             pick(second.constData(), "f.DATUM DESC, f.WERT DESC"),
             pick("f.WERT", "f.DATUM DESC, f.WERT DESC"))
        .arg(datumOf(sql, QStringLiteral("slot")),
             datumOf(sql, QStringLiteral("slot + %1").arg(slotSeconds)));
}

QString triggerBody(const std::function<QString(int)> &perLevel)
{
    QString body;
    for (int slotSeconds : Database::kSummarySlots)
        body += perLevel(slotSeconds) + QLatin1Char(' ');
    return body;
}

// SQLite: a batch this program archives is summarised by one grouped upsert per level instead
// of a trigger run per row. While its transaction lasts it sets this flag, and the insert
// trigger leaves rows alone while the flag is set. Other programs never see it set (it is
// set and cleared before the commit), so their rows are still summarised row by row. A
// table rather than anything of this connection's own, because the trigger runs the same
// for every connection; a set flag found committed is mended at the next open.
const QString kBatchTable = QStringLiteral("HYDOARCHIVE_SUMMARY_BATCH");

void createBatchFlag(Sql &sql)
{
    const char *what = "Creating the archive summaries";
    sql.direct(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (ONE INTEGER PRIMARY KEY "
                              "CHECK (ONE = 1), ACTIVE INTEGER NOT NULL)")
                   .arg(kBatchTable),
               what);
    sql.direct(QStringLiteral("INSERT INTO %1 (ONE, ACTIVE) VALUES (1, 0) ON CONFLICT (ONE) "
                              "DO UPDATE SET ACTIVE = 0")
                   .arg(kBatchTable),
               what);
}

void createInsertTrigger(Sql &sql, bool replace)
{
    const char *what = "Creating the archive summaries";
    if (replace)
        sql.direct(QStringLiteral("DROP TRIGGER IF EXISTS HYDOARCHIVE_SUMMARY_INSERT"), what);
    // The flag first: a batch's rows then cost the trigger no conversion of their time.
    const QString when =
        QStringLiteral("NOT EXISTS (SELECT 1 FROM %1 WHERE ACTIVE <> 0) AND %2 AND "
                       "NEW.WERT IS NOT NULL AND %3 IS NOT NULL")
            .arg(kBatchTable, isSensorRow(QStringLiteral("NEW")),
                 secondOf(sql, QStringLiteral("NEW.DATUM")));
    sql.direct(
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS HYDOARCHIVE_SUMMARY_INSERT AFTER "
                       "INSERT ON HYDOARCHIVE WHEN %1 BEGIN %2 END")
            .arg(when, triggerBody([&](int slotSeconds) { return addNewRow(sql, slotSeconds); })),
        what);
}

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

qint64 floorTo(qint64 second, qint64 slot)
{
    return floorDiv(second, slot) * slot;
}

qint64 ceilTo(qint64 second, qint64 slot)
{
    return -floorTo(-second, slot);
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<qint64>(doe) - 719468;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Schema

namespace database_detail
{

namespace
{

// The archive's index with the value, and one table per summary level.
void createSummaryTables(Sql &sql)
{
    const char *what = "Creating the archive summaries";
    // The value in the index lets a chart read a sensor's range without touching the table;
    // the index it replaces was its prefix.
    sql.direct(QStringLiteral("CREATE INDEX IF NOT EXISTS HYDOARCHIVE_SENSOR_DATUM_WERT "
                              "ON HYDOARCHIVE (TARVELONID, ASID, DATUM, WERT)"),
               what);
    sql.direct(QStringLiteral("DROP INDEX IF EXISTS HYDOARCHIVE_SENSOR_DATUM"), what);
    for (int slotSeconds : Database::kSummarySlots)
        sql.direct(sql.dialectSql(
                       QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (TARVELONID INTEGER NOT NULL, "
                                      "ASID INTEGER NOT NULL, SLOT {bigint} NOT NULL, "
                                      "N {bigint} NOT NULL, SUMWERT {real} NOT NULL, "
                                      "MINWERT {real} NOT NULL, MAXWERT {real} NOT NULL, "
                                      "FIRSTSECOND {bigint} NOT NULL, FIRSTWERT {real}, "
                                      "LASTSECOND {bigint} NOT NULL, LASTWERT {real}, "
                                      "PRIMARY KEY (TARVELONID, ASID, SLOT)){norowid}")
                           .arg(summaryTable(slotSeconds))),
                   what);
}

QString recomputeBody(const Sql &sql, const QString &row)
{
    return triggerBody([&](int slotSeconds) { return recomputeSlotOf(sql, row, slotSeconds); });
}

const QString kUpdatedColumns = QStringLiteral("TARVELONID, ASID, DATUM, WERT");

void createPostgresTriggers(Sql &sql)
{
    const char *what = "Creating the archive summaries";
    auto recompute = [&](const QString &row) { return recomputeBody(sql, row); };
    // The same statements as SQLite's triggers, in trigger functions: they run in the
    // transaction of the archive change, whichever program makes it.
    const QString oldIsMeasurement =
        isSensorRow(QStringLiteral("OLD")) +
        QStringLiteral(" AND %1 IS NOT NULL").arg(secondOf(sql, QStringLiteral("OLD.DATUM")));
    const QString newIsSensor =
        isSensorRow(QStringLiteral("NEW")) +
        QStringLiteral(" AND %1 IS NOT NULL").arg(secondOf(sql, QStringLiteral("NEW.DATUM")));
    const struct {
        const char *name;
        QString event;
        QString body;
    } triggers[] = {
        {"HYDOARCHIVE_SUMMARY_INSERT",
         QStringLiteral("INSERT ON HYDOARCHIVE REFERENCING NEW TABLE AS new_rows FOR EACH "
                        "STATEMENT"),
         triggerBody([&](int slotSeconds) { return addNewRows(sql, slotSeconds); })},
        {"HYDOARCHIVE_SUMMARY_DELETE", QStringLiteral("DELETE ON HYDOARCHIVE FOR EACH ROW"),
         QStringLiteral("IF %1 THEN %2 END IF;")
             .arg(oldIsMeasurement, recompute(QStringLiteral("OLD")))},
        {"HYDOARCHIVE_SUMMARY_UPDATE",
         QStringLiteral("UPDATE OF %1 ON HYDOARCHIVE FOR EACH ROW").arg(kUpdatedColumns),
         QStringLiteral("IF %1 THEN %2 END IF; IF %3 THEN %4 END IF;")
             .arg(oldIsMeasurement, recompute(QStringLiteral("OLD")), newIsSensor,
                  recompute(QStringLiteral("NEW")))},
    };
    for (const auto &t : triggers) {
        const QString name = QLatin1String(t.name);
        sql.direct(QStringLiteral("CREATE OR REPLACE FUNCTION %1() RETURNS trigger "
                                  "LANGUAGE plpgsql AS $body$ BEGIN %2 RETURN NULL; END "
                                  "$body$")
                       .arg(name, t.body),
                   what);
        sql.direct(QStringLiteral("CREATE OR REPLACE TRIGGER %1 AFTER %2 EXECUTE FUNCTION %1()")
                       .arg(name, t.event),
                   what);
        // A trigger someone disabled must fire again.
        sql.direct(QStringLiteral("ALTER TABLE HYDOARCHIVE ENABLE TRIGGER %1").arg(name), what);
    }
}

void createSqliteTriggers(Sql &sql)
{
    const char *what = "Creating the archive summaries";
    auto recompute = [&](const QString &row) { return recomputeBody(sql, row); };
    createBatchFlag(sql);
    createInsertTrigger(sql, false);
    sql.direct(QStringLiteral("CREATE TRIGGER IF NOT EXISTS HYDOARCHIVE_SUMMARY_DELETE AFTER "
                              "DELETE ON HYDOARCHIVE WHEN %1 BEGIN %2 END")
                   .arg(isSensorRow(QStringLiteral("OLD")), recompute(QStringLiteral("OLD"))),
               what);
    for (const char *row : {"OLD", "NEW"})
        sql.direct(QStringLiteral("CREATE TRIGGER IF NOT EXISTS HYDOARCHIVE_SUMMARY_UPDATE_%1 "
                                  "AFTER UPDATE OF %2 ON HYDOARCHIVE WHEN %3 BEGIN %4 END")
                       .arg(QLatin1String(row), kUpdatedColumns, isSensorRow(QLatin1String(row)),
                            recompute(QLatin1String(row))),
                   what);
}

} // namespace

void createArchiveSummaries(Sql &sql)
{
    createSummaryTables(sql);
    if (sql.postgres())
        createPostgresTriggers(sql);
    else
        createSqliteTriggers(sql);
    fillArchiveSummaries(sql);
}

// Every (controller, sensor) with rows in `table` (the archive or a summary table), found by
// seeking along its index from one sensor to the next rather than reading every row.
std::vector<std::pair<int, int>>
archivedSensors(const Sql &sql, const QString &table = QStringLiteral("HYDOARCHIVE"))
{
    std::vector<std::pair<int, int>> sensors;
    const char *what = "Listing the archived sensors";
    QSqlQuery first =
        sql.run(QStringLiteral("SELECT TARVELONID, ASID FROM %1 ORDER BY TARVELONID, ASID LIMIT 1")
                    .arg(table),
                what);
    if (!first.next())
        return sensors;
    sensors.emplace_back(first.value(0).toInt(), first.value(1).toInt());
    first.finish();
    for (;;) {
        const auto [id, asid] = sensors.back();
        QSqlQuery next = sql.run(
            QStringLiteral("SELECT TARVELONID, ASID FROM %1 WHERE TARVELONID > ? OR "
                           "(TARVELONID = ? AND ASID > ?) ORDER BY TARVELONID, ASID LIMIT 1")
                .arg(table),
            {id, id, asid}, what);
        if (!next.next())
            return sensors;
        sensors.emplace_back(next.value(0).toInt(), next.value(1).toInt());
    }
}

Database::UpgradeProgress &upgradeProgress()
{
    static Database::UpgradeProgress progress;
    return progress;
}

void fillArchiveSummaries(Sql &sql, unsigned levels)
{
    const char *what = "Filling the archive summaries";
    for (int level = 0; level < kLevels; ++level) {
        if (!(levels & (1u << level)))
            continue;
        const int slotSeconds = Database::kSummarySlots[level];
        const QString table = summaryTable(slotSeconds);
        sql.direct(QStringLiteral("DELETE FROM %1").arg(table), what);
        if (level == 0) {
            // From the archive, one sensor at a time (each an index range), so that a large
            // archive shows its progress; first and last are the smallest and largest value
            // of their second, as the triggers order them.
            const std::vector<std::pair<int, int>> sensors = archivedSensors(sql);
            const qint64 total = qint64(sensors.size());
            for (qint64 i = 0; i < total; ++i) {
                const auto [id, asid] = sensors[size_t(i)];
                sql.run(QStringLiteral(
                            "INSERT INTO %1 (%2) SELECT TARVELONID, ASID, %3, count(*), "
                            "sum(WERT), min(WERT), max(WERT), min(s), NULL, max(s), NULL FROM "
                            "(SELECT TARVELONID, ASID, WERT, %4 AS s FROM HYDOARCHIVE a WHERE "
                            "TARVELONID = ? AND ASID = ? AND %5 AND WERT IS NOT NULL) AS r "
                            "WHERE s IS NOT NULL GROUP BY TARVELONID, ASID, %3")
                            .arg(table, kColumns, slotOf(QStringLiteral("s"), slotSeconds),
                                 secondOf(sql, QStringLiteral("DATUM")),
                                 isSensorRow(QStringLiteral("a"))),
                        {id, asid}, what);
                sql.run(QStringLiteral(
                            "UPDATE %1 SET FIRSTWERT = (SELECT min(h.WERT) FROM HYDOARCHIVE h "
                            "WHERE h.TARVELONID = %1.TARVELONID AND h.ASID = %1.ASID AND "
                            "h.DATUM = %2), "
                            "LASTWERT = (SELECT max(h.WERT) FROM HYDOARCHIVE h "
                            "WHERE h.TARVELONID = %1.TARVELONID AND h.ASID = %1.ASID AND "
                            "h.DATUM = %3) "
                            "WHERE TARVELONID = ? AND ASID = ?")
                            .arg(table, datumOf(sql, table + QStringLiteral(".FIRSTSECOND")),
                                 datumOf(sql, table + QStringLiteral(".LASTSECOND"))),
                        {id, asid}, what);
                if (upgradeProgress())
                    upgradeProgress()(i + 1, total);
            }
            continue;
        }
        // Coarser levels from the next finer one, whose slots nest in theirs.
        const int finer = Database::kSummarySlots[level - 1];
        const QString fine = summaryTable(finer);
        sql.direct(QStringLiteral("INSERT INTO %1 (%2) SELECT TARVELONID, ASID, %3, sum(N), "
                                  "sum(SUMWERT), min(MINWERT), max(MAXWERT), min(FIRSTSECOND), "
                                  "NULL, max(LASTSECOND), NULL FROM %4 "
                                  "GROUP BY TARVELONID, ASID, %3")
                       .arg(table, kColumns, slotOf(QStringLiteral("SLOT"), slotSeconds), fine),
                   what);
        sql.direct(QStringLiteral("UPDATE %1 SET FIRSTWERT = (SELECT f.FIRSTWERT FROM %2 f "
                                  "WHERE f.TARVELONID = %1.TARVELONID AND f.ASID = %1.ASID AND "
                                  "f.SLOT = %3), LASTWERT = (SELECT f.LASTWERT FROM %2 f "
                                  "WHERE f.TARVELONID = %1.TARVELONID AND f.ASID = %1.ASID AND "
                                  "f.SLOT = %4)")
                       .arg(table, fine, slotOf(table + QStringLiteral(".FIRSTSECOND"), finer),
                            slotOf(table + QStringLiteral(".LASTSECOND"), finer)),
                   what);
    }
}

void createSummaryBatch(Sql &sql)
{
    // PostgreSQL's insert trigger already summarises each statement's rows in one grouped
    // pass (its transition table holds exactly the rows inserted), whoever writes them: a
    // batch of this program's needs no flag there.
    if (sql.postgres())
        return;
    createBatchFlag(sql);
    createInsertTrigger(sql, true);
}

void beginSummaryBatch(Sql &sql)
{
    // Sets the flag even where someone removed its row: the trigger must not count the
    // batch as well.
    sql.run(QStringLiteral("INSERT INTO %1 (ONE, ACTIVE) VALUES (1, 1) ON CONFLICT (ONE) DO "
                           "UPDATE SET ACTIVE = 1")
                .arg(kBatchTable),
            "Archiving measurements");
}

void finishSummaryBatch(Sql &sql, const std::vector<const ArchiveRecord *> &rows)
{
    const char *what = "Archiving measurements";
    // The slots of the finest level from the rows, each coarser level from the one below:
    // the rows are all at hand, so grouping them here costs a fraction of reading them back.
    using Slots = std::map<std::tuple<int, int, qint64>, ArchiveColumn>;
    Slots bySlot;
    for (const ArchiveRecord *r : rows) {
        // What the insert trigger counts: no logbook entries, no rows without a value
        // (SQLite stores NaN as NULL), no time that is no DATUM.
        const auto second = Database::wallSecond(r->datum);
        if ((r->tarvelonId == Database::kLogbookTarvelonId && r->asid == Database::kLogbookAsid) ||
            std::isnan(r->wert) || !second)
            continue;
        bySlot[{r->tarvelonId, r->asid, floorTo(*second, Database::kSummarySlots[0])}].add(
            ArchiveSample{*second, r->wert});
    }
    for (int level = 0; level < kLevels; ++level) {
        const int slotSeconds = Database::kSummarySlots[level];
        if (level > 0) {
            Slots coarser;
            for (const auto &[key, column] : bySlot)
                coarser[{std::get<0>(key), std::get<1>(key),
                         floorTo(std::get<2>(key), slotSeconds)}]
                    .merge(column);
            bySlot.swap(coarser);
        }
        QVariantList values;
        values.reserve(qsizetype(bySlot.size()) * 11);
        for (const auto &[key, c] : bySlot)
            values << std::get<0>(key) << std::get<1>(key) << std::get<2>(key) << c.count << c.sum
                   << c.minimum << c.maximum << c.firstSecond << c.first << c.lastSecond << c.last;
        const QString table = summaryTable(slotSeconds);
        RowStatements(sql, QStringLiteral("INSERT INTO %1 (%2) VALUES").arg(table, kColumns),
                      mergeIntoSlot(sql, table), 11, kSlotsPerStatement, what)
            .run(values);
    }
    sql.run(QStringLiteral("UPDATE %1 SET ACTIVE = 0").arg(kBatchTable), what);
}

QStringList missingSummaryObjects(Sql &sql, int version)
{
    const char *what = "Looking for the archive summaries";
    QStringList tables;
    QStringList triggers;
    if (sql.postgres()) {
        // From the catalog itself: the session's name lookup may not know yet what another
        // program created a moment ago.
        QSqlQuery t = sql.run(QStringLiteral("SELECT c.relname FROM pg_catalog.pg_class c JOIN "
                                             "pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
                                             "WHERE n.nspname = current_schema() AND "
                                             "c.relkind IN ('r', 'p')"),
                              what);
        while (t.next())
            tables << t.value(0).toString();
        t.finish();
        QSqlQuery g = sql.run(
            QStringLiteral("SELECT t.tgname FROM pg_catalog.pg_trigger t JOIN pg_catalog.pg_class "
                           "c ON c.oid = t.tgrelid JOIN pg_catalog.pg_namespace n ON n.oid = "
                           "c.relnamespace WHERE c.relname = 'hydoarchive' AND n.nspname = "
                           "current_schema() AND NOT t.tgisinternal AND t.tgenabled <> 'D'"),
            what);
        while (g.next())
            triggers << g.value(0).toString();
    } else {
        QSqlQuery q = sql.run(QStringLiteral("SELECT type, name FROM sqlite_master WHERE "
                                             "type = 'table' OR (type = 'trigger' AND "
                                             "tbl_name = 'HYDOARCHIVE' COLLATE NOCASE)"),
                              what);
        while (q.next())
            (q.value(0).toString() == QLatin1String("table") ? tables : triggers)
                << q.value(1).toString();
    }
    QStringList missing;
    for (int slotSeconds : Database::kSummarySlots)
        if (!tables.contains(summaryTable(slotSeconds), Qt::CaseInsensitive))
            missing << summaryTable(slotSeconds);
    for (const QString &name : summaryTriggers(sql))
        if (!triggers.contains(name, Qt::CaseInsensitive))
            missing << name;
    // A flag left set outside a batch keeps other programs' rows out of the summaries.
    if (!sql.postgres() && version >= kSummaryBatchVersion &&
        (!tables.contains(kBatchTable, Qt::CaseInsensitive) ||
         sql.run(QStringLiteral("SELECT 1 FROM %1 WHERE ACTIVE <> 0").arg(kBatchTable), what)
             .next()))
        missing << kBatchTable;
    return missing;
}

} // namespace database_detail

void Database::setUpgradeProgress(UpgradeProgress progress)
{
    database_detail::upgradeProgress() = std::move(progress);
}

void Database::rebuildArchiveSummaries()
{
    rebuildArchiveSummaries({std::begin(kSummarySlots), std::end(kSummarySlots)});
}

void Database::rebuildArchiveSummaries(const std::vector<int> &slotSeconds)
{
    unsigned levels = 0;
    for (int level = 0; level < kLevels; ++level)
        if (std::find(slotSeconds.begin(), slotSeconds.end(), kSummarySlots[level]) !=
            slotSeconds.end())
            levels |= 1u << level;
    Sql sql(connection(), location());
    const char *what = "Rebuilding the archive summaries";
    Transaction tx(sql, what);
    // Writers wait until the rebuild is done: their triggers would add to rows being
    // replaced. (SQLite lets one writer in at a time anyway.)
    if (sql.postgres())
        sql.direct(QStringLiteral("LOCK TABLE HYDOARCHIVE IN SHARE ROW EXCLUSIVE MODE"), what);
    fillArchiveSummaries(sql, levels);
    tx.commit();
}

QStringList Database::restoredSummaryObjects() const
{
    return m_shared->restoredSummaryObjects;
}

namespace
{

// Sensors of the archive and of every summary table: a summary row of a sensor the archive
// no longer holds is a difference as well.
std::vector<std::pair<int, int>> summarisedOrArchivedSensors(const Sql &sql)
{
    std::vector<std::pair<int, int>> sensors = archivedSensors(sql);
    for (int slotSeconds : Database::kSummarySlots) {
        const auto more = archivedSensors(sql, summaryTable(slotSeconds));
        sensors.insert(sensors.end(), more.begin(), more.end());
    }
    std::sort(sensors.begin(), sensors.end());
    sensors.erase(std::unique(sensors.begin(), sensors.end()), sensors.end());
    return sensors;
}

// The slots of one level as a rebuild computes them (first and last: the smallest and the
// largest value of their second), beside the stored rows, both ways round; binds controller
// and sensor four times. Sums are compared with room for the order of adding.
QString summaryCheckStatement(const Sql &sql, int slotSeconds)
{
    const QString a = QStringLiteral("a");
    const QString table = summaryTable(slotSeconds);
    const QString firstOrLast = QStringLiteral(
        "(SELECT %1(h.WERT) FROM HYDOARCHIVE h WHERE h.TARVELONID = ? AND h.ASID = ? AND "
        "h.DATUM = %2)");
    const QString differs =
        QStringLiteral("s.SLOT IS NULL OR s.N <> r.n OR abs(s.SUMWERT - r.sm) > 1e-9 * (1 + "
                       "r.n * %1) OR %2 OR %3 OR %4 OR %5 OR %6 OR %7")
            .arg(greatest(sql, QStringLiteral("abs(r.mn)"), QStringLiteral("abs(r.mx)")),
                 distinct(sql, QStringLiteral("s.MINWERT"), QStringLiteral("r.mn")),
                 distinct(sql, QStringLiteral("s.MAXWERT"), QStringLiteral("r.mx")),
                 distinct(sql, QStringLiteral("s.FIRSTSECOND"), QStringLiteral("r.fs")),
                 distinct(sql, QStringLiteral("s.FIRSTWERT"), QStringLiteral("r.fw")),
                 distinct(sql, QStringLiteral("s.LASTSECOND"), QStringLiteral("r.ls")),
                 distinct(sql, QStringLiteral("s.LASTWERT"), QStringLiteral("r.lw")));
    return QStringLiteral(
               "WITH m AS (SELECT WERT, %1 AS sec FROM HYDOARCHIVE a WHERE TARVELONID = ? AND "
               "ASID = ? AND %2 AND WERT IS NOT NULL), "
               "g AS (SELECT %3 AS slot, count(*) AS n, sum(WERT) AS sm, min(WERT) AS mn, "
               "max(WERT) AS mx, min(sec) AS fs, max(sec) AS ls FROM m WHERE sec IS NOT NULL "
               "GROUP BY %3), "
               "r AS (SELECT g.*, %4 AS fw, %5 AS lw FROM g), "
               "s AS (SELECT SLOT, N, SUMWERT, MINWERT, MAXWERT, FIRSTSECOND, FIRSTWERT, "
               "LASTSECOND, LASTWERT FROM %6 WHERE TARVELONID = ? AND ASID = ?) "
               "SELECT r.slot, s.N, s.SUMWERT, s.MINWERT, s.MAXWERT, s.FIRSTSECOND, s.FIRSTWERT, "
               "s.LASTSECOND, s.LASTWERT, r.n, r.sm, r.mn, r.mx, r.fs, r.fw, r.ls, r.lw "
               "FROM r LEFT JOIN s ON s.SLOT = r.slot WHERE %7 "
               "UNION ALL "
               "SELECT s.SLOT, s.N, s.SUMWERT, s.MINWERT, s.MAXWERT, s.FIRSTSECOND, s.FIRSTWERT, "
               "s.LASTSECOND, s.LASTWERT, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL "
               "FROM s LEFT JOIN r ON r.slot = s.SLOT WHERE r.slot IS NULL ORDER BY 1")
        .arg(secondOf(sql, QStringLiteral("DATUM")), isSensorRow(a),
             slotOf(QStringLiteral("sec"), slotSeconds),
             firstOrLast.arg(QStringLiteral("min"), datumOf(sql, QStringLiteral("g.fs"))),
             firstOrLast.arg(QStringLiteral("max"), datumOf(sql, QStringLiteral("g.ls"))), table,
             differs);
}

} // namespace

std::vector<Database::SummaryLevelCheck>
Database::checkArchiveSummaries(const std::function<void(const SummaryDifference &)> &difference,
                                const UpgradeProgress &progress) const
{
    Sql sql(connection(), location());
    const char *what = "Checking the archive summaries";
    std::vector<SummaryLevelCheck> levels;
    const std::vector<std::pair<int, int>> sensors = summarisedOrArchivedSensors(sql);
    const qint64 total = qint64(sensors.size()) * kLevels;
    qint64 done = 0;

    auto column = [](const QSqlQuery &q, int at) {
        return ArchiveColumn{0,
                             q.value(at).toLongLong(),
                             q.value(at + 1).toDouble(),
                             q.value(at + 2).toDouble(),
                             q.value(at + 3).toDouble(),
                             q.value(at + 4).toLongLong(),
                             q.value(at + 5).toDouble(),
                             q.value(at + 6).toLongLong(),
                             q.value(at + 7).toDouble()};
    };
    for (int slotSeconds : kSummarySlots) {
        const QString table = summaryTable(slotSeconds);
        const QString statement = summaryCheckStatement(sql, slotSeconds);
        SummaryLevelCheck level{slotSeconds, 0, 0};
        for (const auto &[id, asid] : sensors) {
            QSqlQuery q = sql.run(statement, {id, asid, id, asid, id, asid, id, asid}, what);
            while (q.next()) {
                ++level.differences;
                if (difference)
                    difference(SummaryDifference{slotSeconds, id, asid, q.value(0).toLongLong(),
                                                 column(q, 1), column(q, 9)});
            }
            if (progress)
                progress(++done, total);
        }
        QSqlQuery rows = sql.run(QStringLiteral("SELECT count(*) FROM %1").arg(table), what);
        level.rows = rows.next() ? rows.value(0).toLongLong() : 0;
        levels.push_back(level);
    }
    return levels;
}

// ---------------------------------------------------------------------------------------
// Wall-clock seconds

std::optional<WallSecond> Database::wallSecond(QStringView t)
{
    if (t.size() != 19 || t[4] != u'-' || t[7] != u'-' || t[10] != u' ' || t[13] != u':' ||
        t[16] != u':')
        return std::nullopt;
    auto number = [&](int from, int length, int &out) {
        out = 0;
        for (int i = from; i < from + length; ++i) {
            const char16_t c = t[i].unicode();
            if (c < u'0' || c > u'9')
                return false;
            out = out * 10 + (c - u'0');
        }
        return true;
    };
    int y, mo, d, h, mi, s;
    if (!number(0, 4, y) || !number(5, 2, mo) || !number(8, 2, d) || !number(11, 2, h) ||
        !number(14, 2, mi) || !number(17, 2, s))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    return daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * kSecondsPerDay +
           h * 3600 + mi * 60 + s;
}

WallSecond Database::wallSecond(const QDateTime &time)
{
    const QDateTime local = time.toLocalTime();
    const QDate date = local.date();
    const QTime clock = local.time();
    return daysFromCivil(date.year(), static_cast<unsigned>(date.month()),
                         static_cast<unsigned>(date.day())) *
               kSecondsPerDay +
           clock.msecsSinceStartOfDay() / 1000;
}

QDateTime Database::dateTimeOf(WallSecond second)
{
    const qint64 days = floorDiv(second, kSecondsPerDay);
    const QDate date = QDate(1970, 1, 1).addDays(days);
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(
                               static_cast<int>((second - days * kSecondsPerDay) * 1000)));
}

QString Database::datumText(WallSecond second)
{
    const qint64 days = floorDiv(second, kSecondsPerDay);
    return datumText(
        QDate(1970, 1, 1).addDays(days),
        QTime::fromMSecsSinceStartOfDay(static_cast<int>((second - days * kSecondsPerDay) * 1000)));
}

// ---------------------------------------------------------------------------------------
// Columns

int ColumnGrid::columnOf(WallSecond second) const
{
    const qint64 slotStart = floorTo(second, std::max(slotSeconds, 1));
    const qint64 column = floorDiv((slotStart - origin) * columns, std::max<qint64>(span, 1));
    return static_cast<int>(std::clamp<qint64>(column, 0, columns - 1));
}

void ArchiveColumn::add(const ArchiveSample &s)
{
    merge(ArchiveColumn{column, 1, s.wert, s.wert, s.wert, s.second, s.wert, s.second, s.wert});
}

void ArchiveColumn::merge(const ArchiveColumn &o)
{
    if (o.count == 0)
        return;
    if (count == 0) {
        const int keep = column;
        *this = o;
        column = keep;
        return;
    }
    count += o.count;
    sum += o.sum;
    minimum = std::min(minimum, o.minimum);
    maximum = std::max(maximum, o.maximum);
    if (std::pair(o.firstSecond, o.first) < std::pair(firstSecond, first)) {
        firstSecond = o.firstSecond;
        first = o.first;
    }
    if (std::pair(o.lastSecond, o.last) > std::pair(lastSecond, last)) {
        lastSecond = o.lastSecond;
        last = o.last;
    }
}

// ---------------------------------------------------------------------------------------
// Reading

std::vector<ArchiveSample> Database::archiveSamples(int tarvelonId, int asid, WallSecond from,
                                                    WallSecond to) const
{
    std::vector<ArchiveSample> samples;
    if (from >= to)
        return samples;
    Sql sql(connection(), location());
    QSqlQuery q =
        sql.run(QStringLiteral("SELECT DATUM, WERT FROM HYDOARCHIVE WHERE "
                               "TARVELONID = ? AND ASID = ? AND DATUM >= ? AND "
                               "DATUM < ? AND WERT IS NOT NULL ORDER BY DATUM, WERT"),
                {tarvelonId, asid, datumText(from), datumText(to)}, "Reading the archive");
    while (q.next()) {
        const QString datum = q.value(0).toString();
        if (const auto second = wallSecond(datum))
            samples.push_back({*second, q.value(1).toDouble()});
    }
    return samples;
}

std::optional<ArchiveSample> Database::archiveNeighbour(int tarvelonId, int asid, WallSecond second,
                                                        Neighbour which) const
{
    const bool before = which == Neighbour::Before;
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(
        QStringLiteral("SELECT DATUM, WERT FROM HYDOARCHIVE WHERE TARVELONID = ? AND "
                       "ASID = ? AND DATUM %1 ? AND WERT IS NOT NULL ORDER BY %2 LIMIT 1")
            .arg(before ? QStringLiteral("<=") : QStringLiteral(">="),
                 before ? QStringLiteral("DATUM DESC, WERT DESC") : QStringLiteral("DATUM, WERT")),
        {tarvelonId, asid, datumText(second)}, "Reading the archive");
    while (q.next()) {
        if (const auto at = wallSecond(q.value(0).toString()))
            return ArchiveSample{*at, q.value(1).toDouble()};
    }
    return std::nullopt;
}

std::vector<ArchiveColumn> Database::archiveColumns(int tarvelonId, int asid, WallSecond from,
                                                    WallSecond to, const ColumnGrid &grid) const
{
    const int *levelEnd = std::end(kSummarySlots);
    const int *found = std::find(std::begin(kSummarySlots), levelEnd, grid.slotSeconds);
    if (grid.slotSeconds != 1 && found == levelEnd)
        throw StoreError(ErrorCode::NoSummaryLevel, location(), QString::number(grid.slotSeconds));
    const int top = found == levelEnd ? -1 : static_cast<int>(found - std::begin(kSummarySlots));

    std::map<int, ArchiveColumn> columns;
    auto take = [&](const ArchiveColumn &c) {
        auto it = columns.try_emplace(c.column).first;
        it->second.column = c.column;
        it->second.merge(c);
    };
    Sql sql(connection(), location());

    // Whole slots of one level, gathered into columns by the database.
    auto readLevel = [&](int level, WallSecond a, WallSecond b) {
        const int slot = kSummarySlots[level];
        const QString table = summaryTable(slot);
        const QString column =
            greatest(sql, QStringLiteral("0"),
                     least(sql, QStringLiteral("?"),
                           QStringLiteral("((%1 - ?) * ?) / ?")
                               .arg(slotOf(QStringLiteral("SLOT"), grid.slotSeconds))));
        QSqlQuery q = sql.run(
            QStringLiteral("WITH g AS (SELECT %1 AS c, sum(N) AS n, sum(SUMWERT) AS s, "
                           "min(MINWERT) AS mn, max(MAXWERT) AS mx, min(SLOT) AS fs, "
                           "max(SLOT) AS ls FROM %2 WHERE TARVELONID = ? AND ASID = ? AND "
                           "SLOT >= ? AND SLOT < ? GROUP BY c) "
                           "SELECT g.c, g.n, g.s, g.mn, g.mx, f.FIRSTSECOND, f.FIRSTWERT, "
                           "l.LASTSECOND, l.LASTWERT FROM g "
                           "JOIN %2 f ON f.TARVELONID = ? AND f.ASID = ? AND f.SLOT = g.fs "
                           "JOIN %2 l ON l.TARVELONID = ? AND l.ASID = ? AND l.SLOT = g.ls")
                .arg(column, table),
            {grid.columns - 1, grid.origin, grid.columns, qint64(std::max<qint64>(grid.span, 1)),
             tarvelonId, asid, a, b, tarvelonId, asid, tarvelonId, asid},
            "Reading the archive summaries");
        while (q.next())
            take(ArchiveColumn{q.value(0).toInt(), q.value(1).toLongLong(), q.value(2).toDouble(),
                               q.value(3).toDouble(), q.value(4).toDouble(),
                               q.value(5).toLongLong(), q.value(6).toDouble(),
                               q.value(7).toLongLong(), q.value(8).toDouble()});
    };

    // Whole slots of the grid's level; the ragged ends from finer levels and the archive.
    std::function<void(int, WallSecond, WallSecond)> collect = [&](int level, WallSecond a,
                                                                   WallSecond b) {
        if (a >= b)
            return;
        if (level < 0) {
            for (const ArchiveSample &s : archiveSamples(tarvelonId, asid, a, b)) {
                ArchiveColumn c;
                c.column = grid.columnOf(s.second);
                c.add(s);
                take(c);
            }
            return;
        }
        const int slot = kSummarySlots[level];
        const WallSecond wholeFrom = ceilTo(a, slot);
        const WallSecond wholeTo = floorTo(b, slot);
        if (wholeFrom >= wholeTo) {
            collect(level - 1, a, b);
            return;
        }
        collect(level - 1, a, wholeFrom);
        readLevel(level, wholeFrom, wholeTo);
        collect(level - 1, wholeTo, b);
    };
    collect(top, from, to);

    std::vector<ArchiveColumn> out;
    out.reserve(columns.size());
    for (const auto &[index, c] : columns)
        out.push_back(c);
    return out;
}
