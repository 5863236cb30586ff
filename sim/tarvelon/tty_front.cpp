#include "tty_front.h"

#include "log.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace sim
{

namespace
{

constexpr int kReadChunk = 4096;

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Raw 9600 8N1: no echo, no line editing, no translation of line ends in either direction.
bool makeRaw(int fd, QString *error)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        *error = QStringLiteral("tcgetattr: %1").arg(errnoText());
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    // With VMIN 0 an empty line reads as end of file; with 1 a non-blocking read reports
    // EAGAIN instead, and 0 is left to mean a hang-up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        *error = QStringLiteral("tcsetattr: %1").arg(errnoText());
        return false;
    }
    return true;
}

} // namespace

TtyFrontEnd::TtyFrontEnd(SimController &controller, const FailureModes &modes, QObject *parent)
    : QObject(parent), m_session(m_clock, controller, modes, *this)
{
}

TtyFrontEnd::~TtyFrontEnd()
{
    m_readNotifier.reset();
    m_writeNotifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_slaveFd >= 0)
        ::close(m_slaveFd);
    if (!m_linkPath.isEmpty())
        QFile::remove(m_linkPath);
}

bool TtyFrontEnd::openPty(const QString &linkPath, QString *error)
{
    m_fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(errnoText());
        return false;
    }
    if (grantpt(m_fd) != 0 || unlockpt(m_fd) != 0) {
        *error = QStringLiteral("cannot unlock the pseudo-terminal: %1").arg(errnoText());
        return false;
    }
    char name[128] = {};
    if (ptsname_r(m_fd, name, sizeof name) != 0) {
        *error = QStringLiteral("cannot name the pseudo-terminal: %1").arg(errnoText());
        return false;
    }
    m_devicePath = QString::fromLocal8Bit(name);
    m_slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_slaveFd < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(m_devicePath, errnoText());
        return false;
    }
    QString why;
    if (!makeRaw(m_slaveFd, &why)) {
        *error = QStringLiteral("cannot set %1 to raw mode: %2").arg(m_devicePath, why);
        return false;
    }
    if (!linkPath.isEmpty()) {
        // Replace only a symlink; a regular file of that name is somebody's data.
        const QFileInfo info(linkPath);
        if (info.isSymLink())
            QFile::remove(linkPath);
        if (!QFile::link(m_devicePath, linkPath)) {
            *error = QStringLiteral("cannot create the link %1 to %2").arg(linkPath, m_devicePath);
            return false;
        }
        m_linkPath = linkPath;
    }
    watch();
    return true;
}

bool TtyFrontEnd::openDevice(const QString &path, QString *error)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, errnoText());
        return false;
    }
    QString why;
    if (!makeRaw(m_fd, &why)) {
        *error = QStringLiteral("cannot set %1 to 9600,n,8,1: %2").arg(path, why);
        return false;
    }
    m_devicePath = path;
    watch();
    return true;
}

void TtyFrontEnd::watch()
{
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    m_readNotifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &TtyFrontEnd::onReadable);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &TtyFrontEnd::onWritable);
}

void TtyFrontEnd::onReadable()
{
    char buffer[kReadChunk];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            m_session.receive(QByteArray(buffer, int(n)));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        // End of file or a dead device: stop watching rather than spin on it.
        warnLine(QStringLiteral("%1: %2; no longer reading")
                     .arg(m_devicePath, n == 0 ? QStringLiteral("end of input") : errnoText()));
        m_readNotifier->setEnabled(false);
        return;
    }
}

void TtyFrontEnd::send(const QByteArray &bytes)
{
    m_out += bytes;
    flushOut();
}

void TtyFrontEnd::flushOut()
{
    while (!m_out.isEmpty()) {
        const ssize_t n = ::write(m_fd, m_out.constData(), size_t(m_out.size()));
        if (n > 0) {
            m_out.remove(0, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            warnLine(QStringLiteral("%1: write failed: %2").arg(m_devicePath, errnoText()));
            m_out.clear();
        }
        break;
    }
    // Wait for room only while something is left to send.
    m_writeNotifier->setEnabled(!m_out.isEmpty());
}

void TtyFrontEnd::onWritable()
{
    flushOut();
}

void TtyFrontEnd::drop()
{
    m_out.clear();
    m_writeNotifier->setEnabled(false);
    m_session.reset();
}

void TtyFrontEnd::beginAnswer()
{
    m_out.clear();
    if (m_slaveFd >= 0)
        tcflush(m_slaveFd, TCIFLUSH);
}

} // namespace sim
