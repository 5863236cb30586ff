// ostracom-cli mail-queue: the alarm mails that wait in the outbox, and delivering them now.

#include "app/cli/cli.h"
#include "app/cli/command_line.h"
#include "app/cli/session.h"

#include "model/error_text.h"
#include "service/alarm_outbox.h"
#include "store/datadir.h"
#include "store/datadir_lock.h"
#include "store/mail.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

namespace
{

constexpr const char *kAbout =
    "Lists the alarm mails that wait in the outbox of the data directory because the mail\n"
    "server did not take them yet: when the event happened, the subject, the attempts so\n"
    "far, when the next one is due and why the last one failed.\n"
    "With --retry-now every waiting mail is tried at once. When no poller (ostracom-cli poll\n"
    "or the window) uses the data directory, this command sends them itself with the stored\n"
    "mail settings and prints each outcome; it ends with 1 when any failed. When a poller\n"
    "runs, it is asked to try them within a few seconds and its log tells the outcome.";

// How long a running poller is given to take up the request before this command ends.
constexpr int kRequestWaitMs = 5000;

QString when(const QDateTime &t)
{
    return t.isValid() ? logTimestamp(t.toLocalTime()) : QStringLiteral("now");
}

QString oneLine(const QString &text)
{
    return consoleText(text).replace(QLatin1Char('\n'), QLatin1Char(' '));
}

void printMails(const QList<OutboxMail> &mails)
{
    if (mails.isEmpty()) {
        out() << "No alarm mail waits.\n";
        return;
    }
    out() << "event                subject                   attempts  next attempt         "
             "last failure\n";
    for (const OutboxMail &m : mails)
        out() << when(m.eventTime) << "  " << m.subject.leftJustified(24) << "  "
              << QString::number(m.attempts).leftJustified(8) << "  "
              << when(m.nextAttempt).leftJustified(19) << "  " << oneLine(m.lastFailure) << "\n";
    out() << mails.size() << " alarm mail(s) wait.\n";
}

// Only while holding the data directory's lock.
int deliverNow(const CliOptions &options, AlarmOutbox &outbox)
{
    CliSession session(options, CliSession::Access::ReadOnly);
    const auto account = session.db().mailSettings();
    if (!account) {
        err() << "No mail settings are stored (see settings mail); the mails keep waiting\n";
        return kExitFailed;
    }
    AlarmSender sender(outbox, session.dataDir());
    sender.setAccount(*account);
    sender.setMaxAgeSeconds(session.db().outboxMaxAgeSeconds());
    const QList<AlarmSender::Outcome> outcomes = sender.deliverDue(true);
    bool failed = false;
    for (const AlarmSender::Outcome &o : outcomes) {
        out() << when(o.mail.eventTime) << "  " << o.mail.subject << "  ";
        switch (o.result) {
        case AlarmSender::Result::Delivered:
            out() << (account->enabled ? "delivered" : "removed: sending is disabled") << "\n";
            break;
        case AlarmSender::Result::GivenUp:
            out() << "given up: it waited too long\n";
            break;
        case AlarmSender::Result::Failed:
            failed = true;
            out() << "failed: " << oneLine(o.mail.lastFailure) << "\n";
            break;
        case AlarmSender::Result::NotDue:
            failed = true;
            out() << "not tried: it waits behind the one that failed\n";
            break;
        }
    }
    if (outcomes.isEmpty())
        out() << "No alarm mail waits.\n";
    if (const QString problem = sender.status().problem; !problem.isEmpty()) {
        err() << problem << "\n";
        failed = true;
    }
    return failed ? kExitFailed : kExitOk;
}

} // namespace

int cmdMailQueue(const CliOptions &options, const QStringList &args)
{
    CommandLine line(QStringLiteral("mail-queue"), QStringLiteral("[--retry-now]"),
                     QLatin1String(kAbout));
    line.add(QStringLiteral("retry-now"), QStringLiteral("try every waiting mail now"));
    if (const auto done = line.parse(args))
        return *done;
    if (!line.arguments().isEmpty())
        return line.usageError(
            QStringLiteral("unexpected argument '%1'").arg(line.arguments().first()));

    const QString dataDir = chooseDataDirectory(options.dataDir, options.dbPath);
    AlarmOutbox outbox(dataDir);
    try {
        if (line.isSet(QStringLiteral("retry-now"))) {
            DataDirLock lock;
            try {
                lock.acquire(dataDir);
            } catch (const StoreError &e) {
                if (e.kind() != StoreError::Kind::Busy)
                    throw;
                // The poller owns the mail files: rewriting one it just delivered would
                // send it again. It is asked instead.
                if (const QString problem = outbox.requestRetry(); !problem.isEmpty()) {
                    err() << problem << "\n";
                    return kExitFailed;
                }
                const QString request =
                    QDir(outbox.folder()).filePath(QLatin1String(AlarmOutbox::kRetryRequestName));
                QDeadlineTimer deadline(kRequestWaitMs);
                while (QFile::exists(request) && !deadline.hasExpired())
                    QThread::msleep(100);
                if (QFile::exists(request)) {
                    err() << "The running poller did not take up the request yet; it will.\n";
                    return kExitOk;
                }
                out() << "The running poller tries the waiting mails now; its log tells how "
                         "it went.\n";
                return kExitOk;
            }
            return deliverNow(options, outbox);
        }
        QStringList problems;
        const QList<OutboxMail> mails = outbox.load(&problems, false);
        for (const QString &p : problems)
            err() << p << "\n";
        printMails(mails);
        return kExitOk;
    } catch (const StoreError &e) {
        err() << errorText(e.error()) << "\n";
        return kExitFailed;
    }
}
