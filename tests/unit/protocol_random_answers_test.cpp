// Thousands of generated answers, healthy and broken, through the read exchange: it must
// always end within its deadline and hand out a payload only when the checksum is right.

#include "link/protocol.h"
#include "support/fake_transport.h"

#include <gtest/gtest.h>

#include <random>

namespace
{

const QByteArray kStart = "Stored Data";
const QByteArray kEnd = "End Data";
const QByteArray kCheck = "CheckSum";
// Six seconds, plus the line time a stored-data answer may be granted at 9600 baud (at most
// that of a program image, about 5.9 s, whatever count a garbled answer announces), plus the
// longest single wait that can straddle the end (a half-second poll).
constexpr qint64 kLatestEndMs = 6000 + 5938 + 500;

// Answers built from a seeded generator, so a failing round can be replayed.
class AnswerGenerator
{
public:
    explicit AnswerGenerator(quint32 seed) : m_rng(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }
    bool chance(int percent) { return below(100) < percent; }
    char hexDigit() { return "0123456789ABCDEF"[below(16)]; }

    QByteArray junk(int length)
    {
        static const QByteArray pieces[] = {"\r\n", "End Data", "CheckSum", "Stored",
                                            "Data", "0A",       "\xff",     QByteArray(1, '\0')};
        QByteArray text;
        while (text.size() < length)
            text += chance(30) ? pieces[below(8)] : QByteArray(1, static_cast<char>(below(256)));
        return text;
    }

    // A record count and that many 24-digit records, now and then with a line break.
    QByteArray payload()
    {
        QByteArray p = QByteArray::number(below(5), 16).rightJustified(4, '0');
        for (int n = 24 * below(5); n > 0; --n)
            p += hexDigit();
        if (chance(10))
            p.insert(below(int(p.size()) + 1), "\r\n");
        return p;
    }

    // One change that may or may not spoil the answer: truncate, replace, drop or insert a
    // character, insert a stray marker, lower the case, or change one hex digit.
    void mutate(QByteArray &answer)
    {
        if (answer.isEmpty())
            return;
        const int at = below(int(answer.size()));
        switch (below(7)) {
        case 0:
            answer.truncate(at);
            break;
        case 1:
            answer[at] = static_cast<char>(below(256));
            break;
        case 2:
            answer.remove(at, 1);
            break;
        case 3:
            answer.insert(at, static_cast<char>(below(256)));
            break;
        case 4:
            answer.insert(at, chance(50) ? kEnd : kCheck);
            break;
        case 5:
            answer = answer.toLower();
            break;
        case 6:
            if (std::isxdigit(static_cast<unsigned char>(answer[at])))
                answer[at] = hexDigit();
            break;
        }
    }

private:
    std::mt19937 m_rng;
};

// True when answer holds start + payload + end, later followed by a checksum marker whose
// two preceding characters are the checksum of payload (in either case).
bool carriesValidFrame(const QByteArray &answer, const QByteArray &payload)
{
    const int sum = wireSum(payload);
    const QByteArray framed = kStart + payload + kEnd;
    for (qsizetype at = answer.indexOf(framed); at >= 0; at = answer.indexOf(framed, at + 1)) {
        const qsizetype after = at + framed.size();
        for (qsizetype check = answer.indexOf(kCheck, after); check >= 0;
             check = answer.indexOf(kCheck, check + 1)) {
            bool ok = false;
            if (check - after >= 2 && answer.mid(check - 2, 2).toInt(&ok, 16) == sum && ok &&
                std::isxdigit(static_cast<unsigned char>(answer[check - 2])) &&
                std::isxdigit(static_cast<unsigned char>(answer[check - 1])))
                return true;
        }
    }
    return false;
}

TEST(RandomAnswers, readAlwaysEndsInTimeAndOnlyAcceptsCorrectChecksums)
{
    AnswerGenerator gen(20240611);
    const QList<ErrorCode> knownErrors = {ErrorCode::Timeout, ErrorCode::Communication,
                                          ErrorCode::NoLinkReceive};
    int accepted = 0;
    int intact = 0;
    constexpr int kRounds = 3000;

    for (int round = 0; round < kRounds; ++round) {
        const QByteArray payload = gen.payload();
        const QByteArray prefix = gen.chance(40) ? gen.junk(gen.below(40)) : QByteArray();
        QByteArray answer = prefix + framedAnswer(kStart, payload, kEnd, 0, gen.chance(20)) +
                            (gen.chance(30) ? gen.junk(gen.below(10)) : QByteArray());
        const int mutations = gen.chance(35) ? 0 : 1 + gen.below(3);
        for (int m = 0; m < mutations; ++m)
            gen.mutate(answer);

        FakeLink fake(round + 1);
        fake.controller.setRawAnswer("DO", answer);
        QList<int> pieces;
        for (int n = gen.below(6); n > 0; --n)
            pieces << 1 + gen.below(40);
        const int pauseMs = gen.chance(50) ? 0 : gen.below(1200);
        fake.controller.splitAnswerAt(pieces, pauseMs);
        const int delayMs = gen.chance(80) ? 0 : gen.below(7000);
        fake.controller.setAnswerDelayMs(delayMs);
        const bool drop = gen.chance(5);
        fake.controller.dropMidAnswer(drop);
        const bool serial = gen.chance(30);

        NoProgress progress;
        ProtocolContext ctx{*fake.link, fake.clock, progress,
                            serial ? LinkParams{true, "/dev/ttyFAKE0", "9600,n,8,1"}
                                   : LinkParams{false, "ctl.example", "4001"}};
        QString result = "stale";
        const Error error = get_Meta_Data(ctx, "DO", "Stored Data", "End Data", "CheckSum", result,
                                          0, "download", gen.chance(50));

        SCOPED_TRACE(QStringLiteral("round %1, answer %2")
                         .arg(round)
                         .arg(QString::fromLatin1(answer.toHex()))
                         .toStdString());
        ASSERT_LE(fake.clock.nowMs(), kLatestEndMs);
        ASSERT_EQ(fake.controller.closes(), 1) << "the link is closed on every outcome";
        if (error.ok()) {
            ++accepted;
            ASSERT_TRUE(carriesValidFrame(answer, result.toLatin1()))
                << "accepted a payload without a matching checksum: " << result.toStdString();
        } else {
            ASSERT_TRUE(knownErrors.contains(error.code)) << errorText(error).toStdString();
            ASSERT_TRUE(result.isEmpty());
        }

        // An untouched answer that arrives in a few quick pieces must be accepted, unless a
        // checksum marker in the leading junk ends the wait before the frame is complete.
        const bool mustSucceed = mutations == 0 && !drop && delayMs == 0 && pauseMs == 0 &&
                                 !prefix.contains(kStart) &&
                                 (pieces.isEmpty() || !prefix.contains(kCheck));
        if (mustSucceed) {
            ++intact;
            ASSERT_EQ(error, Error());
            ASSERT_EQ(result.toLatin1(), payload);
        }
    }
    // The generator must reach both sides; a test that only ever sees errors proves little.
    EXPECT_GT(accepted, kRounds / 10);
    EXPECT_LT(accepted, kRounds * 9 / 10);
    EXPECT_GT(intact, kRounds / 10);
}

} // namespace
