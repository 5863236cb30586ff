// The SMS controller protocol against telvara-sim over a pseudo-terminal, with shortened
// waits (FastClock).

#include "link/progress.h"
#include "sms/hydo_sms_modul.h"
#include "sms/sms_protocol.h"
#include "support/sim_process.h"

#include <gtest/gtest.h>

namespace
{

QByteArray sampleImage()
{
    cHydoSmsModul record;
    for (int n = 1; n <= 30; ++n)
        record.clear(n);
    record.set_ee_mobile_number(2, "+491711234567");
    record.set_ee_service_number(2, "+491722270880");
    record.set_ee_cause_name(2, "Pumpe aus");
    record.set_ee_cause(2, 5);
    record.set_ee_cause_ext(2, 1);
    record.set_ee_time(30, 75);
    return record.HydoSmsModulString();
}

class TelvaraLink : public ::testing::Test
{
protected:
    void startSim(const QStringList &arguments = {})
    {
        ASSERT_TRUE(sim.launch(arguments));
        sms.setPort(sim.ptyDevice());
    }

    SimProcess sim{SimProcess::Emulator::Telvara};
    FastClock clock;
    NoProgress progress;
    cSmsController sms{cSmsController::serialPorts(), clock, progress};
};

// Version and reset against the emulator are proved through the SMS window's menu.
TEST_F(TelvaraLink, writtenConfigurationReadsBackAndSurvivesARestart)
{
    startSim();
    const QByteArray image = sampleImage();
    ASSERT_TRUE(sms.writeConfiguration(image).ok()) << sim.log().toStdString();
    QByteArray back;
    ASSERT_TRUE(sms.readConfiguration(&back).ok());
    EXPECT_EQ(back, image);

    // What the device acknowledged survives a restart.
    sms.disconnect();
    ASSERT_TRUE(sim.stop());
    EXPECT_EQ(sim.savedExternalMemory().mid(0x400, 1800), image);
    startSim();
    back.clear();
    ASSERT_TRUE(sms.readConfiguration(&back).ok());
    EXPECT_EQ(back, image);
}

TEST_F(TelvaraLink, failureModesEndInTheirOwnErrors)
{
    struct Case {
        const char *option;
        ErrorCode expected;
    } cases[] = {
        {"--mute", ErrorCode::SmsNoAnswer},
        {"--bad-read-checksum", ErrorCode::SmsBadChecksum},
        {"--no-end-marker", ErrorCode::SmsNoEndMarker},
    };
    for (const Case &c : cases) {
        startSim({QString::fromLatin1(c.option)});
        SmsVersion version;
        EXPECT_EQ(sms.readVersion(&version).code, c.expected) << c.option;
        sms.disconnect();
        sim.stop();
    }
}

TEST_F(TelvaraLink, aDeviceFallingSilentMidWriteIsLeftUnmarkedAndReadsWhatItHolds)
{
    startSim({QStringLiteral("--mute-after-writes"), QStringLiteral("30")});
    const QByteArray written = sampleImage();
    const Error error = sms.writeConfiguration(written);
    EXPECT_EQ(error.code, ErrorCode::SmsWriteIncomplete);
    sms.disconnect();
    ASSERT_TRUE(sim.stop());
    const QByteArray saved = sim.savedExternalMemory();
    EXPECT_EQ(saved.left(2), QByteArray(2, '\0'));

    startSim();
    QByteArray image;
    bool marked = true;
    ASSERT_TRUE(sms.readConfiguration(&image, &marked).ok());
    EXPECT_FALSE(marked);
    EXPECT_EQ(image, saved.mid(0x400, 1800));
    // 28 blocks were acknowledged before the device fell silent; on a loaded machine a block
    // sent again after a slow answer counts twice, so a few fewer may have arrived.
    int whole = 0;
    while (whole < 90 && image.mid(whole * 20, 20) == written.mid(whole * 20, 20))
        ++whole;
    EXPECT_GE(whole, 20);
    EXPECT_LE(whole, 28);
}

} // namespace
