#include "link/hydo_connect.h"
#include "link/protocol.h"
#include "support/fake_transport.h"
#include "support/sim_process.h"

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <atomic>
#include <memory>

namespace
{

const Error kNoLinkSend(ErrorCode::NoLinkSend);
const Error kNoLinkReceive(ErrorCode::NoLinkReceive);
const Error kBrokenPipe(ErrorCode::Runtime, "broken pipe (fake)");

class HydoConnect : public ::testing::Test
{
protected:
    void openTcp() { ASSERT_EQ(link.connect(false, "ctl.example", "4001"), Error()); }
    void openSerial() { ASSERT_EQ(link.connect(true, "/dev/ttyFAKE0", "9600,n,8,1"), Error()); }

    FakeLink fake;
    cHydoConnect &link = *fake.link;
    FakeController &controller = fake.controller;
};

// Over TCP a two-letter command is one burst of a hundred copies, without line feed or
// pacing; a serial line gets each character, then the terminator, paced on the clock.
TEST_F(HydoConnect, commandsGoOutAsABurstOverTcpAndPacedOverSerial)
{
    using Sent = std::vector<std::pair<QByteArray, qint64>>;
    const struct {
        bool serial;
        const char *address;
        const char *setting;
        Sent sent;
    } cases[] = {
        {false, "ctl.example", "4001", {{QByteArray("DX").repeated(100), 0}}},
        {true, "/dev/ttyFAKE0", "9600,n,8,1", {{"D", 0}, {"X", 65}, {"\n", 130}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.address);
        controller.clearHistory();
        const qint64 start = fake.clock.nowMs();
        ASSERT_EQ(link.connect(c.serial, c.address, c.setting), Error());
        EXPECT_EQ(controller.lastAddress(), c.address);
        EXPECT_EQ(controller.lastSetting(), c.setting);
        EXPECT_EQ(link.PutBuffer("DX", 65, true, "\n"), Error());
        Sent sent;
        for (const auto &w : controller.writes())
            sent.emplace_back(w.bytes, w.atMs - start);
        EXPECT_EQ(sent, c.sent);
        EXPECT_EQ(fake.clock.nowMs() - start, c.sent.back().second);
    }
}

TEST_F(HydoConnect, withoutALinkNothingGoesOutAndDisconnectOrReconnectEmptiesTheBuffer)
{
    link.Buffer = "kept";
    EXPECT_EQ(link.PutBuffer("DX", 65, true, "\n"), kNoLinkSend);
    EXPECT_EQ(link.GetBuffer(), kNoLinkReceive);
    EXPECT_EQ(link.Buffer, "kept");
    link.disconnect();
    EXPECT_TRUE(link.Buffer.isEmpty());
    EXPECT_TRUE(controller.written().isEmpty());

    openTcp();
    link.Buffer = "old";
    openSerial();
    EXPECT_EQ(controller.closes(), 1) << "connect closes the previous link first";
    EXPECT_TRUE(link.Buffer.isEmpty());
    link.PutBuffer("DX", 65, true, "\n");
    EXPECT_EQ(controller.writes().back().kind, Transport::Kind::Serial);

    link.Buffer = "answer";
    link.disconnect();
    EXPECT_TRUE(link.Buffer.isEmpty());
    EXPECT_EQ(controller.closes(), 2);
    EXPECT_EQ(link.PutBuffer("DX", 65, true, "\n"), kNoLinkSend);
}

TEST_F(HydoConnect, failingWriteIsARuntimeErrorAndStopsTheSend)
{
    openSerial();
    controller.failWrites();
    int events = 0;
    link.PutBufferProgress = [&](int, int) { ++events; };
    EXPECT_EQ(link.PutBuffer("0A0B", 12, false, QString()), kBrokenPipe);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(fake.clock.nowMs(), 0);

    openTcp();
    EXPECT_EQ(link.PutBuffer("DX", 65, true, "\n"), kBrokenPipe);
}

// A wrong peer (another service behind the port) may send without end: the link takes no
// more than its limit, ends the exchange there and drops the rest with the connection.
TEST_F(HydoConnect, aPeerSendingWithoutEndIsCutOffAtTheLimitAndTheNextExchangeStartsClean)
{
    NoProgress progress;
    const Error tooMuch(ErrorCode::ReceiveOverflow, QString::number(kReceiveLimit + 1));
    // An answer that fills the buffer to the last byte is still an answer.
    const QByteArray framing = "\r\nVersion DataEnd Data00CheckSum\r\n";
    const QByteArray fullPayload(kReceiveLimit - framing.size(), '0');
    controller.setPayload("DX", fullPayload);

    for (const bool serial : {false, true}) {
        for (const char *command : {"DX", "DI"}) {
            SCOPED_TRACE(std::string(command) + (serial ? " serial" : " tcp"));
            ProtocolContext ctx{link, fake.clock, progress,
                                serial ? LinkParams{true, "/dev/ttyFAKE0", "9600,n,8,1"}
                                       : LinkParams{false, "ctl.example", "4001"}};
            auto readVersion = [&](QString &result) {
                return get_Meta_Data(ctx, "DX", "Version Data", "End Data", "CheckSum", result, 0,
                                     QString(), true);
            };
            controller.clearHistory();
            controller.floodOn(command);
            const qint64 start = fake.clock.nowMs();
            QString result;
            const Error error =
                QByteArray(command) == "DX"
                    ? readVersion(result)
                    : put_Meta_Data(ctx, "DI", "Receive Start", "CheckSum", "0A0B", true);
            EXPECT_EQ(error, tooMuch);
            EXPECT_LE(controller.largestBuffer(), kReceiveLimit + 1);
            EXPECT_LT(fake.clock.nowMs() - start, 1000) << "ended at once, not at the deadline";
            EXPECT_TRUE(link.Buffer.isEmpty());
            EXPECT_EQ(controller.closes(), controller.opens()) << "and the link closed";

            controller.floodOn({});
            ASSERT_EQ(readVersion(result), Error());
            EXPECT_EQ(result.size(), fullPayload.size());
        }
    }
}

// A closing program abandons the link: reads end at their next step, a write that has
// begun runs to its end, and one not begun is not started.
TEST_F(HydoConnect, anAbandonedLinkEndsReadsAtOnceButFinishesAWriteItHasBegun)
{
    const Error kAbandoned(ErrorCode::Abandoned);
    std::atomic<bool> abandon{false};
    link.setAbandonFlag(&abandon);
    NoProgress progress;
    ProtocolContext ctx{link, fake.clock, progress, LinkParams{false, "ctl.example", "4001"}};
    QString result;
    const QByteArray data = "0A0B0C0D0E0F1011";
    controller.setPayload("DX", "400CCCCD05");

    // Abandoned in the middle of the data: every character and the echo still go and come.
    link.PutBufferProgress = [&](int index, int) {
        if (index == 3)
            abandon = true;
    };
    EXPECT_EQ(put_Meta_Data(ctx, "DI", "Receive Start", "CheckSum", data, false), Error());
    EXPECT_EQ(controller.stored("DI"), data);
    EXPECT_TRUE(abandon);

    const int opens = controller.opens();
    const qint64 before = fake.clock.nowMs();
    EXPECT_EQ(put_Meta_Data(ctx, "DI", "Receive Start", "CheckSum", "FFF8", true), kAbandoned);
    EXPECT_EQ(get_Meta_Data(ctx, "DX", "Version Data", "End Data", "CheckSum", result, 0, QString(),
                            true),
              kAbandoned);
    EXPECT_EQ(controller.opens(), opens) << "nothing is opened for an abandoned link";
    EXPECT_EQ(fake.clock.nowMs(), before) << "and nothing is waited for";

    // A read under way stops at its next step: the controller says nothing more.
    abandon = false;
    openTcp();
    controller.mute();
    EXPECT_EQ(link.PutBuffer("DX", 65, true, "\n"), Error());
    abandon = true;
    EXPECT_EQ(link.GetBuffer(), kAbandoned);
    EXPECT_EQ(link.PutBuffer("DX", 65, true, "\n"), kAbandoned);
    EXPECT_EQ(controller.bursts("DX"), 1);
}

// Accepts one connection and writes to it until the PC closes it or the test ends.
class EndlessPeer
{
public:
    EndlessPeer()
    {
        m_thread.reset(QThread::create([this] { serve(); }));
        m_thread->start();
        while (m_port.load() == 0)
            QThread::msleep(1);
    }
    ~EndlessPeer()
    {
        m_stop = true;
        m_thread->wait();
    }
    int port() const { return m_port.load(); }

private:
    void serve()
    {
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost)) {
            m_port = -1;
            return;
        }
        m_port = server.serverPort();
        while (!m_stop && !server.waitForNewConnection(50)) {
        }
        std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
        const QByteArray chunk(64 * 1024, 'F');
        while (peer && !m_stop && peer->state() == QAbstractSocket::ConnectedState) {
            if (peer->bytesToWrite() < chunk.size())
                peer->write(chunk);
            peer->waitForBytesWritten(20);
        }
    }

