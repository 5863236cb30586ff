// ostracom-cli sms against telvara-sim over a pseudo-terminal, in real time.

#include "sms/hydo_sms_modul.h"
#include "support/telvara_process.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace
{

TEST(TelvaraCli, readSavesAFileAndABadFileIsNeverSent)
{
    TelvaraProcess sim;
    QString error;
    ASSERT_TRUE(sim.start({}, &error)) << error.toStdString();
    const QString data = sim.scratchPath(QStringLiteral("data"));
    auto cli = [&](const QStringList &args, QString *err = nullptr, QString *said = nullptr) {
        QProcess p;
        p.start(QStringLiteral(OSTRACOM_CLI_PATH),
                QStringList{QStringLiteral("--data-dir"), data, QStringLiteral("--lang"),
                            QStringLiteral("ENGLISH"), QStringLiteral("sms"),
                            QStringLiteral("--port"), sim.ptyDevice()} +
                    args);
        // A run that hangs or crashes must not pass for one that exited with 0.
        const bool exited = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit;
        if (err)
            *err = QString::fromUtf8(p.readAllStandardError());
        if (said)
            *said = QString::fromUtf8(p.readAllStandardOutput());
        return exited ? p.exitCode() : -1;
    };

    const QString saved = sim.scratchPath(QStringLiteral("module.cfg"));
    ASSERT_EQ(cli({QStringLiteral("read"), saved}), 0) << sim.log().toStdString();
    cHydoSmsModul record;
    ASSERT_TRUE(openSmsConfigFile(saved, &record).ok());
    EXPECT_EQ(record.ee_cause(2), 0) << "a fresh device holds empty configurations";

    const QString bad = sim.scratchPath(QStringLiteral("bad.cfg"));
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("1\x03\"\"\t\"\"\r\n\x03");
    f.close();
    const QString logBefore = sim.log();
    QString message;
    EXPECT_EQ(cli({QStringLiteral("write"), bad}, &message), 1);
    EXPECT_TRUE(message.contains(QStringLiteral("bad.cfg"))) << message.toStdString();
    EXPECT_EQ(sim.log(), logBefore) << "nothing may reach the device";

    EXPECT_EQ(cli({QStringLiteral("erase")}), 2);

    // A write cut short after the markers and four blocks leaves the marker unset; the next
    // read still saves what the device holds and warns.
    ASSERT_TRUE(sim.stop());
    ASSERT_TRUE(sim.start({QStringLiteral("--mute-after-writes"), QStringLiteral("6")}, &error))
        << error.toStdString();
    record.set_ee_mobile_number(2, "+4930123");
    ASSERT_TRUE(saveSmsConfigFile(saved, record, 1).ok());
    EXPECT_EQ(cli({QStringLiteral("write"), saved}), 1);
    ASSERT_TRUE(sim.stop());
    ASSERT_TRUE(sim.start({}, &error)) << error.toStdString();
    const QString unmarked = sim.scratchPath(QStringLiteral("unmarked.cfg"));
    EXPECT_EQ(cli({QStringLiteral("read"), unmarked}, &message), 0) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("not marked as valid and may be incomplete")))
        << message.toStdString();
    cHydoSmsModul back;
    ASSERT_TRUE(openSmsConfigFile(unmarked, &back).ok());
    EXPECT_EQ(cHydoSmsModul::textOf(back.ee_mobile_number(2)), QStringLiteral("+4930123"));

    // Every write is read back: a block the device acknowledged but lost fails it, and the
    // message names the configuration; success is said only when all came back equal.
    record.set_ee_mobile_number(2, "+4930999");
    ASSERT_TRUE(saveSmsConfigFile(saved, record, 1).ok());
    ASSERT_TRUE(sim.stop());
    ASSERT_TRUE(sim.start({QStringLiteral("--lose-write-at"), QStringLiteral("0x043C")}, &error))
        << error.toStdString();
    QString said;
    EXPECT_EQ(cli({QStringLiteral("write"), saved}, &message, &said), 1);
    // "+4930" was there already: the first byte that differs is the sixth.
    EXPECT_TRUE(message.contains(QStringLiteral("differs from the one sent! Differing "
                                                "configurations: 2\nFirst difference at address "
                                                "0x0441")))
        << message.toStdString();
    EXPECT_EQ(said, QString());
    ASSERT_TRUE(sim.stop());
    ASSERT_TRUE(sim.start({}, &error)) << error.toStdString();
    EXPECT_EQ(cli({QStringLiteral("write"), saved}, &message, &said), 0) << message.toStdString();
    EXPECT_EQ(said, QStringLiteral("Configuration sent to the SMS controller and verified!\n"));
}

} // namespace
