#include "store/mail.h"

#include "store/datadir.h"
#include "store/mail_message.h"
#include "store/strings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <QStringDecoder>
#include <QSysInfo>

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

namespace
{

constexpr const char *kFieldSeparator = "   "; // between time, subject and body in the log
constexpr const char *kLogLineBreak = " / ";   // stands for a line break inside a log entry
constexpr const char *kProtocols = "smtp,smtps";
constexpr qint64 kFileChunk = 64 * 1024;
constexpr long kQuitGraceSeconds = 1;

constexpr const char *kStatusTransferFailed =
    "1 --- Bad argument given,File name (message text) not given,Unable to open SMTP "
    "socket,SMTP get line did not return 220,command unable to write to socket,Server does "
    "not like To: address,Mail server error accepting message data.";
constexpr const char *kStatusRefused =
    "2 --- File (message text) does not exist,The server actively denied our connection,The "
    "mail server doesn't like the sender name.";
constexpr const char *kStatusFileOpenFailed =
    "3 --- Error reading the file (message text) or attached file";
constexpr const char *kStatusFileNotRegular =
    "4 --- File (message text) not of type FILE_TYPE_DISK";
constexpr const char *kStatusFileReadFailed = "5 --- Error Reading File (message text)";
constexpr const char *kStatusUnknown = "Unknown error";
constexpr const char *kNoEncryptionText =
    "The mail server offered no encryption (STARTTLS), so the password was not sent.";

bool curlReady()
{
    static std::once_flag once;
    static CURLcode result = CURLE_FAILED_INIT;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return result == CURLE_OK;
}

struct Upload {
    QByteArray data;
    qsizetype position = 0;
    bool started = false; // the server accepted DATA and asked for the message
};

size_t readUpload(char *buffer, size_t size, size_t count, void *userData)
{
    auto *upload = static_cast<Upload *>(userData);
    upload->started = true;
    const size_t room = size * count;
    const size_t left = size_t(upload->data.size() - upload->position);
    const size_t n = std::min(room, left);
    std::memcpy(buffer, upload->data.constData() + upload->position, n);
    upload->position += qsizetype(n);
    return n;
}

struct MessageFile {
    Error error;
    QString text;
};

MessageFile readMessageFile(const QString &path)
{
    if (path.isEmpty())
        return {{ErrorCode::MailTransferFailed, QStringLiteral("No message file given")}, {}};
    const QFileInfo info(path);
    if (!info.exists())
        return {
            {ErrorCode::MailRefused, QStringLiteral("Message file %1 does not exist").arg(path)},
            {}};
    if (!info.isFile())
        return {{ErrorCode::MailFileNotRegular,
                 QStringLiteral("Message file %1 is not a regular file").arg(path)},
                {}};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{ErrorCode::MailFileOpenFailed,
                 QStringLiteral("Cannot open message file %1: %2").arg(path, file.errorString())},
                {}};
    QByteArray bytes;
    for (;;) {
        const QByteArray chunk = file.read(kFileChunk);
        if (chunk.isEmpty()) {
            if (file.error() != QFileDevice::NoError)
                return {{ErrorCode::MailFileReadFailed,
                         QStringLiteral("Cannot read message file %1: %2")
                             .arg(path, file.errorString())},
                        {}};
            break;
        }
        bytes += chunk;
    }
    // Our own writer stores UTF-8; a file from elsewhere may still be in an 8-bit code.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    return {{}, text};
}

