// ostracom-cli settings mail / mail-test: the alarm e-mail settings and their test.

#include "app/cli/cli.h"
#include "app/cli/session.h"

#include "store/mail.h"
#include "store/strings.h"

#include <QDateTime>
#include <QLocale>

namespace
{

MailAccount accountOf(const MailSettings &s)
{
    return MailAccount{s.servername, s.receiver, s.sender, s.username, s.passwort, s.enabled};
}

void printSettings(const MailSettings &s)
{
    out() << "server    " << s.servername << "\n"
          << "receiver  " << s.receiver << "\n"
          << "sender    " << s.sender << "\n"
          << "user      " << s.username << "\n"
          << "password  "
          << (s.passwort.isEmpty() ? QStringLiteral("(none)") : QStringLiteral("(set)")) << "\n"
          << "sending   " << (s.enabled ? "enabled" : "disabled") << "\n";
}

} // namespace

int cmdSettings(const CliOptions &options, const QStringList &argsIn)
{
    QStringList args = argsIn;
    if (args.isEmpty() || args.first() != QLatin1String("mail")) {
        err() << "Usage: ostracom-cli settings mail [--server HOST[:PORT]] [--receiver ADDR]\n"
                 "                                  [--sender ADDR] [--user NAME] [--password PW]\n"
                 "                                  [--enable|--disable]\n"
                 "Without options it prints the stored settings (never the password).\n";
        return kExitUsage;
    }
    args.removeFirst();
    try {
        CliSession session(options);
        MailSettings s = session.db().mailSettings().value_or(MailSettings{});
        bool changed = false;
        for (int i = 0; i < args.size(); ++i) {
            const QString a = args[i];
            if (a == QLatin1String("--enable") || a == QLatin1String("--disable")) {
                s.enabled = a == QLatin1String("--enable") ? 1 : 0;
                changed = true;
                continue;
            }
            QString *field = a == QLatin1String("--server")     ? &s.servername
                             : a == QLatin1String("--receiver") ? &s.receiver
                             : a == QLatin1String("--sender")   ? &s.sender
                             : a == QLatin1String("--user")     ? &s.username
                             : a == QLatin1String("--password") ? &s.passwort
                                                                : nullptr;
            if (!field || i + 1 >= args.size()) {
                err() << (field ? a + QStringLiteral(" needs a value")
                                : QStringLiteral("unknown option ") + a)
                      << "\n";
                return kExitUsage;
            }
            *field = args[++i];
            changed = true;
        }
        if (changed)
            session.db().saveMailSettings(s);
        printSettings(s);
        return kExitOk;
    } catch (const StoreError &e) {
        err() << e.message() << "\n";
        return kExitFailed;
    }
}

int cmdMailTest(const CliOptions &options, const QStringList &args)
{
    if (!args.isEmpty()) {
        err() << "mail-test takes no arguments\n";
        return kExitUsage;
    }
    try {
        CliSession session(options);
        const MailSettings s = session.db().mailSettings().value_or(MailSettings{});
        const QString subject = ms("Ostracom---Testnachricht");
        const QString body = ms("Nachricht wurde gesendet am ") +
                             QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
        const QString result = sendNotification(accountOf(s), session.dataDir(), subject, body);
        if (!result.isEmpty()) {
            err() << consoleText(ms("Beim starten des Test ist folgender aufgetreten: ") + result)
                  << "\n";
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
        err() << e.message() << "\n";
        return kExitFailed;
    } catch (const MailLogError &e) {
        err() << e.message() << "\n";
        return kExitFailed;
    }
}
