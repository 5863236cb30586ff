// ostracom-cli poll: the headless monitoring service.

#include "app/cli/cli.h"
#include "app/cli/command_line.h"
#include "app/cli/session.h"

#include "model/ctarvelon.h"
#include "model/error_text.h"
#include "model/mail_notifier.h"
#include "service/controller_poll.h"
#include "service/controller_view.h"
#include "service/monitoring_service.h"
#include "service/mqtt_publisher.h"
#include "store/archive_spool.h"
#include "store/datadir_lock.h"
#include "store/mail.h"
#include "store/strings.h"
#ifdef OSTRACOM_CLI_WEB
#include "web/web_server.h"
#endif

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>
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
    "the next cycle; meanwhile the records wait in the spool file.\n"
    "With --mqtt each cycle's values, regulation states and connections go to an MQTT\n"
    "broker (retained), with discovery messages for home-automation hubs; a broker that\n"
    "is away never delays a cycle and is reconnected with growing pauses."
#ifdef OSTRACOM_CLI_WEB
    "\nWith --http a read-only web view shows the controller list, charts with the\n"
    "logbook, their points as CSV and /status.json. It listens on a loopback address\n"
    "unless --http-login and --http-cert/--http-key are given; then only over TLS with\n"
    "that user and password. A wrong password is logged on standard error."
#endif
    ;

struct PollOptions {
    int cycles = 0; // 0: until stopped
    double intervalSeconds = 10.0;
    bool calibrationFromController = false;
    bool yes = false;
    QList<ControllerArg> controllers;
    std::optional<MqttAddress> mqtt;
    std::optional<MqttLogin> mqttLogin;
    QString mqttCa;
#ifdef OSTRACOM_CLI_WEB
    std::optional<WebServerOptions> http;
#endif
};

void describeOptions(CommandLine &line)
{
    line.add(QStringLiteral("controller"),
             QLatin1String(kControllerAddressHelp) + QStringLiteral("; may be repeated"),
             QStringLiteral("ADDR"));
    line.add(QStringLiteral("cycles"), QStringLiteral("end after N cycles (default: when stopped)"),
             QStringLiteral("N"));
    line.add(QStringLiteral("interval"),
             QStringLiteral("seconds between cycles, 0 to 86400 (default: 10)"),
             QStringLiteral("SECONDS"));
    line.add(QStringLiteral("mqtt"),
             QStringLiteral("publish to this MQTT broker: mqtt://HOST[:PORT] or\n"
                            "mqtts://HOST[:PORT] (TLS, the certificate checked)"),
             QStringLiteral("URL"));
    line.add(QStringLiteral("mqtt-login"),
             QStringLiteral("the broker's user and password, one a line, in a file\n"
                            "only its owner may read"),
             QStringLiteral("FILE"));
    line.add(QStringLiteral("mqtt-ca"),
             QStringLiteral("the certificate authority of a broker with its own CA\n"
                            "(default: the system's)"),
             QStringLiteral("FILE"));
#ifdef OSTRACOM_CLI_WEB
    line.add(QStringLiteral("http"),
             QStringLiteral("serve the read-only web view on ADDRESS:PORT, e.g.\n"
                            "127.0.0.1:8080 (other addresses need a login and TLS)"),
             QStringLiteral("ADDR:PORT"));
    line.add(QStringLiteral("http-login"),
             QStringLiteral("the web view's user and password, one a line, in a file\n"
                            "only its owner may read"),
             QStringLiteral("FILE"));
    line.add(QStringLiteral("http-cert"), QStringLiteral("the web view's TLS certificate (PEM)"),
             QStringLiteral("FILE"));
    line.add(QStringLiteral("http-key"),
             QStringLiteral("the private key of --http-cert (PEM, no passphrase)"),
             QStringLiteral("FILE"));
#endif
    line.addConnectAnswers();
}

