// ostracom-cli: the Ostracom core without a window.

#include "app/cli/cli.h"
#include "app/cli/command_line.h"

#include "model/error_text.h"
#include "ostracom_version.h"
#include "store/database.h"

#include <QCoreApplication>
#ifdef OSTRACOM_CLI_CHART
#include <QApplication>
#endif

#include <memory>

#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace
{

struct Command {
    const char *name;
    int (*run)(const CliOptions &, const QStringList &);
    const char *usage;
};

const Command kCommands[] = {
    {"init", cmdInit,
     "init                       create or upgrade the database and print its path"},
    {"probe", cmdProbe, "probe --controller ADDR    read a controller's version"},
    {"program", cmdProgram,
     "program --controller ADDR [--yes] [--calibration database|controller] show|set "
     "NAME=VALUE...\n"
     "                             show a controller's program, or change fields and write it"},
    {"poll", cmdPoll,
     "poll --controller ADDR [--controller ADDR ...] [--cycles N] [--interval SECONDS] [--yes]\n"
     "                             the monitoring service: download, archive, check limits, mail"},
    {"settings", cmdSettings,
     "settings mail [--server HOST[:PORT]] [--receiver A] [--sender A] [--user U]\n"
     "              [--password-stdin|--password-file FILE] [--enable|--disable]\n"
     "                             show or change the alarm e-mail settings"},
    {"alarm-quality", cmdAlarmQuality,
     "alarm-quality [--controller ID [--regulation S-R]] [--hysteresis V] [--hold SECONDS]\n"
     "              [--repeat SECONDS] [--stale-after SECONDS]\n"
     "                             show or change how limit crossings are mailed, and the\n"
     "                             alarm for controllers that deliver no data"},
    {"mail-test", cmdMailTest,
     "mail-test                  send a test message with the stored settings"},
    {"mail-queue", cmdMailQueue,
     "mail-queue [--retry-now]   list the alarm mails waiting for the mail server, or try\n"
     "                             them now"},
    {"export", cmdExport,
     "export --controller ID [--sensor S] [--from T] [--to T] [--out FILE]\n"
     "                             the archive as CSV (T: YYYY-MM-DD[ HH:MM:SS])"},
    {"check", cmdCheck,
     "check [--repair] [--max-lines N]\n"
     "                             compare the chart summaries with the archive, rebuild them"},
    {"sms", cmdSms,
     "sms --port DEVICE version|read FILE.cfg|write FILE.cfg|reset\n"
     "                             the SMS controller: version, configuration transfers, reset"},
#ifdef OSTRACOM_CLI_CHART
    {"chart", cmdChart,
     "chart --controller ID [--sensor N]... --from T --to T [--width PX --height PX]\n"
     "      --out FILE.png|FILE.svg|FILE.csv\n"
     "                             the chart of archived values with the logbook"},
#endif
};

QString commandList()
{
    QString text = QStringLiteral("Commands (COMMAND --help or help COMMAND tells more):\n");
    for (const Command &c : kCommands)
        text += QStringLiteral("  ") + QLatin1String(c.usage) + u'\n';
    return text +
           QStringLiteral("--controller names a controller as ID, its identifier in the database, "
                          "where the\ndatabase is read, or as ADDR, tcp:HOST[:PORT] or "
                          "serial:DEVICE, where the controller\nitself is reached.\n");
}

void addGlobalOptions(CommandLine &line)
{
    line.add(QStringLiteral("data-dir"),
             QStringLiteral("where ostracom.db, mail.txt, ostracom.log and the outbox\n"
                            "of waiting alarm mails live\n"
                            "(default: the user's application data folder)"),
             QStringLiteral("DIR"));
    line.add(QStringLiteral("db"),
             QStringLiteral("another database file, or a PostgreSQL database shared\n"
                            "with other PCs: postgresql://USER@HOST[:PORT]/NAME\n"
                            "(its password from ~/.pgpass, the file PGPASSFILE names\n"
                            "or PGPASSWORD; never on the command line)"),
             QStringLiteral("PATH|URL"));
    line.add(QStringLiteral("lang"),
             QStringLiteral("language for this run (default: the stored language)"),
             QStringLiteral("NAME"));
    line.add(QStringLiteral("version"), QStringLiteral("print the program's version"));
    // Everything after the command's name is the command's own.
    line.stopAtFirstArgument();
}

const Command *findCommand(const QString &name)
{
    for (const Command &c : kCommands)
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

// Charts are drawn by the window's code, which needs a widget application: for `chart`, and
// for the poller's web view. It never shows anything, so it runs on the offscreen platform.
std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv)
{
#ifdef OSTRACOM_CLI_CHART
    bool chart = false;
    bool poll = false;
    bool http = false;
    for (int i = 1; i < argc; ++i) {
        const QLatin1String arg(argv[i]);
        chart = chart || arg == QLatin1String("chart");
        poll = poll || arg == QLatin1String("poll");
        http = http || arg == QLatin1String("--http") || arg.startsWith(QLatin1String("--http="));
    }
    if (chart || (poll && http)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // The platform wants a private runtime folder and complains on standard error
        // without one.
        if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
            // A fresh folder of our own (0700), so nobody else's can be slipped in.
            static char runtime[] = "/tmp/ostracom-runtime-XXXXXX";
            if (::mkdtemp(runtime)) {
                qputenv("XDG_RUNTIME_DIR", runtime);
                std::atexit([] { ::rmdir(runtime); });
            }
        }
        return std::make_unique<QApplication>(argc, argv);
    }
#endif
    return std::make_unique<QCoreApplication>(argc, argv);
}

} // namespace

