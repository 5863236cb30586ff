#include "store/datadir_lock.h"

#include "store/store_error.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace
{

[[noreturn]] void fail(const QString &what, const QString &path, int error)
{
    Error e(ErrorCode::FileFailed, path, QString::fromLocal8Bit(std::strerror(error)));
    e.what = what;
    throw StoreError(e);
}

} // namespace

DataDirLock::~DataDirLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
}

void DataDirLock::acquire(const QString &dataDir)
{
    if (m_fd >= 0)
        return;
    const QString path = QDir(dataDir).filePath(QString::fromLatin1(kFileName));
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        fail(QStringLiteral("Cannot use the lock file"), path, errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        char buffer[32] = {};
        const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
        ::close(fd);
        if (error == EWOULDBLOCK) {
            const QString pid = QString::fromLatin1(buffer, n > 0 ? n : 0).trimmed();
            throw StoreError(ErrorCode::DataFolderLocked, pid, dataDir);
        }
        fail(QStringLiteral("Cannot lock"), path, error);
    }
    // The process id tells the user which program to stop.
    const QByteArray pid = QByteArray::number(static_cast<qlonglong>(::getpid())) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), pid.size(), 0) != pid.size()) {
        const int error = errno;
        ::close(fd);
        fail(QStringLiteral("Cannot write the lock file"), path, error);
    }
    m_fd = fd;
}
