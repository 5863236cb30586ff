// ostracom-cli program against the emulator started as a user would: show, a refused
// change, and a change written to the controller and read back.

#include "support/cli_run.h"
#include "support/sim_process.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace
{

class CliProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureCoreApplication();
        ASSERT_TRUE(m_sim.launch({"--quiet"}));
        m_address = QStringLiteral("tcp:127.0.0.1:%1").arg(m_sim.port());
    }

    CliRun run(const QStringList &args)
    {
        return runCli(
            QStringList{"--data-dir", m_data.path(), "program", "--controller", m_address} + args);
    }

    QTemporaryDir m_data;
    SimProcess m_sim;
    QString m_address;
};

} // namespace

TEST_F(CliProgram, showPrintsControllerSensorsSocketsAndRegulations)
{
    const CliRun r = run({"show"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QLatin1String("Controller 1234 at ") + m_address));
    // Type names come translated.
    for (const char *part : {"Firmware                2.20 R5", "aq_hd_ph", "Temperature", "°C",
                             "Regelung(2,1)", "Switchable socket"})
        EXPECT_TRUE(r.out.contains(QString::fromUtf8(part))) << part;
}

TEST_F(CliProgram, unknownNamesAndValuesThatDoNotFitAreRefusedBeforeAnyTransfer)
{
    for (const char *assignment :
         {"aq_nonsense=1", "aq_AnzLeitwert=300", "Regelung(2,1).RW_ObererAlarm=high"}) {
        const CliRun r = run({"set", assignment});
        EXPECT_EQ(r.exitCode, 2) << assignment;
        // The field's own name, without the regulation it belongs to.
        const QString field = QString::fromLatin1(assignment).section('=', 0, 0).section('.', -1);
        EXPECT_TRUE(r.err.contains(field)) << r.err.toStdString();
    }
    EXPECT_FALSE(m_sim.log().contains(QLatin1String("DB"))) << "no program was written";
}

// Writes a whole program image over TCP: about 70 seconds at 12 ms per character.
TEST_F(CliProgram, changedSetPointIsWrittenAndReadBackFromTheController)
{
    const CliRun set =
        run({"set", "Regelung(2,1).RW_ObererAlarm=8.6", "Regelung(2,1).SW_ObereWarnung=8.45"});
    ASSERT_EQ(set.exitCode, 0) << set.err.toStdString();
    EXPECT_TRUE(set.out.contains(QLatin1String("Program written to controller 1234")));

    // Show reads the program back from the controller.
    const CliRun show = run({"show"});
    ASSERT_EQ(show.exitCode, 0) << show.err.toStdString();
    const int at = show.out.indexOf(QLatin1String("Regelung(2,1)"));
    ASSERT_GE(at, 0);
    const QString block = show.out.mid(at, 400);
    EXPECT_TRUE(block.contains(QLatin1String("above 8.6 pH"))) << block.toStdString();
    EXPECT_TRUE(block.contains(QLatin1String("above 8.45 pH")))
        << "the warning limit is kept in the database";
}
