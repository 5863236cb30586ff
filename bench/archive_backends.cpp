// Archive rate of the download's writing path on SQLite and on PostgreSQL, with the same
// batches of several sizes, by the wall clock (the server's work is not this process's CPU
// time).

#include "archive_spool_rate.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <cstdio>
#include <map>
#include <vector>

namespace
{

const PgServer *g_server = nullptr;

void ArchiveSpoolStore(benchmark::State &state, bool postgres)
{
    measureSpoolStore(state, g_server, postgres);
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
