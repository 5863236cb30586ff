#include "sms/sms_protocol.h"
#include "support/fake_telvara.h"
#include "support/recording_progress.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray sampleImage()
{
    QByteArray image(1800, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((i * 7 + 3) % 256);
    return image;
}

class SmsExchange : public ::testing::Test
{
protected:
    SmsExchange()
    {
        device.internal[0x220] = char(0x05);
        device.internal[0x221] = char(0x01);
        device.external[0] = char(0x61);
        device.external[1] = char(0x19);
        sms.setPort(QStringLiteral("/dev/ttyFAKE"));
    }
    // Requests the PC sent, not counting the service handshake.
    QList<QByteArray> framesAfterHandshake() const
    {
        QList<QByteArray> frames;
        for (const QByteArray &f : device.frames)
            if (f != "@K")
                frames.append(f);
        return frames;
    }

    VirtualClock clock;
    FakeTelvara device{clock};
    RecordingProgress progress;
    cSmsController sms{[this] { return device.transport(); }, clock, progress};
};

// The version and reset frames are proved against the emulator through the SMS window.
TEST(SmsFraming, requestsCarryTheChecksumThatMakesTheirBytesSumToZero)
{
    struct Case {
        const char *what;
        QByteArray frame;
        const char *expected;
    } cases[] = {
        {"select external", smsSelectFrame(0x02), "02fd010102fd"},
        {"block at offset 480", smsWriteFrame(0x05E0, hex("01")), "02fd0302e0050118"},
        {"sum zero gives check 0", smsWriteFrame(0x0000, hex("fe")), "02fd03020000fe00"},
        {"read with sum zero", smsReadFrame(0x00FA, 3), "02fd0303fa000300"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.frame.toHex(), QByteArray(c.expected)) << c.what;

    EXPECT_EQ(calculate_crc(hex("ff0203")), 4);
    const struct {
        const char *text;
        std::optional<int> value;
    } numbers[] = {{"0x1A", 26},           {"&H1A", 26},        {"1a", 26},
                   {"0X1a", 26},           {"&h0", 0},          {"", std::nullopt},
                   {"0xG1", std::nullopt}, {"-1", std::nullopt}};
    for (const auto &n : numbers)
        EXPECT_EQ(HexToDec(QString::fromLatin1(n.text)), n.value) << n.text;
}

TEST_F(SmsExchange, versionReadPacesItsCharactersAndLeavesTheDeviceBusySixSeconds)
{
    SmsVersion version;
    ASSERT_TRUE(sms.readVersion(&version).ok());
    // Characters go out 5 ms apart.
    EXPECT_EQ(device.sent[1].atMs - device.sent[0].atMs, 5);

    int busy = 0;
    for (const auto &r : progress.reports)
        busy += r.text == QStringLiteral("Der SMS Controller ist beschäftigt !") ? 1 : 0;
    EXPECT_EQ(busy, 7) << "once a second and at the end";
    EXPECT_GE(clock.nowMs(), 6000);
}

TEST_F(SmsExchange, answersAreCheckedForChecksumAndEndMarker)
{
    struct Case {
        const char *what;
        QByteArray data; // at the read address
        bool badChecksum;
        bool noEndMarker;
        ErrorCode expected;
        const char *resultCode;
    } cases[] = {
        {"good answer", hex("0102"), false, false, ErrorCode::None, ""},
        {"checksum one off", hex("0102"), true, false, ErrorCode::SmsBadChecksum, "-2"},
        {"end marker missing", hex("0102"), false, true, ErrorCode::SmsNoEndMarker, "-1"},
        {"check byte 0, data summing to 0", hex("ff01"), false, false, ErrorCode::None, ""},
        // The fake's check one too high turns 0xFF into 0.
        {"check byte 0, data summing to 1", hex("0100"), true, false, ErrorCode::SmsBadChecksum,
         "-2"},
    };
    device.receive("@K"); // a bare read assumes service mode begun earlier
    for (const Case &c : cases) {
        device.external.replace(0x100, 2, c.data);
        device.failures.badReadChecksum = c.badChecksum;
        device.failures.noEndMarker = c.noEndMarker;
        QByteArray data;
        const Error error = sms.svc_read(0x100, 2, &data, QString(), 0, 0, true);
        EXPECT_EQ(error.code, c.expected) << c.what;
        EXPECT_EQ(resultCode(error), QString::fromLatin1(c.resultCode)) << c.what;
        EXPECT_EQ(data, error.ok() ? c.data : QByteArray()) << c.what;
    }
}

TEST_F(SmsExchange, strayBytesAheadOfAnAnswerDoNotCountTowardsItsLength)
{
    // The first look sees the noise and 15 of the 25 answer bytes: 25 in the buffer.
    device.strayBytes = QByteArray(10, '\x55');
    device.bytesPerRead = 25;
    device.receive("@K");
    device.external.replace(0x100, 20, sampleImage().left(20));
    QByteArray data;
    const Error error = sms.svc_read(0x100, 20, &data, QString(), 0, 0, true);
    EXPECT_EQ(error.code, ErrorCode::None);
    EXPECT_EQ(data, sampleImage().left(20));
    EXPECT_LT(clock.nowMs(), 1000);
}

TEST_F(SmsExchange, aMuteDeviceIsAskedAgainForFiveSecondsThenBothBoxesAppear)
{
    device.failures.mute = true;
    SmsVersion version{7, 9};
    const Error error = sms.readVersion(&version);
    EXPECT_EQ(error.code, ErrorCode::SmsNoAnswer);
    EXPECT_EQ(resultCode(error), QStringLiteral("-1"));
    EXPECT_GE(clock.nowMs(), 5000);
    EXPECT_LT(clock.nowMs(), 5000 + 300 + 10);
    EXPECT_GT(device.frames.size(), 10) << "the handshake is repeated until the deadline";
    EXPECT_EQ(version.release, 7) << "a failed read leaves the version alone";

    const auto boxes = smsMessages(error);
    ASSERT_EQ(boxes.size(), 2);
    EXPECT_TRUE(boxes[0].text.startsWith(QStringLiteral("Keine Verbindung zum SMS Controller")));
    EXPECT_TRUE(boxes[1].text.startsWith(QStringLiteral("Zeitlimit")));
}

TEST_F(SmsExchange, aDeviceThatMissesRequestsIsAskedAgain)
{
    device.failures.ignoreFirst = 3;
    SmsVersion version;
    EXPECT_TRUE(sms.readVersion(&version).ok());
    EXPECT_EQ(device.frames.count("@K"), 4);
}

TEST_F(SmsExchange, aPortThatCannotBeOpenedEndsTheOperationAtOnce)
{
    device.refuseOpen = true;
    const Error error = sms.reset();
    EXPECT_EQ(error.code, ErrorCode::Runtime);
    EXPECT_EQ(clock.nowMs(), 0);
    EXPECT_TRUE(smsMessages(error).first().text.contains(QStringLiteral("No such file")));
}

TEST_F(SmsExchange, configurationWrittenInBlocksIsReadBackBeforeTheMarkerIsSet)
{
    device.external[0] = 0;
    const QByteArray image = sampleImage();
    ASSERT_TRUE(sms.writeConfiguration(image).ok());

    const auto frames = framesAfterHandshake();
    // select, marker set, marker cleared, 90 blocks, 8 reads back, select, marker set, marker
    // read.
    ASSERT_EQ(frames.size(), 1 + 2 + 90 + 8 + 1 + 1 + 1);
    EXPECT_EQ(frames[1], hex("02fd04020000611984"));
    EXPECT_EQ(frames[2], hex("02fd040200000000fe"));
    EXPECT_EQ(frames[3], smsFrame(0x02, hex("0004") + image.left(20)));
    EXPECT_EQ(frames[3 + 24], smsFrame(0x02, hex("e005") + image.mid(480, 20)));
    EXPECT_EQ(frames[93], smsReadFrame(1024, 255));
    EXPECT_EQ(frames[100], smsReadFrame(2809, 15));
    EXPECT_EQ(frames[102], hex("02fd04020000611984"));
    EXPECT_EQ(frames.last(), hex("02fd0303000002fb"));

    // The bar runs once over blocks and read-back together, then the busy wait.
    QList<qint64> positions;
    for (const auto &r : progress.reports)
        if (r.maximum == 3600)
            positions << r.current;
    ASSERT_FALSE(positions.isEmpty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.last(), 3600);
    EXPECT_TRUE(std::any_of(progress.reports.begin(), progress.reports.end(), [](const auto &r) {
        return r.text == QStringLiteral("Konfiguration im SMS Controller prüfen ... ") &&
               r.current == 1800;
    }));

    QByteArray back;
    ASSERT_TRUE(sms.readConfiguration(&back).ok());
    const auto reads = framesAfterHandshake().mid(frames.size());
    // select, marker, then 7 x 255 and 15 bytes from 1024 on.
    ASSERT_EQ(reads.size(), 2 + 8);
    EXPECT_EQ(reads[2], smsReadFrame(1024, 255));
    EXPECT_EQ(reads[3], smsReadFrame(1279, 255));
    EXPECT_EQ(reads[9], smsReadFrame(2809, 15));
}

TEST_F(SmsExchange, aBlockTheDeviceLostIsFoundByTheReadBackAndTheMarkerStaysUnset)
{
    const struct {
        int lostAt;
        const char *configurations;
        const char *address;
    } cases[] = {
        {0x0400, "1", "0x0400"},
        {0x05E0, "9", "0x05E0"},
        {0x0400 + 1780, "30", "0x0AF4"},
    };
    const QByteArray image = sampleImage();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.address);
        device.external.fill('\0');
        device.failures.loseWriteAt = c.lostAt;
        const Error error = sms.writeConfiguration(image);
        EXPECT_EQ(error.code, ErrorCode::SmsReadBackDiffers);
        EXPECT_EQ(error.detail, QString::fromLatin1(c.configurations));
        EXPECT_EQ(error.extra, QString::fromLatin1(c.address));
        EXPECT_EQ(resultCode(error), QStringLiteral("-1"));
        EXPECT_EQ(device.external.left(2), hex("0000")) << "never marked valid";
    }
}

