#include "options.h"

#include <QCommandLineParser>

#include <optional>

namespace sim
{

namespace
{

const char kDescription[] =
    "An emulator of a Tarvelon water controller. It answers the controller's commands\n"
    "(DX version, DN program, DK calibration, DO stored records, DL acknowledge, DB/DI\n"
    "writes) over TCP and/or a pseudo-terminal or serial device, and stores one record\n"
    "per fitted sensor at every storage interval.\n"
    "\n"
    "Prints \"listening on ADDRESS:PORT\" and/or \"pty DEVICE\" on stdout when ready,\n"
    "one line per command on stderr (unless --quiet). SIGINT/SIGTERM save the state\n"
    "and exit.\n"
    "\n"
    "Failure modes (combinable): --answer-after, --split, --bad-checksum,\n"
    "--drop-mid-answer, --mute, --pace-9600, --bad-write-checksum, --short-batch,\n"
    "--garble; an old firmware with --version 2.19R23, a controller without identifier\n"
    "with --id 0. --journal lists every record handed over and every record dropped.";

// The options in the order --help lists them: names, value name (none: a switch), text.
struct OptionText {
    const char *names; // comma-separated
    const char *valueName;
    const char *description;
};
const OptionText kOptions[] = {
    {"h,help", nullptr, "Show this help and exit."},
    {"port", "N", "TCP port (default 4001; 0 picks a free one)."},
    {"listen", "ADDR", "Address to listen on (default 127.0.0.1)."},
    {"no-tcp", nullptr, "Do not listen on TCP (use with --pty or --serial)."},
    {"pty", nullptr, "Serve a pseudo-terminal; prints \"pty DEVICE\"."},
    {"pty-link", "PATH", "Also make PATH a symlink to the pseudo-terminal (implies --pty)."},
    {"serial", "DEVICE", "Serve a serial device at 9600,n,8,1."},
    {"state", "FILE",
     "Keep images, version, identifier and pending records in this JSON file (loaded at "
     "start, saved after writes, acknowledgements and at exit)."},
    {"values", "FILE",
     "Force sensor values from lines SENSOR=VALUE (e.g. 2=7.95); re-read before each record."},
    {"speed", "F", "Run the controller clock F times faster (default 1)."},
    {"clock", "YYYY-MM-DD HH:MM:SS",
     "Start the controller's clock at this local wall-clock time (then it runs with --speed; "
     "summer time never moves it)."},
    {"interval", "SECONDS", "Storage interval in seconds (default 10, or the stored program's)."},
    {"max-records", "N", "Records the memory holds before the oldest are dropped (default 2000)."},
    {"version", "VERSION", "Firmware version, e.g. 2.19R23 (default 2.20R5)."},
    {"id", "N", "Controller identifier (default 1234; 0 = none assigned yet)."},
    {"seed", "N", "Seed of the measurement noise."},
    {"journal", "FILE",
     "Append \"handed RECORD\" for every record of a DO answer and \"forgot RECORD\" for every "
     "record a DL drops, synced to disk before the answer goes out."},
    {"quiet", nullptr, "No log lines on stderr."},
    {"answer-after", "N",
     "Answer only the Nth burst of a command (the earlier repeats go unanswered)."},
    {"split", "N:MS", "Send every answer in N pieces with MS milliseconds between them."},
    {"bad-checksum", nullptr, "Read answers carry a wrong checksum."},
    {"drop-mid-answer", nullptr,
     "Break off halfway through every answer (TCP: close the connection)."},
    {"mute", nullptr, "Never answer."},
    {"pace-9600", nullptr,
     "Send answers at 9600-baud speed (about 1.04 ms per character), also over TCP."},
    {"bad-write-checksum", nullptr, "Echo a wrong checksum for every write and keep nothing."},
    {"short-batch", "N",
     "Every Nth DO answer announces 2 records more than it carries (checksum right)."},
    {"garble", "N",
     "Every Nth stored record has non-hex digits in its value, time and date (checksum right)."},
    {"sensor", "N=TYPE",
     "Fit sensor N (1-8) with this type code (0 none, 1 pH, 2 temperature, 3 redox, 4/5 "
     "conductivity, 6 oxygen, 7 level, 8 air pressure); may be repeated."},
};

bool parseInt(const QString &text, int min, int max, int *out)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < min || v > max)
        return false;
    *out = v;
    return true;
}

