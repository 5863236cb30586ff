// cHydoConnect over real sockets and pseudo-terminals: failures to reach a controller end
// quickly with their texts, and a link survives the emulator's restart between exchanges.

#include "support/sim_process.h"

#include "link/clock.h"
#include "link/hydo_connect.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTcpServer>

namespace
{

quint16 unusedPort()
{
    QTcpServer server;
    EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    return server.serverPort(); // closed again when server goes out of scope
}

TEST(LinkRealTransport, refusedTcpConnectionFailsAtOnceWithTheConnectText)
{
    ensureCoreApplication();
    RealClock clock;
    const auto link = cHydoConnect::createDefault(clock);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(link->connect(false, QStringLiteral("127.0.0.1"), QString::number(unusedPort())),
              QStringLiteral("Verbindungsfehler !"));
    EXPECT_LT(timer.elapsed(), 5000) << "a refused connection need not wait out 20 seconds";
    EXPECT_EQ(link->PutBuffer(QStringLiteral("DX"), 0, true, QStringLiteral("\n")),
              QStringLiteral("Keine Verbindung zum Tarvelon !"));
}

TEST(LinkRealTransport, readFromAMissingSerialDeviceFailsWithoutSending)
{
    ensureCoreApplication();
    LinkParams params;
    params.serial = true;
    params.address = QStringLiteral("/dev/ostracom-no-such-device");
    params.setting = QStringLiteral("9600,n,8,1");
    QElapsedTimer timer;
    timer.start();
    const SimRead r = readFromController(params, QStringLiteral("DX"));
    EXPECT_NE(r.error, QString());
    EXPECT_EQ(r.payload, QString());
    EXPECT_LT(timer.elapsed(), 3000);
}

TEST(LinkRealTransport, commandsGoOutAsTheControllerExpectsThem)
{
    // Over TCP the 200-character burst, over the pty the letters and a line feed: the
    // emulator answers both, which its log shows as one answer each.
    SimProcess sim;
    QString error;
    ASSERT_TRUE(sim.start({"--pty"}, &error)) << error.toStdString();
    RealClock clock;
    const auto link = cHydoConnect::createDefault(clock);

    for (const LinkParams &params : {sim.tcpLink(), sim.ptyLink()}) {
        ASSERT_EQ(link->connect(params.serial, params.address, params.setting), QString());
        ASSERT_EQ(link->PutBuffer(QStringLiteral("DX"), 65, true, QStringLiteral("\n")), QString());
        QElapsedTimer timer;
        timer.start();
        while (!link->Buffer.contains("CheckSum") && timer.elapsed() < 3000) {
            clock.sleepMs(20);
            ASSERT_EQ(link->GetBuffer(), QString());
        }
        EXPECT_EQ(link->Buffer.count("Version Data"), 1) << link->Buffer.toStdString();
        EXPECT_EQ(link->disconnect(), QString());
        EXPECT_TRUE(link->Buffer.isEmpty());
    }
    EXPECT_EQ(sim.log().count(QStringLiteral("DX answered")), 2) << sim.log().toStdString();
}

TEST(LinkRealTransport, closedConnectionEndsGetBufferWithTheNoLinkText)
{
    SimProcess sim;
    QString error;
    ASSERT_TRUE(sim.start({"--drop-mid-answer"}, &error)) << error.toStdString();
    RealClock clock;
    const auto link = cHydoConnect::createDefault(clock);
    ASSERT_EQ(link->connect(false, QStringLiteral("127.0.0.1"), QString::number(sim.port())),
              QString());
    ASSERT_EQ(link->PutBuffer(QStringLiteral("DK"), 0, true, QStringLiteral("\n")), QString());

    QString result;
    QElapsedTimer timer;
    timer.start();
    while (result.isEmpty() && timer.elapsed() < 3000) {
        clock.sleepMs(20);
        result = link->GetBuffer();
    }
    EXPECT_EQ(result, QStringLiteral("Keine Verbindung zum Tarvelon"));
    EXPECT_TRUE(link->Buffer.contains("Kalib RAM")) << "what arrived before the close is kept";
    EXPECT_FALSE(link->Buffer.contains("CheckSum"));
}

} // namespace
