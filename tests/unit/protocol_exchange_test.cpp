// The read and write exchanges with a scripted controller, in virtual time.

#include "link/protocol.h"
#include "support/fake_transport.h"
#include "support/recording_progress.h"

#include <gtest/gtest.h>

#include <vector>

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

QByteArray twoDigits(int value)
{
    return QByteArray::number(value, 16).toUpper().rightJustified(2, '0');
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

    // A program image is granted its 5.9 s of line time at 9600 baud on top of the six
    // seconds, but not an answer that takes longer than both together.
    controller.setPayload("DN", hexImage(5630));
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
    EXPECT_EQ(progress.reports.last().current, 5630) << "progress is closed even on failure";
}

TEST_F(ReadExchange, linkThatCannotOpenOrSendIsReportedUnchanged)
{
    controller.refuseOpen();
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
    controller.setRawAnswer("DX", twoDigits(wireSum("0102")) + "CheckSum");
    EXPECT_EQ(readVersion(), kTimeout);
    EXPECT_TRUE(result.isEmpty());
}

// Answers that are not what a healthy controller sends.
TEST_F(ReadExchange, eachMalformedAnswerEndsInItsResult)
{
    const QByteArray kStart = "Version Data", kEnd = "End Data";
    const Error kBadChecksum(ErrorCode::Communication);
    const QByteArray good = framedAnswer(kStart, kVersionPayload, kEnd);
    const QByteArray digits = good.mid(good.size() - 10, 2); // the checksum of kVersionPayload
    const QByteArray lowerCase = framedAnswer(kStart, kVersionPayload, kEnd, 0, true);
    ASSERT_NE(lowerCase, good) << "the checksum must hold a letter";
    const QByteArray withBreaks = "400CCCCD\r\n05000000\n00";
    const QByteArray inner = "01Version Data02";

    const struct {
        const char *what;
        QByteArray answer;
        Error error; // none: the payload is accepted
        QByteArray payload;
    } cases[] = {
        {"garbage first", QByteArray("\r\n\x00\xff#?Vers\r\n", 12) + good, {}, kVersionPayload},
        {"end and checksum markers in the garbage",
         "End Data7FCheckSum End RAM" + good,
         {},
         kVersionPayload},
        {"lower-case checksum", lowerCase, {}, kVersionPayload},
        {"noise before the checksum",
         kStart + kVersionPayload + kEnd + "\r\n" + digits + "CheckSum\r\n",
         {},
         kVersionPayload},
        {"start marker inside the payload", framedAnswer(kStart, inner, kEnd), {}, inner},
        {"line breaks in the payload count",
         framedAnswer(kStart, withBreaks, kEnd),
         {},
         withBreaks},
        {"checksum without the line breaks", kStart + withBreaks + kEnd + digits + "CheckSum",
         kBadChecksum, ""},
        {"empty payload", kStart + kEnd + "00CheckSum", {}, ""},
        {"checksum marker before the end marker", kStart + kVersionPayload + "C3CheckSum" + kEnd,
         kBadChecksum, ""},
        {"no checksum digits", kStart + kEnd + "CheckSum", kBadChecksum, ""},
        {"one checksum digit", kStart + kEnd + "0CheckSum", kBadChecksum, ""},
        {"checksum marker first", "CheckSum" + kStart + kEnd + "0CheckSum", kBadChecksum, ""},
        {"checksum ZZ", kStart + kVersionPayload + kEnd + "ZZCheckSum", kBadChecksum, ""},
        {"checksum 0G", kStart + kVersionPayload + kEnd + "0GCheckSum", kBadChecksum, ""},
        {"checksum blank 7", kStart + kVersionPayload + kEnd + " 7CheckSum", kBadChecksum, ""},
        {"checksum +7", kStart + kVersionPayload + kEnd + "+7CheckSum", kBadChecksum, ""},
        {"checksum of control characters",
         kStart + kVersionPayload + kEnd + QByteArray("\x00\x01", 2) + "CheckSum", kBadChecksum,
         ""},
        {"no end marker", kStart + kVersionPayload + "C3CheckSum", kTimeout, ""},
        {"no checksum marker", kStart + kVersionPayload + kEnd + "C3", kTimeout, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        controller.clearHistory();
        controller.setRawAnswer("DX", c.answer);
        result = "stale";
        const qint64 start = fake.clock.nowMs();
        EXPECT_EQ(readVersion(), c.error);
        EXPECT_EQ(result, QString::fromLatin1(c.payload));
        if (c.error == kBadChecksum) {
            EXPECT_EQ(controller.bursts("DX"), 1) << "a bad answer is not asked for again";
        }
        if (c.error == kTimeout) {
            EXPECT_GT(fake.clock.nowMs() - start, 6000);
            EXPECT_LE(fake.clock.nowMs() - start, 6500);
        }
    }
}

TEST_F(ReadExchange, startMarkerArrivingOneCharacterAtATimeIsFound)
{
    controller.setRawAnswer("DX", "\r\n" + framedAnswer("Version Data", "0102", "End Data"));
    controller.splitAnswerAt(QList<int>(14, 1));
    EXPECT_EQ(readVersion(), Error());
    EXPECT_EQ(result, "0102");
    EXPECT_EQ(controller.bursts("DX"), 14) << "repeated until the whole start marker is there";
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

const Error kWriteChecksum(ErrorCode::TransferFailed);

const QByteArray kCalibration = "0A0B0C0D0E0F101112131415161718191A1B1C1D";

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
    ProtocolContext ctx{*fake.link, fake.clock, progress, kTcp};
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
    ctx.params = kSerial;
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
