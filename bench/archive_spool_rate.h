#pragma once

// The download's writing path (ArchiveSpool::store: one transaction, the check that skips rows
// already archived, the summaries) measured on SQLite or on a PostgreSQL server of the
// benchmark's own, started as the tests start theirs (in a temporary folder, with its syncs to
// disk as a real server has them) and removed afterwards.

#include "archive_records.h"
#include "store/archive_spool.h"
#include "store/database.h"
#include "support/pg_server.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

class BenchPgServer
{
public:
    BenchPgServer()
    {
        const QString info = QDir(m_dir.path()).filePath(QStringLiteral("server.info"));
        QString error;
        if (PgServer::start(info, &error, true)) {
            m_info = info;
            m_server = PgServer::described(info, &error);
        }
        if (!m_server)
            std::fprintf(stderr, "PostgreSQL server: %s\n", error.toLocal8Bit().constData());
    }
    ~BenchPgServer()
    {
        QString error;
        if (!m_info.isEmpty())
            PgServer::stop(m_info, &error);
    }
    BenchPgServer(const BenchPgServer &) = delete;
    BenchPgServer &operator=(const BenchPgServer &) = delete;

    // nullptr when no server could be started.
    const PgServer *get() const { return m_server.get(); }

private:
    QTemporaryDir m_dir;
    QString m_info;
    std::unique_ptr<PgServer> m_server;
};

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
            if (!r.error.isEmpty() || r.written != count)
                state.SkipWithError(("not archived: " + r.error).toStdString().c_str());
        }
        state.counters["records_per_s"] = benchmark::Counter(
            static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate);
    }
    if (wantPostgres)
        postgres->dropDatabase(pgDatabase);
}
