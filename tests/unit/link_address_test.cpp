#include "link/protocol.h"
#include "link/serial_transport.h"

#include <gtest/gtest.h>

#include <tuple>

namespace
{

TEST(ControllerAddress, tcpHostsAndSerialDevicesGiveTheirLinkParametersOrAReason)
{
    const struct {
        const char *text;
        bool serial;
        const char *address;
        const char *setting;
    } cases[] = {
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

TEST(SerialLineSettings, controllerNotationIsParsedAndNonsenseRefused)
{
    const struct {
        const char *text;
        int baud;
        QSerialPort::Parity parity;
        QSerialPort::DataBits dataBits;
        QSerialPort::StopBits stopBits;
    } cases[] = {
        {"9600,n,8,1", 9600, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop},
        {"19200,E,7,2", 19200, QSerialPort::EvenParity, QSerialPort::Data7, QSerialPort::TwoStop},
    };
    for (const auto &c : cases) {
        Error error;
        const auto s = parseSerialLineSettings(c.text, &error);
        ASSERT_TRUE(s) << error.detail.toStdString();
        EXPECT_EQ(std::tuple(int(s->baudRate), s->parity, s->dataBits, s->stopBits),
                  std::tuple(c.baud, c.parity, c.dataBits, c.stopBits))
            << c.text;
    }
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
