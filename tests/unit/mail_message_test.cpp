#include "store/mail.h"
#include "store/mail_message.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace
{

QString utf8(const char *text)
{
    return QString::fromUtf8(text);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Undoes RFC 2047 "B" words the simple way: every word's bytes, in order.
QByteArray decodedWords(const QByteArray &header, int *words)
{
    static const QRegularExpression word(QStringLiteral("=\\?UTF-8\\?B\\?([^?]*)\\?="));
    QByteArray out;
    *words = 0;
    for (const auto &m : word.globalMatch(QString::fromLatin1(header))) {
        const QByteArray bytes = QByteArray::fromBase64(m.captured(1).toLatin1());
        EXPECT_TRUE(QString::fromUtf8(bytes).toUtf8() == bytes)
            << "a word holds a broken UTF-8 sequence: " << m.captured(0).toStdString();
        out += bytes;
        ++*words;
    }
    return out;
}

} // namespace

// Codes 3 to 5 only restate a fixed wording; one of them, no error and the fallback stand
// for them. The texts of codes 1 and 2 are checked where the sending reports them.
TEST(MailStatus, CodesGiveTheirExactTexts)
{
    EXPECT_EQ(mailStatusText(Error()), QString());
    EXPECT_EQ(mailStatusText(Error(ErrorCode::MailFileReadFailed, "detail")),
              "5 --- Error Reading File (message text)");
    EXPECT_EQ(mailStatusText(Error(ErrorCode::MailInternal, "detail")), "Unknown error");
}

TEST(MailServerSetting, HostPortAndTlsAreRead)
{
    // 587 speaks plain SMTP and upgrades with STARTTLS; only 465 starts with TLS.
    const struct {
        const char *setting;
        const char *host;
        int port;
        const char *url;
    } cases[] = {
        {" mail.example.com ", "mail.example.com", 25, "smtp://mail.example.com:25/pc1"},
        {"mail.example.com:587", "mail.example.com", 587, "smtp://mail.example.com:587/pc1"},
        {"mail.example.com:465", "mail.example.com", 465, "smtps://mail.example.com:465/pc1"},
        {"smtps://mail.example.com", "mail.example.com", 465, "smtps://mail.example.com:465/pc1"},
        {"[::1]:2525", "::1", 2525, "smtp://[::1]:2525/pc1"},
        {"mäil.de", "xn--mil-qla.de", 25, "smtp://xn--mil-qla.de:25/pc1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.setting);
        const auto server = parseMailServer(utf8(c.setting));
        ASSERT_TRUE(server);
        EXPECT_EQ(server->host, c.host);
        EXPECT_EQ(server->port, c.port);
        EXPECT_EQ(server->implicitTls, c.port == 465);
        EXPECT_EQ(server->url(QStringLiteral("pc1")), c.url);
    }
    for (const char *bad : {"", "   ", "mail:0", "mail:65536", "mail:smtp", "mail host",
                            "user@mail", "[::1", "mail\r\nQUIT", "mail.example.com:25:587",
                            "[fe80::1%eth\xc3\xbc]:25", "[fe80::1%a?b]:25"})
        EXPECT_FALSE(parseMailServer(utf8(bad))) << bad;
}

TEST(MailAddresses, EnvelopeIsTakenFromTheSettingAndUnsafeTextRefused)
{
    EXPECT_EQ(envelopeAddress(QStringLiteral(" alarm@tank.example ")), "alarm@tank.example");
    EXPECT_EQ(envelopeAddress(QString()), QString());
    EXPECT_EQ(envelopeAddress(QStringLiteral("<alarm@tank.example")), QString());
    EXPECT_EQ(envelopeAddress(QStringLiteral("a@x\r\nRCPT TO:<evil@x>")), QString())
        << "a line break would smuggle a command into the SMTP dialogue";
    EXPECT_EQ(envelopeAddress(QStringLiteral("a b@x")), QString());
}

TEST(MailAddresses, ReceiversAreSplitOnlyOutsideQuotesAndBrackets)
{
    const struct {
        const char *setting;
        QStringList receivers;
        QStringList envelopes;
    } cases[] = {
        {"a@x; b@x,,c@x ;", {"a@x", "b@x", "c@x"}, {"a@x", "b@x", "c@x"}},
        {R"("Doe; John" <j@d.e>,Wart <w@x>)",
         {R"("Doe; John" <j@d.e>)", "Wart <w@x>"},
         {"j@d.e", "w@x"}},
        {R"("Say \"hi, you\"" <h@x>; c@x)", {R"("Say \"hi, you\"" <h@x>)", "c@x"}, {"h@x", "c@x"}},
        {"<@relay.example,@b.example:j@d.e>, c@x",
         {"<@relay.example,@b.example:j@d.e>", "c@x"},
         {"@relay.example,@b.example:j@d.e", "c@x"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.setting);
        const QStringList receivers = receiverList(utf8(c.setting));
        EXPECT_EQ(receivers, c.receivers);
        QStringList envelopes;
        for (const QString &r : receivers)
            envelopes << envelopeAddress(r);
        EXPECT_EQ(envelopes, c.envelopes);
    }
}

TEST(MailHeaders, SubjectIsPlainOrEncodedWordsOfAtMost75Characters)
{
    EXPECT_EQ(encodeHeaderText(QStringLiteral("Alarm von Regelung 1-1")), "Alarm von Regelung 1-1");
    EXPECT_EQ(encodeHeaderText(utf8("Übertragung")), "=?UTF-8?B?w5xiZXJ0cmFndW5n?=");

    const QString longSubject = utf8("Warnung von Regelung 1-1 des Tarvelon # 17: die "
                                     "Übertragung überschreitet die Grenze von 28,5 °C");
    for (const QByteArray &line : encodeHeaderText(longSubject).split('\n'))
        EXPECT_LE(QByteArray(line).replace("\r", "").trimmed().size(), 75);

    EXPECT_EQ(encodeHeaderText(QStringLiteral("Alarm\r\nBcc: evil@x")), "Alarm Bcc: evil@x");
    EXPECT_EQ(encodeHeaderText(QStringLiteral("Alarm\rzwei")), "Alarm zwei");
}

TEST(MailHeaders, DateIsRfc5322WhateverTheLocale)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    struct BackToSystemLocale {
        ~BackToSystemLocale() { QLocale::setDefault(QLocale::system()); }
    } restore;
    const QDateTime winter(QDate(2024, 3, 1), QTime(14, 5, 9), Qt::OffsetFromUTC, 3600);
    EXPECT_EQ(formatMailDate(winter), "Fri, 01 Mar 2024 14:05:09 +0100");
    const QDateTime west(QDate(2023, 12, 31), QTime(23, 59, 0), Qt::OffsetFromUTC,
                         (-(3 * 3600 + 30 * 60)));
    EXPECT_EQ(formatMailDate(west), "Sun, 31 Dec 2023 23:59:00 -0330");
}

TEST(MailBody, QuotedPrintableEscapesAndKeepsLinesShort)
{
    EXPECT_EQ(quotedPrintable(utf8("Grüße a=b ").toUtf8()), "Gr=C3=BC=C3=9Fe a=3Db=20");
    EXPECT_EQ(quotedPrintable("eins\rzwei\r\ndrei\n"), "eins\r\nzwei\r\ndrei\r\n");

    const QByteArray longLine = QByteArray(100, 'x') + QByteArray("\xC3\xA4", 2).repeated(40);
    const QByteArray qp = quotedPrintable(longLine);
    QByteArray joined;
    for (const QByteArray &line : qp.split('\n')) {
        const QByteArray bare = QByteArray(line).replace("\r", "");
        EXPECT_LE(bare.size(), 76);
        joined += bare.endsWith('=') ? bare.chopped(1) : bare;
    }
    EXPECT_EQ(joined, QByteArray(100, 'x') + QByteArray("=C3=A4").repeated(40))
        << "soft breaks never split an escape";
}

TEST(MailBody, MessageHasAllHeadersCrlfLinesAndAFittingEncoding)
{
    MailContent content{QStringLiteral("Ostracom <ostracom@tank.example>"),
                        {QStringLiteral("alarm@tank.example"), QStringLiteral("b@tank.example")},
                        QStringLiteral("Alarm"),
                        QStringLiteral("Wert 7,1\rGrenze 7,0\n"),
                        QDateTime(QDate(2024, 3, 1), QTime(14, 5, 9), Qt::OffsetFromUTC, 3600),
                        "abc@tank.example"};
    const QByteArray ascii = buildMessage(content);
    EXPECT_EQ(ascii, "Date: Fri, 01 Mar 2024 14:05:09 +0100\r\n"
                     "From: Ostracom <ostracom@tank.example>\r\n"
                     "To: alarm@tank.example, b@tank.example\r\n"
                     "Subject: Alarm\r\n"
                     "Message-ID: <abc@tank.example>\r\n"
                     "MIME-Version: 1.0\r\n"
                     "Content-Type: text/plain; charset=UTF-8\r\n"
                     "Content-Transfer-Encoding: 7bit\r\n"
                     "\r\n"
                     "Wert 7,1\r\nGrenze 7,0\r\n");

    content.body = utf8("Temperatur 28,5 °C");
    content.from = utf8("Tank Süd <ostracom@tank.example>");
    content.to =
        receiverList(utf8(R"("Müller, Hans" <h@x>; "Doe, John" <j@x>; "Müller \"Wart\"" <w@x>)"));
    const QByteArray utf = buildMessage(content);
    EXPECT_TRUE(utf.contains("Content-Transfer-Encoding: quoted-printable\r\n"));
    EXPECT_TRUE(utf.endsWith("\r\n\r\nTemperatur 28,5 =C2=B0C\r\n"));
    EXPECT_TRUE(utf.contains("From: =?UTF-8?B?VGFuayBTw7xk?= <ostracom@tank.example>\r\n"));
    // An encoded word stands for the whole display name, without the quotes around it.
    EXPECT_TRUE(utf.contains(R"(To: =?UTF-8?B?TcO8bGxlciwgSGFucw==?= <h@x>, "Doe, John" <j@x>,)"
                             "\r\n =?UTF-8?B?TcO8bGxlciAiV2FydCI=?= <w@x>\r\n"))
        << utf.toStdString();
    for (char c : utf)
        EXPECT_LT(uchar(c), 0x80) << "the message is 7-bit clean";
    EXPECT_FALSE(QByteArray(utf).replace("\r\n", "").contains('\n')) << "no bare LF";
}

// Many receivers, or a long name, fold between the addresses and words: no header line of
// a mail that can be sent passes 998 characters, which a server may refuse or cut.
TEST(MailHeaders, LongReceiverListsAndNamesStayWithinTheLineLimit)
{
    QStringList receivers;
    for (int i = 0; i < 40; ++i)
        receivers << QStringLiteral("Receiver %1 <receiver.%1@tank.example>").arg(i);
    const MailContent content{QStringLiteral("%1 <ostracom@tank.example>").arg(QString(950, 'N')),
                              receiverList(receivers.join(QLatin1Char(';'))),
                              QStringLiteral("Alarm"),
                              QStringLiteral("Wert"),
                              QDateTime(QDate(2024, 3, 1), QTime(14, 5, 9), Qt::OffsetFromUTC, 0),
                              "abc@tank.example"};
    const QByteArray message = buildMessage(content);
    for (const QByteArray &line : message.split('\n'))
        EXPECT_LE(line.size(), 999) << line.left(40).toStdString();
    const qsizetype to = message.indexOf("\r\nTo: ") + 6;
    const QByteArray toField = message.mid(to, message.indexOf("\r\nSubject: ") - to);
    EXPECT_EQ(QByteArray(toField).replace(",\r\n ", ", "), receivers.join(", ").toLatin1());
    int words = 0;
    EXPECT_EQ(decodedWords(message.left(message.indexOf("\r\nTo: ")), &words),
              QByteArray(950, 'N'));
    MailContent trailing = content;
    trailing.from = utf8("Süd <a@b.c> ") + QString(400, QChar(0xFC));
    EXPECT_TRUE(buildMessage(trailing).contains("\r\nFrom: =?UTF-8?B?U8O8ZA==?= <a@b.c>\r\n"))
        << "text after the address is no part of it";
    EXPECT_EQ(envelopeAddress(QString(250, 'a') + QStringLiteral("@x.de")), QString())
        << "no SMTP server takes a path beyond 256 characters";
}

TEST(MailBody, MessageIdIsUniqueAndHasADomainWithoutOne)
{
    const QByteArray a = newMessageId(QStringLiteral("Tank <ostracom@tank.example>"));
    const QByteArray b = newMessageId(QStringLiteral("Tank <ostracom@tank.example>"));
    EXPECT_NE(a, b);
    EXPECT_TRUE(newMessageId(QStringLiteral("root")).endsWith("@ostracom.localdomain"));
}

class MailFiles : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path(const char *name) const { return QDir(dir.path()).filePath(name); }
};

// The message text replaces the file, the log grows by one line per entry.
TEST_F(MailFiles, TextFileIsReplacedAndLogLinesAppended)
{
    EXPECT_EQ(writeTextFile(path("mail.txt"), utf8("erste Nachricht, länger")), Error());
    EXPECT_EQ(writeTextFile(path("mail.txt"), utf8("zweite")), Error());
    EXPECT_EQ(readAll(path("mail.txt")), "zweite\n");

    const Error failure = writeTextFile(path("missing/mail.txt"), QStringLiteral("x"));
    EXPECT_EQ(failure.code, ErrorCode::FileFailed);
    EXPECT_EQ(failure.detail, path("missing/mail.txt"));

    EXPECT_EQ(appendLogLine(path("ostracom.log"), QStringLiteral("eins")), Error());
    EXPECT_EQ(appendLogLine(path("ostracom.log"), QStringLiteral("zwei\rdrei\r\nvier\nfünf")),
              Error());
    EXPECT_EQ(QString::fromUtf8(readAll(path("ostracom.log"))),
              utf8("eins\nzwei / drei / vier / fünf\n"));
}

TEST_F(MailFiles, LogThatCannotBeWrittenIsReportedToTheCaller)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("ostracom.log")));
    EXPECT_EQ(appendLogLine(path("ostracom.log"), QStringLiteral("x")).code, ErrorCode::FileFailed);

    const Notification sent = sendNotification(MailSettings{}, dir.path(),
                                               QStringLiteral("Betreff"), QStringLiteral("Text"));
    EXPECT_EQ(sent.logFailure.code, ErrorCode::FileFailed)
        << "a log that cannot be written must not pass silently";
    EXPECT_EQ(sent.logFailure.detail, path("ostracom.log"));
    EXPECT_EQ(sent.status, QString()) << "sending is disabled, so nothing else failed";
}

