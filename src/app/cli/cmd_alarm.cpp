// ostracom-cli alarm-quality: hysteresis, hold time and repeat interval of the regulations'
// notifications, and the alarm for controllers that deliver no data.

#include "app/cli/cli.h"
#include "app/cli/command_line.h"
#include "app/cli/session.h"

#include "model/ctarvelon.h"
#include "model/error_text.h"
#include "service/alarm_outbox.h"

#include <optional>

namespace
{

constexpr const char *kAbout =
    "Without changes it prints the no-data alarm and, with --controller, the alarm quality\n"
    "of each of the controller's regulations. With changes it stores them; a running poll\n"
    "service and the window take them up at their next cycle.\n"
    "  hysteresis  a crossed limit counts as left only once the value is back inside it by\n"
    "              this much (in the sensor's unit)\n"
    "  hold        a crossing is counted and mailed only once it lasted this many seconds\n"
    "  repeat      a regulation mails at most once in this many seconds; a change held\n"
    "              back is mailed later if it still holds, one undone meanwhile is not\n"
    "  no-data     a controller without a good download for this many seconds is mailed\n"
    "              once, and once more when it delivers again\n"
    "  mail-max-age  an alarm mail the mail server has not taken for this many seconds\n"
    "              is given up, with a line in the log (0: the default, one day)\n"
    "All 0: every crossing and return is mailed at once, and no-data is off.";

struct Regulation {
    int sensor;
    int number;
};

// "S-R" as the regulations' descriptions name them: sensor 1..8, regulation 1..4.
std::optional<Regulation> regulationFrom(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('-'));
    if (parts.size() != 2)
        return std::nullopt;
    bool okS = false, okR = false;
    const int s = parts[0].toInt(&okS);
    const int r = parts[1].toInt(&okR);
    if (!okS || !okR || s < 1 || s > cTarvelon::kSensors || r < 1 ||
        r > cTarvelon::kRegulationsPerSensor)
        return std::nullopt;
    return Regulation{s, r};
}

std::optional<int> secondsFrom(const QString &text)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < 0 || v > kAlarmQualityMaxSeconds)
        return std::nullopt;
    return v;
}

// Mails wait at most a week: an alarm older than that helps nobody.
constexpr int kMailMaxAgeLimit = 7 * 24 * 3600;

QString staleText(int seconds)
{
    return seconds > 0 ? QStringLiteral("after %1 s").arg(seconds) : QStringLiteral("off");
}

// What the command line asks for; every option is checked before anything changes.
struct AlarmQualityRequest {
    std::optional<int> controller, hold, repeat, staleAfter, mailMaxAge;
    std::optional<double> hysteresis;
    std::optional<Regulation> only;

    bool qualityChange() const { return hysteresis || hold || repeat; }
};

void addAlarmQualityOptions(CommandLine &line)
{
    line.add(QStringLiteral("controller"), QLatin1String(kControllerIdHelp), QStringLiteral("ID"));
    line.add(QStringLiteral("regulation"),
             QStringLiteral("only this regulation: sensor 1 to 8, regulation 1 to 4\n"
                            "(default: all of the controller)"),
             QStringLiteral("S-R"));
    line.add(QStringLiteral("hysteresis"), QStringLiteral("in the sensor's unit, 0 or more"),
             QStringLiteral("V"));
    line.add(QStringLiteral("hold"), QStringLiteral("hold time in seconds"),
             QStringLiteral("SECONDS"));
    line.add(QStringLiteral("repeat"),
             QStringLiteral("shortest time between two mails of a\n"
                            "regulation, in seconds"),
             QStringLiteral("SECONDS"));
    line.add(QStringLiteral("stale-after"),
             QStringLiteral("no-data alarm after this many seconds; 0: off"),
             QStringLiteral("SECONDS"));
    line.add(QStringLiteral("mail-max-age"),
             QStringLiteral("give up an alarm mail not delivered after this\n"
                            "many seconds; 0: the default (86400)"),
             QStringLiteral("SECONDS"));
}

// Reads the value of `option` into the request; false when it is no good.
bool readValue(const QString &option, const QString &v, AlarmQualityRequest *request)
{
    bool ok = false;
    if (option == QLatin1String("regulation")) {
        request->only = regulationFrom(v);
        ok = request->only.has_value();
    } else if (option == QLatin1String("hysteresis")) {
        // The decimal point of the C locale, or a comma as German users write it.
        request->hysteresis = QString(v).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
        ok = ok && *request->hysteresis >= 0 && *request->hysteresis <= kAlarmQualityMaxHysteresis;
    } else if (option == QLatin1String("mail-max-age")) {
        request->mailMaxAge = v.toInt(&ok);
        ok = ok && *request->mailMaxAge >= 0 && *request->mailMaxAge <= kMailMaxAgeLimit;
    } else {
        std::optional<int> &target = option == QLatin1String("hold")     ? request->hold
                                     : option == QLatin1String("repeat") ? request->repeat
                                                                         : request->staleAfter;
        target = secondsFrom(v);
        ok = target.has_value();
    }
    return ok;
}

