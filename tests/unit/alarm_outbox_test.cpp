// The alarm outbox and its sender on a virtual clock with a scripted mail server: mails
// survive a restart, failures are retried with growing pauses, old mails are given up,
// late ones say when their event was, and a damaged file holds up nobody.

#include "model/mail_notifier.h"
#include "service/alarm_outbox.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <mutex>

namespace
{

const QDateTime kT0(QDate(2026, 12, 7), QTime(9, 0, 0), Qt::UTC);
const MailSettings kAccount{QStringLiteral("mail.example.org"),
                            QStringLiteral("keeper@example.org"),
                            QStringLiteral("ostracom@example.org"),
                            QString(),
                            QString(),
                            1};

// A mail server that takes or refuses what it is told to, and remembers every attempt.
struct ScriptedServer {
    struct Try {
        QDateTime at;
        QString subject;
        QString body;
    };
    std::mutex mutex;
    QList<Try> tries;
    std::atomic<bool> refuse{false};
    QDateTime *now = nullptr;

    AlarmSender::Send send()
    {
        return [this](const MailSettings &, const QString &subject, const QString &body) {
            std::lock_guard lock(mutex);
            // Decided before the try is counted, so a test that waits for it may change course.
            const bool refused = refuse;
            tries.append({now ? *now : QDateTime(), subject, body});
            return AlarmSender::Attempt{refused ? QStringLiteral("1 --- server down") : QString(),
                                        QString()};
        };
    }
    int count()
    {
        std::lock_guard lock(mutex);
        return int(tries.size());
    }
};

class Outbox : public ::testing::Test
{
protected:
    QString folder() const { return QDir(m_dir.path()).filePath(QStringLiteral("outbox")); }
    QStringList logLines() const
    {
        return fileLines(QDir(m_dir.path()).filePath(QLatin1String(kLogFileName)));
    }
    void add(const QDateTime &when, const char *subject, const char *body)
    {
        ASSERT_EQ(m_outbox.add(when, QString::fromUtf8(subject), QString::fromUtf8(body)),
                  QString());
    }
    // The mails still waiting.
    QList<OutboxMail> stored()
    {
        QStringList problems;
        return m_outbox.load(&problems, true);
    }
    std::unique_ptr<AlarmSender> sender(AlarmSender::Send send)
    {
        auto s = std::make_unique<AlarmSender>(m_outbox, m_dir.path(), std::move(send),
                                               [this] { return m_now; });
        s->setAccount(kAccount);
        return s;
    }

    QTemporaryDir m_dir;
    AlarmOutbox m_outbox{m_dir.path()};
    QDateTime m_now = kT0;
};

} // namespace

TEST_F(Outbox, aStoredMailSurvivesAReopenInPrivateFiles)
{
    add(kT0, "Ostracom---Alarm", "Wert\rzu hoch");
    QStringList problems;
    const QList<OutboxMail> mails = AlarmOutbox(m_dir.path()).load(&problems, true);
    ASSERT_EQ(mails.size(), 1);
    EXPECT_TRUE(problems.isEmpty());
    EXPECT_EQ(mails[0].eventTime, kT0);
    EXPECT_EQ(mails[0].subject, QStringLiteral("Ostracom---Alarm"));
    EXPECT_EQ(mails[0].body, QStringLiteral("Wert\rzu hoch"));
    EXPECT_EQ(mails[0].attempts, 0);

    EXPECT_EQ(modeOf(folder()), 0700);
    EXPECT_EQ(modeOf(QDir(folder()).filePath(mails[0].file)), 0600);
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files | QDir::Hidden).size(), 1)
        << "no temp file left";
}

// The server is down for a while: each failure doubles the pause up to ten minutes, and the
// mails behind the failed one wait with it. (A changed setting lifting the pause, and each
// mail going once the server is back, are proved by the polling service.)
TEST_F(Outbox, failuresAreRetriedWithGrowingPausesAndTheOthersWaitBehind)
{
    ScriptedServer server;
    server.now = &m_now;
    server.refuse = true;
    auto s = sender(server.send());
    add(kT0, "first", "a");
    add(kT0.addSecs(1), "second", "b");

    // Step a second at a time for 40 minutes, as if the thread woke that often.
    for (int second = 0; second < 2400; ++second) {
        m_now = kT0.addSecs(second);
        s->deliverDue();
    }
    QList<qint64> pauses;
    for (int i = 1; i < server.tries.size(); ++i)
        pauses << server.tries[i - 1].at.secsTo(server.tries[i].at);
    EXPECT_EQ(pauses, (QList<qint64>{30, 60, 120, 240, 480, 600, 600}));
    for (const auto &t : server.tries)
        EXPECT_EQ(t.subject, QStringLiteral("first")) << "the second waits behind the first";
    EXPECT_EQ(s->status().waiting, 2);
    EXPECT_EQ(s->status().lastFailure, QStringLiteral("1 --- server down"));

    const QList<OutboxMail> waiting = stored();
    ASSERT_EQ(waiting.size(), 2);
    EXPECT_EQ(waiting[0].attempts, 8);
    EXPECT_EQ(waiting[0].lastFailure, QStringLiteral("1 --- server down"));
}

