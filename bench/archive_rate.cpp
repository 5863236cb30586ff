// Archive rate of the download's writing path (one transaction, prepared statement, with the
// check that skips rows already archived) against writing the same records one
// autocommitted row at a time.

#include "archive_records.h"
#include "store/archive_spool.h"
#include "store/database.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace
{


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
        const QString error = write(records);
        if (!error.isEmpty())
            state.SkipWithError(error.toStdString().c_str());
    }
    state.counters["records_per_s"] = benchmark::Counter(
        static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate);
}

void ArchiveSpoolStore(benchmark::State &state)
{
    QTemporaryDir dir;
    Database db(dir.filePath(QStringLiteral("ostracom.db")));
    ArchiveSpool spool(db, dir.path());
    measureWrites(state, [&](const std::vector<ArchiveRecord> &records) {
        return spool.store(records).error;
    });
}

void OneTransactionWithoutDuplicateCheck(benchmark::State &state)
{
    QTemporaryDir dir;
    Database db(dir.filePath(QStringLiteral("ostracom.db")));
    measureWrites(state, [&](const std::vector<ArchiveRecord> &records) {
        db.appendArchive(records, Database::SkipExisting::No);
        return QString();
    });
}

void OneAutocommittedRowAtATime(benchmark::State &state)
{
    QTemporaryDir dir;
    Database db(dir.filePath(QStringLiteral("ostracom.db")));
    measureWrites(state, [&](const std::vector<ArchiveRecord> &records) {
        for (const ArchiveRecord &r : records)
            db.appendArchive({r});
        return QString();
    });
}

} // namespace

// By the wall clock: the time spent waiting for the disk to sync is no CPU time of this
// process, and counting only CPU time made the rates look higher than they are.
BENCHMARK(ArchiveSpoolStore)->Arg(1000)->Arg(10000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(OneTransactionWithoutDuplicateCheck)
    ->Arg(10000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OneAutocommittedRowAtATime)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

namespace
{
// Prints the runs as usual and then how many times faster the download's path is than
// autocommitted single rows.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const auto it = run.counters.find("records_per_s");
            if (it == run.counters.end())
                continue;
            const std::string name = run.benchmark_name();
            if (name.rfind("ArchiveSpoolStore/10000", 0) == 0)
                m_batch = it->second.value;
            else if (name.rfind("OneAutocommittedRowAtATime", 0) == 0)
                m_single = it->second.value;
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        if (m_batch > 0 && m_single > 0)
            std::printf(
                "\narchive path: %.0f records/s, single autocommitted rows: %.0f records/s, "
                "ratio %.1f (goal: above 100000 records/s)\n",
                m_batch, m_single, m_batch / m_single);
    }

private:
    double m_batch = 0;
    double m_single = 0;
};
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
