// The emulator's failure modes against the real link code: each must end in the result the
// PC side promises (success, or its error text) and never in a hang.

#include "support/sim_process.h"

#include "link/encodings.h"

#include <gtest/gtest.h>

namespace
{

class SimFailureModes : public ::testing::Test
{
protected:
    void startSim(const QStringList &arguments)
    {
        QString error;
        ASSERT_TRUE(m_sim.start(arguments, &error)) << error.toStdString();
    }
    std::string log() const { return m_sim.log().toStdString(); }

    SimProcess m_sim;
};

TEST_F(SimFailureModes, answerToTheThirdBurstIsStillAccepted)
{
    startSim({"--answer-after", "3"});
    const SimRead r = readFromController(m_sim.tcpLink(), QStringLiteral("DX"));
    EXPECT_EQ(r.error, QString()) << log();
    EXPECT_EQ(r.payload.size(), 10);
    EXPECT_TRUE(m_sim.log().contains(QLatin1String("DX burst 2 ignored"))) << log();
}

TEST_F(SimFailureModes, answerSplitIntoPausedPiecesIsAssembled)
{
    startSim({"--split", "5:400"});
    const SimRead r = readFromController(m_sim.tcpLink(), QStringLiteral("DN"));
    EXPECT_EQ(r.error, QString()) << log();
    EXPECT_EQ(r.payload.size(), 5630);
}

TEST_F(SimFailureModes, wrongChecksumIsACommunicationError)
{
    startSim({"--bad-checksum"});
    const SimRead r = readFromController(m_sim.tcpLink(), QStringLiteral("DK"));
    EXPECT_EQ(r.error, QStringLiteral("Fehler bei der Kommunikation mit dem Tarvelon")) << log();
    EXPECT_EQ(r.payload, QString());
}

TEST_F(SimFailureModes, connectionDroppedMidAnswerEndsInAnErrorWithoutWaitingOut)
{
    startSim({"--drop-mid-answer"});
    const SimRead r = readFromController(m_sim.tcpLink(), QStringLiteral("DN"));
    EXPECT_NE(r.error, QString());
    EXPECT_NE(r.error, QStringLiteral("Verbindungszeitlimit überschritten !"))
        << "a closed connection must end the exchange before its deadline";
    EXPECT_EQ(r.payload, QString());
}

TEST_F(SimFailureModes, muteControllerTimesOutAfterSixSeconds)
{
    startSim({"--mute"});
    const SimRead r = readFromController(m_sim.tcpLink(), QStringLiteral("DX"));
    EXPECT_EQ(r.error, QStringLiteral("Verbindungszeitlimit überschritten !"));
    EXPECT_GE(r.elapsedMs, 5900);
    EXPECT_LT(r.elapsedMs, 9000) << "the read deadline is 6 seconds";
}

TEST_F(SimFailureModes, pacedAnswerArrivesNoFasterThanTheLineAllows)
{
    startSim({"--pace-9600"});
    const SimRead r = readFromController(m_sim.tcpLink(), QStringLiteral("DK"));
    EXPECT_EQ(r.error, QString()) << log();
    EXPECT_EQ(r.payload.size(), 672);
    // About 700 characters at 960 per second.
    EXPECT_GE(r.elapsedMs, 650);
}

TEST_F(SimFailureModes, wrongWriteChecksumIsATransferErrorAndNothingIsStored)
{
    startSim({"--bad-write-checksum"});
    const SimRead before = readFromController(m_sim.tcpLink(), QStringLiteral("DK"));
    ASSERT_EQ(before.error, QString()) << log();
    const QString changed = HexSinglePut(before.payload, 1 * 42 + 10, 61.5f);

    EXPECT_EQ(writeToController(m_sim.tcpLink(), QStringLiteral("DI"), changed),
              QStringLiteral("Fehler bei der Datenübertragung zum Tarvelon !"))
        << log();

    const SimRead after = readFromController(m_sim.tcpLink(), QStringLiteral("DK"));
    ASSERT_EQ(after.error, QString());
    EXPECT_FLOAT_EQ(HexSingleGet(after.payload, 1 * 42 + 10),
                    HexSingleGet(before.payload, 1 * 42 + 10));
}

TEST_F(SimFailureModes, oldFirmwareReportsItsVersion)
{
    startSim({"--version", "2.19R23"});
    const SimRead r = readFromController(m_sim.tcpLink(), QStringLiteral("DX"));
    ASSERT_EQ(r.error, QString()) << log();
    EXPECT_FLOAT_EQ(HexSingleGet(r.payload, 0), 2.19f);
    EXPECT_EQ(HexByteGet(r.payload, 4), 23);
}

TEST_F(SimFailureModes, controllerWithoutIdentifierHasIdentifierWordZero)
{
    startSim({"--id", "0"});
    const SimRead r = readFromController(m_sim.tcpLink(), QStringLiteral("DN"));
    ASSERT_EQ(r.error, QString()) << log();
    EXPECT_EQ(HexWordGet(r.payload, 13), 0);
}

} // namespace
