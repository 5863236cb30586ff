#include "store/mail_message.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrl>

namespace
{

constexpr const char *kSmtpScheme = "smtp://";
constexpr const char *kSmtpsScheme = "smtps://";

// RFC 2047: an encoded word is at most 75 characters; "=?UTF-8?B?" and "?=" take 12 of
// them, leaving 60 base64 characters, which carry 45 bytes.
constexpr int kEncodedWordBytes = 45;
// Header text longer than this is encoded anyway, so that it gets folded.
constexpr int kPlainHeaderMax = 900;
// RFC 5322 line limit without CRLF; longer body lines force quoted-printable.
constexpr int kMaxLineOctets = 998;
// Where address headers fold between addresses, as RFC 5322 recommends.
constexpr int kFoldAt = 78;
// The longest envelope address an SMTP path can carry (256 with its angle brackets).
constexpr int kMaxEnvelopeAddress = 254;
// Quoted-printable line limit without CRLF, the soft break "=" included.
constexpr int kQpLineMax = 76;

bool isPrintableAscii(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    }
    return true;
}

// Every CRLF, lone CR and lone LF becomes one LF.
QString unifyLineEnds(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QString withoutLineBreaks(const QString &text)
{
    return unifyLineEnds(text).replace(QLatin1Char('\n'), QLatin1Char(' '));
}

// UTF-8 "B" encoded words of at most 75 characters, folded onto continuation lines.
QByteArray encodedWords(const QString &flat)
{
    const QByteArray utf8 = flat.toUtf8();
    QByteArray out;
    int pos = 0;
    while (pos < utf8.size()) {
        int end = std::min<int>(pos + kEncodedWordBytes, utf8.size());
        // A character's bytes stay in one word: back off from continuation bytes.
        while (end < utf8.size() && end > pos + 1 && (uchar(utf8[end]) & 0xC0) == 0x80)
            --end;
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + utf8.mid(pos, end - pos).toBase64() + "?=";
        pos = end;
    }
    return out;
}

QByteArray formatAddressHeader(const QString &setting)
{
    const QString text = withoutLineBreaks(setting).trimmed();
    // A name too long for one line is encoded, so that it folds.
    if (isPrintableAscii(text) && text.size() <= kPlainHeaderMax)
        return text.toLatin1();
    const int open = text.lastIndexOf(QLatin1Char('<'));
    if (open < 0)
        return text.toUtf8(); // an internationalised address; there is no other spelling
    QString display = text.left(open).trimmed();
    if (display.size() >= 2 && display.startsWith(QLatin1Char('"')) &&
        display.endsWith(QLatin1Char('"'))) {
        // An encoded word stands outside quotes, so the quoting is undone, \" included.
        display = display.mid(1, display.size() - 2);
        static const QRegularExpression quotedPair(QStringLiteral("\\\\(.)"));
        display.replace(quotedPair, QStringLiteral("\\1"));
    }
    // What follows the closing '>' is no part of the address.
    const int close = text.indexOf(QLatin1Char('>'), open);
    const QByteArray address = text.mid(open, close < 0 ? -1 : close - open + 1).toUtf8();
    if (display.isEmpty())
        return address;
    return (display.size() > kPlainHeaderMax ? encodedWords(display) : encodeHeaderText(display)) +
           ' ' + address;
}

QByteArray hexEscape(unsigned char byte)
{
    static const char digits[] = "0123456789ABCDEF";
    QByteArray out("=");
    out += digits[byte >> 4];
    out += digits[byte & 0x0f];
    return out;
}

} // namespace

QByteArray MailServerAddress::url(const QString &ehloName) const
{
    QByteArray out = implicitTls ? kSmtpsScheme : kSmtpScheme;
    if (host.contains(QLatin1Char(':')))
        out += '[' + host.toLatin1() + ']';
    else
        out += host.toLatin1();
    out += ':' + QByteArray::number(port) + '/';
    out += QUrl::toPercentEncoding(ehloName);
    return out;
}

