// Read exchanges of the real link code against the emulator, over loopback TCP and over a
// pseudo-terminal.

#include "support/sim_process.h"

#include "link/encodings.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSet>

#include <ostream>

namespace
{

enum class Via { Tcp, Pty };

void PrintTo(Via via, std::ostream *out)
{
    *out << (via == Via::Tcp ? "tcp" : "pty");
}

class SimReads : public ::testing::TestWithParam<Via>
{
protected:
    void SetUp() override
    {
        QString error;
        // A fast clock so that stored records are there at once.
        ASSERT_TRUE(m_sim.start({"--pty", "--speed", "200", "--seed", "7"}, &error))
            << error.toStdString();
    }

    LinkParams link() const { return GetParam() == Via::Tcp ? m_sim.tcpLink() : m_sim.ptyLink(); }

    SimRead read(const QString &command)
    {
        const SimRead r = readFromController(link(), command);
        EXPECT_EQ(r.error, QString()) << command.toStdString() << " failed; emulator log:\n"
                                      << m_sim.log().toStdString();
        return r;
    }

    SimProcess m_sim;
};

bool isHexText(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9A-F]*$"));
    return hex.match(text).hasMatch();
}

TEST_P(SimReads, versionIsTwoPointTwentyReleaseFive)
{
    const SimRead r = read(QStringLiteral("DX"));
    ASSERT_EQ(r.payload.size(), 10);
    EXPECT_FLOAT_EQ(HexSingleGet(r.payload, 0), 2.20f);
    EXPECT_EQ(HexByteGet(r.payload, 4), 5);
}

TEST_P(SimReads, programImageHasItsFullLengthAndIdentifier)
{
    const SimRead r = read(QStringLiteral("DN"));
    ASSERT_EQ(r.payload.size(), 5630);
    EXPECT_TRUE(isHexText(r.payload));
    EXPECT_EQ(HexWordGet(r.payload, 13), 1234);
    // Storage interval of 10 s as a time of day.
    EXPECT_EQ(HexTimeGet(r.payload, 71), QTime(0, 0, 10));
    // The heating regulation of the temperature sensor raises, with sensible alarm limits
    // around its set point and socket 1, a switchable one.
    const int reg = 102;
    EXPECT_EQ(HexByteGet(r.payload, reg + 1), 2);
    const float setPoint = HexSingleGet(r.payload, reg + 3);
    EXPECT_LT(HexSingleGet(r.payload, reg + 19), setPoint);
    EXPECT_GT(HexSingleGet(r.payload, reg + 23), setPoint);
    const int socket = HexByteGet(r.payload, reg + 35);
    ASSERT_GE(socket, 1);
    EXPECT_EQ(HexByteGet(r.payload, 2703 + (socket - 1) * 7), 1);
    QSet<int> kinds;
    for (int s = 1; s <= 16; ++s)
        kinds.insert(HexByteGet(r.payload, 2703 + (s - 1) * 7));
    EXPECT_EQ(kinds, (QSet<int>{0, 1, 2})) << "sockets of every kind are fitted";
}

TEST_P(SimReads, calibrationImageListsTheFittedSensors)
{
    const SimRead r = read(QStringLiteral("DK"));
    ASSERT_EQ(r.payload.size(), 672);
    EXPECT_TRUE(isHexText(r.payload));
    QList<int> types;
    for (int s = 0; s < 8; ++s)
        types << HexByteGet(r.payload, s * 42);
    EXPECT_EQ(types, (QList<int>{2, 1, 3, 4, 6, 0, 0, 0}));
    // Current values are where a reef tank keeps them.
    EXPECT_NEAR(HexSingleGet(r.payload, 0 * 42 + 2), 25.0, 1.5);
    EXPECT_NEAR(HexSingleGet(r.payload, 1 * 42 + 2), 7.8, 0.3);
}

TEST_P(SimReads, storedRecordsLeaveOnlyWhenAcknowledged)
{
    QList<SimRecord> first;
    for (int attempt = 0; attempt < 10 && first.isEmpty(); ++attempt)
        ASSERT_TRUE(decodeRecords(read(QStringLiteral("DO")).payload, &first));
    ASSERT_FALSE(first.isEmpty()) << "no records stored; log:\n" << m_sim.log().toStdString();

    // Without an acknowledgement the same records come again.
    QList<SimRecord> again;
    ASSERT_TRUE(decodeRecords(read(QStringLiteral("DO")).payload, &again));
    ASSERT_GE(again.size(), first.size());
    EXPECT_EQ(again.first().when, first.first().when);
    EXPECT_EQ(again.first().sensor, first.first().sensor);

    read(QStringLiteral("DL"));
    QList<SimRecord> after;
    ASSERT_TRUE(decodeRecords(read(QStringLiteral("DO")).payload, &after));
    QSet<QString> seen;
    for (const SimRecord &r : again)
        seen.insert(QStringLiteral("%1@%2").arg(r.sensor).arg(r.when.toString(Qt::ISODate)));
    for (const SimRecord &r : after) {
        EXPECT_GE(r.when, first.last().when);
        EXPECT_FALSE(
            seen.contains(QStringLiteral("%1@%2").arg(r.sensor).arg(r.when.toString(Qt::ISODate))))
            << "a record acknowledged with DL came back";
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, SimReads, ::testing::Values(Via::Tcp, Via::Pty),
                         [](const auto &info) {
                             return info.param == Via::Tcp ? std::string("Tcp")
                                                           : std::string("Pty");
                         });

} // namespace
