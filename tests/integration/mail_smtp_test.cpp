#include "store/mail.h"
#include "support/smtp_server.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>
#include <vector>

using namespace std::chrono_literals;

namespace
{

// The number the log's status text starts with ("2 --- ..."), 0 for a mail sent.
int statusNumber(const Error &sent)
{
    return mailStatusText(sent).section(QLatin1Char(' '), 0, 0).toInt();
}

QString utf8(const char *text)
{
    return QString::fromUtf8(text);
}

// The status texts' numbers; their wording is the unit tests' business.
const char *const kCodeOne = "1 --- ";
const char *const kCodeTwo = "2 --- ";

const char *const kNoEncryption =
    " The mail server offered no encryption (STARTTLS), so the password was not sent.";

// Makes the sender trust a test server's self-signed certificate while it lives.
class ScopedCaFile
{
public:
    explicit ScopedCaFile(const QString &pem) { qputenv("SSL_CERT_FILE", pem.toLocal8Bit()); }
    ~ScopedCaFile() { qunsetenv("SSL_CERT_FILE"); }
    ScopedCaFile(const ScopedCaFile &) = delete;
    ScopedCaFile &operator=(const ScopedCaFile &) = delete;
};

// A failed notification: the status text, then what failed this time in parentheses.
::testing::AssertionResult failedWith(const QString &result, const char *status)
{
    if (result.startsWith(QLatin1String(status)) && result.contains(QLatin1String(". (")) &&
        result.endsWith(QLatin1Char(')')))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "not \"" << status << " (reason)\": " << result.toStdString();
}

class MailSending : public ::testing::Test
{
protected:
    QTemporaryDir dataDir;
    // Short bounds keep the failure cases quick; the defaults are far longer.
    MailLimits limits{1500ms, 3000ms};

    MailSettings accountFor(const QString &server, const QString &user = QString(),
                            const QString &password = QString()) const
    {
        return {server, "alarm@tank.example", "ostracom@tank.example", user, password, 1};
    }

    // A started test server that lives as long as the test.
    SmtpServer &serve(const SmtpServerOptions &options = {})
    {
        SmtpServer &server = *servers.emplace_back(std::make_unique<SmtpServer>(options));
        EXPECT_TRUE(server.start()) << server.error().toStdString();
        return server;
    }
    std::vector<std::unique_ptr<SmtpServer>> servers;

    QString notify(const MailSettings &account, const QString &subject = QStringLiteral("Alarm"),
                   const QString &body = QStringLiteral("Wert zu hoch"))
    {
        const Notification sent = sendNotification(account, dataDir.path(), subject, body, limits);
        EXPECT_EQ(sent.logFailure, Error()) << "the log takes every notification";
        return sent.status;
    }

