#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// Pure pieces of an alarm e-mail: where it goes and what the message looks like on the
// wire. Nothing here touches the network or a file.

inline constexpr int kSmtpDefaultPort = 25;
inline constexpr int kSmtpsPort = 465; // implicit TLS from the first byte

// A mail server as the settings hold it: "host", "host:port", "[v6]:port", optionally
// with an smtp:// or smtps:// prefix.
struct MailServerAddress {
    QString host;
    int port = kSmtpDefaultPort;
    bool implicitTls = false;

    // The libcurl URL; `ehloName` becomes the domain sent with EHLO.
    QByteArray url(const QString &ehloName) const;
};

// nullopt when the text names no usable host or the port is not 1..65535.
std::optional<MailServerAddress> parseMailServer(const QString &server);

// The envelope address in a setting such as "a@b.c" or "Name <a@b.c>"; empty when the
// text holds none or holds characters that would break the SMTP command line.
QString envelopeAddress(const QString &setting);

// The receiver setting may list several addresses separated by ',' or ';'; a separator
// inside a quoted display name or inside <> belongs to that address.
QStringList receiverList(const QString &setting);

// Header text per RFC 2047: plain when printable ASCII, otherwise UTF-8 "B" encoded
// words of at most 75 characters, folded onto continuation lines. CR and LF become
// blanks, so a subject can never add a header of its own.
QByteArray encodeHeaderText(const QString &text);

// "Tue, 06 Dec 2022 08:27:00 +0100", independent of the locale.
QByteArray formatMailDate(const QDateTime &when);

// Quoted-printable with CRLF line ends and soft breaks keeping lines within 76
// characters. Input lines end in LF, CRLF or a lone CR.
QByteArray quotedPrintable(const QByteArray &utf8);

struct MailContent {
    QString from;   // sender setting as given (may carry a display name)
    QStringList to; // receiver settings as given
    QString subject;
    QString body; // any mix of CR, LF and CRLF line ends
    QDateTime date;
    QByteArray messageId; // without angle brackets
};

// A complete RFC 5322 message with CRLF line ends: Date, From, To, Subject, Message-ID,
// MIME-Version and a text/plain UTF-8 body. Plain ASCII bodies with short lines go as
// 7bit; anything else as quoted-printable, so no server needs 8BITMIME.
QByteArray buildMessage(const MailContent &content);

// A unique Message-ID under the sender's domain.
QByteArray newMessageId(const QString &sender);
