// Archive rate of the download's writing path (ArchiveSpool::store: one transaction, the check
// that skips rows already archived, the summary triggers) on SQLite and on PostgreSQL, with the
// same batches, by the wall clock (the server's work is not this process's CPU time). The
// PostgreSQL server is started here in a temporary folder, with its syncs to
// disk as a real server has them, and removed afterwards.

#include "archive_records.h"
#include "store/archive_spool.h"
#include "store/database.h"
#include "support/pg_server.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace
{


const PgServer *g_server = nullptr;

void ArchiveSpoolStore(benchmark::State &state, bool postgres)
{
    QTemporaryDir dir;
    QString location = dir.filePath(QStringLiteral("ostracom.db"));
    QString error;
    QString pgDatabase;
    if (postgres) {
        pgDatabase = g_server ? g_server->createDatabase(false, &error) : QString();
        if (pgDatabase.isEmpty()) {
            state.SkipWithError(("no PostgreSQL database: " + error).toStdString().c_str());
            return;
        }
        location = g_server->url(pgDatabase);
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
    if (postgres)
        g_server->dropDatabase(pgDatabase);
}

// Prints the runs as usual and then both rates of each batch size and their ratio.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const auto it = run.counters.find("records_per_s");
            if (it == run.counters.end() || run.error_occurred)
                continue;
            const bool postgres =
                run.run_name.function_name.find("postgresql") != std::string::npos;
            (postgres ? m_postgres : m_sqlite)[std::stoi(run.run_name.args)] = it->second.value;
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const auto &[size, sqlite] : m_sqlite) {
            const auto pg = m_postgres.find(size);
            if (pg == m_postgres.end() || pg->second <= 0)
                continue;
            std::printf("\nbatches of %d records: SQLite %.0f records/s, PostgreSQL %.0f "
                        "records/s, SQLite/PostgreSQL %.2f",
                        size, sqlite, pg->second, sqlite / pg->second);
        }
        std::printf("\n");
    }

private:
    std::map<int, double> m_sqlite;
    std::map<int, double> m_postgres;
};

} // namespace

BENCHMARK_CAPTURE(ArchiveSpoolStore, sqlite, false)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ArchiveSpoolStore, postgresql, true)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    // The server of `pg_virtualenv -t -o fsync=on bench_archive_backends`; without one only
    // SQLite is measured.
    QString error;
    g_server = PgServer::shared(&error);
    if (!g_server)
        std::fprintf(stderr, "PostgreSQL server: %s\n", error.toLocal8Bit().constData());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
