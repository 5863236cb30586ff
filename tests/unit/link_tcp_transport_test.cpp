// The TCP link against a loopback peer that sends without end, as a wrong service behind a
// controller's address would.

#include "link/hydo_connect.h"
#include "support/sim_process.h"

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <atomic>
#include <memory>

namespace
{

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