QTextStream &out()
{
    static QTextStream s(stdout);
    return s;
}

QTextStream &err()
{
    static QTextStream s(stderr);
    return s;
}

int main(int argc, char **argv)
{
    // Everything the program writes (database, spool, mail and log files) is the owner's
    // alone: the database holds the mail password.
    ::umask(077);
    const std::unique_ptr<QCoreApplication> application = makeApplication(argc, argv);
    QCoreApplication &app = *application;
    QCoreApplication::setApplicationName(QStringLiteral("ostracom"));
    QCoreApplication::setOrganizationName(QStringLiteral("ostracom"));

    CommandLine global(QString(), QStringLiteral("[global options] COMMAND [options]"), QString(),
                       commandList() + u'\n' + QLatin1String(kQuestionRules) +
                           QStringLiteral("\nExit codes: 0 success, 1 the operation failed, "
                                          "2 usage error.\n"));
    addGlobalOptions(global);
    if (const auto done = global.parse(app.arguments().mid(1)))
        return *done;
    if (global.isSet(QStringLiteral("version"))) {
        out() << "ostracom-cli " << kOstracomVersion << "\n";
        out().flush();
        return kExitOk;
    }
    CliOptions options;
    options.dataDir = global.value(QStringLiteral("data-dir"));
    options.dbPath = global.value(QStringLiteral("db"));
    options.lang = global.value(QStringLiteral("lang"));
    // A wrong address is a wrong option: refused before any folder is made for it.
    if (const Error problem = Database::addressProblem(options.dbPath); !problem.ok())
        return global.usageError(QStringLiteral("--db: ") + errorText(problem));

    QStringList args = global.arguments();
    if (args.isEmpty()) {
        global.printHelp(err());
        return kExitUsage;
    }
    QString name = args.takeFirst();
    // "help COMMAND" is "COMMAND --help"; "help" alone is the global help.
    if (name == QLatin1String("help")) {
        if (args.isEmpty()) {
            global.printHelp(out());
            return kExitOk;
        }
        name = args.takeFirst();
        if (!args.isEmpty())
            return global.usageError(QStringLiteral("help takes one command"));
        args = QStringList{QStringLiteral("--help")};
    }
    const Command *command = findCommand(name);
    if (!command)
        return global.usageError(QStringLiteral("Unknown command ") + name);
    const int rc = command->run(options, args);
    out().flush();
    err().flush();
    return rc;
}
