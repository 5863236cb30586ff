#include "app/cli/session.h"

#include "model/ctarvelon.h"
#include "model/error_text.h"
#include "service/monitoring_service.h"
#include "store/datadir.h"
#include "store/strings.h"

#include <unistd.h>

QString consoleText(const QString &text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

Interaction::Answer CliInteraction::ask(Question question, const QString &text,
                                        const QString &title, Buttons buttons, Icon)
{
    Answer answer = buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    switch (question) {
    case Question::ClockTakeover:
        answer = Answer::Ok;
        break;
    case Question::CalibrationDiffers:
        answer = calibrationFromController ? Answer::Cancel : Answer::Ok;
        break;
    case Question::StartProgramming:
        answer = Answer::Yes;
        break;
    case Question::NewController:
        answer = programNew ? Answer::Ok : Answer::Cancel;
        break;
    // Removing controllers and leaving belong to the window.
    case Question::RemoveController:
    case Question::ExitProgram:
    case Question::ReplaceSmsTable:
        break;
    }
    static const char *const kNames[] = {"OK", "Cancel", "Yes", "No"};
    err() << consoleText(title.isEmpty() ? text : title + QStringLiteral(": ") + text) << " -> "
          << kNames[static_cast<int>(answer)] << "\n";
    err().flush();
    return answer;
}

void CliInteraction::tell(const QString &text, const QString &title, Icon)
{
    err() << consoleText(title.isEmpty() ? text : title + QStringLiteral(": ") + text) << "\n";
    err().flush();
}

CliProgress::CliProgress() : m_tty(isatty(STDERR_FILENO) == 1)
{
}

void CliProgress::DisplayProgress(const QString &text, qint64 current, qint64 maximum)
{
    if (!m_tty || maximum <= 0)
        return;
    const qint64 percent = std::min<qint64>(100, current * 100 / maximum);
    err() << "\r" << consoleText(text) << " " << percent << "%   ";
    err().flush();
    m_open = true;
}

void CliProgress::finish()
{
    if (m_open) {
        err() << "\n";
        err().flush();
        m_open = false;
    }
}

CliSession::CliSession(const CliOptions &options, Access access)
{
    const QString dataDir = chooseDataDirectory(options.dataDir, options.dbPath);
    // An archive of an older version gets its chart summaries on first open; on a large one
    // that takes minutes, so the count of sensors done is shown.
    Database::setUpgradeProgress([](qint64 done, qint64 total) {
        err() << "\rPreparing the archive for charts: sensor " << done << " of " << total
              << (done == total ? "\n" : "");
        err().flush();
    });
    if (access == Access::ReadOnly) {
        // Reading never creates a folder or a database: a mistyped path is an error.
        m_dataDir = dataDir;
        const QString location = databaseLocation(m_dataDir, options.dbPath);
        m_db = std::make_unique<Database>(location, m_dataDir, Database::Mode::Attach);
        // A database of an older version is brought up to date as any start of the program
        // would, instead of failing on a table it does not have yet.
        if (m_db->needsUpgrade())
            m_db = std::make_unique<Database>(location, m_dataDir);
    } else {
        m_dataDir = prepareDataDirectory(dataDir);
        m_db = std::make_unique<Database>(databaseLocation(m_dataDir, options.dbPath), m_dataDir);
    }
    const QString languageProblem = initProgramLanguage(*m_db, options.lang);
    if (!languageProblem.isEmpty())
        err() << languageProblem << "\n";
    // Told once the language is set.
    const QStringList restored = m_db->restoredSummaryObjects();
    if (!restored.isEmpty())
        err() << ms("Fehlende Teile der Archivzusammenfassungen wurden wiederhergestellt und "
                    "die Zusammenfassungen neu berechnet: ")
              << restored.join(QStringLiteral(", ")) << "\n";
}

cHydoConnect &CliSession::link()
{
    if (!m_link)
        m_link = cHydoConnect::createDefault(m_clock);
    return *m_link;
}

QString controllersFrom(const QStringList &addresses, QList<ControllerArg> *controllers,
                        bool repeatable)
{
    if (addresses.isEmpty())
        return QStringLiteral("--controller is missing: tcp:HOST[:PORT] or serial:DEVICE");
    if (!repeatable && addresses.size() > 1)
        return QStringLiteral("--controller may be given once here");
    for (const QString &address : addresses) {
        QString error;
        const auto params = parseControllerAddress(address, &error);
        if (!params)
            return error;
        controllers->append(ControllerArg{*params, address});
    }
    return QString();
}

std::unique_ptr<cTarvelon> connectController(CliSession &session, const ControllerArg &controller,
                                             bool programNew, QString *error)
{
    auto t =
        std::make_unique<cTarvelon>(session.clock(), session.progress(), session.interaction());
    session.interaction().programNew = programNew;
    bool cancelled = false;
    const Error e =
        connectAndAdopt(*t, controller.params, session.db(), session.link(), &cancelled);
    session.progress().finish();
    if (cancelled) {
        *error = QStringLiteral("%1 has no identifier yet; run again with --yes to program it "
                                "with a new identifier")
                     .arg(controller.text);
        return nullptr;
    }
    if (!e.ok()) {
        *error = consoleText(errorText(e));
        return nullptr;
    }
    return t;
}
