// Controller addresses as a user types them (--controller, --connect): tcp:HOST[:PORT] and
// serial:DEVICE. Checked beyond "no crash": an address is taken or refused with a reason;
// a TCP host holds no blank or '/', its port is a number from 1 to 65535 written plainly;
// what was taken, written out again, is taken as the same link. An address holds no secret
// by its form (controllers have no login), so there is none to keep out of the messages.

#include "fuzz_check.h"
#include "link/protocol.h"

namespace
{

QString addressOf(const LinkParams &p)
{
    if (p.serial)
        return QStringLiteral("serial:") + p.address;
    const QString host = p.address.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + p.address + QLatin1Char(']')
                             : p.address;
    return QStringLiteral("tcp:") + host + QLatin1Char(':') + p.setting;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(bytesOf(data, size));
    Error error;
    const auto link = parseControllerAddress(text, &error);
    if (!link) {
        FUZZ_CHECK(!error.ok() && !error.detail.isEmpty() &&
                       error.detail.size() <= 2 * text.size() + 120,
                   "a refused address says why, briefly");
        return 0;
    }
    FUZZ_CHECK(!link->address.isEmpty(), "a link names its host or device");
    if (!link->serial) {
        for (const QChar c : link->address)
            FUZZ_CHECK(!c.isSpace() && c != QLatin1Char('/'), "a host holds no blank or '/'");
        bool ok = false;
        const int port = link->setting.toInt(&ok);
        FUZZ_CHECK(ok && port >= 1 && port <= 65535 && link->setting == QString::number(port),
                   "the port is a plain number from 1 to 65535");
    }
    Error again;
    const auto reread = parseControllerAddress(addressOf(*link), &again);
    FUZZ_CHECK(reread && reread->serial == link->serial && reread->address == link->address &&
                   reread->setting == link->setting,
               "an address written out again is the same link");
    return 0;
}