// How libcurl's outcome becomes a result code, by the number of its status text. Code 1 is
// anything that went wrong while talking to the server; code 2 is the server turning us away.
//   could not resolve or connect (a closed port too), TLS failure, timeout, connection
//   lost, malformed server address ..................................... 1
//   greeting other than 2xx before any data ............................ 1
//   greeting 5xx (the server says it will not serve us) ................ 2
//   HELO/EHLO refused, AUTH refused .................................... 2
//   MAIL FROM refused (the sender) ..................................... 2
//   RCPT TO refused (a receiver), DATA refused, message refused after
//   its data ........................................................... 1
//   libcurl out of memory or unable to start ........................... -1 ("Unknown error")
// libcurl reports MAIL, RCPT and DATA refusals all as CURLE_SEND_ERROR and only its
// error text says which command it was; anything it does not name counts as code 1.
ErrorCode codeForCurl(CURLcode rc, long smtpCode, bool dataStarted, const char *errorText)
{
    switch (rc) {
    case CURLE_OK:
        return ErrorCode::None;
    case CURLE_WEIRD_SERVER_REPLY:
        return !dataStarted && smtpCode >= 500 && smtpCode < 600 ? ErrorCode::MailRefused
                                                                 : ErrorCode::MailTransferFailed;
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_LOGIN_DENIED:
        return ErrorCode::MailRefused;
    case CURLE_SEND_ERROR:
        return std::strncmp(errorText, "MAIL failed", 11) == 0 ? ErrorCode::MailRefused
                                                               : ErrorCode::MailTransferFailed;
    case CURLE_READ_ERROR:
        return ErrorCode::MailFileReadFailed;
    case CURLE_OUT_OF_MEMORY:
    case CURLE_FAILED_INIT:
    case CURLE_BAD_FUNCTION_ARGUMENT:
    case CURLE_NOT_BUILT_IN:
    case CURLE_UNKNOWN_OPTION:
        return ErrorCode::MailInternal;
    default:
        return ErrorCode::MailTransferFailed;
    }
}

int cancelCheck(void *flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const std::atomic<bool> *>(flag)->load() ? 1 : 0;
}

struct CurlEasyDeleter {
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
struct CurlListDeleter {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

// Serialises notifications: they share one message file.
QMutex notificationMutex;

// The same between programs on one data folder (a poller's sender and ostracom-cli mail-test):
// an advisory lock on the folder itself, let go with the process. Without the folder there is
// nothing to share and nothing to lock.
class FolderLock
{
public:
    explicit FolderLock(const QString &folder)
        : m_fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (m_fd >= 0)
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~FolderLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // closing lets go of the lock
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

private:
    int m_fd;
};

} // namespace

namespace
{

// The server, sender and receivers as usable addresses, or why not.
std::optional<Error> addressProblem(const std::optional<MailServerAddress> &address,
                                    const QString &server, const QString &from,
                                    const QString &sender, const QStringList &receivers)
{
    if (!address)
        return Error(
            ErrorCode::MailTransferFailed,
            QStringLiteral("Mail server \"%1\" is not a host name or host:port").arg(server));
    if (from.isEmpty())
        return Error(ErrorCode::MailTransferFailed,
                     QStringLiteral("Sender address \"%1\" is not usable").arg(sender));
    if (receivers.isEmpty())
        return Error(ErrorCode::MailTransferFailed, QStringLiteral("No receiver address given"));
    for (const QString &r : receivers) {
        if (envelopeAddress(r).isEmpty())
            return Error(ErrorCode::MailTransferFailed,
                         QStringLiteral("Receiver address \"%1\" is not usable").arg(r));
    }
    return std::nullopt;
}

// The envelope's RCPT list; null when memory ran out.
std::unique_ptr<curl_slist, CurlListDeleter> envelopeReceivers(const QStringList &receivers)
{
    std::unique_ptr<curl_slist, CurlListDeleter> list;
    for (const QString &r : receivers) {
        const QByteArray rcpt = '<' + envelopeAddress(r).toUtf8() + '>';
        curl_slist *grown = curl_slist_append(list.get(), rcpt.constData());
        if (!grown)
            return nullptr;
        list.release();
        list.reset(grown);
    }
    return list;
}

// Time limits, encryption, certificates and cancelling: how a transfer may go.
void setTransferRules(CURL *h, const MailServerAddress &address, bool login,
                      const MailLimits &limits, char *errorText)
{
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, kProtocols);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    // Verbose output would show the AUTH exchange, and with it the password.
    curl_easy_setopt(h, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(limits.connect.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(limits.transfer.count()));
    // libcurl waits for the answer to the end of the message on a clock of its own
    // (two minutes by default) that the whole-transfer bound does not cut short.
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     long(std::max<qint64>(1, (limits.transfer.count() + 999) / 1000)));
    // A login goes over TLS or not at all; without one, plain SMTP is accepted from a
    // server that cannot upgrade.
    if (!address.implicitTls)
        curl_easy_setopt(h, CURLOPT_USE_SSL, long(login ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    // libcurl has its CA bundle compiled in and so ignores OpenSSL's variable; a site whose
    // mail server has a certificate from its own CA names that CA this way.
    const QByteArray caFile = qgetenv("SSL_CERT_FILE");
    if (!caFile.isEmpty())
        curl_easy_setopt(h, CURLOPT_CAINFO, caFile.constData());
    if (limits.cancel) {
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, cancelCheck);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool> *>(limits.cancel));
    }
}

// Cleaning up says QUIT and waits for the answer. After a failure the server is not worth
// that wait: the socket is shut so the QUIT fails at once. After a success the server gets
// a short grace.
void prepareQuit(CURL *h, CURLcode rc)
{
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, kQuitGraceSeconds);
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (rc != CURLE_OK && curl_easy_getinfo(h, CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK &&
        socket != CURL_SOCKET_BAD)
        ::shutdown(socket, SHUT_RDWR);
}

Error outcomeOf(CURLcode rc, long smtpCode, bool dataStarted, const char *errorText, bool login,
                const MailServerAddress &address)
{
    // libcurl's own words for it ("STARTTLS not supported.") do not say what was at stake.
    const bool noEncryption = rc == CURLE_USE_SSL_FAILED && login;
    Error outcome(noEncryption ? ErrorCode::MailNoEncryption
                               : codeForCurl(rc, smtpCode, dataStarted, errorText));
    if (rc != CURLE_OK) {
        QString why = rc == CURLE_ABORTED_BY_CALLBACK
                          ? QStringLiteral("given up, the program is closing")
                      : errorText[0] ? QString::fromUtf8(errorText)
                                     : QString::fromUtf8(curl_easy_strerror(rc));
        if (noEncryption)
            why = QString::fromLatin1(kNoEncryptionText) + QStringLiteral(" (") + why +
                  QLatin1Char(')');
        outcome.detail =
            QStringLiteral("Mail server %1:%2: %3").arg(address.host).arg(address.port).arg(why);
    }
    return outcome;
}

} // namespace

