#pragma once

#include "model/monitor.h"
#include "store/mail.h"

#include <QMutex>
#include <QString>

// Sends limit notifications as alarm e-mails with the program's mail settings. The settings
// may be changed from the UI thread while the link worker sends.
class MailNotifier : public Notifier
{
public:
    explicit MailNotifier(const QString &dataDir, const MailSettings &account = {});

    void setAccount(const MailSettings &account);
    MailSettings account() const;
    QString dataDir() const { return m_dataDir; }

    QString notify(const QString &subject, const QString &body) override;

    // The last failure to write the notification log, empty when the last one worked.
    QString lastLogError() const;

private:
    const QString m_dataDir;
    mutable QMutex m_mutex;
    MailSettings m_account;
    QString m_lastLogError;
};
