// ostracom-cli program: show a controller's program or change fields of it.

#include "app/cli/cli.h"
#include "app/cli/command_line.h"
#include "app/cli/session.h"

#include "model/ctarvelon.h"
#include "model/error_text.h"
#include "model/field_access.h"
#include "model/program_change.h"
#include "model/tables.h"
#include "store/strings.h"

#include <QLocale>
#include <QRegularExpression>

#include <optional>
#include <stdexcept>

namespace
{

QString num(double v)
{
    return QLocale().toString(v, 'g', 7);
}

void printController(cTarvelon &t, const QString &address)
{
    QTextStream &o = out();
    o << "Controller " << t.aq_id_raw() << " at " << address << "\n";
    o << "  Firmware                " << cTarvelon::versionNumberText(t.aq_Version()) << " R"
      << t.aq_SubRelease() << "\n";
    o << "  aq_Datum_Uhrzeit        "
      << t.aq_Datum_Uhrzeit().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) << "\n";
    for (const QString &name : controllerFieldNames()) {
        if (name.startsWith(QLatin1String("Regelung")) || name == QLatin1String("aq_Datum_Uhrzeit"))
            continue;
        o << "  " << name.leftJustified(24) << controllerFieldText(t, name).value_or(QString())
          << "\n";
    }

    o << "\nSensors\n";
    for (int i = 1; i <= cTarvelon::kSensors; ++i) {
        cHydoSensor &s = t.Sensor(i);
        if (s.sensortyp() == 0) {
            o << "  " << i << "  " << ms(s.formatierter_Typ()) << "\n";
            continue;
        }
        o << "  " << i << "  " << ms(s.formatierter_Typ()).leftJustified(12) << " "
          << s.formatierter_wert().leftJustified(12) << "  slope " << num(s.Steigung())
          << "  offset " << num(s.offset()) << "\n";
    }

    o << "\nSockets\n";
    bool anySocket = false;
    for (int i = 1; i <= cTarvelon::kSockets; ++i) {
        cHydoAktor &a = t.Aktor(i);
        if (a.DosenType() == 0)
            continue;
        anySocket = true;
        o << "  " << QString::number(i).rightJustified(2) << "  "
          << ms(a.formatierter_Typ()).leftJustified(18) << " for "
          << (a.ConnectedTo() ? ms(a.Formated_ConnectedTo()) : QStringLiteral("-")) << "  on "
          << a.ValueOn() << " off " << a.ValueOff() << "\n";
    }
    if (!anySocket)
        o << "  (none fitted)\n";

    o << "\nRegulations\n";
    for (int s = 1; s <= cTarvelon::kSensors; ++s) {
        if (t.Sensor(s).sensortyp() == 0)
            continue;
        const QString unit = t.Sensor(s).MesswertEinheit();
        for (int r = 1; r <= cTarvelon::kRegulationsPerSensor; ++r) {
            cHydoRegelung &g = t.Regelung(s, r);
            QString kind = g.Regelart() == 1   ? ms(g.runter_Text())
                           : g.Regelart() == 2 ? ms(g.Hoch_Text())
                                               : ms(g.Aus_Text());
            o << "  Regelung(" << s << "," << r << ")  " << g.beschreibung() << "  [" << kind
              << "]\n";
            if (g.Regelart() == 0)
                continue;
            o << "      set points  "
              << ms(g.SoTag_Text().isEmpty() ? QStringLiteral("Wert") : g.SoTag_Text()) << " "
              << num(g.RW_SommerTag());
            if (!g.SoNacht_Text().isEmpty())
                o << ", " << ms(g.SoNacht_Text()) << " " << num(g.RW_SommerNacht());
            o << ", winter " << num(g.RW_WinterTag()) << "/" << num(g.RW_WinterNacht()) << " "
              << unit << "\n";
            o << "      alarm       below " << num(g.RW_UntererAlarm()) << ", above "
              << num(g.RW_ObererAlarm()) << " " << unit << "\n";
            o << "      warning     below " << num(g.SW_UntereWarnung()) << ", above "
              << num(g.SW_ObereWarnung()) << " " << unit << "\n";
            o << "      socket      "
              << (g.DosenNr() ? QString::number(g.DosenNr()) : QStringLiteral("-"))
              << "   dead time " << g.Totzeit() << "\n";
        }
    }
    o.flush();
}

struct ProgramRequest {
    bool yes = false;
    bool calibrationFromController = false;
    ControllerArg controller;
    bool show = false;       // else set
    QStringList assignments; // NAME=VALUE of set
};

