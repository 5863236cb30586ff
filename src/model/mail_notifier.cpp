#include "model/mail_notifier.h"

MailNotifier::MailNotifier(const QString &dataDir, const MailSettings &account)
    : m_dataDir(dataDir), m_account(account)
{
}

void MailNotifier::setAccount(const MailSettings &account)
{
    QMutexLocker lock(&m_mutex);
    m_account = account;
}

MailSettings MailNotifier::account() const
{
    QMutexLocker lock(&m_mutex);
    return m_account;
}

QString MailNotifier::notify(const QString &subject, const QString &body)
{
    const MailSettings account = this->account();
    try {
        const QString result = sendNotification(account, m_dataDir, subject, body);
        QMutexLocker lock(&m_mutex);
        m_lastLogError.clear();
        return result;
    } catch (const MailLogError &e) {
        // The mail may have gone out; the log could not record it. Keep polling.
        QMutexLocker lock(&m_mutex);
        m_lastLogError = e.message();
        return e.sendResult().isEmpty() ? e.message() : e.sendResult();
    }
}

QString MailNotifier::lastLogError() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastLogError;
}
