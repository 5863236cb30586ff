// Taking a controller into use against the emulator: version, firmware check, program,
// calibration settled with the database, and a new controller's identifier.

#include "support/sim_process.h"
#include "support/temp_db.h"

#include "link/clock.h"
#include "link/encodings.h"
#include "link/hydo_connect.h"
#include "link/progress.h"
#include "model/ctarvelon.h"
#include "model/interaction.h"
#include "store/database.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSqlQuery>

namespace
{

// Answers by script and remembers what was asked and told.
class ScriptedInteraction : public Interaction
{
public:
    Answer clockAnswer = Answer::Ok;
    Answer calibrationAnswer = Answer::Ok;
    QStringList asked;
    QStringList told;

    Answer ask(Question question, const QString &text, const QString &, Buttons buttons,
               Icon) override
    {
        asked << text;
        if (question == Question::CalibrationDiffers)
            return calibrationAnswer;
        if (question == Question::ClockTakeover)
            return clockAnswer;
        return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
    void tell(const QString &text, const QString &title, Icon) override
    {
        told << title + QStringLiteral(": ") + text;
    }
};

constexpr int kSlopeOffset = 10; // within a 42-byte sensor record

class ControllerTransfers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureCoreApplication();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        m_db = std::make_unique<Database>(m_tmp.path());
        m_link = cHydoConnect::createDefault(m_clock);
        m_statePath = m_sim.scratchPath(QStringLiteral("state.json"));
    }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    void startSim(const QStringList &extra = {})
    {
        ASSERT_TRUE(m_sim.launch(QStringList{"--state", m_statePath, "--quiet"} + extra));
    }

    std::unique_ptr<cTarvelon> newController()
    {
        return std::make_unique<cTarvelon>(m_clock, m_progress, m_interaction);
    }

    Outcome connect(cTarvelon &t)
    {
        const LinkParams p = m_sim.tcpLink();
        return t.connect(p.serial, p.address, p.setting, m_db.get(), m_link.get());
    }

    // The emulator's stored calibration, as its state file has it after a clean stop.
    QString storedCalibration()
    {
        EXPECT_TRUE(m_sim.stop());
        QFile f(m_statePath);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return QJsonDocument::fromJson(f.readAll()).object().value("calibration").toString();
    }

    // A first connection stores the calibration; the stored copy then gets another slope for
    // sensor 2, as after a calibration on the controller. Returns the controller's slope.
    float storeDifferentSlope()
    {
        startSim();
        float controllerSlope = 0;
        {
            auto first = newController();
            EXPECT_EQ(connect(*first), Error());
            const QString stored = m_db->calibration(1234).value_or(QString());
            controllerSlope = HexSingleGet(stored, 42 + kSlopeOffset);
            m_db->saveCalibration(1234, HexSinglePut(stored, 42 + kSlopeOffset, 61.5f));
        }
        return controllerSlope;
    }

    TempDb m_tmp{TempDb::Start::Empty};
    std::unique_ptr<Database> m_db;
    RealClock m_clock;
    NoProgress m_progress;
    ScriptedInteraction m_interaction;
    std::unique_ptr<cHydoConnect> m_link;
    SimProcess m_sim;
    QString m_statePath;
};

} // namespace

TEST_F(ControllerTransfers, knownControllerIsReadAndBoundWithItsDatabaseRows)
{
    startSim();
    auto t = newController();
    ASSERT_EQ(connect(*t), Error());

    EXPECT_EQ(t->aq_id(), 1234);
    EXPECT_FALSE(t->is_new);
    EXPECT_EQ(t->HydoProgramString().size(), 5630);
    EXPECT_EQ(t->kalibController().size(), 672);
    EXPECT_FALSE(t->programming_is_dirty());
    EXPECT_EQ(t->Sensor(1).sensortyp(), 2) << "the emulator fits a temperature sensor first";
    EXPECT_EQ(m_interaction.asked, QStringList{"Tarvelon Uhrzeit auf PC übernehmen ?"})
        << "a first connection stores the calibration and asks nothing else";

    EXPECT_EQ(m_db->calibration(1234), t->kalibController());
    EXPECT_EQ(m_tmp.count("HYDOREGELUNG", "TARVELONID=?", {1234}), 32);
    const auto row = m_db->regulationRow(1234, 1, 1);
    ASSERT_TRUE(row.has_value());
    EXPECT_FLOAT_EQ(row->lowerWarning, t->Regelung(1, 1).RW_UntererAlarm());
    EXPECT_FLOAT_EQ(row->upperWarning, t->Regelung(1, 1).RW_ObererAlarm());
    EXPECT_EQ(row->beschreibung, QStringLiteral("Regelung 1-1"));
}

