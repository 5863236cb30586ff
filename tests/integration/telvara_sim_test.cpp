// The SMS controller protocol's failures against telvara-sim over a pseudo-terminal, with
// shortened waits (FastClock).

#include "link/progress.h"
#include "sms/sms_protocol.h"
#include "support/sim_process.h"

#include <gtest/gtest.h>

namespace
{

// Writing, reading back, version and reset against the emulator are proved through the SMS
// window's menu and ostracom-cli sms.
TEST(TelvaraLink, failureModesEndInTheirOwnErrors)
{
    SimProcess sim{SimProcess::Emulator::Telvara};
    FastClock clock;
    NoProgress progress;
    cSmsController sms{cSmsController::serialPorts(), clock, progress};
    struct Case {
        const char *option;
        ErrorCode expected;
    } cases[] = {
        {"--mute", ErrorCode::SmsNoAnswer},
        {"--bad-read-checksum", ErrorCode::SmsBadChecksum},
        {"--no-end-marker", ErrorCode::SmsNoEndMarker},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(sim.launch({QString::fromLatin1(c.option)}));
        sms.setPort(sim.ptyDevice());
        SmsVersion version;
        EXPECT_EQ(sms.readVersion(&version).code, c.expected) << c.option;
        sms.disconnect();
        sim.stop();
    }
}

} // namespace
