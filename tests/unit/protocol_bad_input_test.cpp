#include "link/protocol.h"
#include "support/fake_transport.h"
#include "support/recording_progress.h"

#include <gtest/gtest.h>

namespace
{

const char *const kTimeout = "Verbindungszeitlimit überschritten !";
const char *const kBadChecksum = "Fehler bei der Kommunikation mit dem Tarvelon";

const QByteArray kStart = "Version Data";
const QByteArray kEnd = "End Data";
const QByteArray kPayload = "400CCCCD0500000000";

// Answers that are not what a healthy controller sends; each test script one.
class BadInput : public ::testing::Test
{
protected:
    QString readWithAnswer(const QByteArray &answer, const QList<int> &pieces = {})
    {
        controller.setRawAnswer("DX", answer);
        if (!pieces.isEmpty())
            controller.splitAnswerAt(pieces);
        result = "stale";
        return get_Meta_Data(ctx, "DX", "Version Data", "End Data", "CheckSum", result, 0,
                             QString(), true);
    }

    FakeLink fake;
    FakeController &controller = fake.controller;
    NoProgress progress;
    ProtocolContext ctx{*fake.link, fake.clock, progress, LinkParams{false, "ctl.example", "4001"}};
    QString result;
};

TEST_F(BadInput, garbageBeforeTheStartMarkerIsIgnored)
{
    const QByteArray garbage("\r\n\x00\xff#?Vers\r\n", 12);
    EXPECT_EQ(readWithAnswer(garbage + framedAnswer(kStart, kPayload, kEnd)), QString());
    EXPECT_EQ(result, QString::fromLatin1(kPayload));
}

TEST_F(BadInput, endAndChecksumMarkersInGarbageBeforeTheStartDoNotBreakTheFrame)
{
    const QByteArray garbage = "End Data7FCheckSum End RAM";
    EXPECT_EQ(readWithAnswer(garbage + framedAnswer(kStart, kPayload, kEnd)), QString());
    EXPECT_EQ(result, QString::fromLatin1(kPayload));
}

TEST_F(BadInput, lowerCaseChecksumIsAccepted)
{
    const QByteArray answer = framedAnswer(kStart, kPayload, kEnd, 0, true);
    ASSERT_NE(answer, framedAnswer(kStart, kPayload, kEnd)) << "the checksum must hold a letter";
    EXPECT_EQ(readWithAnswer(answer), QString());
    EXPECT_EQ(result, QString::fromLatin1(kPayload));
}

TEST_F(BadInput, checksumThatIsNotHexIsACommunicationError)
{
    for (const QByteArray digits : {QByteArray("ZZ"), QByteArray("0G"), QByteArray(" 7"),
                                    QByteArray("+7"), QByteArray("\x00\x01", 2)}) {
        SCOPED_TRACE(digits.toHex().constData());
        EXPECT_EQ(readWithAnswer(kStart + kPayload + kEnd + digits + "CheckSum"), kBadChecksum);
        EXPECT_TRUE(result.isEmpty());
    }
}

TEST_F(BadInput, missingEndOrChecksumMarkerRunsIntoTheDeadline)
{
    EXPECT_EQ(readWithAnswer(kStart + kPayload + "C3CheckSum"), kTimeout);
    EXPECT_TRUE(result.isEmpty());
    EXPECT_GT(fake.clock.nowMs(), 6000);
    EXPECT_LE(fake.clock.nowMs(), 6500);

    EXPECT_EQ(readWithAnswer(kStart + kPayload + kEnd + "C3"), kTimeout);
}

TEST_F(BadInput, lineBreaksInsideThePayloadCountTowardsTheChecksum)
{
    const QByteArray payload = "400CCCCD\r\n05000000\n00";
    EXPECT_EQ(readWithAnswer(framedAnswer(kStart, payload, kEnd)), QString());
    EXPECT_EQ(result, QString::fromLatin1(payload)) << "the payload is taken verbatim";

    // The same answer with the checksum of the payload without its line breaks.
    const QByteArray stripped = framedAnswer(kStart, "400CCCCD0500000000", kEnd);
    const QByteArray digits = stripped.mid(stripped.size() - 10, 2);
    EXPECT_EQ(readWithAnswer(kStart + payload + kEnd + digits + "CheckSum"), kBadChecksum);
}

TEST_F(BadInput, answerLongerThanExpectedYieldsEverythingBetweenTheMarkers)
{
    QByteArray image;
    for (int i = 0; i < 3100; ++i)
        image += "A5";
    controller.setPayload("DN", image);
    EXPECT_EQ(
        get_Meta_Data(ctx, "DN", "Data RAM", "End RAM", "CheckSum", result, 5630, "loading", false),
        QString());
    EXPECT_EQ(result.size(), 6200);
}

TEST_F(BadInput, checksumMarkerBeforeTheEndMarkerIsACommunicationError)
{
    EXPECT_EQ(readWithAnswer(kStart + kPayload + "C3CheckSum" + kEnd), kBadChecksum);
    EXPECT_TRUE(result.isEmpty());
}

TEST_F(BadInput, fewerThanTwoCharactersBeforeTheChecksumMarkerIsACommunicationError)
{
    EXPECT_EQ(readWithAnswer(kStart + kEnd + "CheckSum"), kBadChecksum);
    EXPECT_EQ(readWithAnswer(kStart + kEnd + "0CheckSum"), kBadChecksum);
    EXPECT_EQ(readWithAnswer("CheckSum" + kStart + kEnd + "0CheckSum"), kBadChecksum);
}

TEST_F(BadInput, emptyPayloadWithAZeroChecksumIsAValidAnswer)
{
    EXPECT_EQ(readWithAnswer(kStart + kEnd + "00CheckSum"), QString());
    EXPECT_TRUE(result.isEmpty());
}

TEST_F(BadInput, checksumIsTakenRightBeforeItsMarker)
{
    // Noise between the end marker and the digits is tolerated; the digits are the two
    // characters before "CheckSum".
    const QByteArray good = framedAnswer(kStart, kPayload, kEnd);
    const QByteArray digits = good.mid(good.size() - 10, 2);
    EXPECT_EQ(readWithAnswer(kStart + kPayload + kEnd + "\r\n" + digits + "CheckSum\r\n"),
              QString());
    EXPECT_EQ(result, QString::fromLatin1(kPayload));
}

TEST_F(BadInput, startMarkerArrivingOneCharacterAtATimeIsFound)
{
    const QByteArray answer = "\r\n" + framedAnswer(kStart, "0102", kEnd);
    EXPECT_EQ(readWithAnswer(answer, QList<int>(14, 1)), QString());
    EXPECT_EQ(result, "0102");
    EXPECT_EQ(controller.bursts("DX"), 14) << "repeated until the whole start marker is there";
}

TEST_F(BadInput, secondStartMarkerInsideThePayloadBelongsToThePayload)
{
    const QByteArray payload = "01Version Data02";
    EXPECT_EQ(readWithAnswer(framedAnswer(kStart, payload, kEnd)), QString());
    EXPECT_EQ(result, QString::fromLatin1(payload));
}

} // namespace