TEST_F(MailFiles, UnusableSettingsFailWithCodeOneBeforeAnyConnection)
{
    ASSERT_EQ(writeTextFile(path("mail.txt"), QStringLiteral("Text")), Error());
    const QString file = path("mail.txt");
    const ErrorCode one = ErrorCode::MailTransferFailed;
    EXPECT_EQ(sendMail(file, QString(), "a@x", "b@x", "s", QString(), " ").code, one);
    EXPECT_EQ(sendMail(file, "127.0.0.1:25", QString(), "b@x", "s", QString(), " ").code, one);
    EXPECT_EQ(sendMail(file, "127.0.0.1:25", "a@x", "b@x\r\nRSET", "s", QString(), " ").code, one);
    EXPECT_EQ(sendMail(QString(), "127.0.0.1:25", "a@x", "b@x", "s", QString(), " ").code, one);

    MailSettings account{QString(), "a@x", "b@x", QString(), QString(), 1};
    EXPECT_TRUE(sendNotification(account, dir.path(), "Betreff", "Zeile 1\rZeile 2")
                    .status.startsWith(mailStatusText(Error(one)) + QStringLiteral(" (")));
    EXPECT_EQ(readAll(path("mail.txt")), "Zeile 1\nZeile 2\n");
    // The two log lines of a failed notification are checked with a real server down.
    EXPECT_EQ(readAll(path("ostracom.log")).count('\n'), 2);
}

// Another program's notification on the same folder (a poller's sender while ostracom-cli
// mail-test runs) holds the folder; this one waits for it instead of rewriting mail.txt under it.
TEST_F(MailFiles, NotificationWaitsForAnotherProgramUsingTheFolder)
{
    const int held = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    std::atomic<bool> done{false};
    std::thread other([&] {
        sendNotification(MailSettings{}, dir.path(), QStringLiteral("Betreff"),
                         QStringLiteral("Text"));
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(done) << "the notification went on while the folder was held";
    EXPECT_FALSE(QFile::exists(path("ostracom.log")));
    ::close(held);
    other.join();
    EXPECT_EQ(readAll(path("ostracom.log")).count('\n'), 2);
}