std::optional<MailServerAddress> parseMailServer(const QString &server)
{
    MailServerAddress result;
    QString rest = server.trimmed();
    bool explicitTls = false;
    if (rest.startsWith(QLatin1String(kSmtpsScheme), Qt::CaseInsensitive)) {
        explicitTls = true;
        result.port = kSmtpsPort;
        rest = rest.mid(int(strlen(kSmtpsScheme)));
    } else if (rest.startsWith(QLatin1String(kSmtpScheme), Qt::CaseInsensitive)) {
        rest = rest.mid(int(strlen(kSmtpScheme)));
    }
    if (explicitTls || server.trimmed().contains(QLatin1String("://"))) {
        const int slash = rest.indexOf(QLatin1Char('/'));
        if (slash >= 0)
            rest = rest.left(slash);
    }

    QString host;
    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        const int close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                return std::nullopt;
            portText = after.mid(1);
        }
    } else if (rest.count(QLatin1Char(':')) == 1) {
        const int colon = rest.indexOf(QLatin1Char(':'));
        host = rest.left(colon);
        portText = rest.mid(colon + 1);
    } else {
        host = rest; // a bare name, or a bare IPv6 address without a port
    }

    if (!portText.isNull()) {
        bool ok = false;
        const int port = portText.toInt(&ok);
        if (!ok || port < 1 || port > 65535)
            return std::nullopt;
        result.port = port;
    }
    static const QRegularExpression unusable(QStringLiteral("[\\s/@<>\\x00-\\x1f\\x7f]"));
    if (host.isEmpty() || host.contains(unusable))
        return std::nullopt;
    if (host.contains(QLatin1Char(':'))) {
        // Only an IPv6 address holds colons; anything else is a mistyped host:port. Its scope
        // is a plain interface name: the URL carries it as it stands.
        static const QRegularExpression v6(QStringLiteral("^[0-9A-Fa-f:.]+(%[A-Za-z0-9._-]+)?$"));
        if (!v6.match(host).hasMatch() ||
            QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
            return std::nullopt;
        result.host = host;
    } else {
        // Names with umlauts reach the resolver in their ASCII (punycode) form.
        result.host = QString::fromLatin1(QUrl::toAce(host));
        if (result.host.isEmpty())
            return std::nullopt;
    }
    result.implicitTls = explicitTls || result.port == kSmtpsPort;
    return result;
}

QString envelopeAddress(const QString &setting)
{
    QString address = setting.trimmed();
    // Control characters anywhere, display name included, mean a mangled setting.
    for (QChar c : address) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QString();
    }
    const int open = address.lastIndexOf(QLatin1Char('<'));
    if (open >= 0) {
        const int close = address.indexOf(QLatin1Char('>'), open);
        if (close < 0)
            return QString();
        address = address.mid(open + 1, close - open - 1).trimmed();
    }
    for (QChar c : address) {
        const char16_t u = c.unicode();
        if (u <= 0x20 || u == 0x7f || c == QLatin1Char('<') || c == QLatin1Char('>'))
            return QString();
    }
    if (address.toUtf8().size() > kMaxEnvelopeAddress)
        return QString();
    return address;
}

QStringList receiverList(const QString &setting)
{
    // A display name may hold a comma ("Doe, John" <j@d.e>), so separators count only
    // outside quotes and angle brackets.
    QStringList out;
    QString part;
    bool quoted = false;
    bool bracketed = false;
    const auto flush = [&] {
        if (!part.trimmed().isEmpty())
            out << part.trimmed();
        part.clear();
    };
    for (qsizetype i = 0; i < setting.size(); ++i) {
        const QChar c = setting[i];
        if (quoted && c == QLatin1Char('\\') && i + 1 < setting.size()) {
            part += c;
            part += setting[++i];
            continue;
        }
        if (c == QLatin1Char('"') && !bracketed)
            quoted = !quoted;
        else if (c == QLatin1Char('<') && !quoted)
            bracketed = true;
        else if (c == QLatin1Char('>') && !quoted)
            bracketed = false;
        else if ((c == QLatin1Char(',') || c == QLatin1Char(';')) && !quoted && !bracketed) {
            flush();
            continue;
        }
        part += c;
    }
    flush();
    return out;
}

QByteArray encodeHeaderText(const QString &text)
{
    const QString flat = withoutLineBreaks(text);
    if (isPrintableAscii(flat) && !flat.contains(QLatin1String("=?")) &&
        flat.size() <= kPlainHeaderMax)
        return flat.toLatin1();
    return encodedWords(flat);
}

