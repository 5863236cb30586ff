#include "store/private_file.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace private_file
{

int read(const QString &path, QByteArray *data, qint64 limit, struct stat *st)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno;
    struct stat s {
    };
    int error = 0;
    if (::fstat(fd, &s) != 0)
        error = errno;
    else if (!S_ISREG(s.st_mode))
        error = EINVAL;
    else if (limit >= 0 && s.st_size > limit)
        error = EFBIG;
    data->clear();
    char buffer[65536];
    while (error == 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        else if (n == 0)
            break;
        else if (limit >= 0 && data->size() + n > limit)
            error = EFBIG; // grew while being read
        else
            data->append(buffer, n);
    }
    ::close(fd);
    if (error == 0 && st)
        *st = s;
    return error;
}

int writeAt(int fd, const QByteArray &data, off_t offset)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.constData() + done,
                                   static_cast<size_t>(data.size() - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        done += n;
    }
    return 0;
}

int syncFolder(const QString &folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

Failure replace(const QString &path, const QByteArray &data)
{
    const QFileInfo info(path);
    QByteArray temp =
        QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName()) +
        QByteArrayLiteral(".XXXXXX");
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return {errno, false};
    // The umask may only have narrowed mkostemp's 0600; fchmod makes sure of it either way.
    int error = ::fchmod(fd, 0600) == 0 ? writeAt(fd, data, 0) : errno;
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.constData());
        return {error, false};
    }
    if (const int e = syncFolder(info.absolutePath()))
        return {e, true};
    return {};
}

QString problem(const QString &what, const QString &path, int error)
{
    return QStringLiteral("cannot %1 %2: %3")
        .arg(what, path, QString::fromLocal8Bit(std::strerror(error)));
}

std::optional<Login> readLogin(const QString &path, LoginFault *fault, QString *why)
{
    // Two short lines; anything larger is no login file.
    constexpr qint64 kLargestLoginFile = 4096;
    QByteArray data;
    struct stat st {
    };
    if (const int error = read(path, &data, kLargestLoginFile, &st)) {
        *fault = LoginFault::Unreadable;
        *why = problem(QStringLiteral("read"), path, error);
        return std::nullopt;
    }
    if ((st.st_mode & 077) != 0) {
        *fault = LoginFault::OpenToOthers;
        return std::nullopt;
    }
    const QStringList lines = QString::fromUtf8(data).split(QLatin1Char('\n'));
    Login login{lines.value(0).trimmed(), lines.value(1)};
    if (login.password.endsWith(QLatin1Char('\r')))
        login.password.chop(1);
    *fault = LoginFault::None;
    return login;
}

} // namespace private_file
