#include "store/datadir.h"

#include "store/store_error.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace
{

bool isUrl(const QString &location)
{
    return location.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive);
}

} // namespace

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
    return dir;
}

QString databaseLocation(const QString &dataDir, const QString &overrideDb)
{
    if (!overrideDb.isEmpty())
        return isUrl(overrideDb) ? overrideDb : QFileInfo(overrideDb).absoluteFilePath();
    return QDir(dataDir).filePath(QLatin1String(kDatabaseFileName));
}