TEST_F(Outbox, lateMailsSayWhenTheEventWasAndTooOldOnesAreGivenUpWithALogLine)
{
    ScriptedServer server;
    auto s = sender(server.send());
    s->setMaxAgeSeconds(3600);
    const struct {
        int ageSeconds;
        bool sent;
        bool noted;
    } cases[] = {
        {AlarmSender::kLateSeconds, true, false},
        {AlarmSender::kLateSeconds + 1, true, true},
        {3600, true, true},
        {3601, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ageSeconds);
        server.tries.clear();
        m_now = kT0.addSecs(c.ageSeconds);
        add(kT0, "Ostracom---Alarm", "Wert zu hoch");
        const QList<AlarmSender::Outcome> outcomes = s->deliverDue();
        ASSERT_EQ(outcomes.size(), 1);
        EXPECT_EQ(outcomes[0].result,
                  c.sent ? AlarmSender::Result::Delivered : AlarmSender::Result::GivenUp);
        ASSERT_EQ(server.tries.size(), c.sent ? 1 : 0);
        if (c.sent) {
            const QString body = server.tries[0].body;
            EXPECT_TRUE(body.startsWith(QStringLiteral("Wert zu hoch")));
            EXPECT_EQ(body.contains(QStringLiteral("\rVerspätet versandt; das Ereignis war am ") +
                                    logTimestamp(kT0.toLocalTime())),
                      c.noted)
                << body.toStdString();
        }
    }
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral("E-Mail nach zu langer Wartezeit verworfen: "
                                                 "Ostracom---Alarm   ") +
                                  logTimestamp(kT0.toLocalTime())))
        << lines[0].toStdString();
    EXPECT_TRUE(stored().isEmpty());
}

TEST_F(Outbox, aDamagedFileIsReportedAndKeptAsideWhileTheOthersGo)
{
    add(kT0, "good", "body");
    const QString damaged = QDir(folder()).filePath(QStringLiteral("20261207-085959000-x.mail"));
    for (const QByteArray &content : {QByteArray("{\"format\":1,\"subject\":\"torn"), QByteArray(),
                                      QByteArray("\xff\xfe garbage")}) {
        QFile f(damaged);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();

        QStringList problems;
        EXPECT_EQ(m_outbox.load(&problems, false).size(), 1) << "a reader leaves the file alone";
        EXPECT_TRUE(QFile::exists(damaged));
        ScriptedServer server;
        auto s = sender(server.send());
        ASSERT_EQ(s->deliverDue().size(), 1);
        EXPECT_EQ(server.count(), 1);
        EXPECT_TRUE(s->status().problem.contains(QStringLiteral("is not a readable mail")))
            << s->status().problem.toStdString();
        EXPECT_FALSE(QFile::exists(damaged));
        EXPECT_TRUE(QFile::exists(damaged + QStringLiteral(".bad")));
        QFile::remove(damaged + QStringLiteral(".bad"));
        add(kT0, "good", "body");
    }
}

// With the real sender: sending disabled logs its two lines and the mail is done; before
// any settings are known nothing is tried, since unknown settings are not "disabled".
TEST_F(Outbox, disabledSendingEndsTheMailButUnknownSettingsDoNot)
{
    add(kT0, "Ostracom---Alarm", "Wert");
    AlarmSender s(m_outbox, m_dir.path(), AlarmSender::notificationSender(m_dir.path()),
                  [this] { return m_now; });
    EXPECT_EQ(s.deliverDue(true).value(0).result, AlarmSender::Result::NotDue);
    EXPECT_EQ(s.status().waiting, 1);
    EXPECT_TRUE(logLines().isEmpty());

    s.setAccount(MailSettings{});
    EXPECT_EQ(s.deliverDue().value(0).result, AlarmSender::Result::Delivered);
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("   Ostracom---Alarm   Wert")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("   E-Mail Versandt ist deaktiviert !")));
    EXPECT_TRUE(stored().isEmpty());
}

// The thread: waiting mails go at start whatever their pause, and another program's request
// is taken up. (New mails waking it and a prompt stop are proved by the polling service.)
TEST_F(Outbox, theThreadSendsAtStartAndOnRequest)
{
    ScriptedServer server;
    server.refuse = true;
    auto s = sender(server.send());
    add(kT0, "old", "a");
    OutboxMail paused = stored().value(0);
    paused.attempts = 3;
    paused.nextAttempt = kT0.addSecs(600);
    ASSERT_EQ(m_outbox.update(paused), QString());

    auto waitFor = [&](int count) {
        QDeadlineTimer deadline(10000); // a ceiling against a hang
        while (server.count() < count && !deadline.hasExpired())
            QThread::msleep(10);
        return server.count() >= count;
    };
    s->start();
    EXPECT_TRUE(waitFor(1)) << "tried at start";
    server.refuse = false;
    ASSERT_EQ(AlarmOutbox(m_dir.path()).requestRetry(), QString());
    EXPECT_TRUE(waitFor(2)) << "the request lifts the pause";
    s->stop();
    EXPECT_TRUE(stored().isEmpty());
    EXPECT_FALSE(
        QFile::exists(QDir(folder()).filePath(QLatin1String(AlarmOutbox::kRetryRequestName))));
}

// An outbox that cannot be written loses no alarm: the mail is sent at once, as it was
// before there was an outbox, and the trouble is reported.
TEST_F(Outbox, aMailTheOutboxCannotTakeIsSentAtOnceAndTheTroubleReported)
{
    QFile blocker(folder()); // a file where the folder belongs
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    MailNotifier notifier(
        m_dir.path(), [this](const QDateTime &when, const QString &subject, const QString &body) {
            return m_outbox.add(when, subject, body);
        });
    EXPECT_EQ(notifier.notify(QStringLiteral("Ostracom---Alarm"), QStringLiteral("Wert")),
              QString());
    EXPECT_TRUE(notifier.problem().contains(folder())) << notifier.problem().toStdString();
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 2) << "sent (here: sending is disabled) and logged at once";
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("E-Mail Versandt ist deaktiviert !")));
}
