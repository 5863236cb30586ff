// ostracom-cli settings mail / mail-test: the alarm e-mail settings and their test.

#include "app/cli/cli.h"
#include "app/cli/command_line.h"
#include "app/cli/session.h"

#include "model/error_text.h"
#include "store/mail.h"
#include "store/strings.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

#include <optional>
#include <utility>

#include <termios.h>
#include <unistd.h>

namespace
{

// passwordFile: where this machine keeps the password of a shared database, else empty.
void printSettings(const MailSettings &s, const QString &passwordFile)
{
    QString password = s.passwort.isEmpty() ? QStringLiteral("(none)") : QStringLiteral("(set)");
    // Another machine of the same database has a password of its own, or none: its mails
    // then go without one, which the user must know before an alarm fails to arrive.
    if (!passwordFile.isEmpty())
        password += QStringLiteral(" - kept on this machine only, in %1; every machine that "
                                   "shares this database keeps its own and sends without one "
                                   "until it is set there")
                        .arg(passwordFile);
    out() << "server    " << s.servername << "\n"
          << "receiver  " << s.receiver << "\n"
          << "sender    " << s.sender << "\n"
          << "user      " << s.username << "\n"
          << "password  " << password << "\n"
          << "sending   " << (s.enabled ? "enabled" : "disabled") << "\n";
}

constexpr const char *kPasswordWays =
    "Give the password with --password-stdin (one line on standard input) or "
    "--password-file FILE (its first line).";

// The line without its line end; nullopt when the device has no line at all.
std::optional<QString> firstLine(QIODevice &device)
{
    QByteArray line = device.readLine();
    if (line.isEmpty())
        return std::nullopt;
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

std::optional<QString> passwordFromStdin(QString *problem)
{
    // At a terminal the password is typed without being shown.
    termios saved{};
    const bool terminal = ::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        err() << "Password: ";
        err().flush();
    }
    QFile in;
    std::optional<QString> line;
    if (in.open(stdin, QIODevice::ReadOnly))
        line = firstLine(in);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        err() << "\n";
    }
    if (!line)
        *problem = QStringLiteral("No password on standard input (--password-stdin reads one "
                                  "line; an empty line clears the password)");
    return line;
}

std::optional<QString> passwordFromFile(const QString &path, QString *problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("Cannot read password file %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    // A file anyone may read has given the password away already; a group may be meant.
    const QFileDevice::Permissions p = file.permissions();
    if (p & QFileDevice::ReadOther) {
        *problem = QStringLiteral("Password file %1 can be read by every user; make it private "
                                  "first (chmod 600 %1)")
                       .arg(path);
        return std::nullopt;
    }
    if (p & QFileDevice::ReadGroup)
        err() << "Warning: password file " << path << " can be read by its group\n";
    std::optional<QString> line = firstLine(file);
    if (!line)
        *problem = QStringLiteral("Password file %1 is empty").arg(path);
    return line;
}

// The options that set a text field of the mail settings.
const struct FieldOption {
    const char *name;
    QString MailSettings::*field;
    const char *description;
    const char *valueName;
} kFieldOptions[] = {
    {"server", &MailSettings::servername, "the mail server", "HOST[:PORT]"},
    {"receiver", &MailSettings::receiver, "who receives alarm messages", "ADDR"},
    {"sender", &MailSettings::sender, "the sender's address", "ADDR"},
    {"user", &MailSettings::username, "the user name at the mail server", "NAME"},
};

void addSettingsOptions(CommandLine &line)
{
    for (const auto &o : kFieldOptions)
        line.add(QLatin1String(o.name), QLatin1String(o.description), QLatin1String(o.valueName));
    line.add(QStringLiteral("password-stdin"),
             QStringLiteral("read the password as one line from standard input"));
    line.add(QStringLiteral("password-file"),
             QStringLiteral("read the password from the first line of FILE,\n"
                            "which other users must not read"),
             QStringLiteral("FILE"));
    line.add(QStringLiteral("enable"), QStringLiteral("send alarm e-mails"));
    line.add(QStringLiteral("disable"), QStringLiteral("send no alarm e-mails"));
    line.refuse(QStringLiteral("password"),
                QStringLiteral("--password is refused: a command line can be read by every user "
                               "of this machine. ") +
                    QLatin1String(kPasswordWays));
}

struct MailChange {
    QList<std::pair<QString MailSettings::*, QString>> fields;
    std::optional<int> enabled;
    std::optional<QString> password;

    bool any() const { return !fields.isEmpty() || password || enabled; }
};

// Every option is read before anything changes, so a usage error changes nothing. Answers
// the exit code when the command line is no good.
std::optional<int> readMailChange(const CommandLine &line, MailChange *change)
{
    const QStringList rest = line.arguments();
    if (rest.value(0) != QLatin1String("mail"))
        return line.usageError(rest.isEmpty() ? QStringLiteral("mail is missing")
                                              : QStringLiteral("unknown settings '%1' (there are "
                                                               "mail settings only)")
                                                    .arg(rest.first()));
    if (rest.size() > 1)
        return line.usageError(QStringLiteral("unexpected argument '%1'").arg(rest[1]));
    for (const auto &o : kFieldOptions)
        if (line.isSet(QLatin1String(o.name)))
            change->fields.append({o.field, line.value(QLatin1String(o.name))});
    // Of --enable and --disable the last one given counts.
    for (const QString &name : line.givenOptions()) {
        if (name == QLatin1String("enable"))
            change->enabled = 1;
        else if (name == QLatin1String("disable"))
            change->enabled = 0;
    }
    const bool passwordStdin = line.isSet(QStringLiteral("password-stdin"));
    const QString passwordFile = line.value(QStringLiteral("password-file"));
    if (passwordStdin && !passwordFile.isEmpty())
        return line.usageError(
            QStringLiteral("give the password one way only: --password-stdin or --password-file"));
    if (passwordStdin || !passwordFile.isEmpty()) {
        QString problem;
        change->password =
            passwordStdin ? passwordFromStdin(&problem) : passwordFromFile(passwordFile, &problem);
        if (!change->password) {
            err() << problem << "\n";
            return kExitFailed;
        }
    }
    return std::nullopt;
}

int runSettings(const CliOptions &options, const MailChange &change)
{
    // Showing the settings never creates a database.
    CliSession session(options,
                       change.any() ? CliSession::Access::ReadWrite : CliSession::Access::ReadOnly);
    MailSettings s = session.db().mailSettings().value_or(MailSettings{});
    for (const auto &[field, value] : change.fields)
        s.*field = value;
    if (change.password)
        s.passwort = *change.password;
    if (change.enabled)
        s.enabled = *change.enabled;
    if (change.any())
        session.db().saveMailSettings(s);
    printSettings(s, session.db().mailPasswordFile());
    return kExitOk;
}

} // namespace

