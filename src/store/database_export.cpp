// Reading whole archive rows for export.

#include "store/database.h"

#include <QSqlError>
#include <QSqlQuery>

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
        throw StoreError(QStringLiteral("Reading the archive of database %1 failed: %2")
                             .arg(location(), q.lastError().text()));
    std::vector<ArchiveRow> rows;
    while (q.next()) {
        rows.push_back(ArchiveRow{q.value(0).toString(), q.value(1).toInt(),
                                  q.value(2).toInt(), q.value(3), q.value(4).toString()});
    }
    return rows;
}
