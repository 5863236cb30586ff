// Archive rate of the download's writing path (one transaction, prepared statement, the check
// that skips rows already archived, the summaries kept) on SQLite, and on the PostgreSQL
// server of `pg_virtualenv` when there is one, against writing the same records one
// autocommitted row at a time.

#include "archive_spool_rate.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <cstdio>
#include <vector>

namespace
{

const PgServer *g_server = nullptr;

// Writes a fresh batch of state.range(0) records per iteration with `write` and reports the
// rate; making the records is not timed.
template <typename Write> void measureWrites(benchmark::State &state, Write write)
{
    const int count = static_cast<int>(state.range(0));
    int batch = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const auto records = makeRecords(count, batch++);
        state.ResumeTiming();
        write(records);
    }
    state.counters["records_per_s"] = benchmark::Counter(
        static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate);
}

void ArchiveSpoolStore(benchmark::State &state, bool postgres)
{
    measureSpoolStore(state, g_server, postgres);
}

void OneTransactionWithoutDuplicateCheck(benchmark::State &state)
{
    QTemporaryDir dir;
    Database db(dir.filePath(QStringLiteral("ostracom.db")));
    measureWrites(state, [&](const std::vector<ArchiveRecord> &records) {
        db.appendArchive(records, Database::SkipExisting::No);
    });
}

void OneAutocommittedRowAtATime(benchmark::State &state)
{
    QTemporaryDir dir;
    Database db(dir.filePath(QStringLiteral("ostracom.db")));
    measureWrites(state, [&](const std::vector<ArchiveRecord> &records) {
        for (const ArchiveRecord &r : records)
            db.appendArchive({r});
    });
}

} // namespace

// By the wall clock: the time spent waiting for the disk to sync is no CPU time of this
// process, and counting only CPU time made the rates look higher than they are.
BENCHMARK_CAPTURE(ArchiveSpoolStore, sqlite, false)
    ->Arg(1000)
    ->Arg(10000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ArchiveSpoolStore, postgresql, true)
    ->Arg(10000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OneTransactionWithoutDuplicateCheck)
    ->Arg(10000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OneAutocommittedRowAtATime)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

namespace
{
// Prints the runs as usual and then the download path's rate on each database beside that of
// autocommitted single rows.
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
            const std::string name = run.benchmark_name();
            if (name.rfind("ArchiveSpoolStore/sqlite/10000", 0) == 0)
                m_sqlite = it->second.value;
            else if (name.rfind("ArchiveSpoolStore/postgresql/10000", 0) == 0)
                m_postgres = it->second.value;
            else if (name.rfind("OneAutocommittedRowAtATime", 0) == 0)
                m_single = it->second.value;
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        if (m_sqlite > 0)
            std::printf("\narchive path with summaries, batches of 10000: SQLite %.0f records/s "
                        "(goal: at least 150000)",
                        m_sqlite);
        if (m_postgres > 0)
            std::printf(", PostgreSQL %.0f records/s", m_postgres);
        if (m_sqlite > 0 && m_single > 0)
            std::printf("\nsingle autocommitted rows on SQLite: %.0f records/s, ratio %.1f",
                        m_single, m_sqlite / m_single);
        std::printf("\n");
    }

private:
    double m_sqlite = 0;
    double m_postgres = 0;
    double m_single = 0;
};
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    // The server of `pg_virtualenv -t -o fsync=on bench_archive_rate`; without one only
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
