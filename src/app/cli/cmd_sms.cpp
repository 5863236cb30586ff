// sms: the SMS controller's version, configuration transfers and reset.

#include "app/cli/cli.h"
#include "app/cli/command_line.h"
#include "app/cli/session.h"
#include "model/error_text.h"
#include "sms/hydo_sms_modul.h"
#include "sms/sms_protocol.h"
#include "store/store_error.h"
#include "store/strings.h"

#include <QFileInfo>

namespace
{

void printMessages(const Error &error)
{
    for (const SmsMessage &m : smsMessages(error))
        err() << consoleText(m.title.isEmpty() ? m.text : m.title + QStringLiteral(": ") + m.text)
              << "\n";
}

// Two hexadecimal digits, as the window shows them.
QString hexByte(quint8 value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

constexpr const char *kAbout = "Talks to the SMS controller on its own serial line:\n"
                               "  version          print its firmware release and sub-release\n"
                               "  read FILE.cfg    save its 30 message configurations to "
                               "FILE.cfg\n"
                               "  write FILE.cfg   send the configurations of FILE.cfg to it and "
                               "read them\n"
                               "                   back; a difference fails, naming the "
                               "configurations\n"
                               "  reset            reset it";
constexpr const char *kNotes =
    "A file that is not a valid configuration file is refused before anything is sent.\n"
    "read replaces FILE.cfg. When the controller's configuration is not marked valid (never\n"
    "configured, or a write cut short), read saves it all the same, warns on stderr\n"
    "that it may be incomplete and exits with 0.";

struct SmsRequest {
    QString port;
    QString action; // version, read, write or reset
    QString file;   // of read and write
};

// The port, action and file the command line names, or why it names none.
QString readSmsRequest(const CommandLine &line, SmsRequest *request)
{
    request->port = line.value(QStringLiteral("port"));
    if (request->port.isEmpty())
        return QStringLiteral("--port is required");
    // The serial port takes a bare name as one under /dev; a link in the current folder (an
    // emulator's, say) is meant as typed.
    if (QFileInfo(request->port).isRelative() && QFileInfo::exists(request->port))
        request->port = QFileInfo(request->port).absoluteFilePath();
    const QStringList rest = line.arguments();
    const QString action = rest.value(0);
    const bool withFile = action == QLatin1String("read") || action == QLatin1String("write");
    if (!withFile && action != QLatin1String("version") && action != QLatin1String("reset"))
        return action.isEmpty() ? QStringLiteral("say version, read, write or reset")
                                : QStringLiteral("unknown action '%1'").arg(action);
    if (rest.size() != (withFile ? 2 : 1))
        return withFile ? QStringLiteral("%1 takes one file").arg(action)
                        : QStringLiteral("%1 takes no file").arg(action);
    request->action = action;
    request->file = rest.value(1);
    return {};
}

Error printVersion(cSmsController &sms, CliProgress &progress)
{
    SmsVersion version;
    const Error error = sms.readVersion(&version);
    progress.finish();
    if (error.ok())
        out() << QStringLiteral("release %1, sub-release %2\n")
                     .arg(hexByte(version.release), hexByte(version.subRelease));
    return error;
}

Error readToFile(cSmsController &sms, CliProgress &progress, const SmsRequest &request)
{
    QByteArray image;
    bool marked = true;
    Error error = sms.readConfiguration(&image, &marked);
    progress.finish();
    cHydoSmsModul record;
    if (error.ok() && !record.setHydoSmsModulString(image))
        error =
            Error(ErrorCode::Runtime, QStringLiteral("the controller gave %1 bytes instead of %2")
                                          .arg(image.size())
                                          .arg(cHydoSmsModul::kImageLength));
    if (error.ok())
        error = saveSmsConfigFile(request.file, record, portNumberOf(request.port));
    if (error.ok() && !marked) {
        const SmsMessage warning = smsUnmarkedReadWarning();
        err() << consoleText(warning.title + QStringLiteral(": ") + warning.text) << "\n";
    }
    return error;
}

Error writeFromFile(cSmsController &sms, CliProgress &progress, const SmsRequest &request)
{
    cHydoSmsModul record;
    Error error = openSmsConfigFile(request.file, &record);
    if (error.ok())
        error = sms.writeConfiguration(record.HydoSmsModulString());
    progress.finish();
    // Said only once the device's copy was read back equal to the file.
    if (error.ok())
        out() << consoleText(ms("Konfiguration an SMS Controller übertragen und geprüft !"))
              << "\n";
    return error;
}

int runSms(const CliOptions &options, const SmsRequest &request)
{
    // The session sets the language, so the messages read as everywhere else.
    CliSession session(options, CliSession::Access::ReadWrite);
    cSmsController sms(cSmsController::serialPorts(), session.clock(), session.progress());
    sms.setPort(request.port);
    Error error;
    if (request.action == QLatin1String("version")) {
        error = printVersion(sms, session.progress());
    } else if (request.action == QLatin1String("read")) {
        error = readToFile(sms, session.progress(), request);
    } else if (request.action == QLatin1String("write")) {
        error = writeFromFile(sms, session.progress(), request);
    } else {
        error = sms.reset();
        session.progress().finish();
    }
    if (!error.ok()) {
        printMessages(error);
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace

int cmdSms(const CliOptions &options, const QStringList &args)
{
    CommandLine line(QStringLiteral("sms"),
                     QStringLiteral("--port DEVICE version|read FILE.cfg|write FILE.cfg|reset"),
                     QLatin1String(kAbout), QLatin1String(kNotes));
    line.add(QStringLiteral("port"), QStringLiteral("the serial device, e.g. /dev/ttyUSB0"),
             QStringLiteral("DEVICE"));
    if (const auto done = line.parse(args))
        return *done;
    SmsRequest request;
    if (const QString problem = readSmsRequest(line, &request); !problem.isEmpty())
        return line.usageError(problem);
    try {
        return runSms(options, request);
    } catch (const StoreError &e) {
        err() << errorText(e.error()) << "\n";
        return kExitFailed;
    }
}