Error sendMail(const QString &messageFile, const QString &server, const QString &receiver,
               const QString &sender, const QString &subject, const QString &username,
               const QString &password, const MailLimits &limits)
{
    const auto address = parseMailServer(server);
    const QString from = envelopeAddress(sender);
    const QStringList receivers = receiverList(receiver);
    if (const auto problem = addressProblem(address, server, from, sender, receivers))
        return *problem;

    const MessageFile file = readMessageFile(messageFile);
    if (!file.error.ok())
        return file.error;

    if (!curlReady())
        return {ErrorCode::MailInternal, QStringLiteral("libcurl could not be initialised")};
    std::unique_ptr<CURL, CurlEasyDeleter> curl(curl_easy_init());
    if (!curl)
        return {ErrorCode::MailInternal, QStringLiteral("libcurl could not create a transfer")};
    CURL *h = curl.get();

    Upload upload;
    upload.data = buildMessage({sender, receivers, subject, file.text, QDateTime::currentDateTime(),
                                newMessageId(sender)});
    const auto recipients = envelopeReceivers(receivers);
    if (!recipients)
        return {ErrorCode::MailInternal, QStringLiteral("Out of memory")};

    QString ehloName = QSysInfo::machineHostName();
    if (ehloName.isEmpty())
        ehloName = QStringLiteral("localhost");
    const QByteArray url = address->url(ehloName);
    const QByteArray mailFrom = '<' + from.toUtf8() + '>';
    char errorText[CURL_ERROR_SIZE] = {};
    const bool login = !username.isEmpty();

    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    setTransferRules(h, *address, login, limits, errorText);
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, mailFrom.constData());
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, readUpload);
    curl_easy_setopt(h, CURLOPT_READDATA, &upload);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(upload.data.size()));

    QByteArray user;
    QByteArray secret;
    if (login) {
        user = username.toUtf8();
        if (password != QLatin1String(kNoPassword))
            secret = password.toUtf8();
        curl_easy_setopt(h, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, secret.constData());
    }

    const CURLcode rc = curl_easy_perform(h);
    secret.fill('\0');
    long smtpCode = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &smtpCode);
    prepareQuit(h, rc);
    return outcomeOf(rc, smtpCode, upload.started, errorText, login, *address);
}