#ifdef OSTRACOM_CLI_WEB
// The web view's options, or the exit code of a usage error or an unusable login file.
std::optional<int> readWebOptions(const CommandLine &line, PollOptions *o)
{
    const bool http = line.isSet(QStringLiteral("http"));
    for (const char *name : {"http-login", "http-cert", "http-key"})
        if (!http && line.isSet(QLatin1String(name)))
            return line.usageError(
                QStringLiteral("--%1 goes with --http").arg(QLatin1String(name)));
    if (!http)
        return std::nullopt;
    QString problem;
    const auto address = ParseWebAddress(line.value(QStringLiteral("http")), &problem);
    if (!address)
        return line.usageError(problem);
    WebServerOptions web;
    web.address = *address;
    web.certFile = line.value(QStringLiteral("http-cert"));
    web.keyFile = line.value(QStringLiteral("http-key"));
    if (line.isSet(QStringLiteral("http-login"))) {
        web.login = ReadWebLogin(line.value(QStringLiteral("http-login")), &problem);
        if (!web.login) {
            err() << consoleText(problem) << "\n";
            return kExitFailed;
        }
    }
    // Checked with the login read, so that a refused address is told before anything starts.
    if (const QString refused = WebOptionsProblem(web); !refused.isEmpty())
        return line.usageError(refused);
    o->http = web;
    return std::nullopt;
}
#endif

// The options, or the exit code of a usage error.
std::optional<int> readOptions(const CommandLine &line, PollOptions *o)
{
    o->yes = line.isSet(QStringLiteral("yes"));
    for (const char *name : {"cycles", "interval", "calibration"}) {
        const QString option = QLatin1String(name);
        if (!line.isSet(option))
            continue;
        const QString v = line.value(option);
        bool ok = false;
        if (option == QLatin1String("cycles")) {
            o->cycles = v.toInt(&ok);
            ok = ok && o->cycles > 0;
        } else if (option == QLatin1String("interval")) {
            o->intervalSeconds = v.toDouble(&ok);
            ok = ok && o->intervalSeconds >= 0 && o->intervalSeconds <= 86400;
        } else {
            ok = v == QLatin1String("database") || v == QLatin1String("controller");
            o->calibrationFromController = v == QLatin1String("controller");
        }
        if (!ok)
            return line.usageError(
                QStringLiteral("--%1 needs a valid value (got '%2')").arg(option, v));
    }
    const QString controllerProblem =
        controllersFrom(line.values(QStringLiteral("controller")), &o->controllers, true);
    if (!controllerProblem.isEmpty())
        return line.usageError(controllerProblem);
    if (!line.arguments().isEmpty())
        return line.usageError(QStringLiteral("unknown arguments: ") +
                               line.arguments().join(QLatin1Char(' ')));
    QString problem;
    if (line.isSet(QStringLiteral("mqtt"))) {
        o->mqtt = parseMqttAddress(line.value(QStringLiteral("mqtt")), &problem);
        if (!o->mqtt)
            return line.usageError(problem);
    }
    for (const char *name : {"mqtt-login", "mqtt-ca"})
        if (!o->mqtt && line.isSet(QLatin1String(name)))
            return line.usageError(
                QStringLiteral("--%1 goes with --mqtt").arg(QLatin1String(name)));
    if (line.isSet(QStringLiteral("mqtt-login"))) {
        o->mqttLogin = readMqttLogin(line.value(QStringLiteral("mqtt-login")), &problem);
        if (!o->mqttLogin) {
            err() << consoleText(problem) << "\n";
            return kExitFailed;
        }
    }
    o->mqttCa = line.value(QStringLiteral("mqtt-ca"));
#ifdef OSTRACOM_CLI_WEB
    return readWebOptions(line, o);
#else
    return std::nullopt;
#endif
}

// Opens the database; one held by another program at start is waited for, as it is in
// every cycle. Null when the user stopped meanwhile or the database cannot be used (said).
std::unique_ptr<CliSession> openWhenFree(const CliOptions &options, double intervalSeconds,
                                         int *exitCode)
{
    for (;;) {
        try {
            return std::make_unique<CliSession>(options);
        } catch (const StoreError &e) {
            if (e.kind() != StoreError::Kind::Busy) {
                err() << errorText(e.error()) << "\n";
                *exitCode = kExitFailed;
                return nullptr;
            }
            out() << stamp() << "  " << errorText(e.error()) << "; trying again in "
                  << intervalSeconds << " s\n";
            out().flush();
            sleepUnlessStopped(static_cast<qint64>(std::max(1.0, intervalSeconds) * 1000));
            if (g_stop.load()) {
                *exitCode = kExitOk;
                return nullptr;
            }
        }
    }
}

QString oneLine(const QString &text)
{
    return consoleText(text).replace(QLatin1Char('\n'), QLatin1Char(' '));
}