// Whole-number options: the range, the complaint, and where the number goes.
struct IntOption {
    const char *name;
    int min;
    int max;
    const char *complaint;
    void (*store)(SimOptions &, int);
};
const IntOption kIntOptions[] = {
    {"port", 0, 65535, "--port needs a number 0 to 65535",
     [](SimOptions &o, int n) { o.port = quint16(n); }},
    {"interval", 1, 86399, "--interval needs 1 to 86399 seconds",
     [](SimOptions &o, int n) { o.controller.intervalSeconds = n; }},
    {"max-records", 1, 65535, "--max-records needs a number 1 to 65535",
     [](SimOptions &o, int n) { o.controller.maxPending = n; }},
    {"id", 0, 32767, "--id needs a number 0 to 32767",
     [](SimOptions &o, int n) { o.controller.id = n; }},
    {"short-batch", 1, 1000000, "--short-batch needs a number 1 to 1000000",
     [](SimOptions &o, int n) { o.controller.shortBatchEvery = n; }},
    {"garble", 1, 1000000, "--garble needs a number 1 to 1000000",
     [](SimOptions &o, int n) { o.controller.garbleEvery = n; }},
    {"answer-after", 1, 1000, "--answer-after needs a number 1 to 1000",
     [](SimOptions &o, int n) { o.failures.answerAfter = n; }},
};

// Each step reads its options into o; a complaint ends the parse as a usage error.
using Complaint = std::optional<QString>;

Complaint readIntOptions(const QCommandLineParser &p, SimOptions &o)
{
    for (const IntOption &opt : kIntOptions) {
        const QString name = QLatin1String(opt.name);
        int n = 0;
        if (!p.isSet(name))
            continue;
        if (!parseInt(p.value(name), opt.min, opt.max, &n))
            return QString::fromLatin1(opt.complaint);
        opt.store(o, n);
    }
    return std::nullopt;
}

Complaint readLinkOptions(const QCommandLineParser &p, SimOptions &o)
{
    const QString listen = p.value(QStringLiteral("listen"));
    if (p.isSet(QStringLiteral("listen")) && !o.listenAddress.setAddress(listen))
        return QStringLiteral("--listen needs an IP address, not \"%1\"").arg(listen);
    o.tcp = !p.isSet(QStringLiteral("no-tcp"));
    o.pty = p.isSet(QStringLiteral("pty")) || p.isSet(QStringLiteral("pty-link"));
    o.ptyLink = p.value(QStringLiteral("pty-link"));
    o.serialDevice = p.value(QStringLiteral("serial"));
    if (!o.tcp && !o.pty && o.serialDevice.isEmpty())
        return QStringLiteral("--no-tcp needs --pty or --serial");
    o.quiet = p.isSet(QStringLiteral("quiet"));
    return std::nullopt;
}

Complaint readClock(const QString &text, ControllerSettings &c)
{
    // Date and time read apart: as one local QDateTime the hour summer time skips would
    // not exist.
    const QStringList parts = text.split(QLatin1Char(' '));
    const QDate date =
        parts.size() == 2 ? QDate::fromString(parts[0], QStringLiteral("yyyy-MM-dd")) : QDate();
    const QTime time =
        parts.size() == 2 ? QTime::fromString(parts[1], QStringLiteral("HH:mm:ss")) : QTime();
    if (!date.isValid() || !time.isValid())
        return QStringLiteral("--clock needs \"YYYY-MM-DD HH:MM:SS\", not \"%1\"").arg(text);
    c.clockStart = QDateTime(date, time, Qt::UTC);
    return std::nullopt;
}

Complaint readSensors(const QStringList &fits, ControllerSettings &c)
{
    for (const QString &fit : fits) {
        const QStringList parts = fit.split(QLatin1Char('='));
        int number = 0;
        int type = 0;
        if (parts.size() != 2 || !parseInt(parts[0], 1, 8, &number) ||
            !parseInt(parts[1], 0, 8, &type))
            return QStringLiteral("--sensor needs N=TYPE with N 1 to 8 and TYPE 0 to 8, not "
                                  "\"%1\"")
                .arg(fit);
        c.sensorTypes[number] = type;
    }
    return std::nullopt;
}

