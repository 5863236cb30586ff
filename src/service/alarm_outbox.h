#pragma once

// Alarm mails wait in a folder of the data directory until a sender of their own delivers
// them, so that a mail server that is down or slow neither loses an alarm nor delays the
// polling cycle.

#include "store/mail.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// One mail that waits.
struct OutboxMail {
    QString file;        // its file in the outbox folder (name only)
    QDateTime eventTime; // when the event happened (UTC)
    QString subject;
    QString body;          // as the event made it, without the note of a late mail
    int attempts = 0;      // failed attempts so far
    QDateTime nextAttempt; // not before (UTC); invalid: at once
    QString lastFailure;   // why the last attempt failed
};

// The outbox folder: one file per mail, each written whole or not at all. Only the program
// holding the data directory's lock rewrites or removes a mail; any program may add one
// or read them.
class AlarmOutbox
{
public:
    static constexpr const char *kFolderName = "outbox";
    // Left by `ostracom-cli mail-queue --retry-now` for a running sender.
    static constexpr const char *kRetryRequestName = "retry-now";

    explicit AlarmOutbox(const QString &dataDir);

    QString folder() const { return m_folder; }

    // Stores a new mail durably (file and folder synced). Returns "" or the cause.
    QString add(const QDateTime &eventTime, const QString &subject, const QString &body);
    // Replaces a mail's file with its new attempt count, next time and failure.
    QString update(const OutboxMail &mail);
    QString remove(const OutboxMail &mail);

    // Every waiting mail, oldest event first. A file that cannot be read is named in
    // `problems`; with `setAside` it is renamed to NAME.bad, where it stays for a person
    // to look at and no longer holds up the others.
    QList<OutboxMail> load(QStringList *problems, bool setAside);
    // Removes temporary files a crash left half written.
    void removeLeftovers();

    // The request of another program to try every waiting mail now.
    QString requestRetry();
    bool takeRetryRequest();

private:
    QString ensureFolder();
    QString write(const QString &name, const OutboxMail &mail);

    QString m_folder;
};

// Delivers the outbox's mails: due ones first at start, then each new one at once, a
// failed one again after 30 s, 60 s, 120 s ... at most 10 min. A mail older than the
// maximum age is given up with a line in the log. Runs on a thread of its own; time and
// the send operation can be replaced for tests, which then call deliverDue() themselves.
class AlarmSender
{
public:
    // Tries one mail; `failure` empty when it was delivered or sending is disabled.
    // `logProblem`: the log could not record the attempt.
    struct Attempt {
        QString failure;
        QString logProblem;
    };
    using Send =
        std::function<Attempt(const MailSettings &, const QString &subject, const QString &body)>;
    using Now = std::function<QDateTime()>;

    static constexpr int kFirstPauseSeconds = 30;
    static constexpr int kLongestPauseSeconds = 600;
    static constexpr int kDefaultMaxAgeSeconds = 24 * 3600;
    // A mail delivered later than this after its event says when the event happened.
    static constexpr int kLateSeconds = 60;

    // The real sender: sendNotification with the mail file and log in `dataDir`.
    static Send notificationSender(const QString &dataDir, const MailLimits &limits = {});

    AlarmSender(AlarmOutbox &outbox, const QString &dataDir, Send send = {}, Now now = {});
    ~AlarmSender();
    AlarmSender(const AlarmSender &) = delete;
    AlarmSender &operator=(const AlarmSender &) = delete;

    // Thread-safe; the next attempt uses them. No mail is tried before an account was set:
    // settings not yet read must not count as "sending disabled", which removes the mail.
    void setAccount(const MailSettings &account);
    MailSettings account() const;
    void setMaxAgeSeconds(int seconds);

    // The pause after `attempts` failed attempts.
    static int pauseSeconds(int attempts);

    enum class Result { Delivered, Failed, GivenUp, NotDue };
    struct Outcome {
        OutboxMail mail; // as it is now (attempts and failure updated)
        Result result = Result::NotDue;
    };
    // One pass over the outbox: every due mail (with `all`, every mail) is tried or given
    // up. Only the owner of the data directory may call it.
    QList<Outcome> deliverDue(bool all = false);

    struct Status {
        int waiting = 0;
        QString lastFailure; // why the last attempt failed, while mails wait
        QString problem;     // the outbox or the log could not be used
        bool operator==(const Status &) const = default;
    };
    Status status() const;

    // The thread: starts by trying every waiting mail, then sleeps until a mail falls due,
    // a new one comes (wake), or another program asks for a retry.
    void start();
    void wake();
    // No further attempt starts and the one in progress (of the real sender) is given up
    // within a second; returns at once.
    void requestStop();
    // Waits for the attempt in progress to end.
    void stop();

private:
    void run();
    void giveUp(const OutboxMail &mail, QStringList *problems);
    // After a pass: what waits, why, and when the next mail falls due. Holds m_mutex.
    void takeStock(const QList<Outcome> &outcomes, int waiting, const QDateTime &pausedUntil,
                   const QString &lastFailure, const QStringList &problems);

    AlarmOutbox &m_outbox;
    const QString m_logPath;
    Send m_send;
    Now m_now;

    mutable std::mutex m_mutex;
    std::condition_variable m_wakeUp;
    MailSettings m_account;
    bool m_haveAccount = false;
    bool m_retryAll = false; // the settings changed since the last pass
    int m_maxAgeSeconds = kDefaultMaxAgeSeconds;
    Status m_status;
    QDateTime m_pausedUntil; // after a failure the other mails wait too
    QDateTime m_nextDue;     // when the next waiting mail falls due; invalid: none waits
    bool m_woken = false;
    bool m_stopping = false;
    std::atomic<bool> m_cancel{false}; // cuts the attempt in progress short
    std::thread m_thread;
};
