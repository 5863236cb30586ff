// Read exchanges of the real link code against the emulator; stored measurement records, which
// appear at the storage interval, carry scaled values, follow a values file that forces a
// sensor's reading, and keep the controller's wall-clock time through summer-time changes.

#include "support/loopback.h"
#include "support/sim_process.h"

#include "link/encodings.h"

#include <gtest/gtest.h>

#include <QSet>

namespace
{

// Over a pseudo-terminal, the serial path: every other emulator test reads over TCP.
class SimReads : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // A fast clock so that stored records are there at once.
        ASSERT_TRUE(m_sim.launch({"--pty", "--no-tcp", "--speed", "200", "--seed", "7"}));
    }

    SimRead read(const QString &command)
    {
        const SimRead r = readFromController(m_sim.ptyLink(), command);
        EXPECT_EQ(r.error, Error()) << command.toStdString() << " failed; emulator log:\n"
                                    << m_sim.log().toStdString();
        return r;
    }

    SimProcess m_sim;
};

TEST_F(SimReads, programVersionAndCalibrationImagesDescribeTheFittedController)
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

    const SimRead version = read(QStringLiteral("DX"));
    ASSERT_EQ(version.payload.size(), 10);
    EXPECT_FLOAT_EQ(HexSingleGet(version.payload, 0), 2.20f);
    EXPECT_EQ(HexByteGet(version.payload, 4), 5);

    const SimRead k = read(QStringLiteral("DK"));
    ASSERT_EQ(k.payload.size(), 672);
    EXPECT_TRUE(isHexText(k.payload));
    QList<int> types;
    for (int s = 0; s < 8; ++s)
        types << HexByteGet(k.payload, s * 42);
    EXPECT_EQ(types, (QList<int>{2, 1, 3, 4, 6, 0, 0, 0}));
    // Current values are where a reef tank keeps them.
    EXPECT_NEAR(HexSingleGet(k.payload, 0 * 42 + 2), 25.0, 1.5);
    EXPECT_NEAR(HexSingleGet(k.payload, 1 * 42 + 2), 7.8, 0.3);
}

constexpr int kWaitForRecordsMs = 8000;

class SimRecords : public ::testing::Test
{
protected:
    void startSim(const QStringList &arguments, const QStringList &environment = {})
    {
        ASSERT_TRUE(m_sim.launch(arguments, environment));
    }

    // Downloads and acknowledges everything stored so far, as the PC's polling does.
    QList<SimRecord> download()
    {
        QList<SimRecord> records;
        const SimRead r = readFromController(m_sim.tcpLink(), QStringLiteral("DO"));
        EXPECT_EQ(r.error, Error()) << m_sim.log().toStdString();
        EXPECT_TRUE(decodeRecords(r.payload, &records)) << r.payload.left(40).toStdString();
        if (!records.isEmpty()) {
            EXPECT_EQ(readFromController(m_sim.tcpLink(), QStringLiteral("DL")).error, Error());
        }
        return records;
    }

    // Downloads until a record of the sensor satisfies the predicate; returns the records of
    // that sensor from then on in the same download.
    template <typename Pred> QList<SimRecord> downloadUntil(int sensor, Pred pred)
    {
        QList<SimRecord> tail;
        const bool found = pollUntil(
            [&] {
                for (const SimRecord &r : download())
                    if (r.sensor == sensor && (!tail.isEmpty() || pred(r)))
                        tail << r;
                return !tail.isEmpty();
            },
            kWaitForRecordsMs, 0);
        EXPECT_TRUE(found) << "no matching record of sensor " << sensor << "; log:\n"
                           << m_sim.log().toStdString();
        return tail;
    }

    void writeValues(const QByteArray &text) { ASSERT_TRUE(writeTestFile(m_valuesPath, text)); }

    SimProcess m_sim;
    QString m_valuesPath = m_sim.scratchPath(QStringLiteral("values.txt"));
};

