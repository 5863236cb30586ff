// Calibration writes: stored by the emulator, kept in its state file and read back after a
// restart, or refused with a wrong checksum. Program writes (over a minute each at 12 ms per
// character) are proved end to end by ostracom-cli program; the state file they go through is the
// same.

#include "support/sim_process.h"

#include "link/encodings.h"

#include <gtest/gtest.h>

#include <QFile>

namespace
{

// Measured values change with every stored record: CurVal and CurAlt1Val of each sensor.
QString withoutCurrentValues(QString image)
{
    for (int s = 0; s < 8; ++s)
        image.replace((s * 42 + 2) * 2, 16, QString(16, QLatin1Char('-')));
    return image;
}

class SimWrites : public ::testing::Test
{
protected:
    void SetUp() override { m_statePath = m_sim.scratchPath(QStringLiteral("state.json")); }

    void startSim(const QStringList &extra)
    {
        ASSERT_TRUE(m_sim.launch(QStringList{"--state", m_statePath} + extra));
    }
    std::string log() const { return m_sim.log().toStdString(); }

    SimProcess m_sim;
    QString m_statePath;
};

TEST_F(SimWrites, calibrationWriteOverThePtyIsStoredAndSurvivesARestart)
{
    startSim({"--pty", "--no-tcp"});
    const SimRead before = readFromController(m_sim.ptyLink(), QStringLiteral("DK"));
    ASSERT_EQ(before.error, Error()) << log();

    // A new slope and offset for the pH sensor, and a temperature sensor on connector 6.
    QString calibration = HexSinglePut(before.payload, 1 * 42 + 10, 57.25f);
    calibration = HexSinglePut(calibration, 1 * 42 + 14, -2.5f);
    calibration = HexBytePut(calibration, 5 * 42, 2);

    ASSERT_EQ(writeToController(m_sim.ptyLink(), QStringLiteral("DI"), calibration), Error())
        << log();

    ASSERT_TRUE(m_sim.stop()) << "the emulator did not exit cleanly; log:\n" << log();
    startSim({"--pty", "--no-tcp"});
    const SimRead after = readFromController(m_sim.ptyLink(), QStringLiteral("DK"));
    ASSERT_EQ(after.error, Error()) << log();
    EXPECT_EQ(withoutCurrentValues(after.payload), withoutCurrentValues(calibration));
    EXPECT_FLOAT_EQ(HexSingleGet(after.payload, 1 * 42 + 10), 57.25f);
}

// Over TCP the command goes out as "DIDI..." and, with answers held back, several bursts
// arrive; all of them are hex digits like the data that follows. A write whose checksum the
// controller finds wrong is a transfer error and stores nothing.
TEST_F(SimWrites, calibrationWriteOverTcpSurvivesTheCommandRepeatsOrIsRefusedAsAWhole)
{
    const struct {
        QStringList arguments;
        float slope;
        Error written;
    } cases[] = {{{"--answer-after", "2"}, 0.91f, Error()},
                 {{"--bad-write-checksum"}, 61.5f, Error(ErrorCode::TransferFailed)}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        startSim(c.arguments);
        const SimRead before = readFromController(m_sim.tcpLink(), QStringLiteral("DK"));
        ASSERT_EQ(before.error, Error()) << log();
        const QString calibration = HexSinglePut(before.payload, 3 * 42 + 10, c.slope);

        EXPECT_EQ(writeToController(m_sim.tcpLink(), QStringLiteral("DI"), calibration), c.written)
            << log();

        const SimRead after = readFromController(m_sim.tcpLink(), QStringLiteral("DK"));
        ASSERT_EQ(after.error, Error()) << log();
        EXPECT_EQ(withoutCurrentValues(after.payload),
                  withoutCurrentValues(c.written.ok() ? calibration : before.payload));
        ASSERT_TRUE(m_sim.stop());
    }
}

TEST_F(SimWrites, unreadableStateFileStopsTheEmulatorInsteadOfBeingOverwritten)
{
    ASSERT_TRUE(writeTestFile(m_statePath, "{ not json"));
    EXPECT_FALSE(m_sim.launch({"--state", m_statePath}));
    QFile file(m_statePath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("{ not json"));
}

} // namespace