QByteArray formatMailDate(const QDateTime &when)
{
    static const char *const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate d = when.date();
    const QTime t = when.time();
    const int offsetMinutes = when.offsetFromUtc() / 60;
    const int absOffset = std::abs(offsetMinutes);
    return QByteArray(days[d.dayOfWeek() - 1]) + ", " +
           QByteArray::number(d.day()).rightJustified(2, '0') + ' ' + months[d.month() - 1] + ' ' +
           QByteArray::number(d.year()) + ' ' + t.toString(u"HH:mm:ss").toLatin1() + ' ' +
           (offsetMinutes < 0 ? '-' : '+') +
           QByteArray::number(absOffset / 60).rightJustified(2, '0') +
           QByteArray::number(absOffset % 60).rightJustified(2, '0');
}

QByteArray quotedPrintable(const QByteArray &utf8)
{
    QByteArray unified = utf8;
    unified.replace("\r\n", "\n");
    unified.replace('\r', '\n');
    const QList<QByteArray> lines = unified.split('\n');

    QByteArray out;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        int lineLength = 0;
        for (qsizetype j = 0; j < line.size(); ++j) {
            const auto byte = uchar(line[j]);
            const bool last = j == line.size() - 1;
            QByteArray token;
            if ((byte >= 33 && byte <= 126 && byte != '=') ||
                ((byte == ' ' || byte == '\t') && !last))
                token = QByteArray(1, char(byte));
            else
                token = hexEscape(byte); // trailing blanks too: transports may strip them
            if (lineLength + token.size() > kQpLineMax - 1) {
                out += "=\r\n";
                lineLength = 0;
            }
            out += token;
            lineLength += int(token.size());
        }
        if (i + 1 < lines.size())
            out += "\r\n";
    }
    return out;
}

QByteArray buildMessage(const MailContent &content)
{
    // Many receivers fold between their addresses, keeping each line within limits.
    QByteArray toHeader;
    qsizetype lineLength = 4; // "To: "
    for (const QString &receiver : content.to) {
        const QByteArray address = formatAddressHeader(receiver);
        const qsizetype firstLine = address.contains('\n') ? address.indexOf('\r') : address.size();
        if (!toHeader.isEmpty()) {
            const bool fold = lineLength + 2 + firstLine > kFoldAt;
            toHeader += fold ? ",\r\n " : ", ";
            lineLength = fold ? 1 : lineLength + 2;
        }
        toHeader += address;
        lineLength = address.contains('\n') ? address.size() - address.lastIndexOf('\n') - 1
                                            : lineLength + address.size();
    }

    QString body = unifyLineEnds(content.body);
    if (!body.endsWith(QLatin1Char('\n')))
        body += QLatin1Char('\n');
    bool plain = true;
    for (const QString &line : body.split(QLatin1Char('\n'))) {
        if (line.size() > kMaxLineOctets ||
            !isPrintableAscii(QString(line).remove(QLatin1Char('\t')))) {
            plain = false;
            break;
        }
    }

    QByteArray out;
    out += "Date: " + formatMailDate(content.date) + "\r\n";
    out += "From: " + formatAddressHeader(content.from) + "\r\n";
    out += "To: " + toHeader + "\r\n";
    out += "Subject: " + encodeHeaderText(content.subject) + "\r\n";
    out += "Message-ID: <" + content.messageId + ">\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=UTF-8\r\n";
    if (plain) {
        out += "Content-Transfer-Encoding: 7bit\r\n\r\n";
        out += body.toLatin1().replace("\n", "\r\n");
    } else {
        out += "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
        out += quotedPrintable(body.toUtf8());
    }
    return out;
}

QByteArray newMessageId(const QString &sender)
{
    QByteArray domain;
    const QString address = envelopeAddress(sender);
    const int at = address.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        for (QChar c : address.mid(at + 1)) {
            if (c.isLetterOrNumber() && c.unicode() < 0x80)
                domain += char(c.unicode());
            else if (c == QLatin1Char('.') || c == QLatin1Char('-'))
                domain += char(c.unicode());
        }
    }
    if (domain.isEmpty())
        domain = "ostracom.localdomain";
    const quint64 random = QRandomGenerator::system()->generate64();
    return QByteArray::number(QDateTime::currentMSecsSinceEpoch(), 36) + '.' +
           QByteArray::number(random, 16).rightJustified(16, '0') + '@' + domain;
}
