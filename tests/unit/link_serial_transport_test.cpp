// The serial transport on a pseudo-terminal: no hardware, no network, and the same
// QSerialPort code path a USB adapter takes. Exchanges over a pseudo-terminal are the
// emulator tests' business; here: reopening, losing the far end, refusals.

#include "link/serial_transport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace
{

// Data through a pseudo-terminal is handed over by the kernel a moment later; this only
// bounds how long a broken transport can hold the test up.
constexpr int kPatienceMs = 2000;

class SerialOnPty : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(m_master, 0);
        ASSERT_EQ(grantpt(m_master), 0);
        ASSERT_EQ(unlockpt(m_master), 0);
        m_device = QString::fromLocal8Bit(ptsname(m_master));
    }
    void TearDown() override
    {
        transport.close();
        closeMaster();
    }
    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    // Reads through the transport until want bytes arrived or it fails.
    Error readTransport(qsizetype want, QByteArray *got)
    {
        QElapsedTimer timer;
        timer.start();
        while (got->size() < want && timer.elapsed() < kPatienceMs) {
            if (const Error e = transport.readAvailable(got); !e.ok())
                return e;
            usleep(5000);
        }
        return {};
    }

    SerialTransport transport;
    int m_master = -1;
    QString m_device;
};

TEST_F(SerialOnPty, closedPortRefusesWritesUntilReopened)
{
    ASSERT_EQ(transport.open(m_device, "9600,n,8,1", 0), Error());
    EXPECT_TRUE(transport.isOpen());
    QByteArray got;
    EXPECT_EQ(transport.readAvailable(&got), Error()) << "nothing waiting is no failure";
    EXPECT_TRUE(got.isEmpty());

    transport.close();
    EXPECT_FALSE(transport.isOpen());
    EXPECT_EQ(transport.write("D").code, ErrorCode::Runtime);
    ASSERT_EQ(transport.open(m_device, "9600,n,8,1", 0), Error());
    EXPECT_EQ(transport.write("X"), Error());
}

TEST_F(SerialOnPty, farEndGoingAwayIsALostLink)
{
    ASSERT_EQ(transport.open(m_device, "9600,n,8,1", 0), Error());
    closeMaster();
    QByteArray got;
    const Error error = readTransport(1, &got);
    EXPECT_EQ(error.code, ErrorCode::Runtime);
    EXPECT_FALSE(transport.isOpen());
    EXPECT_TRUE(error.detail.contains(m_device)) << error.detail.toStdString();
}

// A device that talks without end must not fill the memory: a read takes what it is allowed
// and leaves the rest waiting.
TEST_F(SerialOnPty, aBoundedReadTakesNoMoreThanAllowedAndTheRestLater)
{
    ASSERT_EQ(transport.open(m_device, "9600,n,8,1", 0), Error());
    const QByteArray sent(100, 'x');
    ASSERT_EQ(::write(m_master, sent.constData(), sent.size()), sent.size());
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (got.isEmpty() && timer.elapsed() < kPatienceMs) {
        ASSERT_EQ(transport.readUpTo(&got, 30), Error());
        usleep(5000);
    }
    EXPECT_EQ(got.size(), 30);
    EXPECT_EQ(readTransport(sent.size(), &got), Error());
    EXPECT_EQ(got, sent);
}

TEST(SerialTransport, missingDeviceOrBadSettingsAreNamedInTheError)
{
    SerialTransport transport;
    Error error = transport.open("/dev/ostracom-no-such-tty", "9600,n,8,1", 0);
    EXPECT_EQ(error.code, ErrorCode::Runtime);
    EXPECT_TRUE(error.detail.contains("/dev/ostracom-no-such-tty")) << error.detail.toStdString();
    EXPECT_FALSE(transport.isOpen());

    error = transport.open("/dev/ptmx", "9600,q,8,1", 0);
    EXPECT_EQ(error.code, ErrorCode::Runtime);
    EXPECT_TRUE(error.detail.contains("9600,q,8,1")) << error.detail.toStdString();
}

} // namespace
