// Wall and CPU time of read exchanges over loopback TCP against tarvelon-sim, beside the
// least time the protocol's own waits allow.
//
//   build/bench/bench_link_exchange
//
// Counters: floor_ms (the protocol's minimum for this answer), cpu_ms (this process's CPU
// time per exchange), cpu_share (cpu_ms over wall time), sim_cpu_ms (the emulator's CPU
// time per exchange), answer_chars.

#include "emulator.h"
#include "link/clock.h"
#include "link/hydo_connect.h"
#include "link/progress.h"
#include "link/protocol.h"
#include "model/error_text.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <cmath>
#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace
{

// The protocol's waits: one random wait of at least 99 ms before the first look, then
// 500 ms between looks until the checksum marker is in.
constexpr double kFirstLookMinMs = 99.0;
constexpr double kPollMs = 500.0;
// Characters per second of --pace-9600 (10 bits per character).
constexpr double kPacedCharsPerSecond = 960.0;
// Markers, checksum and line breaks around a payload, at most.
constexpr int kFramingChars = 40;

// A full memory (high speed) gives "DO" its largest answer every time.
Emulator &plainEmulator()
{
    static Emulator e({"--port", "0", "--speed", "1000"});
    return e;
}

Emulator &pacedEmulator()
{
    static Emulator e({"--port", "0", "--speed", "1000", "--pace-9600"});
    return e;
}

double ownCpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

// Least wall time of a read whose answer takes transferMs to arrive.
double floorMs(double transferMs)
{
    if (transferMs <= kFirstLookMinMs)
        return kFirstLookMinMs;
    return kFirstLookMinMs + std::ceil((transferMs - kFirstLookMinMs) / kPollMs) * kPollMs;
}

struct Command {
    const char *name;
    const char *start;
    const char *end;
    int expectedLength;
};

void exchange(benchmark::State &state, Command command, bool paced)
{
    Emulator &sim = paced ? pacedEmulator() : plainEmulator();
    if (sim.port() == 0) {
        state.SkipWithError("the emulator did not start");
        return;
    }
    RealClock clock;
    NoProgress progress;
    const auto link = cHydoConnect::createDefault(clock);
    LinkParams params;
    params.address = QStringLiteral("127.0.0.1");
    params.setting = QString::number(sim.port());
    ProtocolContext ctx{*link, clock, progress, params};

    const double cpuBefore = ownCpuMs();
    const double simCpuBefore = sim.cpuMs();
    QElapsedTimer wall;
    wall.start();
    qsizetype chars = 0;
    for (auto _ : state) {
        QString result;
        const Error error = get_Meta_Data(
            ctx, QString::fromLatin1(command.name), QString::fromLatin1(command.start),
            QString::fromLatin1(command.end), QStringLiteral("CheckSum"), result,
            command.expectedLength, QString(), true);
        if (!error.ok()) {
            state.SkipWithError(errorText(error).toLocal8Bit().constData());
            return;
        }
        chars = result.size() + kFramingChars;
    }
    const double n = double(state.iterations());
    const double wallMs = double(wall.elapsed()) / n;
    const double cpuMs = (ownCpuMs() - cpuBefore) / n;
    const double transferMs = paced ? double(chars) * 1000.0 / kPacedCharsPerSecond : 0.0;
    state.counters["floor_ms"] = floorMs(transferMs);
    state.counters["cpu_ms"] = cpuMs;
    state.counters["cpu_share"] = wallMs > 0 ? cpuMs / wallMs : 0.0;
    state.counters["sim_cpu_ms"] = (sim.cpuMs() - simCpuBefore) / n;
    state.counters["answer_chars"] = double(chars);
}

const Command kVersion{"DX", "Version Data", "End Data", 0};
const Command kProgram{"DN", "Data RAM", "End RAM", 5630};
const Command kRecords{"DO", "Stored Data", "End Data", 0};

} // namespace

BENCHMARK_CAPTURE(exchange, DX, kVersion, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);
BENCHMARK_CAPTURE(exchange, DN, kProgram, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);
BENCHMARK_CAPTURE(exchange, DO, kRecords, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);
// At 9600 baud the answer's own length sets the pace; the 500 ms looks round it up.
BENCHMARK_CAPTURE(exchange, DX_paced9600, kVersion, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK_CAPTURE(exchange, DO_paced9600, kRecords, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
