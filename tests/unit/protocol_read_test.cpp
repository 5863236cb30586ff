#include "link/protocol.h"
#include "support/fake_transport.h"
#include "support/recording_progress.h"

#include <gtest/gtest.h>

namespace
{

const Error kTimeout(ErrorCode::Timeout);
const Error kNoLinkReceive(ErrorCode::NoLinkReceive);

// Version data of a 2.20 R5 controller.
const QByteArray kVersionPayload = "400CCCCD0500000000";
const LinkParams kTcp{false, "ctl.example", "4001"};
const LinkParams kSerial{true, "/dev/ttyFAKE0", "9600,n,8,1"};

QByteArray hexImage(int characters)
{
    QByteArray image;
    for (int i = 0; image.size() < characters; ++i)
        image += QByteArray::number((i * 37) % 256, 16).rightJustified(2, '0').toUpper();
    return image.left(characters);
}

class ReadExchange : public ::testing::Test
{
protected:
    Error readVersion()
    {
        return get_Meta_Data(ctx, "DX", "Version Data", "End Data", "CheckSum", result, 0,
                             QString(), true);
    }
    Error readProgram()
    {
        return get_Meta_Data(ctx, "DN", "Data RAM", "End RAM", "CheckSum", result, 5630,
                             "loading program", false);
    }
    Error readStored()
    {
        return get_Meta_Data(ctx, "DO", "Stored Data", "End Data", "CheckSum", result, 0,
                             "download", false);
    }