Complaint readControllerOptions(const QCommandLineParser &p, SimOptions &o)
{
    ControllerSettings &c = o.controller;
    c.statePath = p.value(QStringLiteral("state"));
    c.valuesPath = p.value(QStringLiteral("values"));
    c.journalPath = p.value(QStringLiteral("journal"));
    bool ok = true;
    if (p.isSet(QStringLiteral("speed"))) {
        c.speed = p.value(QStringLiteral("speed")).toDouble(&ok);
        if (!ok || !(c.speed > 0.0) || c.speed > 1.0e7)
            return QStringLiteral("--speed needs a number above 0");
    }
    if (p.isSet(QStringLiteral("clock"))) {
        if (const Complaint bad = readClock(p.value(QStringLiteral("clock")), c))
            return bad;
    }
    if (p.isSet(QStringLiteral("version"))) {
        c.version = parseFirmwareVersion(p.value(QStringLiteral("version")));
        if (!c.version)
            return QStringLiteral("--version needs the form 2.20R5, not \"%1\"")
                .arg(p.value(QStringLiteral("version")));
    }
    if (const Complaint bad = readSensors(p.values(QStringLiteral("sensor")), c))
        return bad;
    c.seed = p.isSet(QStringLiteral("seed")) ? p.value(QStringLiteral("seed")).toUInt(&ok)
                                             : quint32(QDateTime::currentMSecsSinceEpoch());
    if (!ok)
        return QStringLiteral("--seed needs a non-negative number");
    return std::nullopt;
}

Complaint readFailureOptions(const QCommandLineParser &p, SimOptions &o)
{
    FailureModes &f = o.failures;
    if (p.isSet(QStringLiteral("split"))) {
        const QStringList parts = p.value(QStringLiteral("split")).split(QLatin1Char(':'));
        if (parts.size() != 2 || !parseInt(parts[0], 1, 10000, &f.splitChunks) ||
            !parseInt(parts[1], 0, 60000, &f.splitPauseMs))
            return QStringLiteral("--split needs N:MS, e.g. 4:300");
    }
    f.badChecksum = p.isSet(QStringLiteral("bad-checksum"));
    f.dropMidAnswer = p.isSet(QStringLiteral("drop-mid-answer"));
    f.mute = p.isSet(QStringLiteral("mute"));
    f.pace9600 = p.isSet(QStringLiteral("pace-9600"));
    f.badWriteChecksum = p.isSet(QStringLiteral("bad-write-checksum"));
    return std::nullopt;
}

} // namespace

ParseOutcome parseOptions(const QStringList &arguments, SimOptions *options, QString *message)
{
    QCommandLineParser p;
    p.setApplicationDescription(QString::fromLatin1(kDescription));
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const OptionText &t : kOptions) {
        const QStringList names = QString::fromLatin1(t.names).split(QLatin1Char(','));
        p.addOption(t.valueName ? QCommandLineOption(names, QString::fromUtf8(t.description),
                                                     QString::fromLatin1(t.valueName))
                                : QCommandLineOption(names, QString::fromUtf8(t.description)));
    }
    if (!p.parse(arguments)) {
        *message = p.errorText();
        return ParseOutcome::UsageError;
    }
    if (p.isSet(QStringLiteral("help"))) {
        *message = p.helpText();
        return ParseOutcome::ExitOk;
    }
    if (!p.positionalArguments().isEmpty()) {
        *message = QStringLiteral("unexpected argument: %1").arg(p.positionalArguments().first());
        return ParseOutcome::UsageError;
    }
    SimOptions o;
    for (const auto &step :
         {readIntOptions, readLinkOptions, readControllerOptions, readFailureOptions}) {
        if (const Complaint bad = step(p, o)) {
            *message = *bad;
            return ParseOutcome::UsageError;
        }
    }
    *options = o;
    return ParseOutcome::Run;
}

} // namespace sim
