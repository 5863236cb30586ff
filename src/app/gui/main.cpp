// ostracom: the desktop program.
//
//   ostracom [--data-dir DIR] [--db PATH] [--lang NAME]
//            [--connect tcp:HOST[:PORT]|serial:DEVICE]...

#include "link/protocol.h"
#include "model/error_text.h"
#include "store/database.h"
#include "store/datadir.h"
#include "store/datadir_lock.h"
#include "store/store_error.h"
#include "ui/ostracom_form.h"

#include "ostracom_version.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTextStream>

#include <cstdio>
#include <memory>

#include <sys/stat.h>

namespace
{

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char *const kUsage =
    "usage: ostracom [--data-dir DIR] [--db PATH|URL] [--lang NAME]\n"
    "                [--connect tcp:HOST[:PORT]|serial:DEVICE]...\n"
    "\n"
    "  --data-dir DIR   folder of ostracom.db, mail.txt and ostracom.log\n"
    "  --db PATH        the database file (default: ostracom.db in the data folder)\n"
    "  --db URL         or a PostgreSQL database: postgresql://USER@HOST[:PORT]/NAME;\n"
    "                   the password comes from ~/.pgpass (or the file PGPASSFILE names)\n"
    "                   or PGPASSWORD, never from the command line\n"
    "  --lang NAME      the language for this run (default: the stored one)\n"
    "  --connect ADDR   add this controller at start, as the add dialog does; repeatable\n"
    "  --version        print the program's version\n";

struct Options {
    QString dataDir;
    QString dbPath;
    QString lang;
    QList<LinkParams> connect;
};

// Returns an error text for a usage error, empty when the options are fine.
QString parseOptions(const QStringList &args, Options *options, bool *help, bool *version)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            *help = true;
            return QString();
        }
        if (a == QLatin1String("--version")) {
            *version = true;
            return QString();
        }
        const bool takesValue = a == QLatin1String("--data-dir") || a == QLatin1String("--db") ||
                                a == QLatin1String("--lang") || a == QLatin1String("--connect");
        if (!takesValue)
            return QStringLiteral("unknown option '%1'").arg(a);
        if (i + 1 >= args.size())
            return QStringLiteral("%1 needs a value").arg(a);
        const QString value = args[++i];
        if (a == QLatin1String("--data-dir")) {
            options->dataDir = value;
        } else if (a == QLatin1String("--db")) {
            options->dbPath = value;
        } else if (a == QLatin1String("--lang")) {
            options->lang = value;
        } else {
            Error error;
            const auto link = parseControllerAddress(value, &error);
            if (!link)
                return errorText(error);
            options->connect.append(*link);
        }
    }
    return QString();
}

int startFailure(const QString &message)
{
    QTextStream(stderr) << "ostracom: " << message << "\n";
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ostracom"), message, QMessageBox::Ok);
    box.exec();
    return kExitFailed;
}

} // namespace

int main(int argc, char *argv[])
{
    // Everything the program writes (database, spool, mail and log files) is the owner's
    // alone: the database holds the mail password.
    ::umask(077);
    // Options first, so that --help, --version and usage errors work without a display.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    Options options;
    bool help = false;
    bool version = false;
    const QString usageError = parseOptions(args, &options, &help, &version);
    if (help) {
        QTextStream(stdout) << kUsage;
        return kExitOk;
    }
    if (version) {
        QTextStream(stdout) << "ostracom " << kOstracomVersion << "\n";
        return kExitOk;
    }
    if (!usageError.isEmpty()) {
        QTextStream(stderr) << "ostracom: " << usageError << "\n" << kUsage;
        return kExitUsage;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ostracom"));
    QApplication::setOrganizationName(QStringLiteral("ostracom"));

    QString dataDir;
    std::unique_ptr<Database> db;
    // The window polls: like the service, it refuses to share a data folder with another
    // poller, whose spool it would race on.
    DataDirLock lock;
    // An archive written by an older version gets its chart summaries on first open, which
    // takes minutes for years of values: the user sees how far it has come. (No language
    // is loaded before the database is open.)
    std::unique_ptr<QProgressDialog> upgrade;
    Database::setUpgradeProgress([&upgrade](qint64 done, qint64 total) {
        if (!upgrade) {
            upgrade = std::make_unique<QProgressDialog>(
                QStringLiteral("Preparing the archive for charts ..."), QString(), 0, int(total));
            upgrade->setWindowTitle(QStringLiteral("Ostracom"));
            upgrade->setMinimumDuration(0);
        }
        upgrade->setValue(int(done));
        QCoreApplication::processEvents();
    });
    try {
        dataDir = prepareDataDirectory(chooseDataDirectory(options.dataDir, options.dbPath));
        lock.acquire(dataDir);
        db = std::make_unique<Database>(databaseLocation(dataDir, options.dbPath), dataDir);
        Database::setUpgradeProgress({});
        upgrade.reset();
    } catch (const StoreError &e) {
        return startFailure(errorText(e.error()));
    }

    std::unique_ptr<OstracomForm> form;
    try {
        form = std::make_unique<OstracomForm>(*db, dataDir, options.lang);
    } catch (const StoreError &e) {
        return startFailure(errorText(e.error()));
    }
    form->show();
    if (!form->languageProblem().isEmpty()) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Ostracom"), form->languageProblem(),
                        QMessageBox::Ok, form.get());
        box.exec();
    }
    if (!options.connect.isEmpty())
        form->connectAtStart(options.connect);
    const int code = app.exec();
    form.reset();
    return code;
}