int cmdSettings(const CliOptions &options, const QStringList &args)
{
    CommandLine line(
        QStringLiteral("settings"), QStringLiteral("mail [options]"),
        QStringLiteral("Without options it prints the stored alarm e-mail settings (never the "
                       "password);\nwith options it changes them. With a PostgreSQL database "
                       "the password is kept\nper machine, in the data folder, never in the "
                       "database."));
    addSettingsOptions(line);
    if (const auto done = line.parse(args))
        return *done;
    MailChange change;
    if (const auto refused = readMailChange(line, &change))
        return *refused;
    try {
        return runSettings(options, change);
    } catch (const StoreError &e) {
        err() << errorText(e.error()) << "\n";
        return kExitFailed;
    }
}

int cmdMailTest(const CliOptions &options, const QStringList &args)
{
    CommandLine line(QStringLiteral("mail-test"), QString(),
                     QStringLiteral("Sends a test message with the stored alarm e-mail "
                                    "settings."));
    if (const auto done = line.parse(args))
        return *done;
    if (!line.arguments().isEmpty())
        return line.usageError(QStringLiteral("takes no arguments"));
    try {
        CliSession session(options, CliSession::Access::ReadOnly);
        const MailSettings s = session.db().mailSettings().value_or(MailSettings{});
        const QString subject = ms("Ostracom---Testnachricht");
        const QString body = ms("Nachricht wurde gesendet am ") +
                             QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
        const Notification sent = sendNotification(s, session.dataDir(), subject, body);
        if (!sent.status.isEmpty()) {
            err() << consoleText(ms("Beim starten des Test ist folgender aufgetreten: ") +
                                 sent.status)
                  << "\n";
            return kExitFailed;
        }
        if (!sent.logFailure.ok()) {
            err() << errorText(sent.logFailure) << "\n";
            return kExitFailed;
        }
        if (!s.enabled) {
            // Nothing was sent; saying the test succeeded would mislead.
            err() << consoleText(ms("E-Mail Versandt ist deaktiviert !")) << "\n";
            return kExitFailed;
        }
        out() << consoleText(ms("Der Test wurde erfolgreich initiert. Bitte prüfen Sie nun Ihre "
                                "Benachrichtigung."))
              << "\n";
        return kExitOk;
    } catch (const StoreError &e) {
        err() << errorText(e.error()) << "\n";
        return kExitFailed;
    }
}