// The cycle's line of one controller; problems of the archive also go to the log, where
// they stay after the console.
void printController(MonitoringService &service, int position,
                     const std::function<void(const QString &)> &logProblem)
{
    const ControllerStatus &st = service.status().controllers[position - 1];
    cTarvelon *t = service.controller(position);
    const QString noData = st.stale
                               ? QStringLiteral("  NO DATA since ") +
                                     st.staleSince.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                               : QString();
    if (!t || (!st.connected && st.lastPoll.download.archived == 0)) {
        out() << stamp() << "  " << st.address
              << "  not connected: " << oneLine(errorText(st.lastError)) << noData << "\n";
        if (!st.lastPoll.notifyProblems.isEmpty())
            out() << stamp() << "  " << st.address
                  << "  mail: " << consoleText(st.lastPoll.notifyProblems) << "\n";
        return;
    }
    const PollResult &r = st.lastPoll;
    QString line = stamp() + QStringLiteral("  #") + QString::number(t->aq_id_raw());
    for (int s = 1; s <= cTarvelon::kSensors; ++s)
        if (t->Sensor(s).sensortyp() != 0)
            line += QStringLiteral("  %1: %2").arg(s).arg(t->Sensor(s).formatierter_wert());
    line += QStringLiteral("  archived %1").arg(r.download.archived);
    if (r.download.spooled)
        line += QStringLiteral("  spooled %1").arg(r.download.spooled);
    if (r.download.rejected)
        line += QStringLiteral("  rejected %1").arg(r.download.rejected);
    line += QStringLiteral("  notifications %1").arg(r.notifications);
    line += noData;
    if (st.state != RegulationState::Normal)
        line += st.state == RegulationState::Alarm ? QStringLiteral("  ALARM")
                                                   : QStringLiteral("  WARNING");
    if (!st.lastError.ok())
        line += QStringLiteral("  error: ") + oneLine(errorText(st.lastError));
    if (!r.download.spoolProblem.isEmpty()) {
        line += QStringLiteral("  spool: ") + r.download.spoolProblem;
        logProblem(
            QStringLiteral("#%1 spool: %2").arg(t->aq_id_raw()).arg(r.download.spoolProblem));
    }
    if (r.download.rejected)
        logProblem(QStringLiteral("#%1 %2 unreadable record(s) kept in %3")
                       .arg(t->aq_id_raw())
                       .arg(r.download.rejected)
                       .arg(service.archive().rejectsPath()));
    if (!r.notifyProblems.isEmpty())
        line += QStringLiteral("  mail: ") + consoleText(r.notifyProblems);
    out() << line << "\n";
}

// What concerns the whole service: the outbox, the settings, the spool.
void printServiceNotes(const ServiceStatus &status)
{
    if (status.mailsWaiting > 0) {
        out() << stamp() << "  " << status.mailsWaiting << " alarm mail(s) wait in the outbox";
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
}

// Hands the cycle to the broker; a change in the broker's reachability is said once.
void publishCycle(MonitoringService &service, MqttPublisher *mqtt, QString *lastProblem)
{
    if (!mqtt)
        return;
    mqtt->publish(controllerViews(service));
    const QString problem = mqtt->connected() ? QString() : mqtt->problem();
    if (problem != *lastProblem)
        out() << stamp() << "  mqtt: "
              << (problem.isEmpty() ? QStringLiteral("connected") : consoleText(problem)) << "\n";
    *lastProblem = problem;
}

// Runs the service until the cycles are done or a stop signal came. `afterCycle` receives
// the length of each cycle, on the service's thread while the controllers are free.
void runService(MonitoringService &service, CliSession &session, const PollOptions &o,
                MqttPublisher *mqtt, const std::function<void(qint64)> &afterCycle)
{
    const QString logPath = QDir(session.dataDir()).filePath(QLatin1String(kLogFileName));
    auto logProblem = [&](const QString &text) {
        if (const Error e = appendLogLine(logPath, logTimestamp() + QStringLiteral("   ") + text);
            !e.ok())
            err() << errorText(e) << "\n";
    };
    for (const ControllerArg &c : o.controllers)
        service.addController(c.params, c.text, true,
                              [text = c.text, &session](const MonitoringService::AddOutcome &a) {
                                  session.progress().finish();
                                  if (a.error.ok())
                                      return;
                                  out()
                                      << stamp() << "  " << text
                                      << "  not connected: " << oneLine(errorText(a.error)) << "\n";
                                  out().flush();
                              });
    QEventLoop loop;
    QString mqttProblem;
    QElapsedTimer cycleTime;
    QObject::connect(&service, &MonitoringService::cycleStarted, &loop,
                     [&cycleTime] { cycleTime.start(); });
    QObject::connect(&service, &MonitoringService::cycleFinished, &loop, [&] {
        session.progress().finish();
        for (int i = 1; i <= service.status().controllers.size(); ++i)
            printController(service, i, logProblem);
        printServiceNotes(service.status());
        publishCycle(service, mqtt, &mqttProblem);
        if (afterCycle)
            afterCycle(cycleTime.isValid() ? cycleTime.elapsed() : -1);
        out().flush();
        if (o.cycles != 0 && service.status().cycles >= o.cycles)
            loop.quit();
    });
    // The stop flag is set by a signal handler; the loop looks at it ten times a second.
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, &loop, [&] {
        if (g_stop.load())
            loop.quit();
    });
    stopWatch.start(100);
    service.start(static_cast<int>(o.intervalSeconds * 1000));
    loop.exec();
    service.stop();
}

} // namespace

