#include "store/mail_secret.h"

#include "store/database.h"
#include "store/database_sql.h"
#include "store/store_error.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// A password is a line of text; anything this large is not one of ours.
constexpr qsizetype kLargestSecret = 4096;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void fail(const QString &what, const QString &path, int error)
{
    throw StoreError(QStringLiteral("%1 %2: %3").arg(what, path, errnoText(error)));
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

QString mailSecretPath(const QString &dataDir, const QString &key)
{
    const QByteArray hash =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QDir(dataDir).filePath(QStringLiteral("mail-password-") + QString::fromLatin1(hash));
}

std::optional<QString> readMailSecret(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        fail(QStringLiteral("Cannot read the mail password file"), path, errno);
    }
    struct stat st {
    };
    QByteArray text;
    int error = 0;
    if (::fstat(fd, &st) != 0) {
        error = errno;
    } else if (!S_ISREG(st.st_mode) || st.st_size > kLargestSecret) {
        ::close(fd);
        throw StoreError(
            QStringLiteral("The mail password file %1 is no small plain file").arg(path));
    } else {
        text.resize(qsizetype(st.st_size));
        qsizetype done = 0;
        while (done < text.size()) {
            const ssize_t n = ::read(fd, text.data() + done, size_t(text.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = n < 0 ? errno : EIO;
                break;
            }
            done += n;
        }
    }
    ::close(fd);
    if (error != 0)
        fail(QStringLiteral("Cannot read the mail password file"), path, error);
    return QString::fromUtf8(text);
}

void writeMailSecret(const QString &path, const QString &password)
{
    const QString folder = QFileInfo(path).absolutePath();
    // The data folder is the owner's alone, as the data folder's preparation leaves it; a
    // shared one (sticky, as /tmp) or another user's is left as it is.
    struct stat dirStat {
    };
    const QByteArray nativeFolder = QFile::encodeName(folder);
    if (::stat(nativeFolder.constData(), &dirStat) == 0 && dirStat.st_uid == ::geteuid() &&
        (dirStat.st_mode & S_ISVTX) == 0 && (dirStat.st_mode & 077) != 0 &&
        ::chmod(nativeFolder.constData(), 0700) != 0)
        fail(QStringLiteral("Cannot make the folder of the mail password file private"), path,
             errno);
    const QString temporary =
        path + QStringLiteral(".new-%1-%2")
                   .arg(::getpid())
                   .arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
    const QByteArray native = QFile::encodeName(temporary);
    const int fd =
        ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        fail(QStringLiteral("Cannot write the mail password file"), path, errno);
    int error = 0;
    // The umask may only have narrowed 0600; fchmod makes sure of it either way.
    if (::fchmod(fd, 0600) != 0 || !writeAll(fd, password.toUtf8()) || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(native.constData(), QFile::encodeName(path).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(native.constData());
        fail(QStringLiteral("Cannot write the mail password file"), path, error);
    }
    // The rename itself lasts only once the folder is on disk.
    const int dir = ::open(nativeFolder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || ::fsync(dir) != 0) {
        const int e = errno;
        if (dir >= 0)
            ::close(dir);
        fail(QStringLiteral("Cannot sync the folder of the mail password file"), path, e);
    }
    ::close(dir);
}

// ---------------------------------------------------------------------------------------
// The database's side

using namespace database_detail;

QString Database::mailPasswordFile() const
{
    const Shared &s = *m_shared;
    if (s.dialect != Dialect::Postgres || s.dataDir.isEmpty())
        return QString();
    return mailSecretPath(s.dataDir, s.host + QLatin1Char(':') + QString::number(s.port) +
                                         QLatin1Char('/') + s.databaseName);
}

void Database::moveMailPasswordToFile()
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("SELECT email_passwort FROM OSTRACOM WHERE OSTRACOMID = ? "
                                         "AND email_passwort <> '' ORDER BY %1 LIMIT 1")
                              .arg(QLatin1String(kRowKey)),
                          {kSettingsRowId}, "Reading the mail password");
    if (!q.next())
        return;
    const QString password = q.value(0).toString();
    writeMailSecret(mailPasswordFile(), password);
    // Only that password: one another machine saved meanwhile is moved at the next start.
    sql.run(QStringLiteral("UPDATE OSTRACOM SET email_passwort = '' WHERE OSTRACOMID = ? AND "
                           "email_passwort = ?"),
            {kSettingsRowId, password}, "Moving the mail password out of the database");
}
