// ostracom-cli init: create or upgrade the database and print where it is.

#include "app/cli/cli.h"
#include "app/cli/command_line.h"

#include "model/error_text.h"
#include "store/database.h"
#include "store/datadir.h"
#include "store/strings.h"

int cmdInit(const CliOptions &options, const QStringList &args)
{
    CommandLine line(QStringLiteral("init"), QString(),
                     QStringLiteral("Creates the database, or upgrades an older one, and prints "
                                    "its path."));
    if (const auto done = line.parse(args))
        return *done;
    if (!line.arguments().isEmpty())
        return line.usageError(QStringLiteral("takes no arguments (got %1)")
                                   .arg(line.arguments().join(QLatin1Char(' '))));
    try {
        // The data folder is needed unless another database file was named; a given
        // --data-dir is prepared in any case, as the mail and log files go there.
        QString dataDir;
        if (options.dbPath.isEmpty() || !options.dataDir.isEmpty())
            dataDir = prepareDataDirectory(options.dataDir);
        const Database db(databaseLocation(dataDir, options.dbPath));
        if (const Error languageProblem = initProgramLanguage(db, options.lang);
            !languageProblem.ok())
            err() << errorText(languageProblem) << "\n";
        out() << db.location() << "\n";
        return kExitOk;
    } catch (const StoreError &e) {
        err() << errorText(e.error()) << "\n";
        return kExitFailed;
    }
}
