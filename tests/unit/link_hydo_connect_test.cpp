#include "link/hydo_connect.h"
#include "support/fake_transport.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace
{

const char *const kNoLinkSend = "Keine Verbindung zum Tarvelon !";
const char *const kNoLinkReceive = "Keine Verbindung zum Tarvelon";
const char *const kConnectFailed = "Verbindungsfehler !";

class HydoConnect : public ::testing::Test
{
protected:
    void openTcp() { ASSERT_EQ(link.connect(false, "ctl.example", "4001"), QString()); }
    void openSerial() { ASSERT_EQ(link.connect(true, "/dev/ttyFAKE0", "9600,n,8,1"), QString()); }

    FakeLink fake;
    cHydoConnect &link = *fake.link;
    FakeController &controller = fake.controller;
};

TEST_F(HydoConnect, twoLetterCommandOverTcpIsOneBurstOfHundredCopies)
{
    openTcp();
    EXPECT_EQ(controller.lastAddress(), "ctl.example");
    EXPECT_EQ(controller.lastSetting(), "4001");
    EXPECT_EQ(controller.lastOpenTimeoutMs(), 20000);

    EXPECT_EQ(link.PutBuffer("DX", 65, true, "\n"), QString());
    ASSERT_EQ(controller.writes().size(), 1);
    QByteArray expected;
    for (int i = 0; i < 100; ++i)
        expected += "DX";
    EXPECT_EQ(controller.writes()[0].bytes, expected) << "no line feed, no per-character pacing";
    EXPECT_EQ(fake.clock.nowMs(), 0);
}

TEST_F(HydoConnect, serialSendsEachCharacterThenTheTerminatorWithDelaysOnTheClock)
{
    openSerial();
    EXPECT_EQ(controller.lastAddress(), "/dev/ttyFAKE0");
    EXPECT_EQ(controller.lastSetting(), "9600,n,8,1");

    EXPECT_EQ(link.PutBuffer("DX", 65, true, "\n"), QString());
    const auto &w = controller.writes();
    ASSERT_EQ(w.size(), 3);
    EXPECT_EQ(w[0].bytes, "D");
    EXPECT_EQ(w[0].atMs, 0);
    EXPECT_EQ(w[1].bytes, "X");
    EXPECT_EQ(w[1].atMs, 65);
    EXPECT_EQ(w[2].bytes, "\n");
    EXPECT_EQ(w[2].atMs, 130);
    EXPECT_EQ(fake.clock.nowMs(), 130);
}

TEST_F(HydoConnect, longerDataOverTcpGoesCharacterByCharacterWithProgress)
{
    std::vector<std::pair<int, int>> events;
    link.PutBufferProgress = [&](int index, int total) { events.emplace_back(index, total); };
    openTcp();

    EXPECT_EQ(link.PutBuffer("A1F", 12, false, QString()), QString());
    EXPECT_EQ(controller.written(), "A1F");
    EXPECT_EQ(controller.writes().size(), 3);
    EXPECT_EQ(fake.clock.nowMs(), 36);
    EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));

    events.clear();
    EXPECT_EQ(link.PutBuffer("A1F", 12, true, QString()), QString());
    EXPECT_TRUE(events.empty()) << "a quiet send reports no progress";
}

TEST_F(HydoConnect, withoutALinkSendingAndReceivingReportNoConnection)
{
    link.Buffer = "kept";
    EXPECT_EQ(link.PutBuffer("DX", 65, true, "\n"), kNoLinkSend);
    EXPECT_TRUE(controller.written().isEmpty());
    EXPECT_EQ(link.GetBuffer(), kNoLinkReceive);
    EXPECT_EQ(link.Buffer, "kept");
}

TEST_F(HydoConnect, emptyInputQueueLeavesTheBufferAlone)
{
    openSerial();
    link.Buffer = "abc";
    EXPECT_EQ(link.GetBuffer(), QString());
    EXPECT_EQ(link.Buffer, "abc");
}

