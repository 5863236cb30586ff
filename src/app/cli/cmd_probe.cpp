// probe: read a controller's version over the link, as a quick check that it answers.

#include "app/cli/cli.h"
#include "app/cli/command_line.h"
#include "app/cli/session.h"
#include "link/encodings.h"
#include "link/progress.h"
#include "link/protocol.h"
#include "model/error_text.h"
#include "store/store_error.h"

namespace
{

// Version data: a single holding the version, then the sub-release byte.
constexpr int kVersionPos = 0;
constexpr int kSubReleasePos = 4;
constexpr int kVersionDataLength = 2 * (kSubReleasePos + 1);

} // namespace

int cmdProbe(const CliOptions &options, const QStringList &args)
{
    CommandLine line(QStringLiteral("probe"), QStringLiteral("--controller ADDR"),
                     QStringLiteral("Reads a controller's version, as a quick check that it "
                                    "answers."));
    line.add(QStringLiteral("controller"), QLatin1String(kControllerAddressHelp),
             QStringLiteral("ADDR"));
    if (const auto done = line.parse(args))
        return *done;
    if (!line.arguments().isEmpty())
        return line.usageError(
            QStringLiteral("unexpected argument '%1'").arg(line.arguments().first()));
    QList<ControllerArg> controllers;
    QString error = controllersFrom(line.values(QStringLiteral("controller")), &controllers, false);
    if (!error.isEmpty())
        return line.usageError(error);

    QString version;
    try {
        // The session sets the language, so link errors read as everywhere else.
        CliSession session(options);
        NoProgress progress;
        ProtocolContext ctx{session.link(), session.clock(), progress, controllers.first().params};
        // Made into text here, while the session's language is selected.
        error = errorText(get_Meta_Data(ctx, QStringLiteral("DX"), QStringLiteral("Version Data"),
                                        QStringLiteral("End Data"), QStringLiteral("CheckSum"),
                                        version, 0, QString(), true));
    } catch (const StoreError &e) {
        err() << errorText(e.error()) << "\n";
        return kExitFailed;
    }
    if (!error.isEmpty()) {
        err() << controllers.first().text << ": " << consoleText(error) << "\n";
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
