#include "service/alarm_outbox.h"

#include "model/error_text.h"

#include "store/private_file.h"
#include "store/strings.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr int kFormat = 1;
const QString kSuffix = QStringLiteral(".mail");
const QString kSetAsideSuffix = QStringLiteral(".bad");
constexpr const char *kFieldSeparator = "   ";
// How often a running sender looks for another program's retry request.
constexpr auto kRequestCheck = std::chrono::seconds(1);

using private_file::problem;

QString timeText(const QDateTime &t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QDateTime timeFrom(const QJsonValue &v)
{
    return QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
}

QByteArray encode(const OutboxMail &mail)
{
    QJsonObject o;
    o.insert(QStringLiteral("format"), kFormat);
    o.insert(QStringLiteral("event"), timeText(mail.eventTime));
    o.insert(QStringLiteral("subject"), mail.subject);
    o.insert(QStringLiteral("body"), mail.body);
    o.insert(QStringLiteral("attempts"), mail.attempts);
    o.insert(QStringLiteral("next"), timeText(mail.nextAttempt));
    o.insert(QStringLiteral("failure"), mail.lastFailure);
    return QJsonDocument(o).toJson();
}

bool decode(const QByteArray &data, OutboxMail *mail)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    if (o.value(QStringLiteral("format")).toInt() != kFormat ||
        !o.value(QStringLiteral("subject")).isString() ||
        !o.value(QStringLiteral("body")).isString())
        return false;
    mail->eventTime = timeFrom(o.value(QStringLiteral("event")));
    mail->subject = o.value(QStringLiteral("subject")).toString();
    mail->body = o.value(QStringLiteral("body")).toString();
    mail->attempts = std::max(0, o.value(QStringLiteral("attempts")).toInt());
    mail->nextAttempt = timeFrom(o.value(QStringLiteral("next")));
    mail->lastFailure = o.value(QStringLiteral("failure")).toString();
    return mail->eventTime.isValid();
}

MailLimits cancellable(const std::atomic<bool> *flag)
{
    MailLimits limits;
    limits.cancel = flag;
    return limits;
}

QString lateNote(const QDateTime &eventTime)
{
    return QStringLiteral("\r") + ms("Verspätet versandt; das Ereignis war am ") +
           logTimestamp(eventTime.toLocalTime());
}

} // namespace

AlarmOutbox::AlarmOutbox(const QString &dataDir)
    : m_folder(QDir(dataDir).filePath(QLatin1String(kFolderName)))
{
}

QString AlarmOutbox::ensureFolder()
{
    const QByteArray path = QFile::encodeName(m_folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return problem(QStringLiteral("create folder"), m_folder, errno);
    struct stat s {
    };
    if (::lstat(path.constData(), &s) != 0)
        return problem(QStringLiteral("use folder"), m_folder, errno);
    if (!S_ISDIR(s.st_mode))
        return problem(QStringLiteral("use folder"), m_folder, ENOTDIR);
    if ((s.st_mode & 077) != 0 && s.st_uid == ::geteuid() && ::chmod(path.constData(), 0700) != 0)
        return problem(QStringLiteral("restrict folder"), m_folder, errno);
    return QString();
}

QString AlarmOutbox::write(const QString &name, const OutboxMail &mail)
{
    if (const QString problem = ensureFolder(); !problem.isEmpty())
        return problem;
    const QString path = QDir(m_folder).filePath(name);
    const private_file::Failure f = private_file::replace(path, encode(mail));
    if (f)
        return problem(f.folderSync ? QStringLiteral("sync folder") : QStringLiteral("write"),
                       f.folderSync ? m_folder : path, f.error);
    return QString();
}

QString AlarmOutbox::add(const QDateTime &eventTime, const QString &subject, const QString &body)
{
    OutboxMail mail;
    mail.eventTime = eventTime.toUTC();
    mail.subject = subject;
    mail.body = body;
    // Sorted by event time; the random part keeps two mails of one millisecond apart.
    const QString name = mail.eventTime.toString(QStringLiteral("yyyyMMdd-HHmmsszzz")) +
                         QLatin1Char('-') + QUuid::createUuid().toString(QUuid::Id128).left(12) +
                         kSuffix;
    return write(name, mail);
}

QString AlarmOutbox::update(const OutboxMail &mail)
{
    return write(mail.file, mail);
}

QString AlarmOutbox::remove(const OutboxMail &mail)
{
    const QString path = QDir(m_folder).filePath(mail.file);
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
        return problem(QStringLiteral("remove"), path, errno);
    if (const int e = private_file::syncFolder(m_folder))
        return problem(QStringLiteral("sync folder"), m_folder, e);
    return QString();
}

QList<OutboxMail> AlarmOutbox::load(QStringList *problems, bool setAside)
{
    QList<OutboxMail> mails;
    const QDir dir(m_folder);
    if (!dir.exists())
        return mails;
    const QStringList names =
        dir.entryList({QLatin1Char('*') + kSuffix}, QDir::Files | QDir::System, QDir::Name);
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        QByteArray data;
        OutboxMail mail;
        if (const int error = private_file::read(path, &data)) {
            if (error == ENOENT)
                continue; // delivered meanwhile by the owner
            problems->append(problem(QStringLiteral("read"), path, error));
            continue;
        }
        if (!decode(data, &mail)) {
            QString text = QStringLiteral("%1 is not a readable mail").arg(path);
            if (setAside) {
                if (::rename(QFile::encodeName(path).constData(),
                             QFile::encodeName(path + kSetAsideSuffix).constData()) == 0)
                    text += QStringLiteral("; kept as %1").arg(name + kSetAsideSuffix);
                else
                    text += QStringLiteral("; ") + problem(QStringLiteral("rename"), path, errno);
            }
            problems->append(text);
            continue;
        }
        mail.file = name;
        mails.append(mail);
    }
    std::stable_sort(mails.begin(), mails.end(), [](const OutboxMail &a, const OutboxMail &b) {
        return a.eventTime < b.eventTime;
    });
    return mails;
}