    std::unique_ptr<QThread> m_thread;
    std::atomic<int> m_port{0};
    std::atomic<bool> m_stop{false};
};

// The TCP link against a loopback peer that sends without end.
TEST(TcpTransport, aPeerSendingWithoutEndIsCutOffAtTheLimitAndDisconnected)
{
    ensureCoreApplication();
    EndlessPeer peer;
    ASSERT_GT(peer.port(), 0);
    RealClock clock;
    const auto link = cHydoConnect::createDefault(clock);
    ASSERT_EQ(link->connect(false, "127.0.0.1", QString::number(peer.port())), Error());

    // Bounded in looks, not in time: before the limit existed, the buffer only grew.
    Error error;
    qsizetype largest = 0;
    for (int look = 0; look < 200 && error.ok() && largest <= 4 * kReceiveLimit; ++look) {
        clock.sleepMs(10);
        error = link->GetBuffer();
        largest = std::max(largest, link->Buffer.size());
    }
    EXPECT_EQ(error, Error(ErrorCode::ReceiveOverflow, QString::number(kReceiveLimit + 1)));
    EXPECT_LE(largest, kReceiveLimit + 1);
    EXPECT_TRUE(link->Buffer.isEmpty());
    EXPECT_EQ(link->GetBuffer(), Error(ErrorCode::NoLinkReceive)) << "the link is closed";
}

} // namespace
