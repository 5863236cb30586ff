// One polling cycle of the monitoring service over 16 emulated controllers, as
// ostracom-cli poll runs it: download, archive, limit checks, no-data check.
//
//   build/bench/bench_poll_cycle
//
// Counters: cpu_ms (this process's CPU time per cycle, all threads), cpu_share (cpu_ms over
// the cycle's wall time), records (records downloaded per cycle). The emulators' own CPU
// time is left out: /proc counts it in 10 ms ticks, too coarse for a cycle.

#include "emulator.h"
#include "link/progress.h"
#include "model/error_text.h"
#include "model/interaction.h"
#include "service/monitoring_service.h"
#include "store/database.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <ctime>
#include <memory>
#include <vector>

namespace
{

constexpr int kControllers = 16;
constexpr int kFirstId = 2001;
constexpr int kConnectTimeoutMs = 300000;
constexpr int kCycleTimeoutMs = 120000;

// Takes over every controller's program as it stands, as ostracom-cli poll does.
class AgreeToAll : public Interaction
{
public:
    Answer ask(Question, const QString &, const QString &, Buttons b, Icon) override
    {
        return b == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    void tell(const QString &, const QString &, Icon) override {}
};

double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1.0e6;
}

// Runs the event loop until `done` or the time-out; false on time-out.
template <typename Done> bool spinUntil(Done done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

void PollCycle16(benchmark::State &state)
{
    std::vector<std::unique_ptr<Emulator>> sims;
    for (int i = 0; i < kControllers; ++i) {
        sims.push_back(std::make_unique<Emulator>(QStringList{"--port", "0", "--id",
                                                              QString::number(kFirstId + i),
                                                              "--seed", QString::number(i + 1)}));
        if (sims.back()->port() == 0) {
            state.SkipWithError("an emulator did not start");
            return;
        }
    }
    QTemporaryDir dir;
    Database db(dir.filePath(QStringLiteral("ostracom.db")));
    AgreeToAll interaction;
    NoProgress progress;
    MonitoringService service(db, dir.path(), interaction, progress);
    int added = 0;
    for (const auto &sim : sims)
        service.addController(sim->link(), QStringLiteral("tcp:127.0.0.1:%1").arg(sim->port()),
                              true, [&](const MonitoringService::AddOutcome &) { ++added; });
    if (!spinUntil([&] { return added == kControllers && !service.worker().busy(); },
                   kConnectTimeoutMs)) {
        state.SkipWithError("the controllers were not connected in time");
        return;
    }
    for (const ControllerStatus &c : service.status().controllers)
        if (!c.connected) {
            state.SkipWithError("a controller did not answer");
            return;
        }

    double cpuMs = 0, wallMs = 0, records = 0;
    for (auto _ : state) {
        const int cycles = service.status().cycles;
        const double cpuBefore = processCpuMs();
        QElapsedTimer wall;
        wall.start();
        service.pollNow();
        if (!spinUntil([&] { return service.status().cycles > cycles; }, kCycleTimeoutMs)) {
            state.SkipWithError("a cycle did not end in time");
            return;
        }
        cpuMs += processCpuMs() - cpuBefore;
        wallMs += double(wall.elapsed());
        for (const ControllerStatus &c : service.status().controllers) {
            if (!c.lastError.ok()) {
                state.SkipWithError(errorText(c.lastError).toLocal8Bit().constData());
                return;
            }
            records += c.lastRecords;
        }
    }
    const double n = double(state.iterations());
    state.counters["cpu_ms"] = cpuMs / n;
    state.counters["cpu_share"] = wallMs > 0 ? cpuMs / wallMs : 0.0;
    state.counters["records"] = records / n;
}

} // namespace

// Each cycle waits on 16 controllers in turn, several seconds of wall time.
BENCHMARK(PollCycle16)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