    QStringList logLines() const
    {
        QFile file(QDir(dataDir.path()).filePath(QStringLiteral("ostracom.log")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QString messageFile() const { return QDir(dataDir.path()).filePath("mail.txt"); }

    // Sends the text of mail.txt straight through sendMail, as the notification does; the
    // number of the status text the log would show.
    int sendDirect(const QString &server, const QString &sender = "ostracom@tank.example",
                   const QString &receiver = "alarm@tank.example", const QString &user = QString(),
                   const QString &password = " ")
    {
        EXPECT_EQ(writeTextFile(messageFile(), QStringLiteral("Text")), Error());
        return statusNumber(
            sendMail(messageFile(), server, receiver, sender, "Test", user, password, limits));
    }
};

} // namespace

// One message reaches every receiver of the setting.
TEST_F(MailSending, NotificationArrivesAsAProperUtf8Message)
{
    SmtpServer &server = serve();
    const QString subject = utf8("Warnung: Übertragung von Regelung 1-1 gestört, Grenze 28,5 °C");
    const QString body = utf8("Zeile eins\rZeile zwei mit Grüßen\r.Punkt am Anfang");
    MailSettings account = accountFor(server.address());
    account.receiver = utf8(R"(alarm@tank.example; "Wart, Süd" <wart@tank.example>)");

    EXPECT_EQ(notify(account, subject, body), QString());

    const QList<ReceivedMail> mails = server.messages();
    ASSERT_EQ(mails.size(), 1);
    const ReceivedMail &m = mails.first();
    EXPECT_EQ(m.mailFrom, "ostracom@tank.example");
    EXPECT_EQ(m.rcptTos, QStringList({"alarm@tank.example", "wart@tank.example"}));
    EXPECT_EQ(m.header("From"), "ostracom@tank.example");
    EXPECT_EQ(m.header("To"), utf8(R"(alarm@tank.example, "Wart, Süd" <wart@tank.example>)"));
    EXPECT_EQ(m.header("Subject"), subject);
    EXPECT_TRUE(m.header("Message-ID").endsWith("@tank.example>"))
        << m.header("Message-ID").toStdString();
    const QDateTime date = QDateTime::fromString(m.header("Date"), Qt::RFC2822Date);
    ASSERT_TRUE(date.isValid()) << m.header("Date").toStdString();
    EXPECT_LE(std::abs(date.secsTo(QDateTime::currentDateTime())), 60);
    EXPECT_EQ(m.contentType, "text/plain");
    EXPECT_EQ(m.charset, "utf-8");
    EXPECT_EQ(QString(m.body).replace("\r\n", "\n"),
              utf8("Zeile eins\nZeile zwei mit Grüßen\n.Punkt am Anfang\n"))
        << "line breaks kept, leading dot not taken for the end of data";
    EXPECT_TRUE(m.defects.isEmpty()) << m.defects.join(", ").toStdString();

    // Each log line is the time stamp, three blanks and the entry.
    const QStringList log = logLines();
    ASSERT_EQ(log.size(), 2);
    const QRegularExpression stamped(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d   "));
    EXPECT_EQ(QString(log[0]).remove(stamped),
              subject + utf8("   Zeile eins / Zeile zwei mit Grüßen / .Punkt am Anfang"));
    EXPECT_EQ(QString(log[1]).remove(stamped), utf8("E-Mail Versand erfolgreich durchgeführt !"));
}

TEST_F(MailSending, LoginIsWithheldFromAServerWithoutEncryption)
{
    // The server would take AUTH in clear; the password must not go there all the same.
    SmtpServer &server = serve({.authUser = "wart", .authPassword = "Geheim 17!"});
    MailSettings account = accountFor(server.address(), "wart", "Geheim 17!");
    const QString result = notify(account);
    EXPECT_TRUE(result.startsWith(kCodeOne) && result.endsWith(kNoEncryption))
        << result.toStdString();
    EXPECT_TRUE(logLines().last().endsWith(kNoEncryption)) << logLines().last().toStdString();

    const QByteArray wire = server.clearText();
    EXPECT_TRUE(wire.contains("EHLO")) << "the client did talk to the server";
    EXPECT_FALSE(wire.toUpper().contains("AUTH")) << wire.toStdString();
    EXPECT_TRUE(server.messages().isEmpty());

    account.username.clear();
    EXPECT_TRUE(failedWith(notify(account), kCodeTwo))
        << "without a login the server refuses the sender";
}

TEST_F(MailSending, LoginOverStartTlsAndTheBlankPasswordRule)
{
    SmtpServer &server =
        serve({.authUser = "wart", .authPassword = "Geheim 17!", .startTls = true});
    MailSettings account = accountFor(server.address(), "wart", "Geheim 17!");

    EXPECT_TRUE(failedWith(notify(account), kCodeOne))
        << "a certificate nobody vouches for is refused";
    {
        const ScopedCaFile trusted(server.certificate());
        EXPECT_EQ(notify(account), QString());
        account.passwort = QStringLiteral("falsch");
        EXPECT_TRUE(failedWith(notify(account), kCodeTwo))
            << "a refused login is the server turning us away";
    }
    ASSERT_EQ(server.messages().size(), 1);
    EXPECT_EQ(server.messages()[0].authUser, "wart");
    const QByteArray wire = server.clearText();
    EXPECT_TRUE(wire.contains("STARTTLS")) << wire.toStdString();
    EXPECT_FALSE(wire.toUpper().contains("AUTH")) << wire.toStdString();
    EXPECT_FALSE(logLines().join('\n').contains(QStringLiteral("Geheim")))
        << "the password never reaches the log";
    EXPECT_EQ(logLines().size(), 6) << "every notification adds exactly two lines";

    SmtpServer &open = serve({.authUser = "wart", .startTls = true});
    const ScopedCaFile trusted(open.certificate());
    EXPECT_EQ(notify(accountFor(open.address(), "wart")), QString())
        << "an empty stored password logs in with no password";
}

TEST_F(MailSending, DisabledSendingSendsNothing)
{
    SmtpServer &server = serve();
    MailSettings account = accountFor(server.address());
    account.enabled = 0;

    // What it logs instead is checked by the outbox tests.
    EXPECT_EQ(notify(account, "Alarm", "Wert zu hoch"), QString());
    EXPECT_TRUE(server.messages().isEmpty());
    EXPECT_FALSE(QFile::exists(messageFile()));
}

TEST_F(MailSending, ServerDownIsCodeOneWithinTheBound)
{
    const QString server = QStringLiteral("127.0.0.1:%1").arg(closedLocalPort());
    QElapsedTimer timer;
    timer.start();
    const QString result = notify(accountFor(server));
    EXPECT_TRUE(failedWith(result, kCodeOne));
    EXPECT_LT(timer.elapsed(), limits.transfer.count());
    const QStringList log = logLines();
    ASSERT_EQ(log.size(), 2);
    EXPECT_TRUE(log[1].endsWith(QStringLiteral("   Fehler beim  Versenden der E-Mail: ") + result))
        << "the log names the cause too: " << log[1].toStdString();

    EXPECT_EQ(sendDirect(QStringLiteral("no-such-host.invalid")), 1);
}

TEST_F(MailSending, RefusedSenderIsCodeTwoRefusedReceiverCodeOneBadMessageFileItsOwn)
{
    SmtpServer &server =
        serve({.rejectSender = "spam@tank.example", .rejectRecipient = "nobody@tank.example"});

    EXPECT_EQ(sendDirect(server.address(), "spam@tank.example"), 2);
    EXPECT_EQ(sendDirect(server.address(), "ostracom@tank.example", "nobody@tank.example"), 1);
    EXPECT_EQ(sendDirect(server.address(), "ostracom@tank.example",
                         "alarm@tank.example, nobody@tank.example"),
              1)
        << "one refused receiver fails the whole message";
    EXPECT_TRUE(server.messages().isEmpty());

    const Error outcome = sendMail(messageFile(), server.address(), "alarm@tank.example",
                                   "spam@tank.example", "s", QString(), " ", limits);
    EXPECT_TRUE(outcome.detail.contains(QStringLiteral("550"))) << outcome.detail.toStdString();

    // A message file that is missing or a folder fails before the server gets anything.
    for (const auto &[file, code] : {std::pair{QString("missing.txt"), 2}, std::pair{QString(), 4}})
        EXPECT_EQ(statusNumber(sendMail(QDir(dataDir.path()).filePath(file), server.address(),
                                        "alarm@tank.example", "ostracom@tank.example", "s",
                                        QString(), " ", limits)),
                  code)
            << file.toStdString();
    EXPECT_TRUE(server.messages().isEmpty());
}

TEST_F(MailSending, ServiceRefusedAtTheGreetingIsCodeTwoAndBusyIsCodeOne)
{
    for (const auto &[greeting, code] : {std::pair{554, 2}, std::pair{421, 1}}) {
        SCOPED_TRACE(greeting);
        const SmtpServer &server =
            serve({.mode = SmtpServerOptions::Mode::Greeting, .greetingCode = greeting});
        EXPECT_EQ(sendDirect(server.address()), code);
    }
}

TEST_F(MailSending, SilentOrStallingServerFailsWithinTheBound)
{
    const SmtpServer &server = serve({.mode = SmtpServerOptions::Mode::Hang});
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(failedWith(notify(accountFor(server.address())), kCodeOne));
    EXPECT_GE(timer.elapsed(), limits.connect.count() - 100) << "it did wait for the greeting";
    EXPECT_LT(timer.elapsed(), limits.connect.count() + 1000);
    EXPECT_EQ(logLines().size(), 2);

    const SmtpServer &staller = serve({.mode = SmtpServerOptions::Mode::StallData});
    timer.restart();
    EXPECT_EQ(sendDirect(staller.address()), 1);
    EXPECT_LT(timer.elapsed(), limits.transfer.count() + 1000) << "the whole exchange is bounded";
}
