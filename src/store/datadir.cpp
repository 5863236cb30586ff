#include "store/datadir.h"

#include "store/archive_spool.h"
#include "store/mail.h"
#include "store/store_error.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner |
                                                QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner;
constexpr QFileDevice::Permissions kGroupOrOther =
    QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
    QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

bool isUrl(const QString &location)
{
    return location.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive);
}

// A folder used by others (sticky, as /tmp) or owned by someone else is left as it is;
// tightening it would lock them out. The program's own files in it are private anyway.
void restrictFolderToOwner(const QString &dir)
{
    struct stat st{};
    const QByteArray native = QFile::encodeName(dir);
    if (::stat(native.constData(), &st) != 0 || st.st_uid != ::geteuid() ||
        (st.st_mode & S_ISVTX) != 0 || (st.st_mode & 077) == 0)
        return;
    if (::chmod(native.constData(), 0700) != 0)
        throw StoreError(ErrorCode::DataFolderNotPrivate, dir,
                         QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

Error makePrivate(const QString &path)
{
    QFile file(path);
    if (!file.exists() || (file.permissions() & kGroupOrOther) == 0)
        return {};
    if (!file.setPermissions(file.permissions() & kOwnerOnly))
        return Error(ErrorCode::FileNotPrivate, path, file.errorString());
    return {};
}

void requireWritableDirectory(const QString &dir)
{
    const QFileInfo info(dir);
    if (!info.exists())
        throw StoreError(ErrorCode::FolderMissing, dir);
    if (!info.isDir())
        throw StoreError(ErrorCode::NotAFolder, dir);
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".ostracom-write-test-XXXXXX")));
    if (!probe.open())
        throw StoreError(ErrorCode::FolderNotWritable, dir, probe.errorString());
}

QString prepareDataDirectory(const QString &overrideDir)
{
    QString dir = overrideDir;
    if (dir.isEmpty()) {
        dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (dir.isEmpty())
            throw StoreError(ErrorCode::NoDataFolder);
    }
    dir = QFileInfo(dir).absoluteFilePath();

    const QFileInfo info(dir);
    if (info.exists() && !info.isDir())
        throw StoreError(ErrorCode::DataFolderIsFile, dir);
    if (!info.exists() && !QDir().mkpath(dir)) {
        // mkpath gives no reason; name the first part of the path that blocks it.
        QString blocker = dir;
        while (!QFileInfo(blocker).exists() && QFileInfo(blocker).path() != blocker)
            blocker = QFileInfo(blocker).path();
        const QFileInfo b(blocker);
        Error e(ErrorCode::DataFolderCreate, dir, blocker);
        if (b.exists() && !b.isDir())
            e.cause = ErrorCode::NotAFolder;
        throw StoreError(e);
    }
    try {
        requireWritableDirectory(dir);
    } catch (const StoreError &e) {
        throw StoreError(Error::around(ErrorCode::DataFolderUnusable, dir, e.error()));
    }

    // Files an older version left readable by others. New ones are private by the
    // programs' umask.
    restrictFolderToOwner(dir);
    const QString db = QLatin1String(kDatabaseFileName);
    for (const QString &name : {db, db + QLatin1String("-wal"), db + QLatin1String("-shm"),
                                db + QLatin1String("-journal"),
                                QString::fromLatin1(ArchiveSpool::kFileName),
                                QString::fromLatin1(kMessageFileName),
                                QString::fromLatin1(kLogFileName)}) {
        if (const Error problem = makePrivate(QDir(dir).filePath(name)); !problem.ok())
            throw StoreError(problem);
    }
    return dir;
}

QString chooseDataDirectory(const QString &dataDirOption, const QString &dbOption)
{
    QString dir = dataDirOption;
    if (dir.isEmpty() && !dbOption.isEmpty() && !isUrl(dbOption))
        dir = QFileInfo(dbOption).absolutePath();
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return dir.isEmpty() ? dir : QFileInfo(dir).absoluteFilePath();
}

QString databaseLocation(const QString &dataDir, const QString &overrideDb)
{
    if (!overrideDb.isEmpty())
        return isUrl(overrideDb) ? overrideDb : QFileInfo(overrideDb).absoluteFilePath();
    return QDir(dataDir).filePath(QLatin1String(kDatabaseFileName));
}
