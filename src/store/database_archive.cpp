#include "store/database.h"

#include "store/database_sql.h"

#include <QMap>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <unordered_set>

using namespace database_detail;

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
// First key of the locks that keep two writers of one controller's archive apart.
constexpr int kArchiveLockClass = 0x4f53;

// Identity of an archived value for the duplicate check: the value by its bits, so that
// equal means the same number written the same way (every NaN is one value, as its text is).
struct ArchiveKey {
    int tarvelonId;
    int asid;
    QString datum;
    quint64 wert;

    ArchiveKey(int id, int sensor, const QString &d, double w)
        : tarvelonId(id), asid(sensor), datum(d), wert(std::isnan(w) ? ~quint64(0) : bitsOf(w))
    {
    }
    static quint64 bitsOf(double w)
    {
        quint64 bits;
        std::memcpy(&bits, &w, sizeof bits);
        return bits;
    }
    bool operator==(const ArchiveKey &) const = default;
};

struct ArchiveKeyHash {
    size_t operator()(const ArchiveKey &k) const
    {
        return qHashMulti(0, k.tarvelonId, k.asid, k.datum, k.wert);
    }
};

// Records per statement on PostgreSQL: one round trip each, and one run of the summary
// trigger over all of them, instead of one of each per record.
constexpr size_t kPostgresRowsPerStatement = 5000;

// Array literal of texts that need no escaping beyond the quotes (DATUM texts, numbers).
QString arrayLiteral(const QStringList &items)
{
    return QStringLiteral("{\"") + items.join(QStringLiteral("\",\"")) + QStringLiteral("\"}");
}

void insertPostgres(Sql &sql, const std::vector<const ArchiveRecord *> &records, const char *what)
{
    for (size_t from = 0; from < records.size(); from += kPostgresRowsPerStatement) {
        const size_t to = std::min(records.size(), from + kPostgresRowsPerStatement);
        QStringList datum, wert, id, asid;
        for (size_t i = from; i < to; ++i) {
            datum << records[i]->datum;
            wert << QString::number(records[i]->wert, 'g', 17);
            id << QString::number(records[i]->tarvelonId);
            asid << QString::number(records[i]->asid);
        }
        sql.run(QStringLiteral("INSERT INTO HYDOARCHIVE (DATUM, WERT, TARVELONID, ASID) "
                               "SELECT * FROM unnest(CAST(? AS text[]), CAST(? AS double "
                               "precision[]), CAST(? AS integer[]), CAST(? AS integer[]))"),
                {arrayLiteral(datum), arrayLiteral(wert), arrayLiteral(id), arrayLiteral(asid)},
                what);
    }
}

// Records per INSERT on SQLite: the summary trigger's frame and Qt's work per statement are
// paid once for all of them, not once per record.
constexpr int kSqliteRowsPerStatement = 50;

void insertSqlite(Sql &sql, const std::vector<const ArchiveRecord *> &records, const char *what)
{
    // Sensor by sensor, in the order of the batch within each: a sensor's controller and
    // number are bound once a statement (Qt's work per bound value is most of the work).
    std::vector<const ArchiveRecord *> bySensor = records;
    std::stable_sort(bySensor.begin(), bySensor.end(), [](auto *a, auto *b) {
        return std::pair(a->tarvelonId, a->asid) < std::pair(b->tarvelonId, b->asid);
    });
    RowStatements insert(sql,
                         QStringLiteral("INSERT INTO HYDOARCHIVE (DATUM, WERT, TARVELONID, ASID) "
                                        "SELECT column1, column2, ?, ? FROM (VALUES"),
                         QStringLiteral(")"), 2, kSqliteRowsPerStatement, what);
    QVariantList values;
    for (auto run = bySensor.begin(); run != bySensor.end();) {
        auto end = run;
        values.clear();
        for (; end != bySensor.end() && (*end)->tarvelonId == (*run)->tarvelonId &&
               (*end)->asid == (*run)->asid;
             ++end)
            values << (*end)->datum << (*end)->wert;
        insert.run(values, {(*run)->tarvelonId, (*run)->asid}); // a failure rolls back
        run = end;
    }
}

} // namespace

