#pragma once

#include "support/loopback.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// One message as the local SMTP server received it. Headers and body are decoded by
// Python's mail parser, independently of the code under test.
struct ReceivedMail {
    QString mailFrom;
    QStringList rcptTos;
    QString authUser; // empty when the client did not authenticate
    QByteArray raw;   // the DATA as sent, dot-stuffing removed
    QMap<QString, QString> headers;
    QString contentType;
    QString charset;
    QString body;
    QStringList defects; // problems the parser found in the message

    QString header(const QString &name) const { return headers.value(name); }
};

struct SmtpServerOptions {
    enum class Mode {
        Normal,    // a working server
        Hang,      // accepts connections and never answers
        StallData, // takes the envelope and never answers the end of the data
        Greeting,  // answers every connection with `greetingCode` only
    };
    Mode mode = Mode::Normal;
    int greetingCode = 554;
    QString rejectSender;    // MAIL FROM this address gets 550
    QString rejectRecipient; // RCPT TO this address gets 550
    QString authUser;        // when set, AUTH (PLAIN or LOGIN) is required, even without TLS
    QString authPassword;
    bool startTls = false; // offer STARTTLS with a self-signed certificate, see certificate()
};

// A real SMTP server on 127.0.0.1 (tests/support/smtp_sink.py under Debian's python3 with
// aiosmtpd), started on a free port and stopped when the object goes.
class SmtpServer
{
public:
    explicit SmtpServer(SmtpServerOptions options = {});
    ~SmtpServer();
    SmtpServer(const SmtpServer &) = delete;
    SmtpServer &operator=(const SmtpServer &) = delete;

    // Starts the server and waits up to 10 s for it to listen; on failure error() says why.
    bool start();
    void stop();
    QString error() const { return m_error; }

    quint16 port() const { return m_port; }
    QString address() const; // "127.0.0.1:PORT", as the mail server setting takes it

    // Every message stored so far, oldest first.
    QList<ReceivedMail> messages() const;
    // All that clients sent before TLS (commands and message data), in order of arrival.
    QByteArray clearText() const;
    // The PEM file of the server's certificate (startTls only), for a client to trust.
    QString certificate() const;

private:
    SmtpServerOptions m_options;
    QTemporaryDir m_folder;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_error;
};
