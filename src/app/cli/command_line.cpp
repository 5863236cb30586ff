// Option parsing shared by every ostracom-cli command.

#include "app/cli/command_line.h"

#include "app/cli/cli.h"

#include <algorithm>
#include <utility>

const char *const kQuestionRules =
    "Questions a controller operation would ask are answered without waiting, by\n"
    "which question it is (never by its text, which follows the language):\n"
    "  - taking over the controller's program (clock question): OK;\n"
    "  - a calibration that differs between controller and database: the database copy\n"
    "    is kept and written to the controller, unless --calibration controller is given;\n"
    "  - starting to write a changed program: Yes, since the command asked for it;\n"
    "  - a new controller (without identifier) is programmed with a new identifier only\n"
    "    with --yes, otherwise it is refused;\n"
    "  - any other question gets the cautious answer (Cancel or No).\n";

CommandLine::CommandLine(QString command, QString synopsis, QString about, QString notes)
    : m_command(std::move(command)), m_synopsis(std::move(synopsis)), m_about(std::move(about)),
      m_notes(std::move(notes))
{
    // Long options only; "-h" is the one short name.
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    add(QStringLiteral("help"), QStringLiteral("this text"));
}

void CommandLine::add(const QString &name, const QString &description, const QString &valueName,
                      const QStringList &aliases)
{
    QStringList names = QStringList{name} + aliases;
    if (name == QLatin1String("help"))
        names.prepend(QStringLiteral("h"));
    QCommandLineOption option(names, description, valueName);
    m_parser.addOption(option);
    m_options.append(option);
}

void CommandLine::refuse(const QString &name, const QString &why)
{
    m_refused.append({name, why});
}

void CommandLine::stopAtFirstArgument()
{
    m_parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
}

std::optional<int> CommandLine::parse(const QStringList &args)
{
    // The parser skips the first entry, which is the program's name.
    if (!m_parser.parse(QStringList{QStringLiteral("ostracom-cli")} + args)) {
        const QStringList unknown = m_parser.unknownOptionNames();
        for (const auto &[name, why] : std::as_const(m_refused)) {
            if (unknown.contains(name)) {
                err() << why << "\n";
                return kExitUsage;
            }
        }
        return usageError(m_parser.errorText());
    }
    if (m_parser.isSet(QStringLiteral("help"))) {
        printHelp(out());
        out().flush();
        return kExitOk;
    }
    return std::nullopt;
}

int CommandLine::usageError(const QString &why) const
{
    const QString command = m_command.isEmpty() ? QStringLiteral("ostracom-cli") : m_command;
    err() << command << ": " << why << "\n"
          << "Try: ostracom-cli " << (m_command.isEmpty() ? QString() : m_command + u' ')
          << "--help\n";
    err().flush();
    return kExitUsage;
}

void CommandLine::printHelp(QTextStream &s) const
{
    s << "Usage: ostracom-cli " << m_command
      << (m_command.isEmpty() || m_synopsis.isEmpty() ? QString() : QStringLiteral(" "))
      << m_synopsis << "\n";
    if (!m_about.isEmpty())
        s << m_about << (m_about.endsWith(u'\n') ? "" : "\n");
    s << "\n" << (m_command.isEmpty() ? "Global options:\n" : "Options:\n");
    // --help, added first, is listed last.
    QList<QCommandLineOption> options = m_options.mid(1);
    options.append(m_options.first());
    QStringList columns;
    for (const QCommandLineOption &o : std::as_const(options)) {
        QStringList names;
        for (const QString &n : o.names())
            names.append((n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n);
        columns.append(names.join(QStringLiteral(", ")) +
                       (o.valueName().isEmpty() ? QString() : u' ' + o.valueName()));
    }
    qsizetype width = 0;
    for (const QString &c : std::as_const(columns))
        width = std::max(width, c.size());
    for (qsizetype i = 0; i < options.size(); ++i) {
        // Descriptions of several lines continue under their first line.
        QString description = options[i].description();
        description.replace(u'\n', u'\n' + QString(width + 5, u' '));
        s << "  " << columns[i].leftJustified(width + 3) << description << "\n";
    }
    if (!m_notes.isEmpty())
        s << "\n" << m_notes << (m_notes.endsWith(u'\n') ? "" : "\n");
    s.flush();
}

void CommandLine::addConnectAnswers()
{
    add(QStringLiteral("yes"), QStringLiteral("give a new controller (one without identifier)\n"
                                              "a new identifier"));
    add(QStringLiteral("calibration"),
        QStringLiteral("which copy of a differing calibration is kept\n(default: database)"),
        QStringLiteral("database|controller"));
}

std::optional<QDateTime> parseCliTime(const QString &text, bool endOfDay)
{
    for (const char *format : {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd HH:mm"}) {
        const QDateTime t = QDateTime::fromString(text, QLatin1String(format));
        if (t.isValid())
            return t;
    }
    const QDate d = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (!d.isValid())
        return std::nullopt;
    return QDateTime(d, endOfDay ? QTime(23, 59, 59) : QTime(0, 0, 0));
}
