// How late the UI thread's event loop runs while the main window talks to a controller at
// 9600 baud: a 10 ms timer on the UI thread notes how much later than due each tick comes.
// Two phases: a connect (the worker reads for about 6 s) and a measurement download. None
// of it may hold up the window.
//
//   build/bench/bench_ui_latency            (offscreen unless QT_QPA_PLATFORM says otherwise)
//
// Counters: max_late_ms and p99_late_ms over the whole run (the goal: never more than
// 50 ms late), the same per phase (connect_*, download_*) with the phase's length in
// seconds, ticks (timer ticks measured) and records (records the download archived).

#include "emulator.h"
#include "model/ctarvelon.h"
#include "service/link_worker.h"
#include "service/monitoring_service.h"
#include "store/database.h"
#include "support/gui_box_answerer.h"
#include "ui/ostracom_form.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <memory>
#include <vector>

namespace
{

constexpr int kProbeIntervalMs = 10;
constexpr double kGoalMs = 50.0;
// Generous bounds for a paced connect (about 7 s) and a paced download.
constexpr int kConnectTimeoutMs = 60000;
constexpr int kPollTimeoutMs = 60000;

QApplication &application()
{
    static int argc = 1;
    static char name[] = "bench_ui_latency";
    static char *argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: at exit the database driver's globals are gone before a static
    // application object would be, and its clean-up would touch them.
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}

// Notes how late each tick of a 10 ms timer comes.
class LatencyProbe
{
public:
    LatencyProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kProbeIntervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const double now = m_clock.nsecsElapsed() / 1e6;
            m_lateMs.push_back(std::max(0.0, now - m_last - kProbeIntervalMs));
            m_last = now;
        });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    void stop() { m_timer.stop(); }

    double maxMs() const
    {
        return m_lateMs.empty() ? 0.0 : *std::max_element(m_lateMs.begin(), m_lateMs.end());
    }
    double percentileMs(double p) const { return percentile(m_lateMs, p); }
    size_t ticks() const { return m_lateMs.size(); }

    // Starts a phase; the *SinceMark results cover the ticks after it.
    void mark() { m_mark = m_lateMs.size(); }
    double maxMsSinceMark() const
    {
        const std::vector<double> late = since();
        return late.empty() ? 0.0 : *std::max_element(late.begin(), late.end());
    }
    double percentileMsSinceMark(double p) const { return percentile(since(), p); }

private:
    std::vector<double> since() const
    {
        return std::vector<double>(m_lateMs.begin() + qsizetype(m_mark), m_lateMs.end());
    }
    static double percentile(std::vector<double> values, double p)
    {
        if (values.empty())
            return 0.0;
        std::sort(values.begin(), values.end());
        return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    size_t m_mark = 0;
    double m_last = 0;
    std::vector<double> m_lateMs;
};

bool processUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        // Sleeps in the event loop rather than spinning, which would starve the worker.
        QEventLoop loop;
        QTimer::singleShot(kProbeIntervalMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

struct Phase {
    double seconds = 0;
    double maxLateMs = 0;
    double p99LateMs = 0;
};

void report(benchmark::State &state, const char *name, const Phase &phase)
{
    state.counters[std::string(name) + "_s"] = phase.seconds;
    state.counters[std::string(name) + "_max_late_ms"] = phase.maxLateMs;
    state.counters[std::string(name) + "_p99_late_ms"] = phase.p99LateMs;
}

void BM_UiLatencyDuringConnectAndPoll(benchmark::State &state)
{
    application();
    for (auto _ : state) {
        QTemporaryDir dir;
        Database db(dir.filePath(QStringLiteral("ostracom.db")));
        OstracomForm form(db, dir.path());
        form.show();
        BoxAnswerer boxes;
        LatencyProbe probe;
        probe.start();
        QElapsedTimer clock;

        // 1. A connect at 9600 baud: the worker reads version, program and calibration for
        //    about 7.5 s; the clock question is answered.
        Phase attempt;
        {
            Emulator paced({"--port", "0", "--pace-9600"});
            if (paced.port() == 0) {
                state.SkipWithError("tarvelon-sim did not start");
                return;
            }
            boxes.script({QMessageBox::Ok});
            probe.mark();
            clock.start();
            form.connectAtStart({paced.link()});
            if (!processUntil([&] { return form.isIdle() && !boxes.boxes().isEmpty(); },
                              kConnectTimeoutMs)) {
                state.SkipWithError("the paced connect did not end");
                return;
            }
            attempt = {clock.elapsed() / 1000.0, probe.maxMsSinceMark(),
                       probe.percentileMsSinceMark(0.99)};
        }

        // 2. A download at 9600 baud. The controller is connected at full speed first; then
        //    the same controller (its state file) answers at 9600 baud on the same port.
        Phase download;
        const QString stateFile = dir.filePath(QStringLiteral("controller.json"));
        quint16 port = 0;
        {
            Emulator fast({"--port", "0", "--state", stateFile});
            port = fast.port();
            boxes.script({QMessageBox::Ok}); // the clock question
            form.connectAtStart({fast.link()});
            if (port == 0 ||
                !processUntil([&] { return form.tarvelonCount() == 1 && form.isIdle(); },
                              kConnectTimeoutMs)) {
                state.SkipWithError("the connect did not finish");
                return;
            }
        }
        Emulator paced({"--port", QString::number(port), "--state", stateFile, "--pace-9600",
                        "--speed", "300"});
        if (paced.port() != port) {
            state.SkipWithError("the paced emulator did not take over the port");
            return;
        }
        // The next poll comes within ten ticks; the records of that time await it.
        probe.mark();
        clock.restart();
        if (!processUntil([&] { return form.linkWorker().busy(); }, kPollTimeoutMs) ||
            !processUntil([&] { return form.isIdle(); }, kPollTimeoutMs)) {
            state.SkipWithError("the poll did not run");
            return;
        }
        download = {clock.elapsed() / 1000.0, probe.maxMsSinceMark(),
                    probe.percentileMsSinceMark(0.99)};
        probe.stop();

        state.counters["max_late_ms"] = probe.maxMs();
        state.counters["p99_late_ms"] = probe.percentileMs(0.99);
        state.counters["ticks"] = double(probe.ticks());
        state.counters["records"] =
            double(form.service().status().controllers[0].lastPoll.download.archived);
        report(state, "connect", attempt);
        report(state, "download", download);
        state.SetLabel(probe.maxMs() <= kGoalMs ? "within 50 ms" : "LATER THAN 50 ms");
    }
}

} // namespace

BENCHMARK(BM_UiLatencyDuringConnectAndPoll)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