void AlarmOutbox::removeLeftovers()
{
    const QDir dir(m_folder);
    for (const QString &name : dir.entryList(
             {QStringLiteral(".*") + kSuffix + QStringLiteral(".*")}, QDir::Files | QDir::Hidden))
        ::unlink(QFile::encodeName(dir.filePath(name)).constData());
}

QString AlarmOutbox::requestRetry()
{
    if (const QString problem = ensureFolder(); !problem.isEmpty())
        return problem;
    const QString path = QDir(m_folder).filePath(QLatin1String(kRetryRequestName));
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return problem(QStringLiteral("write"), path, errno);
    ::close(fd);
    return QString();
}

bool AlarmOutbox::takeRetryRequest()
{
    const QString path = QDir(m_folder).filePath(QLatin1String(kRetryRequestName));
    return ::unlink(QFile::encodeName(path).constData()) == 0;
}

// ---------------------------------------------------------------------------------------

AlarmSender::Send AlarmSender::notificationSender(const QString &dataDir, const MailLimits &limits)
{
    return [dataDir, limits](const MailSettings &account, const QString &subject,
                             const QString &body) -> Attempt {
        const Notification sent = sendNotification(account, dataDir, subject, body, limits);
        return {sent.status, sent.logFailure.ok() ? QString() : errorText(sent.logFailure)};
    };
}

AlarmSender::AlarmSender(AlarmOutbox &outbox, const QString &dataDir, Send send, Now now)
    : m_outbox(outbox), m_logPath(QDir(dataDir).filePath(QLatin1String(kLogFileName))),
      m_send(send ? std::move(send) : notificationSender(dataDir, cancellable(&m_cancel))),
      m_now(now ? std::move(now) : [] { return QDateTime::currentDateTimeUtc(); })
{
}

AlarmSender::~AlarmSender()
{
    stop();
}

void AlarmSender::setAccount(const MailSettings &account)
{
    {
        std::lock_guard lock(m_mutex);
        if (account == m_account && m_haveAccount)
            return;
        m_account = account;
        m_haveAccount = true;
        // Other settings may well mend what made the last attempt fail: every mail is
        // tried again at once.
        m_retryAll = true;
    }
    wake();
}

MailSettings AlarmSender::account() const
{
    std::lock_guard lock(m_mutex);
    return m_account;
}

void AlarmSender::setMaxAgeSeconds(int seconds)
{
    std::lock_guard lock(m_mutex);
    m_maxAgeSeconds = seconds > 0 ? seconds : kDefaultMaxAgeSeconds;
}

int AlarmSender::pauseSeconds(int attempts)
{
    int pause = kFirstPauseSeconds;
    for (int i = 1; i < attempts && pause < kLongestPauseSeconds; ++i)
        pause *= 2;
    return std::min(pause, kLongestPauseSeconds);
}

