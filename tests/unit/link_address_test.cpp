#include "link/protocol.h"
#include "link/serial_transport.h"

#include <gtest/gtest.h>

namespace
{

TEST(ControllerAddress, tcpHostsAndSerialDevicesGiveTheirLinkParameters)
{
    const struct {
        const char *text;
        bool serial;
        const char *address;
        const char *setting;
    } cases[] = {
        {"tcp:192.168.1.50:4002", false, "192.168.1.50", "4002"},
        {"tcp:tank.local", false, "tank.local", "4001"},
        {"tcp:[::1]:5000", false, "::1", "5000"},
        {"tcp:[fe80::2]", false, "fe80::2", "4001"},
        {"tcp:::1", false, "::1", "4001"}, // without brackets the whole rest is the address
        {"serial:/dev/ttyUSB0", true, "/dev/ttyUSB0", "9600,n,8,1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        Error error;
        const auto p = parseControllerAddress(c.text, &error);
        ASSERT_TRUE(p) << error.detail.toStdString();
        EXPECT_EQ(p->serial, c.serial);
        EXPECT_EQ(p->address, c.address);
        EXPECT_EQ(p->setting, c.setting);
    }
}

TEST(ControllerAddress, malformedAddressesAreRefusedWithAReason)
{
    for (const char *text :
         {"", "tank.local:4001", "udp:host", "tcp:", "tcp:host:", "tcp:host:0", "tcp:host:65536",
          "tcp:host:12ab", "tcp:host:-5", "tcp:[::1", "tcp:[nohost]:1", "tcp:[::1]x", "tcp:ho st",
          "tcp:fe80::zz", "tcp:fe80::1%eth0]:4001", "serial:"}) {
        SCOPED_TRACE(text);
        Error error;
        EXPECT_FALSE(parseControllerAddress(text, &error));
        EXPECT_EQ(error.code, ErrorCode::Other);
        EXPECT_TRUE(error.detail.contains(QString::fromLatin1(text))) << error.detail.toStdString();
    }
}

TEST(SerialLineSettings, controllerNotationIsParsed)
{
    Error error;
    auto s = parseSerialLineSettings("9600,n,8,1", &error);
    ASSERT_TRUE(s) << error.detail.toStdString();
    EXPECT_EQ(s->baudRate, 9600);
    EXPECT_EQ(s->parity, QSerialPort::NoParity);
    EXPECT_EQ(s->dataBits, QSerialPort::Data8);
    EXPECT_EQ(s->stopBits, QSerialPort::OneStop);

    s = parseSerialLineSettings("19200,E,7,2", &error);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->baudRate, 19200);
    EXPECT_EQ(s->parity, QSerialPort::EvenParity);
    EXPECT_EQ(s->dataBits, QSerialPort::Data7);
    EXPECT_EQ(s->stopBits, QSerialPort::TwoStop);
}

TEST(SerialLineSettings, nonsenseIsRefused)
{
    for (const char *text : {"", "9600", "9600,n,8", "fast,n,8,1", "0,n,8,1", "9600,x,8,1",
                             "9600,n,9,1", "9600,n,8,3", "9600,n,8,1,1"}) {
        SCOPED_TRACE(text);
        Error error;
        EXPECT_FALSE(parseSerialLineSettings(text, &error));
        EXPECT_EQ(error.code, ErrorCode::Other);
        EXPECT_TRUE(error.detail.contains(QString::fromLatin1(text))) << error.detail.toStdString();
    }
}

} // namespace
