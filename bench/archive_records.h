#pragma once

// Batches of archive records for the ingest benchmarks: eight sensors of one controller,
// a record a second, each batch following the last without overlap.

#include "store/database.h"

#include <QDateTime>

#include <vector>

inline std::vector<ArchiveRecord> makeRecords(int count, int batch)
{
    std::vector<ArchiveRecord> records;
    records.reserve(static_cast<size_t>(count));
    const QDateTime start(QDate(2026, 1, 1), QTime(0, 0));
    for (int i = 0; i < count; ++i)
        records.push_back(ArchiveRecord{
            Database::datumText(start.addSecs(static_cast<qint64>(batch) * count + i)),
            20.0 + (i % 100) * 0.1, 1234, 1 + i % 8});
    return records;
}
