#include "model/mail_notifier.h"

#include "model/error_text.h"

MailNotifier::MailNotifier(const QString &dataDir, Enqueue enqueue)
    : m_dataDir(dataDir), m_enqueue(std::move(enqueue))
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
    QString queueProblem;
    if (m_enqueue) {
        queueProblem = m_enqueue(QDateTime::currentDateTimeUtc(), subject, body);
        if (queueProblem.isEmpty()) {
            QMutexLocker lock(&m_mutex);
            m_problem.clear();
            return QString();
        }
    }
    const QString result = sendNow(subject, body);
    if (!queueProblem.isEmpty()) {
        QMutexLocker lock(&m_mutex);
        m_problem =
            m_problem.isEmpty() ? queueProblem : queueProblem + QStringLiteral("; ") + m_problem;
    }
    return result;
}

QString MailNotifier::sendNow(const QString &subject, const QString &body)
{
    const MailSettings account = this->account();
    const Notification sent = sendNotification(account, m_dataDir, subject, body);
    // The mail may have gone out though the log could not record it: polling goes on, and
    // the user hears of the log.
    const QString logProblem = sent.logFailure.ok() ? QString() : errorText(sent.logFailure);
    QMutexLocker lock(&m_mutex);
    m_problem = logProblem;
    return sent.status.isEmpty() ? logProblem : sent.status;
}

QString MailNotifier::problem() const
{
    QMutexLocker lock(&m_mutex);
    return m_problem;
}