// Answers no SMS controller gives: the exchange ends at once with what came in capped.
TEST_F(SmsExchange, aPeerThatStreamsIsCutOffLongBeforeTheDeadline)
{
    const struct {
        const char *what;
        bool mute;
        int floodPerLook;
    } cases[] = {
        {"noise instead of an answer, over two looks", true, 40 * 1024},
        {"an answer drowned in noise at the first look", false, 100 * 1024},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        device.failures.mute = c.mute;
        device.floodPerLook = c.floodPerLook;
        device.bytesTaken = 0;
        const qint64 start = clock.nowMs();
        QByteArray image;
        const Error error = sms.readConfiguration(&image);
        EXPECT_EQ(error.code, ErrorCode::ReceiveOverflow);
        EXPECT_EQ(error.detail, QString::number(kReceiveLimit + 1));
        EXPECT_EQ(device.bytesTaken, kReceiveLimit + 1) << "nothing is read beyond the limit";
        EXPECT_LT(clock.nowMs() - start, 1000) << "not at the 5 s deadline";
        EXPECT_FALSE(device.isOpen()) << "the rest of the flood goes with the port";
        const auto boxes = smsMessages(error);
        ASSERT_EQ(boxes.size(), 1);
        EXPECT_TRUE(boxes[0].text.endsWith(QString::number(kReceiveLimit + 1)));
    }
}