TEST_F(SimRecords, fasterClockStoresOneRecordPerFittedSensorAndInterval)
{
    // Ten-second interval at 100 times speed: an interval every 100 ms.
    startSim({"--speed", "100", "--interval", "10"});
    // Acknowledged records must not come back: a repeat would break the order and the count
    // per instant below.
    QList<SimRecord> records;
    pollUntil([&] { return (records += download()).size() >= 10; }, kWaitForRecordsMs, 0);
    ASSERT_GE(records.size(), 10) << m_sim.log().toStdString();

    for (int i = 0; i + 1 < records.size(); ++i)
        EXPECT_LE(records[i].when, records[i + 1].when) << "records come oldest first";
    for (const SimRecord &r : records) {
        ASSERT_GE(r.sensor, 1);
        ASSERT_LE(r.sensor, 5) << "sensors 6 to 8 are not fitted";
        EXPECT_EQ(r.when.time().second() % 10, 0) << "stored on the interval";
        if (r.sensor == 1) // temperature, x10
            EXPECT_NEAR(r.word, 250, 10);
        else if (r.sensor == 2) // pH, x100
            EXPECT_NEAR(r.word, 780, 15);
        else
            EXPECT_GT(r.word, 0);
    }
    // Each storage instant carries one record for each of the five sensors.
    const QDateTime instant = records[records.size() / 2].when;
    int atInstant = 0;
    for (const SimRecord &r : records)
        atInstant += r.when == instant ? 1 : 0;
    EXPECT_EQ(atInstant, 5);
}

TEST_F(SimRecords, controllerClockRunsStraightThroughTheHoursSummerTimeSkipsAndRepeats)
{
    // Just before the hour Berlin's clocks skip in spring and repeat in autumn; wall-clock
    // times carried in UTC, so the test's own time zone cannot move them.
    for (const QDateTime &clock : {QDateTime(QDate(2026, 3, 29), QTime(1, 59, 30), Qt::UTC),
                                   QDateTime(QDate(2026, 10, 25), QTime(2, 59, 30), Qt::UTC)}) {
        const std::string start = clock.toString(Qt::ISODate).toStdString();
        startSim({"--clock", clock.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), "--speed", "60",
                  "--interval", "10"},
                 {"TZ=Europe/Berlin"});
        QList<QDateTime> instants;
        pollUntil(
            [&] {
                for (const SimRecord &r : download())
                    if (instants.isEmpty() || instants.last() != r.when)
                        instants << r.when;
                return !instants.isEmpty() && instants.last() >= clock.addSecs(60);
            },
            kWaitForRecordsMs, 0);
        ASSERT_FALSE(instants.isEmpty()) << m_sim.log().toStdString();
        EXPECT_GT(instants.first(), clock) << start;
        EXPECT_LE(instants.first(), clock.addSecs(20)) << start;
        EXPECT_GE(instants.last(), clock.addSecs(60)) << start;
        for (int i = 0; i + 1 < instants.size(); ++i)
            ASSERT_EQ(instants[i].secsTo(instants[i + 1]), 10)
                << start << ": " << instants[i].toString(Qt::ISODate).toStdString();
        m_sim.stop();
    }
}

TEST_F(SimRecords, forcedValueIsCarriedScaledByTheNextRecords)
{
    writeValues("# nothing forced yet\n");
    startSim({"--speed", "100", "--interval", "10", "--values", m_valuesPath});
    download();

    writeValues("2=7.95\n1=-1.5\n");
    const QList<SimRecord> ph = downloadUntil(2, [](const SimRecord &r) { return r.word == 795; });
    for (const SimRecord &r : ph)
        EXPECT_EQ(r.word, 795) << "once forced, the value stays";
    const QList<SimRecord> temperature =
        downloadUntil(1, [](const SimRecord &r) { return r.word == -15; });
    EXPECT_FALSE(temperature.isEmpty()) << "a negative value is stored as its two's complement";

    // The forced value is also the sensor's current value in the calibration image.
    const SimRead k = readFromController(m_sim.tcpLink(), QStringLiteral("DK"));
    ASSERT_EQ(k.error, Error());
    EXPECT_FLOAT_EQ(HexSingleGet(k.payload, 1 * 42 + 2), 7.95f);

    // Moving it across the upper alarm limit (8.40) shows in the regulation status.
    writeValues("2=8.51\n");
    const QList<SimRecord> high =
        downloadUntil(2, [](const SimRecord &r) { return r.word == 851; });
    ASSERT_FALSE(high.isEmpty());
    EXPECT_TRUE(high.first().status & 0x20) << "upper alarm bit";

    // Without the line the tank takes over again.
    writeValues("");
    const QList<SimRecord> natural =
        downloadUntil(2, [](const SimRecord &r) { return r.word != 851; });
    ASSERT_FALSE(natural.isEmpty());
    EXPECT_NEAR(natural.last().word, 780, 15);
}

} // namespace