// Says on standard error which assignment names no field; false then.
bool knownFields(const QStringList &assignments)
{
    static const QRegularExpression regulation(QStringLiteral(R"(^Regelung\(\d+,\d+\)\.(\w+)$)"));
    for (const QString &a : assignments) {
        const QString name = a.section(QLatin1Char('='), 0, 0).trimmed();
        const auto m = regulation.match(name);
        const QString generic =
            m.hasMatch() ? QStringLiteral("Regelung(S,R).") + m.captured(1) : name;
        if (!a.contains(QLatin1Char('=')) || !controllerFieldNames().contains(generic)) {
            err() << "unknown field " << name << " (see: program --controller ADDR show)\n";
            return false;
        }
    }
    return true;
}

// Fills the request from the command line; the exit code when it is no good.
std::optional<int> readProgramRequest(const CommandLine &line, ProgramRequest *request)
{
    request->yes = line.isSet(QStringLiteral("yes"));
    const QString which = line.value(QStringLiteral("calibration"));
    if (line.isSet(QStringLiteral("calibration")) && which != QLatin1String("database") &&
        which != QLatin1String("controller"))
        return line.usageError(QStringLiteral("--calibration takes database or controller"));
    request->calibrationFromController = which == QLatin1String("controller");
    QList<ControllerArg> controllers;
    const QString controllerProblem =
        controllersFrom(line.values(QStringLiteral("controller")), &controllers, false);
    if (!controllerProblem.isEmpty())
        return line.usageError(controllerProblem);
    request->controller = controllers.first();
    QStringList args = line.arguments();
    const QString action = args.isEmpty() ? QString() : args.takeFirst();
    if (action != QLatin1String("show") && action != QLatin1String("set"))
        return line.usageError(
            action.isEmpty() ? QStringLiteral("show or set is missing")
                             : QStringLiteral("unknown action '%1' (show or set)").arg(action));
    request->show = action == QLatin1String("show");
    if (request->show && !args.isEmpty())
        return line.usageError(QStringLiteral("show takes no further arguments"));
    if (!request->show && args.isEmpty())
        return line.usageError(QStringLiteral("set needs at least one NAME=VALUE"));
    // Check names and values before anything talks to the controller.
    if (!request->show && !knownFields(args))
        return kExitUsage;
    request->assignments = args;
    return std::nullopt;
}

int setFields(CliSession &session, cTarvelon &t, const QStringList &assignments)
{
    FieldChanges changes;
    for (const QString &a : assignments) {
        const int eq = a.indexOf(QLatin1Char('='));
        changes.append({a.left(eq).trimmed(), a.mid(eq + 1)});
    }
    const ProgramChange change = changeProgram(t, changes);
    session.progress().finish();
    if (change.outcome == ProgramChange::Outcome::Refused) {
        err() << errorText(change.error) << "\n";
        return kExitUsage;
    }
    if (change.outcome == ProgramChange::Outcome::WriteFailed) {
        // The transfer's failure was shown by the operation itself.
        err() << "Nothing was changed in the database.\n";
        return kExitFailed;
    }
    out() << (change.written
                  ? QStringLiteral("Program written to controller %1.\n").arg(t.aq_id_raw())
                  : QStringLiteral("The program is unchanged; nothing was written "
                                   "to the controller.\n"));
    return kExitOk;
}

int runProgram(const CliOptions &options, const ProgramRequest &request)
{
    CliSession session(options);
    session.interaction().calibrationFromController = request.calibrationFromController;
    QString error;
    auto t = connectController(session, request.controller, request.yes, &error);
    if (!t) {
        err() << error << "\n";
        return kExitFailed;
    }
    if (request.show) {
        printController(*t, request.controller.text);
        return kExitOk;
    }
    return setFields(session, *t, request.assignments);
}

} // namespace

int cmdProgram(const CliOptions &options, const QStringList &argsIn)
{
    CommandLine line(
        QStringLiteral("program"),
        QStringLiteral("--controller ADDR [--yes] [--calibration database|controller]\n"
                       "                           show | set NAME=VALUE ..."),
        QStringLiteral(
            "  show   print every controller field, sensor, fitted socket and regulation\n"
            "  set    change fields and write the program to the controller, e.g.\n"
            "         aq_hd_ph=7.25  aq_AnzLeitwert=1  Regelung(2,1).RW_ObererAlarm=27.5\n"
            "         Regelung(2,1).SW_ObereWarnung=26.8  Regelung(2,1).beschreibung=Heater"),
        QLatin1String(kQuestionRules));
    line.add(QStringLiteral("controller"), QLatin1String(kControllerAddressHelp),
             QStringLiteral("ADDR"));
    line.addConnectAnswers();
    if (const auto done = line.parse(argsIn))
        return *done;
    ProgramRequest request;
    if (const auto refused = readProgramRequest(line, &request))
        return *refused;
    try {
        return runProgram(options, request);
    } catch (const StoreError &e) {
        err() << errorText(e.error()) << "\n";
        return kExitFailed;
    } catch (const std::exception &e) {
        err() << e.what() << "\n";
        return kExitFailed;
    }
}