TEST_F(ControllerTransfers, warningLimitsAndDescriptionPersistPerRegulation)
{
    startSim();
    auto t = newController();
    ASSERT_EQ(connect(*t), Error());
    t->Regelung(2, 1).set_SW_ObereWarnung(8.25f);
    t->Regelung(2, 1).set_beschreibung(QStringLiteral("CO2 'valve'; --"));

    auto again = newController();
    ASSERT_EQ(connect(*again), Error());
    EXPECT_FLOAT_EQ(again->Regelung(2, 1).SW_ObereWarnung(), 8.25f);
    EXPECT_EQ(again->Regelung(2, 1).beschreibung(), QStringLiteral("CO2 'valve'; --"));
    EXPECT_EQ(m_tmp.count("HYDOREGELUNG", "TARVELONID=?", {1234}), 32) << "no duplicate rows";
}

// A controller not taken (firmware below 2.19 R24, or the clock question refused) is left
// before its program is read; the oldest accepted release is taken.
TEST_F(ControllerTransfers, aRefusedControllerIsLeftBeforeItsProgramIsRead)
{
    const struct {
        const char *version;
        Interaction::Answer clock;
        Outcome expected;
    } cases[] = {
        {"2.19R23", Interaction::Answer::Ok,
         Error(ErrorCode::FirmwareTooOld, "2.19 R24", "2.19 R23")},
        {"2.20R5", Interaction::Answer::Cancel, Outcome(Declined::ClockTakeover)},
        {"2.19R24", Interaction::Answer::Ok, Error()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.version);
        startSim({"--version", c.version});
        m_interaction.clockAnswer = c.clock;
        auto t = newController();
        EXPECT_EQ(connect(*t), c.expected);
        EXPECT_EQ(t->HydoProgramString().isEmpty(), c.expected != Outcome(Error()));
        EXPECT_EQ(m_db->calibration(1234).has_value(), c.expected == Outcome(Error()));
        ASSERT_TRUE(m_sim.stop());
    }
}

TEST_F(ControllerTransfers, newControllerGetsAnIdentifierNotInTheDatabase)
{
    // Every identifier but one is taken by earlier controllers' rows.
    QSqlDatabase c = m_db->connection();
    c.transaction();
    QSqlQuery q(c);
    q.prepare(QStringLiteral("INSERT INTO TARVELON (TARVELONID, KALIBSTRING) VALUES (?, '')"));
    for (int id = 1; id <= 31999; ++id) {
        if (id == 777)
            continue;
        q.addBindValue(id);
        ASSERT_TRUE(q.exec());
    }
    c.commit();

    startSim({"--id", "0"});
    auto t = newController();
    ASSERT_EQ(connect(*t), Error());
    EXPECT_TRUE(t->is_new);
    EXPECT_EQ(t->aq_id(), 777);
    EXPECT_EQ(t->aq_id_flag(), 1);
    EXPECT_TRUE(t->programming_is_dirty()) << "the new identifier still has to be written";
    EXPECT_FALSE(m_db->calibration(777)) << "nothing is stored before the user agreed";
    EXPECT_FALSE(m_db->regulationRow(777, 1, 1));
    ASSERT_EQ(t->adoptNew(), Error());
    EXPECT_EQ(m_db->calibration(777), t->kalibController());
    EXPECT_TRUE(m_db->regulationRow(777, 1, 1));
}

TEST_F(ControllerTransfers, databaseCalibrationWinsAndIsWrittenToTheController)
{
    storeDifferentSlope();
    m_interaction.calibrationAnswer = Interaction::Answer::Ok;
    auto t = newController();
    ASSERT_EQ(connect(*t), Error());
    EXPECT_TRUE(m_interaction.told.contains(QStringLiteral(
        "Tarvelon Kalibrierdaten: Tarvelon Kalibrierdaten erfolgreich übertragen!")));
    EXPECT_FLOAT_EQ(HexSingleGet(t->kalibController(), 42 + kSlopeOffset), 61.5f);
    EXPECT_FLOAT_EQ(HexSingleGet(storedCalibration(), 42 + kSlopeOffset), 61.5f)
        << "the emulator holds the database copy";
}

TEST_F(ControllerTransfers, controllerCalibrationWinsAndOnlyTheDatabaseChanges)
{
    const float controllerSlope = storeDifferentSlope();
    m_interaction.calibrationAnswer = Interaction::Answer::Cancel;
    auto t = newController();
    ASSERT_EQ(connect(*t), Error());
    EXPECT_FLOAT_EQ(HexSingleGet(*m_db->calibration(1234), 42 + kSlopeOffset), controllerSlope);
    EXPECT_FALSE(m_sim.log().contains(QLatin1String("DI"))) << "nothing is sent";
    EXPECT_FLOAT_EQ(HexSingleGet(storedCalibration(), 42 + kSlopeOffset), controllerSlope);
}
