// Failures over real sockets: the emulator's failure modes against the real link code, and
// controllers that cannot be reached. Each must end in the result the PC side promises
// (success, or its error text) and never in a hang.

#include "support/sim_process.h"

#include "link/clock.h"
#include "link/hydo_connect.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTcpServer>

#include <ostream>

namespace
{

const char *const kTimeout = "Verbindungszeitlimit überschritten !";

struct ReadMode {
    const char *name;
    QStringList arguments;
    const char *command;
    const char *error; // nullptr: any error that comes before the deadline
    int payloadSize;
    int minMs;
    int maxMs; // 0: any time the link code allows
    const char *logged;
};

void PrintTo(const ReadMode &mode, std::ostream *out)
{
    *out << mode.name;
}

class SimReadModes : public ::testing::TestWithParam<ReadMode>
{
};

TEST_P(SimReadModes, readEndsInThePromisedResult)
{
    const ReadMode &m = GetParam();
    SimProcess sim;
    QString error;
    ASSERT_TRUE(sim.start(m.arguments, &error)) << error.toStdString();
    const SimRead r = readFromController(sim.tcpLink(), QString::fromLatin1(m.command));
    if (m.error) {
        EXPECT_EQ(r.error, QString::fromUtf8(m.error)) << sim.log().toStdString();
    } else {
        EXPECT_NE(r.error, QString());
        EXPECT_NE(r.error, QString::fromUtf8(kTimeout))
            << "a closed connection must end the exchange before its deadline";
    }
    EXPECT_EQ(r.payload.size(), m.payloadSize);
    EXPECT_GE(r.elapsedMs, m.minMs);
    EXPECT_LT(r.elapsedMs, m.maxMs ? m.maxMs : 60000);
    EXPECT_TRUE(sim.log().contains(QLatin1String(m.logged))) << sim.log().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SimReadModes,
    ::testing::Values(ReadMode{"AnswerToTheThirdBurst",
                               {"--answer-after", "3"},
                               "DX",
                               "",
                               10,
                               0,
                               0,
                               "DX burst 2 ignored"},
                      ReadMode{"PausedPieces", {"--split", "5:400"}, "DN", "", 5630, 0, 0, ""},
                      ReadMode{"BadChecksum",
                               {"--bad-checksum"},
                               "DK",
                               "Fehler bei der Kommunikation mit dem Tarvelon",
                               0,
                               0,
                               0,
                               ""},
                      ReadMode{"DropMidAnswer", {"--drop-mid-answer"}, "DN", nullptr, 0, 0, 0, ""},
                      // The read deadline is 6 seconds.
                      ReadMode{"Mute", {"--mute"}, "DX", kTimeout, 0, 5900, 9000, ""},
                      // About 700 characters at 960 per second.
                      ReadMode{"Paced9600", {"--pace-9600"}, "DK", "", 672, 650, 0, ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(LinkRealTransport, refusedTcpConnectionFailsAtOnceWithTheConnectText)
{
    ensureCoreApplication();
    quint16 port;
    {
        QTcpServer server; // closed again at once: nothing listens on its port
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        port = server.serverPort();
    }
    RealClock clock;
    const auto link = cHydoConnect::createDefault(clock);
    QElapsedTimer timer;
    timer.start();
    const QString error = link->connect(false, QStringLiteral("127.0.0.1"), QString::number(port));
    EXPECT_TRUE(error.startsWith(QLatin1String("Verbindungsfehler !\r")) &&
                error.contains(QLatin1String("refused")))
        << "the cause is kept: " << error.toStdString();
    EXPECT_LT(timer.elapsed(), 5000) << "a refused connection need not wait out 20 seconds";
    EXPECT_EQ(link->PutBuffer(QStringLiteral("DX"), 0, true, QStringLiteral("\n")),
              QStringLiteral("Keine Verbindung zum Tarvelon !"));
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
    EXPECT_EQ(link->PutBuffer(QStringLiteral("DK"), 0, true, QStringLiteral("\n")),
              QStringLiteral("Keine Verbindung zum Tarvelon !"));
}

} // namespace