int cmdPoll(const CliOptions &options, const QStringList &args)
{
    CommandLine line(QStringLiteral("poll"),
                     QStringLiteral("--controller ADDR [--controller ADDR ...] [--cycles N]\n"
                                    "                        [--interval SECONDS] [--yes] "
                                    "[--calibration database|controller]\n"
                                    "                        [--mqtt URL [--mqtt-login FILE] "
                                    "[--mqtt-ca FILE]]"
#ifdef OSTRACOM_CLI_WEB
                                    "\n                        [--http ADDR:PORT [--http-login "
                                    "FILE] [--http-cert FILE --http-key FILE]]"
#endif
                                    ),
                     QLatin1String(kAbout), QLatin1String(kQuestionRules));
    describeOptions(line);
    if (const auto done = line.parse(args))
        return *done;
    PollOptions o;
    if (const auto done = readOptions(line, &o))
        return *done;

    installStopHandlers();
    int exitCode = kExitOk;
    const std::unique_ptr<CliSession> opened = openWhenFree(options, o.intervalSeconds, &exitCode);
    if (!opened)
        return exitCode;
    CliSession &session = *opened;
    try {
        DataDirLock lock;
        lock.acquire(session.dataDir());
        session.interaction().calibrationFromController = o.calibrationFromController;
        session.interaction().programNew = o.yes;
        std::unique_ptr<MqttPublisher> mqtt;
        if (o.mqtt) {
            mqtt = std::make_unique<MqttPublisher>(*o.mqtt, o.mqttLogin, o.mqttCa);
            if (const QString problem = mqtt->start(); !problem.isEmpty()) {
                err() << consoleText(problem) << "\n";
                return kExitFailed;
            }
        }
        MonitoringService service(session.db(), session.dataDir(), session.interaction(),
                                  session.progress());
        out() << stamp() << "  polling " << o.controllers.size() << " controller(s) every "
              << o.intervalSeconds << " s; archive " << session.db().location() << "\n";
        out().flush();
        std::function<void(qint64)> afterCycle;
#ifdef OSTRACOM_CLI_WEB
        std::unique_ptr<WebServer> web;
        if (o.http) {
            web = std::make_unique<WebServer>(session.db(), *o.http, [](const QString &line) {
                err() << stamp() << "  " << line << "\n";
                err().flush();
            });
            if (const QString problem = web->start(); !problem.isEmpty()) {
                err() << "web view: " << problem << "\n";
                return kExitFailed;
            }
            web->setSnapshot({{}, service.status(), -1, QDateTime::currentDateTime()});
            const bool tls = !o.http->certFile.isEmpty();
            const QHostAddress &host = o.http->address.host;
            out() << stamp() << "  web view at " << (tls ? "https" : "http") << "://"
                  << (host.protocol() == QAbstractSocket::IPv6Protocol
                          ? QLatin1Char('[') + host.toString() + QLatin1Char(']')
                          : host.toString())
                  << ":" << o.http->address.port << "/\n";
            afterCycle = [&service, &web](qint64 cycleMs) {
                web->setSnapshot({controllerViews(service), service.status(), cycleMs,
                                  QDateTime::currentDateTime()});
            };
        }
#endif
        runService(service, session, o, mqtt.get(), afterCycle);
        if (g_stop.load())
            out() << stamp() << "  stopped\n";
        out().flush();
        return kExitOk;
    } catch (const StoreError &e) {
        err() << errorText(e.error()) << "\n";
        return kExitFailed;
    }
}
