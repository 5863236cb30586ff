// Answers that are not what a healthy controller sends, through the read exchange.

#include "link/protocol.h"
#include "support/fake_transport.h"

#include <gtest/gtest.h>

namespace
{

const Error kTimeout(ErrorCode::Timeout);
const Error kBadChecksum(ErrorCode::Communication);

const QByteArray kStart = "Version Data";
const QByteArray kEnd = "End Data";
const QByteArray kPayload = "400CCCCD0500000000";

struct Outcome {
    Error error;
    QString result;
    qint64 elapsedMs;
    int bursts;
};

// One version read from a fresh controller that answers exactly these bytes.
Outcome readAnswer(const QByteArray &answer, const QList<int> &pieces = {})
{
    FakeLink fake;
    fake.controller.setRawAnswer("DX", answer);
    fake.controller.splitAnswerAt(pieces);
    NoProgress progress;
    ProtocolContext ctx{*fake.link, fake.clock, progress, LinkParams{false, "ctl.example", "4001"}};
    Outcome o{Error(), QStringLiteral("stale"), 0, 0};
    o.error = get_Meta_Data(ctx, "DX", "Version Data", "End Data", "CheckSum", o.result, 0,
                            QString(), true);
    o.elapsedMs = fake.clock.nowMs();
    o.bursts = fake.controller.bursts("DX");
    return o;
}

TEST(BadInput, eachMalformedAnswerEndsInItsResult)
{
    const QByteArray good = framedAnswer(kStart, kPayload, kEnd);
    const QByteArray digits = good.mid(good.size() - 10, 2); // the checksum of kPayload
    const QByteArray lowerCase = framedAnswer(kStart, kPayload, kEnd, 0, true);
    ASSERT_NE(lowerCase, good) << "the checksum must hold a letter";
    const QByteArray withBreaks = "400CCCCD\r\n05000000\n00";
    const QByteArray inner = "01Version Data02";

    const struct {
        const char *what;
        QByteArray answer;
        Error error; // none: the payload is accepted
        QByteArray payload;
    } cases[] = {
        {"garbage first", QByteArray("\r\n\x00\xff#?Vers\r\n", 12) + good, {}, kPayload},
        {"end and checksum markers in the garbage",
         "End Data7FCheckSum End RAM" + good,
         {},
         kPayload},
        {"lower-case checksum", lowerCase, {}, kPayload},
        {"noise before the checksum",
         kStart + kPayload + kEnd + "\r\n" + digits + "CheckSum\r\n",
         {},
         kPayload},
        {"start marker inside the payload", framedAnswer(kStart, inner, kEnd), {}, inner},
        {"line breaks in the payload count",
         framedAnswer(kStart, withBreaks, kEnd),
         {},
         withBreaks},
        {"checksum without the line breaks", kStart + withBreaks + kEnd + digits + "CheckSum",
         kBadChecksum, ""},
        {"empty payload", kStart + kEnd + "00CheckSum", {}, ""},
        {"checksum marker before the end marker", kStart + kPayload + "C3CheckSum" + kEnd,
         kBadChecksum, ""},
        {"no checksum digits", kStart + kEnd + "CheckSum", kBadChecksum, ""},
        {"one checksum digit", kStart + kEnd + "0CheckSum", kBadChecksum, ""},
        {"checksum marker first", "CheckSum" + kStart + kEnd + "0CheckSum", kBadChecksum, ""},
        {"checksum ZZ", kStart + kPayload + kEnd + "ZZCheckSum", kBadChecksum, ""},
        {"checksum 0G", kStart + kPayload + kEnd + "0GCheckSum", kBadChecksum, ""},
        {"checksum blank 7", kStart + kPayload + kEnd + " 7CheckSum", kBadChecksum, ""},
        {"checksum +7", kStart + kPayload + kEnd + "+7CheckSum", kBadChecksum, ""},
        {"checksum of control characters",
         kStart + kPayload + kEnd + QByteArray("\x00\x01", 2) + "CheckSum", kBadChecksum, ""},
        {"no end marker", kStart + kPayload + "C3CheckSum", kTimeout, ""},
        {"no checksum marker", kStart + kPayload + kEnd + "C3", kTimeout, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome o = readAnswer(c.answer);
        EXPECT_EQ(o.error, c.error);
        EXPECT_EQ(o.result, QString::fromLatin1(c.payload));
        if (o.error == kBadChecksum) {
            EXPECT_EQ(o.bursts, 1) << "a bad answer is not asked for again";
        }
        if (o.error == kTimeout) {
            EXPECT_GT(o.elapsedMs, 6000);
            EXPECT_LE(o.elapsedMs, 6500);
        }
    }
}

TEST(BadInput, startMarkerArrivingOneCharacterAtATimeIsFound)
{
    const Outcome o = readAnswer("\r\n" + framedAnswer(kStart, "0102", kEnd), QList<int>(14, 1));
    EXPECT_EQ(o.error, Error());
    EXPECT_EQ(o.result, "0102");
    EXPECT_EQ(o.bursts, 14) << "repeated until the whole start marker is there";
}

} // namespace
