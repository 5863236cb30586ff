// ostracom-cli sms against telvara-sim over a pseudo-terminal, in real time.

#include "sms/hydo_sms_modul.h"
#include "support/cli_run.h"
#include "support/files.h"
#include "support/sim_process.h"

#include <gtest/gtest.h>

namespace
{

TEST(TelvaraCli, readSavesAFileAndABadFileIsNeverSent)
{
    SimProcess sim{SimProcess::Emulator::Telvara};
    ASSERT_TRUE(sim.launch({}));
    const QString data = sim.scratchPath(QStringLiteral("data"));
    auto sms = [&](const QStringList &args) {
        return runCli(
            QStringList{"--data-dir", data, "--lang", "ENGLISH", "sms", "--port", sim.ptyDevice()} +
            args);
    };

    const QString saved = sim.scratchPath(QStringLiteral("module.cfg"));
    ASSERT_EQ(sms({"read", saved}).exitCode, 0) << sim.log().toStdString();
    cHydoSmsModul record;
    ASSERT_TRUE(openSmsConfigFile(saved, &record).ok());
    EXPECT_EQ(record.ee_cause(2), 0) << "a fresh device holds empty configurations";

    const QString bad = sim.scratchPath(QStringLiteral("bad.cfg"));
    ASSERT_TRUE(writeTestFile(bad, "1\x03\"\"\t\"\"\r\n\x03"));
    const QString logBefore = sim.log();
    const CliRun refused = sms({"write", bad});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("bad.cfg"))) << refused.err.toStdString();
    EXPECT_EQ(sim.log(), logBefore) << "nothing may reach the device";

    EXPECT_EQ(sms({"erase"}).exitCode, 2);

    // A write cut short after the markers and four blocks leaves the marker unset; the next
    // read still saves what the device holds and warns.
    ASSERT_TRUE(sim.stop());
    ASSERT_TRUE(sim.launch({QStringLiteral("--mute-after-writes"), QStringLiteral("6")}));
    record.set_ee_mobile_number(2, "+4930123");
    ASSERT_TRUE(saveSmsConfigFile(saved, record, 1).ok());
    EXPECT_EQ(sms({"write", saved}).exitCode, 1);
    ASSERT_TRUE(sim.stop());
    ASSERT_TRUE(sim.launch({}));
    const QString unmarked = sim.scratchPath(QStringLiteral("unmarked.cfg"));
    const CliRun read = sms({"read", unmarked});
    EXPECT_EQ(read.exitCode, 0) << read.err.toStdString();
    EXPECT_TRUE(read.err.contains(QStringLiteral("not marked as valid and may be incomplete")))
        << read.err.toStdString();
    cHydoSmsModul back;
    ASSERT_TRUE(openSmsConfigFile(unmarked, &back).ok());
    EXPECT_EQ(cHydoSmsModul::textOf(back.ee_mobile_number(2)), QStringLiteral("+4930123"));

    // Every write is read back: a block the device acknowledged but lost fails it, and the
    // message names the configuration; success is said only when all came back equal.
    record.set_ee_mobile_number(2, "+4930999");
    ASSERT_TRUE(saveSmsConfigFile(saved, record, 1).ok());
    ASSERT_TRUE(sim.stop());
    ASSERT_TRUE(sim.launch({QStringLiteral("--lose-write-at"), QStringLiteral("0x043C")}));
    const CliRun lost = sms({"write", saved});
    EXPECT_EQ(lost.exitCode, 1);
    // "+4930" was there already: the first byte that differs is the sixth.
    EXPECT_TRUE(lost.err.contains(QStringLiteral("differs from the one sent! Differing "
                                                 "configurations: 2\nFirst difference at address "
                                                 "0x0441")))
        << lost.err.toStdString();
    EXPECT_EQ(lost.out, QString());
    ASSERT_TRUE(sim.stop());
    ASSERT_TRUE(sim.launch({}));
    const CliRun written = sms({"write", saved});
    EXPECT_EQ(written.exitCode, 0) << written.err.toStdString();
    EXPECT_EQ(written.out,
              QStringLiteral("Configuration sent to the SMS controller and verified!\n"));
}

} // namespace