    FakeLink fake;
    FakeController &controller = fake.controller;
    RecordingProgress progress;
    ProtocolContext ctx{*fake.link, fake.clock, progress, kTcp};
    QString result = "stale";
};

TEST_F(ReadExchange, matchingChecksumReturnsExactlyThePayloadOverEitherLink)
{
    controller.setPayload("DX", kVersionPayload);
    EXPECT_EQ(readVersion(), Error());
    EXPECT_EQ(result, QString::fromLatin1(kVersionPayload));
    EXPECT_EQ(controller.bursts("DX"), 1);
    EXPECT_EQ(controller.opens(), 1);
    EXPECT_EQ(controller.closes(), 1) << "the link is open for one exchange only";
    EXPECT_TRUE(fake.link->Buffer.isEmpty());
    EXPECT_TRUE(progress.reports.isEmpty()) << "a silent read shows no progress";

    // Over a serial line the command goes out once, paced, with a line feed.
    ctx.params = kSerial;
    result.clear();
    EXPECT_EQ(readVersion(), Error());
    EXPECT_EQ(result, QString::fromLatin1(kVersionPayload));
    EXPECT_EQ(controller.written(), QByteArray("DX").repeated(100) + "DX\n");
    EXPECT_EQ(controller.writes()[2].atMs - controller.writes()[1].atMs, 65);
}

// Everything between the markers, however the answer is cut and however long it is.
TEST_F(ReadExchange, answerSplitOverManyReadsIsAssembled)
{
    const QByteArray image = hexImage(5630);
    controller.setPayload("DN", image);
    controller.splitAnswer(10);
    EXPECT_EQ(readProgram(), Error());
    EXPECT_EQ(result, QString::fromLatin1(image));
    EXPECT_LE(fake.clock.nowMs(), 6000);

    // Cuts inside "Version Data", "End Data", the checksum digits and "CheckSum" (after the
    // line break the controller starts its answers with).
    controller.setPayload("DX", kVersionPayload);
    controller.splitAnswerAt({2 + 5, 20, 3, 4, 5});
    EXPECT_EQ(readVersion(), Error());
    EXPECT_EQ(result, QString::fromLatin1(kVersionPayload));

    controller.splitAnswer(1);
    controller.setPayload("DN", QByteArray("A5").repeated(3100));
    EXPECT_EQ(readProgram(), Error());
    EXPECT_EQ(result.size(), 6200) << "longer than expected";
}

TEST_F(ReadExchange, answerAfterRepeatsIsAcceptedAndRepeatsStopOnceItBegins)
{
    controller.setPayload("DX", kVersionPayload);
    for (int n : {2, 3}) {
        SCOPED_TRACE(n);
        controller.answerAfterRepeats(n);
        const int before = controller.bursts("DX");
        EXPECT_EQ(readVersion(), Error());
        EXPECT_EQ(result, QString::fromLatin1(kVersionPayload));
        EXPECT_EQ(controller.bursts("DX") - before, n) << "no repetition after the answer began";
    }

    controller.answerAfterRepeats(1);
    controller.setPayload("DN", hexImage(5630));
    controller.splitAnswerAt({2 + 12, 2000, 2000}); // "Data RAM" and a little, then the rest
    EXPECT_EQ(readProgram(), Error());
    EXPECT_EQ(controller.bursts("DN"), 1);
}

TEST_F(ReadExchange, progressTotalIsTheExpectedLengthOrTheAnnouncedRecords)
{
    controller.setPayload("DN", hexImage(5630));
    controller.splitAnswer(3);
    EXPECT_EQ(readProgram(), Error());
    ASSERT_GE(progress.reports.size(), 3);
    for (const auto &r : progress.reports) {
        EXPECT_EQ(r.text, "loading program");
        EXPECT_EQ(r.maximum, 5630);
    }
    EXPECT_EQ(progress.reports.first().current, 0);
    EXPECT_EQ(progress.reports.last().current, 5630);

    progress.reports.clear();
    const QByteArray payload = "0002" + hexImage(48);
    controller.setPayload("DO", payload);
    controller.splitAnswerAt({2 + 11 + 6, 30}); // "Stored Data", the count and a little
    EXPECT_EQ(readStored(), Error());
    EXPECT_EQ(result, QString::fromLatin1(payload));

    ASSERT_GE(progress.reports.size(), 3);
    EXPECT_EQ(progress.reports.first().current, 0);
    EXPECT_EQ(progress.reports.first().maximum, 10000) << "unknown until the count arrives";
    EXPECT_EQ(progress.reports[1].text, "download");
    EXPECT_EQ(progress.reports[1].current, 6);
    EXPECT_EQ(progress.reports[1].maximum, 48);
    EXPECT_EQ(progress.reports.last().current, 48);
    EXPECT_EQ(progress.reports.last().maximum, 48);

    progress.reports.clear();
    controller.setPayload("DO", "8001" + hexImage(30));
    controller.splitAnswerAt({2 + 11 + 6});
    readStored();
    ASSERT_GE(progress.reports.size(), 2);
    EXPECT_EQ(progress.reports[1].maximum, 0x8001 * 24) << "a count above 32767 stays positive";
}

TEST_F(ReadExchange, muteControllerTimesOutAtSixSecondsOfVirtualTime)
{
    controller.mute();
    EXPECT_EQ(readVersion(), kTimeout);
    EXPECT_TRUE(result.isEmpty());
    EXPECT_GT(fake.clock.nowMs(), 6000);
    EXPECT_LE(fake.clock.nowMs(), 6000 + 298) << "ends with the first look past the deadline";
    // Each look waits 99 to 298 ms, so six seconds hold 21 to 61 repetitions.
    EXPECT_GE(controller.bursts("DX"), 21);
    EXPECT_LE(controller.bursts("DX"), 61);
    EXPECT_EQ(controller.closes(), 1);
}

TEST_F(ReadExchange, onlyAnAnswerCompleteWithinItsDeadlineIsAccepted)
{
    controller.setPayload("DX", kVersionPayload);
    controller.setAnswerDelayMs(5500);
    EXPECT_EQ(readVersion(), Error());
    controller.setAnswerDelayMs(6300);
    EXPECT_EQ(readVersion(), kTimeout);
    EXPECT_TRUE(result.isEmpty());
    controller.setAnswerDelayMs(0);

    // A program image takes 5.9 s of line time at 9600 baud (10 bits a character): the read
    // is granted that on top of its six seconds, so a paced answer arrives in time ...
    controller.setPayload("DN", hexImage(5630));
    controller.splitAnswer(14); // one piece per half-second look: seven seconds
    EXPECT_EQ(readProgram(), Error());
    EXPECT_EQ(result.size(), 5630);

    // ... but not one that takes longer than both together.
    controller.splitAnswer(26);
    result = "stale";
    const qint64 start = fake.clock.nowMs();
    EXPECT_EQ(readProgram(), kTimeout);
    EXPECT_TRUE(result.isEmpty());
    EXPECT_GT(fake.clock.nowMs() - start, 6000 + 5900);
    EXPECT_LE(fake.clock.nowMs() - start, 6000 + 5938 + 500);

    // A garbled count ("FFFF" records, then silence) cannot stretch the wait beyond that.
    controller.splitAnswer(1);
    controller.setRawAnswer("DO", "Stored DataFFFF0102");
    const qint64 garbled = fake.clock.nowMs();
    EXPECT_EQ(readStored(), kTimeout);
    EXPECT_LE(fake.clock.nowMs() - garbled, 6000 + 5938 + 500);
}

TEST_F(ReadExchange, linkLostMidAnswerEndsTheExchangeAtOnce)
{
    controller.setPayload("DN", hexImage(5630));
    controller.dropMidAnswer();
    EXPECT_EQ(readProgram(), kNoLinkReceive);
    EXPECT_TRUE(result.isEmpty());
    EXPECT_LT(fake.clock.nowMs(), 1000) << "no waiting for a deadline on a dead link";
    EXPECT_EQ(progress.reports.last().current, 5630) << "progress is closed even on failure";
}

TEST_F(ReadExchange, linkThatCannotOpenOrSendIsReportedUnchanged)
{
    controller.refuseOpen();
    EXPECT_EQ(readVersion(), Error(ErrorCode::ConnectFailed, "connection refused (fake)"));
    EXPECT_EQ(fake.clock.nowMs(), 0) << "a refused connection fails at once";
    ctx.params = kSerial;
    EXPECT_EQ(readVersion(), Error(ErrorCode::Runtime, "connection refused (fake)"));
    EXPECT_TRUE(controller.written().isEmpty());
    EXPECT_TRUE(result.isEmpty());

    controller.refuseOpen(false);
    controller.hangOnOpen();
    ctx.params = kTcp;
    EXPECT_EQ(readVersion(), Error(ErrorCode::ConnectFailed, "connect timed out (fake)"));
    EXPECT_EQ(fake.clock.nowMs(), 20000) << "a host that never answers is given 20 seconds";

    controller.hangOnOpen(false);
    controller.setPayload("DX", kVersionPayload);
    controller.failWrites();
    EXPECT_EQ(readVersion(), Error(ErrorCode::Runtime, "broken pipe (fake)"));
    EXPECT_EQ(fake.clock.nowMs(), 20000) << "a failed send waits for nothing";
    EXPECT_EQ(controller.closes(), 1);
}

TEST_F(ReadExchange, nothingOfOneAnswerSurvivesIntoTheNext)
{
    controller.setRawAnswer("DX", "Version Data0102End Data");
    EXPECT_EQ(readVersion(), kTimeout);
    // Only together with the first answer would this tail make a valid frame.
    controller.setRawAnswer(
        "DX",
        QByteArray::number(wireSum("0102"), 16).toUpper().rightJustified(2, '0') + "CheckSum");
    EXPECT_EQ(readVersion(), kTimeout);
    EXPECT_TRUE(result.isEmpty());
}

TEST(WaitRandom, waitsMinimumPlusAScaledRandomRoundedToWholeMilliseconds)
{
    VirtualClock clock(7);
    VirtualClock twin(7);
    for (int i = 0; i < 200; ++i) {
        const qint64 before = clock.nowMs();
        const double r = twin.random();
        wait_random(clock, 99, 199);
        const qint64 waited = clock.nowMs() - before;
        EXPECT_GE(waited, 99);
        EXPECT_LE(waited, 298);
        EXPECT_LE(std::abs(waited - (99 + r * 199)), 0.5);
    }
}

} // namespace
