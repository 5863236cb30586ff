// ostracom-cli: the Ostracom core without a window.

#include "app/cli/cli.h"

#include "ostracom_version.h"

#include <QCoreApplication>

#include <cstdio>

#include <sys/stat.h>

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
    {"probe", cmdProbe,
     "probe --controller ADDR    read a controller's version (ADDR: tcp:HOST[:PORT] or "
     "serial:DEVICE)"},
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
    {"mail-test", cmdMailTest,
     "mail-test                  send a test message with the stored settings"},
    {"export", cmdExport,
     "export --id N [--sensor S] [--from T] [--to T] [--out FILE]\n"
     "                             the archive as CSV (T: YYYY-MM-DD[ HH:MM:SS])"},
};

void printHelp(QTextStream &s)
{
    s << "Usage: ostracom-cli [global options] COMMAND [options]\n\n"
         "Global options:\n"
         "  --data-dir DIR   where ostracom.db, mail.txt and ostracom.log live\n"
         "                   (default: the user's application data folder)\n"
         "  --db PATH        another database file\n"
         "  --lang NAME      language for this run (default: the stored language)\n"
         "  --help           this text\n"
         "  --version        print the program's version\n\n"
         "Commands:\n";
    for (const Command &c : kCommands)
        s << "  " << c.usage << "\n";
    s << "\nQuestions a controller operation would ask are answered without waiting, by\n"
         "which question it is (never by its text, which follows the language):\n"
         "  - taking over the controller's program (clock question): OK;\n"
         "  - a calibration that differs between controller and database: the database copy\n"
         "    is kept and written to the controller, unless --calibration controller is given;\n"
         "  - starting to write a changed program: Yes, since the command asked for it;\n"
         "  - a new controller (without identifier) is programmed with a new identifier only\n"
         "    with --yes, otherwise it is refused;\n"
         "  - any other question gets the cautious answer (Cancel or No).\n"
         "\nExit codes: 0 success, 1 the operation failed, 2 usage error.\n";
    s.flush();
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
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostracom"));
    QCoreApplication::setOrganizationName(QStringLiteral("ostracom"));

    QStringList args = app.arguments().mid(1);
    CliOptions options;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString opt = args.takeFirst();
        if (opt == QLatin1String("--help") || opt == QLatin1String("-h")) {
            printHelp(out());
            return kExitOk;
        }
        if (opt == QLatin1String("--version")) {
            out() << "ostracom-cli " << kOstracomVersion << "\n";
            out().flush();
            return kExitOk;
        }
        QString *target = nullptr;
        if (opt == QLatin1String("--data-dir"))
            target = &options.dataDir;
        else if (opt == QLatin1String("--db"))
            target = &options.dbPath;
        else if (opt == QLatin1String("--lang"))
            target = &options.lang;
        if (!target) {
            err() << "Unknown option " << opt << "\n";
            printHelp(err());
            return kExitUsage;
        }
        if (args.isEmpty()) {
            err() << opt << " needs a value\n";
            return kExitUsage;
        }
        *target = args.takeFirst();
    }
    if (args.isEmpty()) {
        printHelp(err());
        return kExitUsage;
    }
    const QString name = args.takeFirst();
    for (const Command &c : kCommands) {
        if (name == QLatin1String(c.name)) {
            const int rc = c.run(options, args);
            out().flush();
            err().flush();
            return rc;
        }
    }
    err() << "Unknown command " << name << "\n";
    printHelp(err());
    return kExitUsage;
}