int Database::appendArchive(const std::vector<ArchiveRecord> &records, SkipExisting skip)
{
    if (records.empty())
        return 0;
    for (size_t i = 0; i < records.size(); ++i)
        if (!isDatumText(records[i].datum)) {
            Error e(ErrorCode::RecordWithoutTime, location(), QString::number(i + 1));
            e.what = QString::number(records.size());
            throw StoreError(e);
        }

    const char *what = "Archiving measurements";
    Sql sql(connection(), location());
    return retryConflicts(sql, [&] {
        int added = 0;
        Transaction tx(sql, what);
        if (sql.postgres() && skip == SkipExisting::Yes) {
            // Another program may archive the same controller at the same moment; whoever
            // comes second waits here, and then sees the first one's rows as existing. Taken
            // in one order, so that two writers never wait for each other in a circle.
            std::set<int> controllers;
            for (const ArchiveRecord &r : records)
                controllers.insert(r.tarvelonId);
            for (int id : controllers)
                sql.run(QStringLiteral("SELECT pg_advisory_xact_lock(?, ?)"),
                        {kArchiveLockClass, id}, what);
        }
        {
            // Rows already archived are found with one range query per controller instead of
            // a lookup per record: a download normally holds only new records.
            std::unordered_set<ArchiveKey, ArchiveKeyHash> existing;
            if (skip == SkipExisting::Yes) {
                existing.reserve(records.size());
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
                        existing.emplace(it.key().first, it.key().second, e.value(0).toString(),
                                         e.value(1).toDouble());
                }
            }
            std::vector<const ArchiveRecord *> fresh;
            fresh.reserve(records.size());
            for (const ArchiveRecord &r : records) {
                if (skip == SkipExisting::Yes) {
                    // Also catches a record repeated within this batch.
                    if (!existing.emplace(r.tarvelonId, r.asid, r.datum, r.wert).second)
                        continue;
                }
                fresh.push_back(&r);
            }
            if (sql.postgres()) {
                insertPostgres(sql, fresh, what);
            } else if (!fresh.empty()) {
                beginSummaryBatch(sql);
                insertSqlite(sql, fresh, what);
                finishSummaryBatch(sql, fresh);
            }
            added = static_cast<int>(fresh.size());
        }
        tx.commit();
        return added;
    });
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

// Reading whole archive rows for export.
std::vector<Database::ArchiveRow> Database::archiveRows(int tarvelonId, std::optional<int> asid,
                                                        const std::optional<QDateTime> &from,
                                                        const std::optional<QDateTime> &to) const
{
    QString sql = QStringLiteral("SELECT DATUM, TARVELONID, ASID, WERT, BEMERKUNG FROM HYDOARCHIVE "
                                 "WHERE TARVELONID = ?");
    QVariantList values{tarvelonId};
    if (asid) {
        sql += QStringLiteral(" AND ASID = ?");
        values << *asid;
    }
    if (from) {
        sql += QStringLiteral(" AND DATUM >= ?");
        values << datumText(*from);
    }
    if (to) {
        sql += QStringLiteral(" AND DATUM <= ?");
        values << datumText(*to);
    }
    sql += QStringLiteral(" ORDER BY DATUM ASC, ASID ASC");

    QSqlQuery q(connection());
    q.setForwardOnly(true);
    bool ok = q.prepare(sql);
    if (ok) {
        for (const QVariant &v : values)
            q.addBindValue(v);
        ok = q.exec();
    }
    if (!ok)
        throw StoreError(ErrorCode::ArchiveReadFailed, location(), q.lastError().text());
    std::vector<ArchiveRow> rows;
    while (q.next()) {
        rows.push_back(ArchiveRow{q.value(0).toString(), q.value(1).toInt(), q.value(2).toInt(),
                                  q.value(3), q.value(4).toString()});
    }
    return rows;
}
