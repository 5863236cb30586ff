// probe: read a controller's version over the link, as a quick check that it answers.

#include "app/cli/cli.h"
#include "app/cli/session.h"
#include "link/encodings.h"
#include "link/progress.h"
#include "link/protocol.h"
#include "store/store_error.h"

namespace
{

// Version data: a single holding the version, then the sub-release byte.
constexpr int kVersionPos = 0;
constexpr int kSubReleasePos = 4;
constexpr int kVersionDataLength = 2 * (kSubReleasePos + 1);

int usage(const QString &why)
{
    err() << "probe: " << why << "\n"
          << "Usage: ostracom-cli probe --controller ADDR   (ADDR: tcp:HOST[:PORT] or "
             "serial:DEVICE)\n";
    return kExitUsage;
}

} // namespace

int cmdProbe(const CliOptions &options, const QStringList &args)
{
    QString address;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--controller")) {
            if (i + 1 >= args.size())
                return usage(QStringLiteral("--controller needs a value"));
            address = args[++i];
        } else if (args[i].startsWith(QLatin1String("--controller="))) {
            address = args[i].mid(static_cast<int>(qstrlen("--controller=")));
        } else {
            return usage(QStringLiteral("unexpected argument '%1'").arg(args[i]));
        }
    }
    if (address.isEmpty())
        return usage(QStringLiteral("--controller is required"));
    QString error;
    const auto params = parseControllerAddress(address, &error);
    if (!params)
        return usage(error);

    QString version;
    try {
        // The session sets the language, so link errors read as everywhere else.
        CliSession session(options);
        NoProgress progress;
        ProtocolContext ctx{session.link(), session.clock(), progress, *params};
        // Made into text here, while the session's language is selected.
        error = errorText(get_Meta_Data(ctx, QStringLiteral("DX"), QStringLiteral("Version Data"),
                                        QStringLiteral("End Data"), QStringLiteral("CheckSum"),
                                        version, 0, QString(), true));
    } catch (const StoreError &e) {
        err() << e.message() << "\n";
        return kExitFailed;
    }
    if (!error.isEmpty()) {
        err() << error << "\n";
        return kExitFailed;
    }
    if (version.size() < kVersionDataLength) {
        err() << "probe: the version answer is too short (" << version.size() << " characters)\n";
        return kExitFailed;
    }
    const float aqVersion = HexSingleGet(version, kVersionPos);
    const int aqSubRelease = HexByteGet(version, kSubReleasePos);
    out() << QString::number(aqVersion, 'f', 2) << " R" << aqSubRelease << "\n";
    return kExitOk;
}
