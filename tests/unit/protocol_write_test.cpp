#include "link/protocol.h"
#include "support/fake_transport.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{

const Error kTimeout(ErrorCode::Timeout);
const Error kWriteChecksum(ErrorCode::TransferFailed);

const QByteArray kCalibration = "0A0B0C0D0E0F101112131415161718191A1B1C1D";

QByteArray twoDigits(int value)
{
    return QByteArray::number(value, 16).toUpper().rightJustified(2, '0');
}

class WriteExchange : public ::testing::Test
{
protected:
    Error write(const QByteArray &data, bool quiet = true)
    {
        return put_Meta_Data(ctx, "DI", "Receive Start", "CheckSum", QString::fromLatin1(data),
                             quiet);
    }

    FakeLink fake;
    FakeController &controller = fake.controller;
    NoProgress progress;
    ProtocolContext ctx{*fake.link, fake.clock, progress, LinkParams{false, "ctl.example", "4001"}};
};

TEST_F(WriteExchange, dataAndItsChecksumGoOutOneCharacterEveryTwelveMilliseconds)
{
    EXPECT_EQ(write(kCalibration), Error());
    EXPECT_EQ(controller.stored("DI"), kCalibration);
    EXPECT_EQ(controller.lastWriteReceived(), kCalibration + twoDigits(wireSum(kCalibration)));
    EXPECT_EQ(controller.bursts("DI"), 1);
    EXPECT_EQ(controller.closes(), 1);
    EXPECT_TRUE(fake.link->Buffer.isEmpty());

    const auto &w = controller.writes();
    // The command burst, then one write per data and checksum character.
    ASSERT_EQ(w.size(), 1 + kCalibration.size() + 2);
    for (qsizetype i = 2; i < w.size(); ++i) {
        EXPECT_EQ(w[i].bytes.size(), 1);
        EXPECT_EQ(w[i].atMs - w[i - 1].atMs, 12);
    }

    // 'F' * 3 + '8' = 266, which is 10 modulo 256: two digits with a leading zero.
    EXPECT_EQ(write("FFF8"), Error());
    EXPECT_EQ(controller.lastWriteReceived(), "FFF80A");
}

TEST_F(WriteExchange, readyAnnouncedAfterRepeatsIsWaitedForAndSerialSendsTheCommandOnce)
{
    controller.answerAfterRepeats(3);
    EXPECT_EQ(write(kCalibration), Error());
    EXPECT_EQ(controller.bursts("DI"), 3);
    EXPECT_EQ(controller.stored("DI"), kCalibration);

    // Over a serial line the command goes out once, with a line feed, before the data.
    controller.answerAfterRepeats(1);
    const qsizetype before = controller.written().size();
    ctx.params = LinkParams{true, "/dev/ttyFAKE0", "9600,n,8,1"};
    EXPECT_EQ(write("FF"), Error());
    EXPECT_EQ(controller.written().mid(before), "DI\nFF8C");
}

TEST_F(WriteExchange, echoMustBeTheExactChecksumAsTwoHexDigitsOfEitherCase)
{
    // "FF" sums to 0x8C; "Receive Start" comes in one read, the echo in the next.
    const struct {
        const char *echo;
        Error error;
    } cases[] = {{"8cCheckSum", {}},
                 {"8BCheckSum", kWriteChecksum},
                 {"8dCheckSum", kWriteChecksum},
                 {"CheckSum", kWriteChecksum},
                 {"7CheckSum", kWriteChecksum},
                 {"G1CheckSum", kWriteChecksum},
                 {"CheckSum3C", kWriteChecksum}};
    controller.splitAnswerAt({13});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.echo);
        controller.setRawAnswer("DI", QByteArray("Receive Start") + c.echo);
        EXPECT_EQ(write("FF"), c.error);
        EXPECT_EQ(controller.written().right(4), "FF8C");
    }
}

TEST_F(WriteExchange, silenceBeforeReadyOrInsteadOfTheEchoTimesOutAfterSixHundredSeconds)
{
    controller.mute();
    EXPECT_EQ(write(kCalibration), kTimeout);
    EXPECT_GT(fake.clock.nowMs(), 600000);
    EXPECT_LE(fake.clock.nowMs(), 600000 + 298);
    EXPECT_FALSE(controller.stored("DI"));

    controller.mute(false);
    controller.noEchoAfterWrite();
    const qint64 start = fake.clock.nowMs();
    EXPECT_EQ(write(kCalibration), kTimeout);
    EXPECT_GT(fake.clock.nowMs() - start, 600000);
    EXPECT_EQ(controller.lastWriteReceived(), kCalibration + twoDigits(wireSum(kCalibration)))
        << "the data went out before the wait";
}

TEST_F(WriteExchange, dataProgressIsReportedUnlessQuiet)
{
    std::vector<int> indices;
    int lastTotal = 0;
    fake.link->PutBufferProgress = [&](int index, int total) {
        indices.push_back(index);
        lastTotal = total;
    };
    EXPECT_EQ(write(kCalibration, false), Error());
    ASSERT_EQ(indices.size(), static_cast<size_t>(kCalibration.size() + 2));
    EXPECT_EQ(indices.front(), 1);
    EXPECT_EQ(indices.back(), kCalibration.size() + 2);
    EXPECT_EQ(lastTotal, kCalibration.size() + 2);

    indices.clear();
    EXPECT_EQ(write(kCalibration, true), Error());
    EXPECT_TRUE(indices.empty());
}

TEST_F(WriteExchange, linkLostBeforeReadyEndsTheWriteWithoutSendingData)
{
    controller.setRawAnswer("DI", "Receive Start");
    controller.dropMidAnswer();
    EXPECT_EQ(write(kCalibration), Error(ErrorCode::NoLinkReceive));
    EXPECT_EQ(controller.written().size(), 200) << "only the command went out";
    EXPECT_LT(fake.clock.nowMs(), 1000);
}

} // namespace
