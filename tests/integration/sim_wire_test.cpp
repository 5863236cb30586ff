// The emulator's command recognition seen from a raw socket and a serial line: both ways of
// sending a command, one answer per burst, never two answers mixed, one client at a time.

#include "support/cli_run.h"
#include "support/sim_process.h"

#include "link/encodings.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace
{

constexpr int kWaitMs = 3000;

class SimWire : public ::testing::Test
{
protected:
    void startSim(const QStringList &arguments = {}) { ASSERT_TRUE(m_sim.launch(arguments)); }

    std::unique_ptr<QTcpSocket> connectRaw()
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QStringLiteral("127.0.0.1"), m_sim.port());
        EXPECT_TRUE(socket->waitForConnected(kWaitMs));
        return socket;
    }

    static void send(QTcpSocket &socket, const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.waitForBytesWritten(kWaitMs);
    }

    // Reads until `marker` has arrived `count` times, then for lingerMs more.
    static QByteArray collect(QTcpSocket &socket, const QByteArray &marker, int count, int lingerMs)
    {
        QByteArray in;
        QElapsedTimer timer;
        timer.start();
        while (in.count(marker) < count && timer.elapsed() < kWaitMs) {
            socket.waitForReadyRead(50);
            in += socket.readAll();
        }
        timer.restart();
        while (timer.elapsed() < lingerMs) {
            socket.waitForReadyRead(20);
            in += socket.readAll();
        }
        return in;
    }

    // What a fresh connection receives for these pieces, sent 10 ms apart.
    QByteArray exchange(const QList<QByteArray> &pieces)
    {
        auto socket = connectRaw();
        for (const QByteArray &piece : pieces) {
            send(*socket, piece);
            QThread::msleep(10);
        }
        return collect(*socket, "CheckSum", 1, 300);
    }

    // The payload of the one answer framed by start and end in text, with its checksum
    // checked; empty when the framing or checksum is wrong.
    static QString payloadOf(const QByteArray &text, const QByteArray &start, const QByteArray &end)
    {
        const qsizetype s = text.indexOf(start);
        const qsizetype e = text.indexOf(end, s);
        const qsizetype c = text.indexOf("CheckSum", e);
        if (s < 0 || e < 0 || c != e + end.size() + 2)
            return QString();
        const QByteArray payload = text.mid(s + start.size(), e - s - start.size());
        bool ok = false;
        if (text.mid(c - 2, 2).toInt(&ok, 16) != Sum8(payload) || !ok)
            return QString();
        return QString::fromLatin1(payload);
    }

    SimProcess m_sim;
};

TEST_F(SimWire, eachWayOfSendingACommandGetsOneAnswerAndANewClientReplacesAStaleOne)
{
    startSim();
    const QByteArray once = exchange({"DX\n"});
    EXPECT_EQ(payloadOf(once, "Version Data", "End Data").size(), 10) << once.toStdString();
    const QByteArray burst = exchange({QByteArray("DN").repeated(100)});
    EXPECT_EQ(burst.count("Data RAM"), 1);
    EXPECT_EQ(payloadOf(burst, "Data RAM", "End RAM").size(), 5630);
    const QByteArray split =
        exchange({QByteArray("DK").repeated(40), QByteArray("DK").repeated(60)});
    EXPECT_EQ(split.count("Kalib RAM"), 1) << "a burst arriving in pieces is still one burst";

    // A new connection replaces a stale one holding half a command.
    auto stale = connectRaw();
    send(*stale, "D"); // half a command, never finished
    auto fresh = connectRaw();
    send(*fresh, QByteArray("DX").repeated(100));
    const QByteArray in = collect(*fresh, "CheckSum", 1, 0);
    EXPECT_EQ(payloadOf(in, "Version Data", "End Data").size(), 10);

    QElapsedTimer timer;
    timer.start();
    while (stale->state() != QAbstractSocket::UnconnectedState && timer.elapsed() < kWaitMs)
        stale->waitForDisconnected(50);
    EXPECT_EQ(stale->state(), QAbstractSocket::UnconnectedState);
}

TEST_F(SimWire, repeatsDuringASlowAnswerDoNotInterleaveAnswers)
{
    startSim({"--split", "3:250"});
    auto socket = connectRaw();
    const QByteArray burst = QByteArray("DX").repeated(100);
    send(*socket, burst);
    for (int i = 0; i < 4; ++i) {
        QThread::msleep(120);
        send(*socket, burst);
    }
    const QByteArray in = collect(*socket, "CheckSum", 1, 1200);
    // Every answer is whole before the next begins.
    qsizetype pos = 0;
    int answers = 0;
    while ((pos = in.indexOf("Version Data", pos)) >= 0) {
        const qsizetype next = in.indexOf("Version Data", pos + 1);
        const QByteArray one = in.mid(pos, next < 0 ? -1 : next - pos);
        EXPECT_EQ(payloadOf(one, "Version Data", "End Data").size(), 10) << one.toStdString();
        ++answers;
        pos += 1;
    }
    EXPECT_GE(answers, 1);
}

TEST_F(SimWire, serialDeviceAnswersOneCommandAfterAnother)
{
    // The test holds the far end of a pseudo-terminal pair; the emulator serves the other
    // end as its serial device, as it would a real one.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const QString device = QString::fromLocal8Bit(ptsname(master));
    termios raw{};
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);
    startSim({"--no-tcp", "--serial", device});

    for (const char *command : {"DX\n", "DK\n", "DX\n"}) {
        ASSERT_EQ(::write(master, command, 3), 3);
        QByteArray in;
        QElapsedTimer timer;
        timer.start();
        while (!in.contains("CheckSum") && timer.elapsed() < kWaitMs) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                char buffer[1024];
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n > 0)
                    in.append(buffer, int(n));
            }
        }
        EXPECT_TRUE(in.contains("CheckSum")) << command << " unanswered; log:\n"
                                             << m_sim.log().toStdString();
        QThread::msleep(100); // a new command, not the same burst
    }
    ::close(master);
}

TEST(SimCommandLine, optionErrorsAreUsageErrors)
{
    const CliRun r = runCli({"--split", "three"}, {.program = QStringLiteral(TARVELON_SIM_PATH)});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("--split")) << r.err.toStdString();
}

} // namespace
