#include "app/cli/session.h"

#include "model/ctarvelon.h"
#include "model/error_text.h"
#include "service/monitoring_service.h"
#include "store/datadir.h"
#include "store/strings.h"

#include <QRegularExpression>

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
    if (const Error languageProblem = initProgramLanguage(*m_db, options.lang);
        !languageProblem.ok())
        err() << errorText(languageProblem) << "\n";
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

const char *const kControllerIdHelp = "the controller's identifier in the database\n"
                                      "(poll and program show print it)";
const char *const kControllerAddressHelp = "the controller's address: tcp:HOST[:PORT] or\n"
                                           "serial:DEVICE";

namespace
{

// A plain number names a stored controller; anything else is taken for an address.
std::optional<int> controllerId(const QString &value)
{
    static const QRegularExpression digits(QStringLiteral("^\\d{1,9}$"));
    const QString v = value.trimmed();
    if (!digits.match(v).hasMatch())
        return std::nullopt;
    return v.toInt();
}

} // namespace

QString controllersFrom(const QStringList &values, QList<ControllerArg> *controllers,
                        bool repeatable)
{
    if (values.isEmpty())
        return QStringLiteral("--controller is missing: tcp:HOST[:PORT] or serial:DEVICE");
    if (!repeatable && values.size() > 1)
        return QStringLiteral("--controller may be given once here");
    for (const QString &value : values) {
        if (controllerId(value))
            return QStringLiteral("--controller %1: a controller is reached at its address, "
                                  "tcp:HOST[:PORT] or serial:DEVICE; the database keeps no "
                                  "addresses to look an identifier up")
                .arg(value);
        Error error;
        const auto params = parseControllerAddress(value, &error);
        if (!params)
            return errorText(error);
        controllers->append(ControllerArg{*params, value});
    }
    return QString();
}

QString storedControllerFrom(const QStringList &values, int *id)
{
    if (values.isEmpty())
        return QStringLiteral("--controller is missing: the controller's identifier");
    if (values.size() > 1)
        return QStringLiteral("--controller may be given once here");
    const QString &value = values.first();
    if (const auto n = controllerId(value)) {
        *id = *n;
        return QString();
    }
    if (parseControllerAddress(value, nullptr))
        return QStringLiteral("--controller %1: the database knows controllers by identifier, "
                              "not by address; poll and program show print it")
            .arg(value);
    return QStringLiteral("--controller needs a controller's identifier (got '%1')").arg(value);
}

bool reportMissingController(const Database &db, int id)
{
    if (db.controllerIdInUse(id))
        return false;
    err() << "There is no controller #" << id << " in database " << db.location() << "\n";
    err().flush();
    return true;
}

std::unique_ptr<cTarvelon> connectController(CliSession &session, const ControllerArg &controller,
                                             bool programNew, QString *error)
{
    auto t =
        std::make_unique<cTarvelon>(session.clock(), session.progress(), session.interaction());
    session.interaction().programNew = programNew;
    const Outcome connected = connectAndAdopt(*t, controller.params, session.db(), session.link());
    session.progress().finish();
    if (connected.declined == Declined::FirstProgramming) {
        *error = QStringLiteral("%1 has no identifier yet; run again with --yes to program it "
                                "with a new identifier")
                     .arg(controller.text);
        return nullptr;
    }
    if (!connected.ok()) {
        // Named, since the link's own texts do not say which controller failed.
        *error = controller.text + QStringLiteral(": ") + consoleText(errorText(connected));
        return nullptr;
    }
    return t;
}
