// ostracom-cli poll: the headless monitoring service.

#include "app/cli/cli.h"
#include "app/cli/command_line.h"
#include "app/cli/session.h"

#include "model/ctarvelon.h"
#include "model/error_text.h"
#include "model/mail_notifier.h"
#include "model/monitor.h"
#include "service/monitoring_service.h"
#include "store/archive_spool.h"
#include "store/datadir_lock.h"
#include "store/mail.h"
#include "store/strings.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace
{

std::atomic<bool> g_stop{false};

// The first signal ends the service after the exchange in progress; a second one, for a
// user who cannot wait for a slow mail server, ends it at once. Nothing is lost either way:
// the archive's transactions and the spool's replacement survive a sudden end, and records
// not yet acknowledged stay on the controller.
extern "C" void onStopSignal(int signal)
{
    if (g_stop.exchange(true)) {
        static const char kNow[] = "\nstopped at once\n";
        [[maybe_unused]] const auto written = ::write(STDERR_FILENO, kNow, sizeof kNow - 1);
        ::_exit(128 + signal);
    }
}

void installStopHandlers()
{
    struct sigaction sa {
    };
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

// Sleeps in short slices so that a stop request is honoured at once.
void sleepUnlessStopped(qint64 ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!g_stop.load() && timer.elapsed() < ms)
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(100, ms - timer.elapsed())));
}

QString stamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

constexpr const char *kAbout =
    "Connects every controller, then every interval (default 10 s) downloads its stored\n"
    "measurements into the archive and checks every regulation's warning and alarm limits,\n"
    "sending alarm e-mails with the stored mail settings. One line per controller and cycle.\n"
    "Changed settings (mail, warning limits, descriptions, alarm quality) count from the\n"
    "next cycle on.\n"
    "Alarm mails wait in the outbox folder of the data directory until the mail server\n"
    "takes them: a failed one is tried again after 30 s, 60 s, 120 s ... at most every\n"
    "10 min, and at once when the service starts; one older than the longest wait\n"
    "(alarm-quality --mail-max-age) is given up with a line in the log. See mail-queue.\n"
    "With the no-data alarm on (see alarm-quality) a controller without a good download\n"
    "for that long is mailed once and shown as NO DATA until it delivers again, which is\n"
    "mailed too.\n"
    "A controller that does not answer is reported and tried again in the next cycle.\n"
    "SIGINT or SIGTERM ends the service after the exchange in progress; a second one\n"
    "ends it at once. A database that is locked by another program is tried again in\n"
    "the next cycle; meanwhile the records wait in the spool file.";

} // namespace