QList<AlarmSender::Outcome> AlarmSender::deliverDue(bool all)
{
    QStringList problems;
    const QList<OutboxMail> mails = m_outbox.load(&problems, true);
    MailSettings account;
    int maxAge = 0;
    QDateTime pausedUntil;
    bool haveAccount = false;
    {
        std::lock_guard lock(m_mutex);
        account = m_account;
        haveAccount = m_haveAccount;
        maxAge = m_maxAgeSeconds;
        all = all || m_retryAll;
        m_retryAll = false;
        pausedUntil = all ? QDateTime() : m_pausedUntil;
    }
    QList<Outcome> outcomes;
    QString lastFailure;
    int waiting = 0;
    for (OutboxMail mail : mails) {
        const QDateTime now = m_now();
        const bool stopping = [this] {
            std::lock_guard lock(m_mutex);
            return m_stopping;
        }();
        const bool due =
            haveAccount && (all || ((!pausedUntil.isValid() || pausedUntil <= now) &&
                                    (!mail.nextAttempt.isValid() || mail.nextAttempt <= now)));
        if (!due || stopping) {
            ++waiting;
            if (!mail.lastFailure.isEmpty() && lastFailure.isEmpty())
                lastFailure = mail.lastFailure;
            outcomes.append({mail, Result::NotDue});
            continue;
        }
        const qint64 age = mail.eventTime.secsTo(now);
        if (age > maxAge) {
            giveUp(mail, &problems);
            outcomes.append({mail, Result::GivenUp});
            continue;
        }
        const QString body = age > kLateSeconds ? mail.body + lateNote(mail.eventTime) : mail.body;
        const Attempt attempt = m_send(account, mail.subject, body);
        if (!attempt.logProblem.isEmpty())
            problems << attempt.logProblem;
        if (attempt.failure.isEmpty()) {
            // A file that cannot be removed would be sent again: the user must hear of it.
            if (const QString p = m_outbox.remove(mail); !p.isEmpty())
                problems << p;
            outcomes.append({mail, Result::Delivered});
            continue;
        }
        ++mail.attempts;
        mail.lastFailure = attempt.failure;
        mail.nextAttempt = m_now().addSecs(pauseSeconds(mail.attempts));
        if (const QString p = m_outbox.update(mail); !p.isEmpty())
            problems << p;
        lastFailure = attempt.failure;
        ++waiting;
        // The others go to the same server: they wait behind this one.
        pausedUntil = mail.nextAttempt;
        all = false;
        outcomes.append({mail, Result::Failed});
    }
    takeStock(outcomes, waiting, pausedUntil, lastFailure, problems);
    return outcomes;
}

void AlarmSender::giveUp(const OutboxMail &mail, QStringList *problems)
{
    const Error logged = appendLogLine(
        m_logPath, logTimestamp() + QLatin1String(kFieldSeparator) +
                       ms("E-Mail nach zu langer Wartezeit verworfen: ") + mail.subject +
                       QLatin1String(kFieldSeparator) + logTimestamp(mail.eventTime.toLocalTime()) +
                       QLatin1String(kFieldSeparator) + mail.lastFailure);
    if (!logged.ok())
        *problems << errorText(logged);
    if (const QString p = m_outbox.remove(mail); !p.isEmpty())
        *problems << p;
}

void AlarmSender::takeStock(const QList<Outcome> &outcomes, int waiting,
                            const QDateTime &pausedUntil, const QString &lastFailure,
                            const QStringList &problems)
{
    std::lock_guard lock(m_mutex);
    m_pausedUntil = waiting > 0 ? pausedUntil : QDateTime();
    m_status.waiting = waiting;
    m_status.lastFailure = waiting > 0 ? lastFailure : QString();
    m_status.problem = problems.join(QStringLiteral("; "));
    QDateTime next;
    for (const Outcome &o : outcomes)
        if (o.result == Result::NotDue || o.result == Result::Failed) {
            QDateTime due = o.mail.nextAttempt;
            if (m_pausedUntil.isValid() && (!due.isValid() || due < m_pausedUntil))
                due = m_pausedUntil;
            if (!due.isValid())
                due = m_now();
            if (!next.isValid() || due < next)
                next = due;
        }
    m_nextDue = next;
}

AlarmSender::Status AlarmSender::status() const
{
    std::lock_guard lock(m_mutex);
    return m_status;
}

void AlarmSender::start()
{
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable())
        return;
    m_stopping = false;
    m_cancel = false;
    m_thread = std::thread([this] { run(); });
}

void AlarmSender::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_wakeUp.notify_all();
}

void AlarmSender::requestStop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_cancel = true;
    m_wakeUp.notify_all();
}

void AlarmSender::stop()
{
    requestStop();
    if (m_thread.joinable())
        m_thread.join();
}

void AlarmSender::run()
{
    m_outbox.removeLeftovers();
    // Mails left by an earlier run are tried at once, whatever pause they were given.
    bool all = true;
    m_outbox.takeRetryRequest();
    for (;;) {
        deliverDue(all);
        all = false;
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_stopping)
                return;
            if (m_woken) {
                m_woken = false;
                break;
            }
            if (m_nextDue.isValid() && m_nextDue <= m_now())
                break;
            lock.unlock();
            all = m_outbox.takeRetryRequest();
            lock.lock();
            if (all)
                break;
            m_wakeUp.wait_for(lock, kRequestCheck);
        }
    }
}
