// Program and calibration writes: stored by the emulator, kept in its state file, and read
// back after a restart. A program write over the link takes over a minute (12 ms per
// character), so the suite holds exactly one.

#include "support/sim_process.h"

#include "link/encodings.h"

#include <gtest/gtest.h>

#include <QFile>

namespace
{

// Bytes the controller rewrites on every read: its clock (1-8), day of week (68) and next
// storage time (75-78).
QString withoutClockFields(QString image)
{
    const auto blank = [&image](int pos, int bytes) {
        image.replace(pos * 2, bytes * 2, QString(bytes * 2, QLatin1Char('-')));
    };
    blank(1, 8);
    blank(68, 1);
    blank(75, 4);
    return image;
}

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
        QString error;
        ASSERT_TRUE(m_sim.start(QStringList{"--state", m_statePath} + extra, &error))
            << error.toStdString();
    }
    void restartSim(const QStringList &extra)
    {
        ASSERT_TRUE(m_sim.stop()) << "the emulator did not exit cleanly; log:\n"
                                  << m_sim.log().toStdString();
        startSim(extra);
    }
    std::string log() const { return m_sim.log().toStdString(); }

    SimProcess m_sim;
    QString m_statePath;
};

TEST_F(SimWrites, programWriteOverTcpIsStoredAndSurvivesARestart)
{
    startSim({});
    const SimRead before = readFromController(m_sim.tcpLink(), QStringLiteral("DN"));
    ASSERT_EQ(before.error, QString()) << log();

    // A new pH set point, a new identifier and a 30-second storage interval.
    QString program = HexSinglePut(before.payload, 102 + 144 + 3, 8.15f);
    program = HexWordPut(program, 13, 4321);
    program = HexTimePut(program, 71, QTime(0, 0, 30));
    ASSERT_NE(program, before.payload);

    ASSERT_EQ(writeToController(m_sim.tcpLink(), QStringLiteral("DB"), program), QString())
        << log();
    EXPECT_TRUE(m_sim.log().contains(QLatin1String("program stored"))) << log();

    restartSim({});
    const SimRead after = readFromController(m_sim.tcpLink(), QStringLiteral("DN"));
    ASSERT_EQ(after.error, QString()) << log();
    EXPECT_EQ(withoutClockFields(after.payload), withoutClockFields(program));
    EXPECT_EQ(HexWordGet(after.payload, 13), 4321);
}

TEST_F(SimWrites, calibrationWriteOverThePtyIsStoredAndSurvivesARestart)
{
    startSim({"--pty", "--no-tcp"});
    const SimRead before = readFromController(m_sim.ptyLink(), QStringLiteral("DK"));
    ASSERT_EQ(before.error, QString()) << log();

    // A new slope and offset for the pH sensor, and a temperature sensor on connector 6.
    QString calibration = HexSinglePut(before.payload, 1 * 42 + 10, 57.25f);
    calibration = HexSinglePut(calibration, 1 * 42 + 14, -2.5f);
    calibration = HexBytePut(calibration, 5 * 42, 2);

    ASSERT_EQ(writeToController(m_sim.ptyLink(), QStringLiteral("DI"), calibration), QString())
        << log();

    restartSim({"--pty", "--no-tcp"});
    const SimRead after = readFromController(m_sim.ptyLink(), QStringLiteral("DK"));
    ASSERT_EQ(after.error, QString()) << log();
    EXPECT_EQ(withoutCurrentValues(after.payload), withoutCurrentValues(calibration));
    EXPECT_FLOAT_EQ(HexSingleGet(after.payload, 1 * 42 + 10), 57.25f);
}

TEST_F(SimWrites, calibrationWriteOverTcpSurvivesTheCommandRepeats)
{
    // Over TCP the command goes out as "DIDI..." and, with answers held back, several
    // bursts arrive; all of them are hex digits like the data that follows.
    startSim({"--answer-after", "2"});
    const SimRead before = readFromController(m_sim.tcpLink(), QStringLiteral("DK"));
    ASSERT_EQ(before.error, QString()) << log();
    const QString calibration = HexSinglePut(before.payload, 3 * 42 + 10, 0.91f);

    ASSERT_EQ(writeToController(m_sim.tcpLink(), QStringLiteral("DI"), calibration), QString())
        << log();

    const SimRead after = readFromController(m_sim.tcpLink(), QStringLiteral("DK"));
    ASSERT_EQ(after.error, QString()) << log();
    EXPECT_EQ(withoutCurrentValues(after.payload), withoutCurrentValues(calibration));
}

TEST_F(SimWrites, unreadableStateFileStopsTheEmulatorInsteadOfBeingOverwritten)
{
    {
        QFile file(m_statePath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("{ not json");
    }
    QString error;
    EXPECT_FALSE(m_sim.start({"--state", m_statePath}, &error));
    QFile file(m_statePath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("{ not json"));
}

} // namespace
