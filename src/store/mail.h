#pragma once

#include "link/error.h"
#include "store/mail_settings.h"

#include <QDateTime>

#include <QString>

#include <atomic>
#include <chrono>

// Alarm e-mail: the sender over SMTP, the message file and the notification log.

// The six notification settings of the OSTRACOM settings row.

// Both live in the data directory.
inline constexpr const char *kMessageFileName = "mail.txt";
inline constexpr const char *kLogFileName = "ostracom.log";

// A stored password that is empty reaches Send as this single blank; Send treats it as
// "no password" again, since no mail account has a lone blank for its password.
inline constexpr const char *kNoPassword = " ";

// Every attempt is bounded, so a dead or hanging mail server cannot stall polling.
struct MailLimits {
    // TCP connect, TLS handshake and the SMTP greeting.
    std::chrono::milliseconds connect{10'000};
    // The whole attempt, connect included.
    std::chrono::milliseconds transfer{30'000};
    // When set and it turns true, the attempt is given up within a second
    // (MailTransferFailed): a closing program need not wait for a server that hangs.
    const std::atomic<bool> *cancel = nullptr;
};

// Sends the content of `messageFile` as the body of a mail with `subject` from `sender`
// to `receiver` (several may be separated by ',' or ';') through `server` ("host" or
// "host:port"; port 465 means implicit TLS, otherwise STARTTLS when offered). AUTH is
// used when `username` is not empty, and then only over TLS: a server without STARTTLS
// fails the send with MailNoEncryption. The server's certificate is checked against the
// system's CAs, or the file SSL_CERT_FILE names. Thread-safe; blocks at most
// `limits.transfer`. A failure is one of the Mail codes, with what failed in its detail.
Error sendMail(const QString &messageFile, const QString &server, const QString &receiver,
               const QString &sender, const QString &subject, const QString &username,
               const QString &password, const MailLimits &limits = {});

// The numbered status text the log and the user see for a send's result ("1 --- ..."): ""
// for success, "Unknown error" for a failure without a number. Not translated, as the log
// is read across installations.
QString mailStatusText(const Error &error);

// Writes `text` and a line end to `path`, replacing its content. Fails as FileFailed
// naming the file.
Error writeTextFile(const QString &path, const QString &text);

// "2024-03-01 14:05:09": sortable and the same on every machine, unlike a locale's text.
QString logTimestamp(const QDateTime &when = QDateTime::currentDateTime());

// Appends `line` and a line end to the log at `logPath`, creating it when missing.
// Line breaks inside `line` are written as " / " so that one entry stays one line.
// Fails as FileFailed (or FileNotPrivate) naming the log.
Error appendLogLine(const QString &logPath, const QString &line);

// What a notification came to.
struct Notification {
    // "" on success or when sending is disabled, otherwise the status text (followed by a
    // sentence saying so when a login was withheld for want of encryption) or the message
    // file's error.
    QString status;
    // The log could not record the attempt or its outcome; the mail may well have gone out.
    Error logFailure;
};

// Sends a notification with the account's settings when it is enabled (message file
// mail.txt in `dataDir`), and appends the attempt line and the outcome line to
// ostracom.log in `dataDir` in either case; both lines are tried even when the first fails.
Notification sendNotification(const MailSettings &account, const QString &dataDir,
                              const QString &subject, const QString &body,
                              const MailLimits &limits = {});
