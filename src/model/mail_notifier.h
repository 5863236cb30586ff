#pragma once

#include "model/notifier.h"
#include "store/mail.h"

#include <QDateTime>
#include <QMutex>
#include <QString>

#include <functional>

// Reports limit crossings as alarm e-mails. A mail is handed to the outbox and the cycle
// goes on; when the outbox cannot take it, it is sent at once with the program's mail
// settings, so that no alarm is lost. The settings may change from another thread.
class MailNotifier : public Notifier
{
public:
    // Stores a mail for later delivery; returns "" or why it could not be stored.
    using Enqueue = std::function<QString(const QDateTime &eventTime, const QString &subject,
                                          const QString &body)>;

    explicit MailNotifier(const QString &dataDir, Enqueue enqueue = {});

    void setAccount(const MailSettings &account);
    MailSettings account() const;
    QString dataDir() const { return m_dataDir; }

    QString notify(const QString &subject, const QString &body) override;

    // What went wrong with the last notification besides its sending: the outbox could not
    // take it, or the log could not record it. Empty when the last one had no such trouble.
    QString problem() const;

private:
    QString sendNow(const QString &subject, const QString &body);

    const QString m_dataDir;
    const Enqueue m_enqueue;
    mutable QMutex m_mutex;
    MailSettings m_account;
    QString m_problem;
};
