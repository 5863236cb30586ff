// The cost of keeping one download of 10 records while the database refuses every write,
// with a backlog already waiting in the spool file. Keeping a batch must cost the batch, not
// the backlog: the figures for every backlog should be alike.

#include "archive_records.h"
#include "store/archive_spool.h"
#include "store/database.h"
#include "store/fault_injection.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

namespace
{

constexpr int kBatch = 10;
constexpr int kFillBatch = 10000;

void StoreWhileRefused(benchmark::State &state)
{
    const int backlog = static_cast<int>(state.range(0));
    QTemporaryDir dir;
    Database db(dir.filePath(QStringLiteral("ostracom.db")));
    ArchiveSpool spool(db, dir.path());
    store_faults::arm({store_faults::Point::Write, 1, store_faults::Repeat::FromOn});
    int batch = 0;
    for (; batch * kFillBatch < backlog; ++batch)
        spool.store(makeRecords(std::min(kFillBatch, backlog - batch * kFillBatch), batch));
    if (spool.pending() != backlog)
        state.SkipWithError("the backlog was not spooled");
    // Batches of kBatch from here on, after the backlog's times.
    int next = (backlog + kBatch - 1) / kBatch + 1;
    for (auto _ : state) {
        state.PauseTiming();
        const auto records = makeRecords(kBatch, next++);
        state.ResumeTiming();
        const ArchiveSpool::Result r = spool.store(records);
        if (!r.safe || r.error.ok())
            state.SkipWithError("the batch was not spooled while the database refused");
    }
    store_faults::disarm();
    state.counters["backlog"] = backlog;
}

} // namespace

// By the wall clock: syncing the spool to disk is most of the cost and is no CPU time.
BENCHMARK(StoreWhileRefused)
    ->Arg(0)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(200000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
