// telvara-sim: an emulated SMS controller on a pseudo-terminal.

#include "device.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace
{

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

int usage(const QString &why)
{
    std::fprintf(stderr, "telvara-sim: %s\nTry telvara-sim --help.\n",
                 why.toLocal8Bit().constData());
    return 2;
}

// The device's serial port as the master side of a raw pseudo-terminal. The emulator keeps
// the slave open too, so the PC's closing and reopening is no hang-up.
class Pty
{
public:
    ~Pty()
    {
        if (m_master >= 0)
            ::close(m_master);
        if (m_slave >= 0)
            ::close(m_slave);
        if (!m_link.isEmpty())
            QFile::remove(m_link);
    }

    bool open(const QString &link, QString *error)
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
            ptsname_r(m_master, name, sizeof name) != 0) {
            *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(errnoText());
            return false;
        }
        device = QString::fromLocal8Bit(name);
        m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        termios t{};
        if (m_slave < 0 || tcgetattr(m_slave, &t) != 0) {
            *error = QStringLiteral("cannot open %1: %2").arg(device, errnoText());
            return false;
        }
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        cfsetispeed(&t, B9600);
        cfsetospeed(&t, B9600);
        if (tcsetattr(m_slave, TCSANOW, &t) != 0) {
            *error = QStringLiteral("cannot set %1 to raw mode: %2").arg(device, errnoText());
            return false;
        }
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        if (!link.isEmpty()) {
            // Replace only a symlink; a regular file of that name is somebody's data.
            if (QFileInfo(link).isSymLink())
                QFile::remove(link);
            if (!QFile::link(device, link)) {
                *error = QStringLiteral("cannot create the link %1 to %2").arg(link, device);
                return false;
            }
            m_link = link;
        }
        return true;
    }

    int fd() const { return m_master; }

    QString device;

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_link;
};

void writeAll(int fd, QByteArray bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t n = ::write(fd, bytes.constData(), size_t(bytes.size()));
        if (n > 0) {
            bytes.remove(0, int(n));
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            telvara::logLine(QStringLiteral("write failed: %1").arg(errnoText()));
            return;
        } else if (n < 0 && errno == EAGAIN) {
            ::usleep(1000);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    ::umask(077);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("telvara-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "An emulated SMS controller on a pseudo-terminal. Prints \"pty DEVICE\" when ready;\n"
        "SIGINT or SIGTERM saves the state and exits."));
    parser.addHelpOption();
    const QCommandLineOption link(QStringLiteral("pty-link"),
                                  QStringLiteral("make PATH a symlink to the pseudo-terminal"),
                                  QStringLiteral("PATH"));
    const QCommandLineOption state(QStringLiteral("state"),
                                   QStringLiteral("keep memory and version in this file"),
                                   QStringLiteral("FILE"));
    const QCommandLineOption firmware(QStringLiteral("firmware"),
                                      QStringLiteral("release and sub-release of a fresh device "
                                                     "as two hex bytes, default 01.05"),
                                      QStringLiteral("RR.SS"));
    const QCommandLineOption mute(QStringLiteral("mute"), QStringLiteral("never answer"));
    const QCommandLineOption muteAfter(QStringLiteral("mute-after-writes"),
                                       QStringLiteral("stop answering after N block writes"),
                                       QStringLiteral("N"));
    const QCommandLineOption badChecksum(QStringLiteral("bad-read-checksum"),
                                         QStringLiteral("read answers carry a wrong checksum"));
    const QCommandLineOption noEnd(QStringLiteral("no-end-marker"),
                                   QStringLiteral("read answers lack their end marker"));
    const QCommandLineOption loseWrite(
        QStringLiteral("lose-write-at"),
        QStringLiteral("acknowledge block writes to ADDRESS (decimal or 0x hex) without keeping "
                       "them"),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption ignoreFirst(QStringLiteral("ignore-first"),
                                         QStringLiteral("leave the first N requests unanswered"),
                                         QStringLiteral("N"));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("no log lines"));
    parser.addOptions({link, state, firmware, mute, muteAfter, badChecksum, noEnd, loseWrite,
                       ignoreFirst, quiet});
    if (!parser.parse(app.arguments()))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s", parser.helpText().toLocal8Bit().constData());
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usage(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    telvara::setQuiet(parser.isSet(quiet));
    telvara::Device device;
    quint8 release = 0x01;
    quint8 subRelease = 0x05;
    if (parser.isSet(firmware)) {
        static const QRegularExpression form(
            QStringLiteral("^([0-9A-Fa-f]{2})\\.([0-9A-Fa-f]{2})$"));
        const auto m = form.match(parser.value(firmware));
        if (!m.hasMatch())
            return usage(QStringLiteral("--firmware wants RR.SS in hex, e.g. 01.05"));
        release = quint8(m.captured(1).toUInt(nullptr, 16));
        subRelease = quint8(m.captured(2).toUInt(nullptr, 16));
    }
    device.initialise(release, subRelease);
    const QString statePath = parser.value(state);
    QString error;
    if (!statePath.isEmpty() &&
        telvara::loadDevice(statePath, &device, &error) == telvara::LoadResult::Invalid) {
        std::fprintf(stderr, "telvara-sim: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    device.failures.mute = parser.isSet(mute);
    device.failures.badReadChecksum = parser.isSet(badChecksum);
    device.failures.noEndMarker = parser.isSet(noEnd);
    if (parser.isSet(loseWrite)) {
        bool ok = false;
        device.failures.loseWriteAt = parser.value(loseWrite).toInt(&ok, 0);
        if (!ok || device.failures.loseWriteAt < 0 ||
            device.failures.loseWriteAt >= telvara::Device::kMemorySize)
            return usage(QStringLiteral("--lose-write-at wants an address below 4096"));
    }
    if (parser.isSet(muteAfter)) {
        bool ok = false;
        device.failures.muteAfterWrites = parser.value(muteAfter).toInt(&ok);
        if (!ok || device.failures.muteAfterWrites < 0)
            return usage(QStringLiteral("--mute-after-writes wants a number of 0 or more"));
    }
    if (parser.isSet(ignoreFirst)) {
        bool ok = false;
        device.failures.ignoreFirst = parser.value(ignoreFirst).toInt(&ok);
        if (!ok || device.failures.ignoreFirst < 0)
            return usage(QStringLiteral("--ignore-first wants a number of 0 or more"));
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return 1;
    QSocketNotifier stopNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [&] {
        stopNotifier.setEnabled(false);
        app.quit();
    });
    struct sigaction sa {
    };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);

    Pty pty;
    if (!pty.open(parser.value(link), &error)) {
        std::fprintf(stderr, "telvara-sim: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    QSocketNotifier readable(pty.fd(), QSocketNotifier::Read);
    bool saveFailed = false;
    QObject::connect(&readable, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(pty.fd(), buffer, sizeof buffer);
            if (n <= 0)
                break;
            const QByteArray reply = device.receive(QByteArray(buffer, int(n)));
            if (!reply.isEmpty())
                writeAll(pty.fd(), reply);
        }
        // Kept after every change, so a killed emulator loses nothing it acknowledged.
        if (device.takeChanged() && !statePath.isEmpty() &&
            !telvara::saveDevice(statePath, device, &error)) {
            telvara::logLine(error);
            saveFailed = true;
        }
    });
    std::printf("pty %s\n", pty.device.toLocal8Bit().constData());
    std::fflush(stdout);

    const int rc = app.exec();
    if (!statePath.isEmpty() && !telvara::saveDevice(statePath, device, &error)) {
        std::fprintf(stderr, "telvara-sim: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    return saveFailed ? 1 : rc;
}