// The request the options make, or why they make none.
QString readRequest(const CommandLine &line, AlarmQualityRequest *request)
{
    const QString maxSeconds = QString::number(kAlarmQualityMaxSeconds);
    const struct {
        const char *name;
        QString accepted;
    } checks[] = {
        {"regulation", QStringLiteral("S-R with S 1 to 8 and R 1 to 4")},
        {"hysteresis", QStringLiteral("a number from 0 to %1").arg(kAlarmQualityMaxHysteresis)},
        {"hold", QStringLiteral("whole seconds from 0 to ") + maxSeconds},
        {"repeat", QStringLiteral("whole seconds from 0 to ") + maxSeconds},
        {"stale-after", QStringLiteral("whole seconds from 0 to ") + maxSeconds},
        {"mail-max-age", QStringLiteral("whole seconds from 0 to %1").arg(kMailMaxAgeLimit)},
    };
    if (line.isSet(QStringLiteral("controller"))) {
        int id = 0;
        const QString problem =
            storedControllerFrom(line.values(QStringLiteral("controller")), &id);
        if (!problem.isEmpty())
            return problem;
        request->controller = id;
    }
    for (const auto &c : checks) {
        const QString option = QLatin1String(c.name);
        if (!line.isSet(option))
            continue;
        const QString v = line.value(option).trimmed();
        if (!readValue(option, v, request))
            return QStringLiteral("--%1 needs %2 (got '%3')").arg(option, c.accepted, v);
    }
    if ((request->qualityChange() || request->only) && !request->controller)
        return QStringLiteral("--controller is missing");
    return {};
}

// Stores the changes asked for and prints the regulations of the controller.
void storeAndPrintRegulations(Database &db, const AlarmQualityRequest &request)
{
    const int controller = *request.controller;
    QList<Regulation> regulations;
    for (int s = 1; s <= cTarvelon::kSensors; ++s)
        for (int r = 1; r <= cTarvelon::kRegulationsPerSensor; ++r)
            if (!request.only || (request.only->sensor == s && request.only->number == r))
                regulations.append({s, r});
    out() << "controller #" << controller << "\n"
          << "regulation  hysteresis  hold s  repeat s  description\n";
    for (const Regulation &r : std::as_const(regulations)) {
        AlarmQuality q = db.alarmQuality(controller, r.sensor, r.number).value_or(AlarmQuality{});
        if (request.qualityChange()) {
            q.hysteresis = request.hysteresis.value_or(q.hysteresis);
            q.holdSeconds = request.hold.value_or(q.holdSeconds);
            q.repeatSeconds = request.repeat.value_or(q.repeatSeconds);
            db.saveAlarmQuality(controller, r.sensor, r.number, q);
        }
        const auto row = db.regulationRow(controller, r.sensor, r.number);
        out() << QStringLiteral("%1-%2").arg(r.sensor).arg(r.number).leftJustified(12)
              << QString::number(q.hysteresis, 'g', 10).leftJustified(12)
              << QString::number(q.holdSeconds).leftJustified(8)
              << QString::number(q.repeatSeconds).leftJustified(10)
              << (row ? row->beschreibung : QString()) << "\n";
    }
}

int runAlarmQuality(const CliOptions &options, const AlarmQualityRequest &request)
{
    CliSession session(options, request.qualityChange() || request.staleAfter || request.mailMaxAge
                                    ? CliSession::Access::ReadWrite
                                    : CliSession::Access::ReadOnly);
    Database &db = session.db();
    if (request.controller && reportMissingController(db, *request.controller))
        return kExitFailed;
    if (request.staleAfter)
        db.saveStaleAlarmSeconds(*request.staleAfter);
    if (request.mailMaxAge)
        db.saveOutboxMaxAgeSeconds(*request.mailMaxAge);
    out() << "no-data alarm  " << staleText(db.staleAlarmSeconds()) << "\n";
    const int maxAge = db.outboxMaxAgeSeconds();
    out() << "alarm mails    given up after "
          << (maxAge > 0 ? maxAge : AlarmSender::kDefaultMaxAgeSeconds) << " s\n";
    if (request.controller)
        storeAndPrintRegulations(db, request);
    return kExitOk;
}

} // namespace

int cmdAlarmQuality(const CliOptions &options, const QStringList &args)
{
    CommandLine line(QStringLiteral("alarm-quality"),
                     QStringLiteral("[--controller ID [--regulation S-R]] [--hysteresis V]\n"
                                    "                        [--hold SECONDS] [--repeat SECONDS] "
                                    "[--stale-after SECONDS]\n"
                                    "                        [--mail-max-age SECONDS]"),
                     QLatin1String(kAbout));
    addAlarmQualityOptions(line);
    if (const auto done = line.parse(args))
        return *done;
    if (!line.arguments().isEmpty())
        return line.usageError(
            QStringLiteral("unexpected argument '%1'").arg(line.arguments().first()));
    AlarmQualityRequest request;
    if (const QString problem = readRequest(line, &request); !problem.isEmpty())
        return line.usageError(problem);
    try {
        return runAlarmQuality(options, request);
    } catch (const StoreError &e) {
        err() << errorText(e.error()) << "\n";
        return kExitFailed;
    }
}
