// Alarm mails built from the mail settings and an alarm's texts. Input: the server, sender,
// receivers, subject and body settings, separated by bytes of code 1. Checked beyond "no
// crash": the server named is taken as a host without blanks or markup and a port from 1 to
// 65535, and its URL names it again; an envelope address holds nothing that breaks an SMTP
// command; the message has exactly its own header fields, in order, whatever the texts
// hold (no line break of a text starts a header or the body), every line ends in CRLF, the
// subject and body decode to the texts given, and in a mail that can be sent (its sender and
// receivers have envelope addresses) every line stays within 998 characters and the header
// holds no control character.

#include "fuzz_check.h"
#include "store/mail_message.h"

#include <QTimeZone>

namespace
{

const char *const kFields[] = {
    "Date",       "From",         "To",           "Subject",
    "Message-ID", "MIME-Version", "Content-Type", "Content-Transfer-Encoding"};
constexpr qsizetype kLineMax = 998;

QString lineEndsUnified(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

void checkServer(const QString &setting)
{
    const auto server = parseMailServer(setting);
    if (!server)
        return;
    FUZZ_CHECK(!server->host.isEmpty() && server->port >= 1 && server->port <= 65535,
               "a server is a host and a port");
    for (const QChar c : server->host)
        FUZZ_CHECK(c.unicode() > 0x20 && c.unicode() != 0x7f && !QStringLiteral("/@<>").contains(c),
                   "a host holds no blank, control character or markup");
    const QByteArray url = server->url(QStringLiteral("pc.example"));
    FUZZ_CHECK(url.startsWith(server->implicitTls ? "smtps://" : "smtp://"),
               "the URL asks for TLS when the server wants it");
    for (const char c : url)
        FUZZ_CHECK(uchar(c) > 0x20 && uchar(c) < 0x7f, "a URL is printable ASCII");
    const auto again = parseMailServer(QString::fromLatin1(url));
    FUZZ_CHECK(again && again->host == server->host && again->port == server->port &&
                   again->implicitTls == server->implicitTls,
               "the URL names the same server");
}

// The subject as encodeHeaderText wrote it, decoded.
QString decodedHeaderText(const QByteArray &encoded)
{
    if (!encoded.startsWith("=?UTF-8?B?"))
        return QString::fromLatin1(encoded);
    QByteArray utf8;
    for (const QByteArray &word : encoded.split('\n')) {
        QByteArray w = word.trimmed();
        FUZZ_CHECK(w.startsWith("=?UTF-8?B?") && w.endsWith("?=") && w.size() <= 75,
                   "each encoded word stands alone on its line, within 75 characters");
        utf8 += QByteArray::fromBase64(w.mid(10, w.size() - 12));
    }
    return QString::fromUtf8(utf8);
}

QByteArray decodedQuotedPrintable(const QByteArray &text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (text.mid(i + 1, 2) == "\r\n") {
            i += 2;
        } else {
            bool ok = false;
            out += char(text.mid(i + 1, 2).toUInt(&ok, 16));
            FUZZ_CHECK(ok, "an escape is two hex digits");
            i += 2;
        }
    }
    return out.replace("\r\n", "\n");
}

void checkMessage(const MailContent &content, bool sendable)
{
    const QByteArray message = buildMessage(content);
    FUZZ_CHECK(!message.contains("\r\r") && message.count('\r') == message.count("\r\n") &&
                   message.count('\n') == message.count("\r\n"),
               "every line ends in CRLF");
    const qsizetype split = message.indexOf("\r\n\r\n");
    FUZZ_CHECK(split > 0, "the header ends in an empty line");
    const QList<QByteArray> header = message.left(split).split('\n');
    int field = 0;
    QByteArray subject;
    QByteArray encoding;
    for (QByteArray line : header) {
        line.chop(line.endsWith('\r') ? 1 : 0);
        if (sendable)
            FUZZ_CHECK(line.size() <= kLineMax, "a header line stays within 998 characters");
        if (line.startsWith(' ') || line.startsWith('\t')) {
            FUZZ_CHECK(field > 0, "a continuation follows a field");
            if (field == 4)
                subject += '\n' + line;
            continue;
        }
        FUZZ_CHECK(field < int(std::size(kFields)) &&
                       line.startsWith(QByteArray(kFields[field]) + ": "),
                   "the header holds its own fields in order and nothing else");
        const QByteArray value = line.mid(qsizetype(strlen(kFields[field])) + 2);
        ++field;
        if (field == 4)
            subject = value;
        if (field == 8)
            encoding = value;
        if (sendable)
            for (const char c : line)
                FUZZ_CHECK(uchar(c) >= 0x20 && uchar(c) != 0x7f,
                           "a header holds no control character");
    }
    FUZZ_CHECK(field == int(std::size(kFields)), "every field of the header is there");
    FUZZ_CHECK(decodedHeaderText(subject) ==
                   lineEndsUnified(content.subject).replace(QLatin1Char('\n'), QLatin1Char(' ')),
               "the subject decodes to its text, line breaks as blanks");

    const QByteArray body = message.mid(split + 4);
    for (const QByteArray &line : body.split('\n'))
        FUZZ_CHECK(line.size() <= (encoding == "7bit" ? kLineMax + 1 : 77),
                   "a body line stays within its limit");
    QString expected = lineEndsUnified(content.body);
    if (!expected.endsWith(QLatin1Char('\n')))
        expected += QLatin1Char('\n');
    const QString decoded = encoding == "7bit"
                                ? QString::fromLatin1(QByteArray(body).replace("\r\n", "\n"))
                                : QString::fromUtf8(decodedQuotedPrintable(body));
    FUZZ_CHECK(decoded == expected, "the body decodes to its text");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = bytesOf(data, size).split('\x01');
    const auto part = [&](int i) { return QString::fromUtf8(parts.value(i)); };
    checkServer(part(0));

    MailContent content;
    content.from = part(1);
    content.to = receiverList(part(2));
    content.subject = part(3);
    content.body = part(4);
    content.date = QDateTime(QDate(2026, 12, 7), QTime(10, 0), QTimeZone(3600));

    const QString envelope = envelopeAddress(content.from);
    for (const QChar c : envelope)
        FUZZ_CHECK(c.unicode() > 0x20 && c.unicode() != 0x7f && c != QLatin1Char('<') &&
                       c != QLatin1Char('>'),
                   "an envelope address breaks no SMTP command");
    FUZZ_CHECK(content.from.contains(envelope), "an envelope address is taken from the setting");
    bool sendable = !envelope.isEmpty();
    for (const QString &receiver : content.to) {
        FUZZ_CHECK(!receiver.isEmpty() && receiver == receiver.trimmed() &&
                       part(2).contains(receiver),
                   "a receiver is a trimmed part of the setting");
        sendable = sendable && !envelopeAddress(receiver).isEmpty();
    }

    content.messageId = newMessageId(content.from);
    for (const char c : content.messageId)
        FUZZ_CHECK(std::isalnum(uchar(c)) || c == '.' || c == '-' || c == '@',
                   "a Message-ID holds letters, digits, dots, dashes and its '@'");
    checkMessage(content, sendable);
    return 0;
}
