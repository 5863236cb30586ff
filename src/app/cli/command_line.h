#pragma once

#include <QCommandLineParser>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <optional>

// The options of one command (or the global ones), parsed the same way everywhere: --help
// prints the command's usage and options and ends with 0; a usage error names the command,
// says what is wrong on standard error and ends with 2.
class CommandLine
{
public:
    // command: empty for the global options. synopsis follows "ostracom-cli COMMAND" in the
    // usage line; about is printed before the options, notes after them.
    CommandLine(QString command, QString synopsis, QString about = {}, QString notes = {});

    // A switch, or an option taking a value when valueName is given; aliases are other
    // names of the same option, read under `name`.
    void add(const QString &name, const QString &description, const QString &valueName = {},
             const QStringList &aliases = {});
    // --yes and --calibration: how the questions of connecting a controller are answered.
    void addConnectAnswers();
    // An option that is refused with a message of its own instead of "unknown option".
    void refuse(const QString &name, const QString &why);
    // Everything from the first argument that is not an option on belongs to it.
    void stopAtFirstArgument();

    // Parses the arguments after the command's name. Returns the exit code when the command
    // is finished already (help shown, usage error), nullopt when it should run.
    std::optional<int> parse(const QStringList &args);

    bool isSet(const QString &name) const { return m_parser.isSet(name); }
    QString value(const QString &name) const { return m_parser.value(name); }
    QStringList values(const QString &name) const { return m_parser.values(name); }
    QStringList arguments() const { return m_parser.positionalArguments(); }
    // The options in the order given, for switches where the last one wins.
    QStringList givenOptions() const { return m_parser.optionNames(); }

    // Prints "COMMAND: why" and where to find help; returns kExitUsage.
    int usageError(const QString &why) const;
    void printHelp(QTextStream &s) const;

private:
    QString m_command;
    QString m_synopsis;
    QString m_about;
    QString m_notes;
    QCommandLineParser m_parser;
    QList<QCommandLineOption> m_options;
    QList<QPair<QString, QString>> m_refused;
};

// A time given on the command line: YYYY-MM-DD HH:MM[:SS] (or with a T between), or a day
// alone, which stands for its start, or for its end when `endOfDay`.
std::optional<QDateTime> parseCliTime(const QString &text, bool endOfDay);

// How questions of controller operations are answered, for the help of the commands that
// ask them.
extern const char *const kQuestionRules;
