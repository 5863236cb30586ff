// The web view of ostracom-cli poll under load, over loopback:
//
//   build/bench/bench_web_status
//
// StatusJson16 (one run: its set-up takes a while): /status.json asked again and again on one
// kept-alive connection while the poller polls 16 emulated controllers every second.
// items_per_second: requests answered; cycle_ms_quiet and cycle_ms_loaded: the poller's own cycle
// time (from status.json) without requests and while they come. YearChart: the chart page and
// picture of a year of 8 sensors at one record per 10 s, from the archive bench_chart_fetch
// generates into bench-data/ (run that first; it takes a while).

#include "emulator.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <map>
#include <memory>
#include <vector>

namespace
{

constexpr int kControllers = 16;
constexpr int kFirstId = 2001;

quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// ostracom-cli poll with the web view on a free loopback port, ended with SIGTERM.
class Poller
{
public:
    explicit Poller(const QStringList &arguments) : m_port(freePort())
    {
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(QStringLiteral(OSTRACOM_CLI_PATH),
                        arguments +
                            QStringList{"--http", QStringLiteral("127.0.0.1:%1").arg(m_port)});
    }
    ~Poller()
    {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(30000))
            m_process.kill();
    }
    quint16 port() const { return m_port; }

private:
    quint16 m_port;
    QProcess m_process;
};

// HTTP/1.1 on one kept-alive connection.
class Client
{
public:
    bool connect(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return m_socket.waitForConnected(2000);
    }
    // The body of a 200 answer, or null.
    std::optional<QByteArray> get(const QByteArray &path)
    {
        m_socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        qsizetype end = -1;
        while ((end = m_buffer.indexOf("\r\n\r\n")) < 0)
            if (!read())
                return std::nullopt;
        const QByteArray head = m_buffer.left(end).toLower();
        const qsizetype at = head.indexOf("content-length:");
        const qsizetype length =
            at < 0 ? 0 : head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
        while (m_buffer.size() < end + 4 + length)
            if (!read())
                return std::nullopt;
        const bool ok = head.startsWith("http/1.1 200");
        QByteArray body = m_buffer.mid(end + 4, length);
        m_buffer.remove(0, end + 4 + length);
        return ok ? std::optional(body) : std::nullopt;
    }

private:
    bool read()
    {
        if (!m_socket.bytesAvailable() && !m_socket.waitForReadyRead(30000))
            return false;
        m_buffer += m_socket.readAll();
        return true;
    }
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

struct Cycle {
    int cycles = 0;
    qint64 ms = -1;
};
Cycle cycleOf(const QByteArray &json)
{
    const QJsonObject s = QJsonDocument::fromJson(json).object().value("service").toObject();
    return {s.value("cycles").toInt(), s.value("lastCycleMs").toInteger(-1)};
}

double mean(const std::map<int, qint64> &cycles)
{
    double sum = 0;
    for (const auto &[n, ms] : cycles)
        sum += double(ms);
    return cycles.empty() ? 0 : sum / double(cycles.size());
}

void StatusJson16(benchmark::State &state)
{
    std::vector<std::unique_ptr<Emulator>> sims;
    QStringList args;
    QTemporaryDir data;
    args << "--data-dir" << data.path() << "poll"
         << "--interval"
         << "1"
         << "--yes";
    for (int i = 0; i < kControllers; ++i) {
        sims.push_back(std::make_unique<Emulator>(QStringList{"--port", "0", "--id",
                                                              QString::number(kFirstId + i),
                                                              "--seed", QString::number(i + 1)}));
        if (sims.back()->port() == 0) {
            state.SkipWithError("an emulator did not start");
            return;
        }
        args << "--controller" << QStringLiteral("tcp:127.0.0.1:%1").arg(sims.back()->port());
    }
    Poller poller(args);
    Client client;
    QElapsedTimer waited;
    waited.start();
    while (!client.connect(poller.port()) && waited.elapsed() < 30000)
        QThread::msleep(200);
    // Cycles without requests: one look a second.
    std::map<int, qint64> quiet;
    while (quiet.size() < 3 && waited.elapsed() < 300000) {
        const auto body = client.get("/status.json");
        if (!body) {
            state.SkipWithError("no answer from the web view");
            return;
        }
        const Cycle c = cycleOf(*body);
        if (c.cycles > 1 && c.ms >= 0) // the first cycle connects every controller
            quiet[c.cycles] = c.ms;
        QThread::msleep(1000);
    }
    std::map<int, qint64> loaded;
    qint64 n = 0;
    for (auto _ : state) {
        const auto body = client.get("/status.json");
        if (!body) {
            state.SkipWithError("a request failed");
            return;
        }
        if (++n % 200 == 0) {
            const Cycle c = cycleOf(*body);
            loaded[c.cycles] = c.ms;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["cycle_ms_quiet"] = mean(quiet);
    state.counters["cycle_ms_loaded"] = mean(loaded);
}
BENCHMARK(StatusJson16)->Iterations(20000)->UseRealTime()->Unit(benchmark::kMicrosecond);

void YearChart(benchmark::State &state)
{
    const QString archive = QDir(QStringLiteral(OSTRACOM_BENCH_DATA_DIR))
                                .filePath(QStringLiteral("chart-archive-1y-8x10s.db"));
    if (!QFile::exists(archive)) {
        state.SkipWithError("run bench_chart_fetch first: it generates the year's archive");
        return;
    }
    QTemporaryDir data;
    // A controller that never answers: the poller serves the archive and writes nothing to it.
    Poller poller({"--data-dir", data.path(), "--db", archive, "poll", "--controller",
                   QStringLiteral("tcp:127.0.0.1:%1").arg(freePort()), "--interval", "10"});
    Client client;
    QElapsedTimer waited;
    waited.start();
    while (!client.connect(poller.port()) && waited.elapsed() < 60000)
        QThread::msleep(200);
    const QByteArray range = "from=2026-01-01&to=2026-12-31";
    qint64 bytes = 0;
    for (auto _ : state) {
        const auto page = client.get("/controller/1?" + range);
        const auto svg = client.get("/controller/1/chart.svg?" + range);
        if (!page || !svg) {
            state.SkipWithError("the chart was not served");
            return;
        }
        bytes = svg->size();
    }
    state.counters["svg_kB"] = double(bytes) / 1000.0;
}
BENCHMARK(YearChart)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
