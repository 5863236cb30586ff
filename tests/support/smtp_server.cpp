#include "support/smtp_server.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>

namespace
{

// Debian's interpreter: it has aiosmtpd, which the one first on PATH may lack.
constexpr const char *kPython = "/usr/bin/python3";
constexpr int kStartTimeoutMs = 10'000;
constexpr int kStopTimeoutMs = 3'000;

QStringList toStringList(const QJsonValue &value)
{
    QStringList out;
    for (const QJsonValue &v : value.toArray())
        out << v.toString();
    return out;
}

} // namespace

SmtpServer::SmtpServer(SmtpServerOptions options) : m_options(std::move(options))
{
}

SmtpServer::~SmtpServer()
{
    stop();
}

bool SmtpServer::start()
{
    if (!m_folder.isValid()) {
        m_error = QStringLiteral("no temporary folder: %1").arg(m_folder.errorString());
        return false;
    }
    QStringList args{QStringLiteral(OSTRACOM_SOURCE_DIR "/tests/support/smtp_sink.py"),
                     QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--folder"),
                     m_folder.path()};
    switch (m_options.mode) {
    case SmtpServerOptions::Mode::Normal:
        break;
    case SmtpServerOptions::Mode::Hang:
        args << QStringLiteral("--hang");
        break;
    case SmtpServerOptions::Mode::StallData:
        args << QStringLiteral("--stall-data");
        break;
    case SmtpServerOptions::Mode::Greeting:
        args << QStringLiteral("--greeting") << QString::number(m_options.greetingCode);
        break;
    }
    if (!m_options.rejectSender.isEmpty())
        args << QStringLiteral("--reject-sender") << m_options.rejectSender;
    if (!m_options.rejectRecipient.isEmpty())
        args << QStringLiteral("--reject-recipient") << m_options.rejectRecipient;
    if (!m_options.authUser.isEmpty())
        args << QStringLiteral("--auth-user") << m_options.authUser
             << QStringLiteral("--auth-password") << m_options.authPassword;
    if (m_options.startTls)
        args << QStringLiteral("--starttls");

    m_process = std::make_unique<QProcess>();
    m_process->setProgram(QString::fromLatin1(kPython));
    m_process->setArguments(args);
    m_process->start();
    if (!m_process->waitForStarted(kStartTimeoutMs)) {
        m_error = QStringLiteral("%1 did not start: %2").arg(kPython, m_process->errorString());
        m_process.reset();
        return false;
    }

    // The sink prints "PORT <n>" once it listens.
    QByteArray output;
    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!output.contains('\n') && !deadline.hasExpired() &&
           m_process->state() == QProcess::Running) {
        m_process->waitForReadyRead(int(deadline.remainingTime()));
        output += m_process->readAllStandardOutput();
    }
    const QByteArray line = output.left(output.indexOf('\n')).trimmed();
    bool ok = false;
    if (line.startsWith("PORT "))
        m_port = quint16(line.mid(5).toUInt(&ok));
    if (!ok || m_port == 0) {
        m_error = QStringLiteral("SMTP sink gave no port (output \"%1\", errors \"%2\")")
                      .arg(QString::fromUtf8(output),
                           QString::fromUtf8(m_process->readAllStandardError()));
        stop();
        return false;
    }
    return true;
}

void SmtpServer::stop()
{
    if (!m_process)
        return;
    // Closing its standard input ends the sink; terminate and kill are the fall-backs.
    m_process->closeWriteChannel();
    if (!m_process->waitForFinished(kStopTimeoutMs)) {
        m_process->terminate();
        if (!m_process->waitForFinished(kStopTimeoutMs)) {
            m_process->kill();
            m_process->waitForFinished(kStopTimeoutMs);
        }
    }
    m_process.reset();
}

QString SmtpServer::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QList<ReceivedMail> SmtpServer::messages() const
{
    QList<ReceivedMail> out;
    const QDir dir(m_folder.path());
    const QStringList names = dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
        ReceivedMail mail;
        mail.mailFrom = o.value(QLatin1String("mail_from")).toString();
        mail.rcptTos = toStringList(o.value(QLatin1String("rcpt_tos")));
        mail.authUser = o.value(QLatin1String("auth_user")).toString();
        mail.raw = QByteArray::fromBase64(o.value(QLatin1String("raw_b64")).toString().toLatin1());
        const QJsonObject headers = o.value(QLatin1String("headers")).toObject();
        for (auto it = headers.begin(); it != headers.end(); ++it) {
            if (!it.value().isNull())
                mail.headers.insert(it.key(), it.value().toString());
        }
        mail.contentType = o.value(QLatin1String("content_type")).toString();
        mail.charset = o.value(QLatin1String("charset")).toString();
        mail.body = o.value(QLatin1String("body")).toString();
        mail.defects = toStringList(o.value(QLatin1String("defects")));
        out << mail;
    }
    return out;
}

QByteArray SmtpServer::clearText() const
{
    QFile file(QDir(m_folder.path()).filePath(QStringLiteral("cleartext.log")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString SmtpServer::certificate() const
{
    return QDir(m_folder.path()).filePath(QStringLiteral("cert.pem"));
}

quint16 closedLocalPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 1; // port 1 is privileged and, on a test machine, never served
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