int cmdPoll(const CliOptions &options, const QStringList &args)
{
    CommandLine line(QStringLiteral("poll"),
                     QStringLiteral("--controller ADDR [--controller ADDR ...] [--cycles N]\n"
                                    "                        [--interval SECONDS] [--yes] "
                                    "[--calibration database|controller]"),
                     QLatin1String(kAbout), QLatin1String(kQuestionRules));
    line.add(QStringLiteral("controller"),
             QLatin1String(kControllerAddressHelp) + QStringLiteral("; may be repeated"),
             QStringLiteral("ADDR"));
    line.add(QStringLiteral("cycles"), QStringLiteral("end after N cycles (default: when stopped)"),
             QStringLiteral("N"));
    line.add(QStringLiteral("interval"),
             QStringLiteral("seconds between cycles, 0 to 86400 (default: 10)"),
             QStringLiteral("SECONDS"));
    line.addConnectAnswers();
    if (const auto done = line.parse(args))
        return *done;
    const bool yes = line.isSet(QStringLiteral("yes"));
    int cycles = 0; // 0: until stopped
    double intervalSeconds = 10.0;
    bool calibrationFromController = false;
    for (const char *name : {"cycles", "interval", "calibration"}) {
        const QString option = QLatin1String(name);
        if (!line.isSet(option))
            continue;
        const QString v = line.value(option);
        bool ok = false;
        if (option == QLatin1String("cycles")) {
            cycles = v.toInt(&ok);
            ok = ok && cycles > 0;
        } else if (option == QLatin1String("interval")) {
            intervalSeconds = v.toDouble(&ok);
            ok = ok && intervalSeconds >= 0 && intervalSeconds <= 86400;
        } else {
            ok = v == QLatin1String("database") || v == QLatin1String("controller");
            calibrationFromController = v == QLatin1String("controller");
        }
        if (!ok)
            return line.usageError(
                QStringLiteral("--%1 needs a valid value (got '%2')").arg(option, v));
    }
    QList<ControllerArg> controllers;
    const QString controllerProblem =
        controllersFrom(line.values(QStringLiteral("controller")), &controllers, true);
    if (!controllerProblem.isEmpty())
        return line.usageError(controllerProblem);
    if (!line.arguments().isEmpty())
        return line.usageError(QStringLiteral("unknown arguments: ") +
                               line.arguments().join(QLatin1Char(' ')));

    installStopHandlers();
    // A database held by another program at start is waited for, as it is in every cycle.
    std::unique_ptr<CliSession> opened;
    while (!opened) {
        try {
            opened = std::make_unique<CliSession>(options);
        } catch (const StoreError &e) {
            if (e.kind() != StoreError::Kind::Busy) {
                err() << e.message() << "\n";
                return kExitFailed;
            }
            out() << stamp() << "  " << e.message() << "; trying again in " << intervalSeconds
                  << " s\n";
            out().flush();
            sleepUnlessStopped(static_cast<qint64>(std::max(1.0, intervalSeconds) * 1000));
            if (g_stop.load())
                return kExitOk;
        }
    }
    CliSession &session = *opened;
    try {
        DataDirLock lock;
        lock.acquire(session.dataDir());
        session.interaction().calibrationFromController = calibrationFromController;
        session.interaction().programNew = yes;
        MonitoringService service(session.db(), session.dataDir(), session.interaction(),
                                  session.progress());
        const QString logPath = QDir(session.dataDir()).filePath(QLatin1String(kLogFileName));
        // Problems of the archive also go to the log, where they stay after the console.
        auto logProblem = [&](const QString &text) {
            try {
                appendLogLine(logPath, logTimestamp() + QStringLiteral("   ") + text);
            } catch (const MailLogError &e) {
                err() << e.what() << "\n";
            }
        };

        out() << stamp() << "  polling " << controllers.size() << " controller(s) every "
              << intervalSeconds << " s; archive " << session.db().location() << "\n";
        out().flush();
        for (const ControllerArg &c : controllers)
            service.addController(
                c.params, c.text, true,
                [text = c.text, &session](const MonitoringService::AddOutcome &o) {
                    session.progress().finish();
                    if (o.error.ok())
                        return;
                    out() << stamp() << "  " << text << "  not connected: "
                          << consoleText(errorText(o.error))
                                 .replace(QLatin1Char('\n'), QLatin1Char(' '))
                          << "\n";
                    out().flush();
                });

        QEventLoop loop;
        QObject::connect(&service, &MonitoringService::cycleFinished, &loop, [&] {
            session.progress().finish();
            const ServiceStatus &status = service.status();
            for (int i = 1; i <= status.controllers.size(); ++i) {
                const ControllerStatus &st = status.controllers[i - 1];
                cTarvelon *t = service.controller(i);
                const QString noData =
                    st.stale ? QStringLiteral("  NO DATA since ") +
                                   st.staleSince.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                             : QString();
                if (!t || (!st.connected && st.lastPoll.archived == 0)) {
                    out() << stamp() << "  " << st.address << "  not connected: "
                          << consoleText(errorText(st.lastError))
                                 .replace(QLatin1Char('\n'), QLatin1Char(' '))
                          << noData << "\n";
                    if (!st.lastPoll.notifyProblems.isEmpty())
                        out() << stamp() << "  " << st.address
                              << "  mail: " << consoleText(st.lastPoll.notifyProblems) << "\n";
                    continue;
                }
                const PollResult &r = st.lastPoll;
                QString line = stamp() + QStringLiteral("  #") + QString::number(t->aq_id_raw());
                for (int s = 1; s <= cTarvelon::kSensors; ++s)
                    if (t->Sensor(s).sensortyp() != 0)
                        line +=
                            QStringLiteral("  %1: %2").arg(s).arg(t->Sensor(s).formatierter_wert());
                line += QStringLiteral("  archived %1").arg(r.archived);
                if (r.spooled)
                    line += QStringLiteral("  spooled %1").arg(r.spooled);
                if (r.rejected)
                    line += QStringLiteral("  rejected %1").arg(r.rejected);
                line += QStringLiteral("  notifications %1").arg(r.notifications);
                line += noData;
                if (st.state != RegulationState::Normal)
                    line += st.state == RegulationState::Alarm ? QStringLiteral("  ALARM")
                                                               : QStringLiteral("  WARNING");
                if (!st.lastError.ok())
                    line += QStringLiteral("  error: ") +
                            consoleText(errorText(st.lastError))
                                .replace(QLatin1Char('\n'), QLatin1Char(' '));
                if (!r.spoolProblem.isEmpty()) {
                    line += QStringLiteral("  spool: ") + r.spoolProblem;
                    logProblem(
                        QStringLiteral("#%1 spool: %2").arg(t->aq_id_raw()).arg(r.spoolProblem));
                }
                if (r.rejected)
                    logProblem(QStringLiteral("#%1 %2 unreadable record(s) kept in %3")
                                   .arg(t->aq_id_raw())
                                   .arg(r.rejected)
                                   .arg(service.archive().rejectsPath()));
                if (!r.notifyProblems.isEmpty())
                    line += QStringLiteral("  mail: ") + consoleText(r.notifyProblems);
                out() << line << "\n";
            }
            if (status.mailsWaiting > 0) {
                out() << stamp() << "  " << status.mailsWaiting
                      << " alarm mail(s) wait in the outbox";
                if (!status.mailFailure.isEmpty())
                    out() << "; last failure: " << consoleText(status.mailFailure);
                out() << "\n";
            }
            if (!status.mailProblem.isEmpty())
                out() << stamp() << "  mail: " << consoleText(status.mailProblem) << "\n";
            if (!status.settingsProblem.isEmpty())
                out() << stamp() << "  settings: " << consoleText(status.settingsProblem)
                      << " (the settings in use stay)\n";
            if (status.spoolBacklog > 0)
                out() << stamp() << "  " << status.spoolBacklog
                      << " record(s) wait in the spool file for the database\n";
            out().flush();
            if (cycles != 0 && status.cycles >= cycles)
                loop.quit();
        });
        // The stop flag is set by a signal handler; the loop looks at it ten times a second.
        QTimer stopWatch;
        QObject::connect(&stopWatch, &QTimer::timeout, &loop, [&] {
            if (g_stop.load())
                loop.quit();
        });
        stopWatch.start(100);
        service.start(static_cast<int>(intervalSeconds * 1000));
        loop.exec();
        service.stop();
        if (g_stop.load())
            out() << stamp() << "  stopped\n";
        out().flush();
        return kExitOk;
    } catch (const StoreError &e) {
        err() << e.message() << "\n";
        return kExitFailed;
    }
}