TEST_F(HydoConnect, receivedBytesAreAppendedAsTheyArrive)
{
    controller.setRawAnswer("DX", "hello\r\nworld");
    controller.splitAnswerAt({5});
    openTcp();
    link.Buffer = ">";
    link.PutBuffer("DX", 65, true, "\n");
    EXPECT_EQ(link.GetBuffer(), QString());
    EXPECT_EQ(link.Buffer, ">hello");
    EXPECT_EQ(link.GetBuffer(), QString());
    EXPECT_EQ(link.Buffer, ">hello\r\nworld");
}

TEST_F(HydoConnect, disconnectAlwaysEmptiesTheBuffer)
{
    link.Buffer = "left over";
    EXPECT_EQ(link.disconnect(), QString());
    EXPECT_TRUE(link.Buffer.isEmpty());

    openTcp();
    link.Buffer = "answer";
    link.disconnect();
    EXPECT_TRUE(link.Buffer.isEmpty());
    EXPECT_EQ(controller.closes(), 1);
    EXPECT_EQ(link.PutBuffer("DX", 65, true, "\n"), kNoLinkSend);
}

TEST_F(HydoConnect, connectClosesThePreviousLinkFirst)
{
    openTcp();
    link.Buffer = "old";
    openSerial();
    EXPECT_EQ(controller.closes(), 1);
    EXPECT_TRUE(link.Buffer.isEmpty());
    link.PutBuffer("DX", 65, true, "\n");
    EXPECT_EQ(controller.writes().back().kind, Transport::Kind::Serial);
}

TEST_F(HydoConnect, tcpConnectThatNeverCompletesFailsAfterTwentySeconds)
{
    controller.hangOnOpen();
    EXPECT_EQ(link.connect(false, "10.255.255.1", "4001"), kConnectFailed);
    EXPECT_EQ(fake.clock.nowMs(), 20000);
}

TEST_F(HydoConnect, refusedTcpConnectFailsAtOnce)
{
    controller.refuseOpen();
    EXPECT_EQ(link.connect(false, "127.0.0.1", "4001"), kConnectFailed);
    EXPECT_EQ(fake.clock.nowMs(), 0);
}

TEST_F(HydoConnect, serialDeviceThatWillNotOpenIsARuntimeError)
{
    controller.refuseOpen();
    EXPECT_EQ(link.connect(true, "/dev/ttyFAKE9", "9600,n,8,1"),
              "Runtime Error: connection refused (fake)");
}

TEST_F(HydoConnect, failingWriteIsARuntimeErrorAndStopsTheSend)
{
    openSerial();
    controller.failWrites();
    std::vector<int> events;
    link.PutBufferProgress = [&](int index, int) { events.push_back(index); };
    EXPECT_EQ(link.PutBuffer("0A0B", 12, false, QString()), "Runtime Error: broken pipe (fake)");
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(fake.clock.nowMs(), 0);

    openTcp();
    EXPECT_EQ(link.PutBuffer("DX", 65, true, "\n"), "Runtime Error: broken pipe (fake)");
}

TEST_F(HydoConnect, linkLostMidAnswerKeepsWhatArrivedAndThenReportsNoConnection)
{
    controller.setRawAnswer("DX", "0123456789");
    controller.dropMidAnswer();
    openTcp();
    link.PutBuffer("DX", 65, true, "\n");
    EXPECT_EQ(link.GetBuffer(), kNoLinkReceive);
    EXPECT_EQ(link.Buffer, "01234");
    EXPECT_EQ(link.PutBuffer("DX", 65, true, "\n"), kNoLinkSend);
}

TEST(HydoConnectPorts, askingForNoPortsGivesNone)
{
    EXPECT_TRUE(cHydoConnect::Avaible_Comports(0).isEmpty());
    EXPECT_TRUE(cHydoConnect::Avaible_Comports(-3).isEmpty());
}

TEST(HydoConnectPorts, portListIsBoundedAndStable)
{
    const QStringList first = cHydoConnect::Avaible_Comports(2);
    EXPECT_LE(first.size(), 2);
    EXPECT_EQ(cHydoConnect::Avaible_Comports(2), first);
}

} // namespace
