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
        throw StoreError(QStringLiteral("Cannot make data folder %1 private: %2")
                             .arg(dir, QString::fromLocal8Bit(std::strerror(errno))));
}

} // namespace

QString restrictToOwner(const QString &path)
{
    QFile file(path);
    if (!file.exists() || (file.permissions() & kGroupOrOther) == 0)
        return QString();
    if (!file.setPermissions(file.permissions() & kOwnerOnly))
        return QStringLiteral("Cannot make %1 private: %2").arg(path, file.errorString());
    return QString();
}

void requireWritableDirectory(const QString &dir)
{
    const QFileInfo info(dir);
    if (!info.exists())
        throw StoreError(QStringLiteral("Folder %1 does not exist").arg(dir));
    if (!info.isDir())
        throw StoreError(QStringLiteral("%1 is not a folder").arg(dir));
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".ostracom-write-test-XXXXXX")));
    if (!probe.open())
        throw StoreError(
            QStringLiteral("Folder %1 is not writable: %2").arg(dir, probe.errorString()));
}

QString prepareDataDirectory(const QString &overrideDir)
{
    QString dir = overrideDir;
    if (dir.isEmpty()) {
        dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (dir.isEmpty())
            throw StoreError(QStringLiteral("No application data folder is known for this user; "
                                            "give one with --data-dir"));
    }
    dir = QFileInfo(dir).absoluteFilePath();

    const QFileInfo info(dir);
    if (info.exists() && !info.isDir())
        throw StoreError(QStringLiteral("Data folder %1 is not a folder").arg(dir));
    if (!info.exists() && !QDir().mkpath(dir)) {
        // mkpath gives no reason; name the first part of the path that blocks it.
        QString blocker = dir;
        while (!QFileInfo(blocker).exists() && QFileInfo(blocker).path() != blocker)
            blocker = QFileInfo(blocker).path();
        const QFileInfo b(blocker);
        const QString cause = b.exists() && !b.isDir()
                                  ? QStringLiteral("%1 is a file, not a folder").arg(blocker)
                                  : QStringLiteral("%1 does not accept a new folder").arg(blocker);
        throw StoreError(QStringLiteral("Cannot create data folder %1: %2").arg(dir, cause));
    }
    try {
        requireWritableDirectory(dir);
    } catch (const StoreError &e) {
        throw StoreError(QStringLiteral("Data folder %1 cannot be used: %2").arg(dir, e.message()));
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
        const QString problem = restrictToOwner(QDir(dir).filePath(name));
        if (!problem.isEmpty())
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
