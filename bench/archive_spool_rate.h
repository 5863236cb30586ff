#pragma once

// The download's writing path (ArchiveSpool::store: one transaction, the check that skips rows
// already archived, the summaries) measured on SQLite or on the PostgreSQL server the
// environment names, as `pg_virtualenv -t -o fsync=on` sets one up (with its syncs to disk as a
// real server has them).

#include "archive_records.h"
#include "model/error_text.h"
#include "store/archive_spool.h"
#include "store/database.h"
#include "support/pg_server.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstdio>

// Stores a fresh batch of state.range(0) records per iteration, by the wall clock (the
// server's work and the waits for the disk are no CPU time of this process); making the
// records is not timed. `postgres` null: a SQLite file.
inline void measureSpoolStore(benchmark::State &state, const PgServer *postgres, bool wantPostgres)
{
    QTemporaryDir dir;
    QString location = dir.filePath(QStringLiteral("ostracom.db"));
    QString pgDatabase;
    if (wantPostgres) {
        QString error = QStringLiteral("no server");
        pgDatabase = postgres ? postgres->createDatabase(false, &error) : QString();
        if (pgDatabase.isEmpty()) {
            state.SkipWithError(("no PostgreSQL database: " + error).toStdString().c_str());
            return;
        }
        location = postgres->url(pgDatabase);
    }
    {
        Database db(location);
        ArchiveSpool spool(db, dir.path());
        const int count = static_cast<int>(state.range(0));
        int batch = 0;
        for (auto _ : state) {
            state.PauseTiming();
            const auto records = makeRecords(count, batch++);
            state.ResumeTiming();
            const ArchiveSpool::Result r = spool.store(records);
            if (!r.error.ok() || r.written != count)
                state.SkipWithError(("not archived: " + errorText(r.error)).toStdString().c_str());
        }
        state.counters["records_per_s"] = benchmark::Counter(
            static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate);
    }
    if (wantPostgres)
        postgres->dropDatabase(pgDatabase);
}
