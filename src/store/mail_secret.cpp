#include "store/mail_secret.h"

#include "store/database.h"
#include "store/database_sql.h"
#include "store/private_file.h"
#include "store/store_error.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    Error e(ErrorCode::FileFailed, path, errnoText(error));
    e.what = what;
    throw StoreError(e);
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
    QByteArray text;
    switch (const int error = private_file::read(path, &text, kLargestSecret)) {
    case 0:
        return QString::fromUtf8(text);
    case ENOENT:
        return std::nullopt;
    case EINVAL:
    case EFBIG:
        throw StoreError(ErrorCode::MailSecretNotPlain, path);
    default:
        fail(QStringLiteral("Cannot read the mail password file"), path, error);
    }
}

void writeMailSecret(const QString &path, const QString &password)
{
    // The data folder is the owner's alone, as the data folder's preparation leaves it; a
    // shared one (sticky, as /tmp) or another user's is left as it is.
    struct stat dirStat {
    };
    const QByteArray nativeFolder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::stat(nativeFolder.constData(), &dirStat) == 0 && dirStat.st_uid == ::geteuid() &&
        (dirStat.st_mode & S_ISVTX) == 0 && (dirStat.st_mode & 077) != 0 &&
        ::chmod(nativeFolder.constData(), 0700) != 0)
        fail(QStringLiteral("Cannot make the folder of the mail password file private"), path,
             errno);
    const private_file::Failure f = private_file::replace(path, password.toUtf8());
    if (f)
        fail(f.folderSync ? QStringLiteral("Cannot sync the folder of the mail password file")
                          : QStringLiteral("Cannot write the mail password file"),
             path, f.error);
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