TEST_F(SmsExchange, aWriteCutShortLeavesTheMarkerUnsetAndTheNextReadLoadsWhatArrived)
{
    device.failures.muteAfterWrites = 2 + 40; // both marker writes, then 40 of the 90 blocks
    const QByteArray image = sampleImage();
    const Error error = sms.writeConfiguration(image);
    EXPECT_EQ(error.code, ErrorCode::SmsWriteIncomplete);
    EXPECT_EQ(error.cause, ErrorCode::SmsNoAnswer);
    EXPECT_EQ(device.external.left(2), hex("0000"));
    const auto boxes = smsMessages(error);
    ASSERT_EQ(boxes.size(), 4);
    EXPECT_EQ(boxes[2].text, QStringLiteral("Konfiguration nicht komplett übertragen !"));
    EXPECT_EQ(boxes[3].title, QStringLiteral("Übertragung wiederholen "));

    device.failures.mute = false;
    device.failures.muteAfterWrites = -1;
    const struct {
        QByteArray marker;
        bool marked;
    } cases[] = {{hex("0000"), false}, {hex("6118"), false}, {hex("6119"), true}};
    for (const auto &c : cases) {
        device.external.replace(0, 2, c.marker);
        QByteArray back;
        bool marked = !c.marked;
        ASSERT_TRUE(sms.readConfiguration(&back, &marked).ok()) << c.marker.toHex().data();
        EXPECT_EQ(marked, c.marked) << c.marker.toHex().data();
        EXPECT_EQ(back.left(40 * 20), image.left(40 * 20)) << "the blocks that arrived";
        EXPECT_EQ(back.mid(40 * 20), QByteArray(1000, '\0')) << "the rest as it was";
    }
}

TEST_F(SmsExchange, resetShowsWhatItDoes)
{
    ASSERT_TRUE(sms.reset().ok());
    EXPECT_EQ(progress.reports.first().text, QStringLiteral("Reset SMS controller"));
}

} // namespace
