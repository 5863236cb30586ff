#include "journal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace sim
{

namespace
{

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

Journal::~Journal()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Journal::open(const QString &path, QString *error)
{
    m_path = path;
    m_fd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        *error = QStringLiteral("cannot open journal %1: %2").arg(path, systemError());
        return false;
    }
    return true;
}

bool Journal::append(const char *word, const QStringList &records, QString *error)
{
    if (m_fd < 0 || records.isEmpty())
        return true;
    QByteArray lines;
    for (const QString &record : records)
        lines += QByteArray(word) + ' ' + record.toLatin1() + '\n';
    const char *p = lines.constData();
    qsizetype left = lines.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = QStringLiteral("cannot write journal %1: %2").arg(m_path, systemError());
            return false;
        }
        p += n;
        left -= n;
    }
    if (::fsync(m_fd) != 0) {
        *error = QStringLiteral("cannot sync journal %1: %2").arg(m_path, systemError());
        return false;
    }
    return true;
}

} // namespace sim