QString mailStatusText(const Error &error)
{
    switch (error.code) {
    case ErrorCode::None:
        return {};
    case ErrorCode::MailTransferFailed:
        return QString::fromUtf8(kStatusTransferFailed);
    case ErrorCode::MailNoEncryption:
        // The numbered text alone would blame the connection; the sentence says what was held.
        return QString::fromUtf8(kStatusTransferFailed) + QLatin1Char(' ') +
               QString::fromLatin1(kNoEncryptionText);
    case ErrorCode::MailRefused:
        return QString::fromUtf8(kStatusRefused);
    case ErrorCode::MailFileOpenFailed:
        return QString::fromUtf8(kStatusFileOpenFailed);
    case ErrorCode::MailFileNotRegular:
        return QString::fromUtf8(kStatusFileNotRegular);
    case ErrorCode::MailFileReadFailed:
        return QString::fromUtf8(kStatusFileReadFailed);
    default:
        return QString::fromUtf8(kStatusUnknown);
    }
}

Error writeTextFile(const QString &path, const QString &text)
{
    // Written beside and renamed over the old file, so a failed write leaves the old
    // content whole rather than half a message. The new file takes the old one's
    // permissions, which an older version may have left readable by others.
    QSaveFile file(path);
    const QByteArray bytes = text.toUtf8() + '\n';
    if (file.open(QIODevice::WriteOnly) &&
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
        file.write(bytes) == bytes.size() && file.commit())
        return {};
    Error e(ErrorCode::FileFailed, path, file.errorString());
    e.what = QStringLiteral("Cannot write");
    return e;
}

QString logTimestamp(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

Error appendLogLine(const QString &logPath, const QString &line)
{
    QString flat = line;
    flat.replace(QLatin1String("\r\n"), QLatin1String(kLogLineBreak));
    flat.replace(QLatin1Char('\r'), QLatin1String(kLogLineBreak));
    flat.replace(QLatin1Char('\n'), QLatin1String(kLogLineBreak));

    QFile file(logPath);
    const auto failed = [&](const char *what) {
        Error e(ErrorCode::FileFailed, logPath, file.errorString());
        e.what = QString::fromLatin1(what);
        return e;
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return failed("Cannot open log file");
    if (Error e = makePrivate(logPath); !e.ok())
        return e;
    const QByteArray bytes = flat.toUtf8() + '\n';
    if (file.write(bytes) != bytes.size() || !file.flush())
        return failed("Cannot write log file");
    return {};
}

Notification sendNotification(const MailSettings &account, const QString &dataDir,
                              const QString &subject, const QString &body, const MailLimits &limits)
{
    QMutexLocker lock(&notificationMutex);
    const FolderLock folderLock(dataDir);
    const QDir dir(dataDir);

    QString result;
    // The status texts name whole groups of failures; what failed this time (the server's
    // reply, the certificate problem) follows them, so the user can act on it.
    QString reason;
    if (account.enabled != 0) {
        const QString messagePath = dir.filePath(QLatin1String(kMessageFileName));
        // The program's texts break lines with CR alone; the file gets plain line ends.
        QString text = body;
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        const Error written = writeTextFile(messagePath, text);
        if (written.ok()) {
            const QString password =
                account.passwort.isEmpty() ? QString::fromLatin1(kNoPassword) : account.passwort;
            const Error sent =
                sendMail(messagePath, account.servername, account.receiver, account.sender, subject,
                         account.username, password, limits);
            result = mailStatusText(sent);
            // The status text of a withheld login already says why.
            if (!sent.ok() && sent.code != ErrorCode::MailNoEncryption && !sent.detail.isEmpty())
                reason = QStringLiteral(" (") + sent.detail + QLatin1Char(')');
        } else {
            // The log is read where no error table is at hand, so this one text is made here.
            result = QStringLiteral("%1 %2: %3").arg(written.what, written.detail, written.extra);
        }
    }

    const QString logPath = dir.filePath(QLatin1String(kLogFileName));
    Error logFailure = appendLogLine(logPath, logTimestamp() + QLatin1String(kFieldSeparator) +
                                                  subject + QLatin1String(kFieldSeparator) + body);

    QString outcome;
    if (account.enabled == 0)
        outcome = ms("E-Mail Versandt ist deaktiviert !");
    else if (!result.isEmpty())
        outcome = ms(QStringLiteral("Fehler beim  Versenden der E-Mail: ") + result) + reason;
    else
        outcome = ms("E-Mail Versand erfolgreich durchgeführt !");
    const Error second =
        appendLogLine(logPath, logTimestamp() + QLatin1String(kFieldSeparator) + outcome);
    if (logFailure.ok())
        logFailure = second;
    return {result + reason, logFailure};
}
