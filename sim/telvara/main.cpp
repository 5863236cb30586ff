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
#include <memory>
#include <optional>
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

// What the command line asks for.
struct Options {
    QString link;
    QString statePath;
    quint8 release = 0x01;
    quint8 subRelease = 0x05;
    bool quiet = false;
    telvara::FailureModes failures;
};

// The options in the order --help lists them: name, value name (none: a switch), text.
struct OptionText {
    const char *name;
    const char *valueName;
    const char *description;
};
const OptionText kOptions[] = {
    {"pty-link", "PATH", "make PATH a symlink to the pseudo-terminal"},
    {"state", "FILE", "keep memory and version in this file"},
    {"firmware", "RR.SS",
     "release and sub-release of a fresh device as two hex bytes, default 01.05"},
    {"mute", nullptr, "never answer"},
    {"mute-after-writes", "N", "stop answering after N block writes"},
    {"bad-read-checksum", nullptr, "read answers carry a wrong checksum"},
    {"no-end-marker", nullptr, "read answers lack their end marker"},
    {"lose-write-at", "ADDRESS",
     "acknowledge block writes to ADDRESS (decimal or 0x hex) without keeping them"},
    {"ignore-first", "N", "leave the first N requests unanswered"},
    {"quiet", nullptr, "no log lines"},
};

// Counts of 0 or more: the option and where the number goes.
struct CountOption {
    const char *name;
    int telvara::FailureModes::*field;
};
const CountOption kCountOptions[] = {
    {"mute-after-writes", &telvara::FailureModes::muteAfterWrites},
    {"ignore-first", &telvara::FailureModes::ignoreFirst},
};

// The failure modes and the firmware; a complaint for a value out of its form.
std::optional<QString> readSettings(const QCommandLineParser &parser, Options *o)
{
    telvara::FailureModes &f = o->failures;
    f.mute = parser.isSet(QStringLiteral("mute"));
    f.badReadChecksum = parser.isSet(QStringLiteral("bad-read-checksum"));
    f.noEndMarker = parser.isSet(QStringLiteral("no-end-marker"));
    if (parser.isSet(QStringLiteral("firmware"))) {
        static const QRegularExpression form(
            QStringLiteral("^([0-9A-Fa-f]{2})\\.([0-9A-Fa-f]{2})$"));
        const auto m = form.match(parser.value(QStringLiteral("firmware")));
        if (!m.hasMatch())
            return QStringLiteral("--firmware wants RR.SS in hex, e.g. 01.05");
        o->release = quint8(m.captured(1).toUInt(nullptr, 16));
        o->subRelease = quint8(m.captured(2).toUInt(nullptr, 16));
    }
    bool ok = false;
    if (parser.isSet(QStringLiteral("lose-write-at"))) {
        f.loseWriteAt = parser.value(QStringLiteral("lose-write-at")).toInt(&ok, 0);
        if (!ok || f.loseWriteAt < 0 || f.loseWriteAt >= telvara::Device::kMemorySize)
            return QStringLiteral("--lose-write-at wants an address below 4096");
    }
    for (const CountOption &c : kCountOptions) {
        const QString name = QLatin1String(c.name);
        if (!parser.isSet(name))
            continue;
        f.*c.field = parser.value(name).toInt(&ok);
        if (!ok || f.*c.field < 0)
            return QStringLiteral("--%1 wants a number of 0 or more").arg(name);
    }
    return std::nullopt;
}

// Fills o from the command line; an exit code when the program ends here (help, or a
// usage error).
std::optional<int> readCommandLine(const QStringList &arguments, Options *o)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "An emulated SMS controller on a pseudo-terminal. Prints \"pty DEVICE\" when ready;\n"
        "SIGINT or SIGTERM saves the state and exits."));
    parser.addHelpOption();
    for (const OptionText &t : kOptions) {
        const QString name = QLatin1String(t.name);
        const QString text = QString::fromLatin1(t.description);
        parser.addOption(t.valueName
                             ? QCommandLineOption(name, text, QString::fromLatin1(t.valueName))
                             : QCommandLineOption(name, text));
    }
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s", parser.helpText().toLocal8Bit().constData());
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usage(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    o->link = parser.value(QStringLiteral("pty-link"));
    o->statePath = parser.value(QStringLiteral("state"));
    o->quiet = parser.isSet(QStringLiteral("quiet"));
    if (const auto complaint = readSettings(parser, o))
        return usage(*complaint);
    return std::nullopt;
}

// SIGINT and SIGTERM end the event loop through a socket, so the state is saved on the way
// out.
bool quitOnSignals(QCoreApplication &app, std::unique_ptr<QSocketNotifier> *notifier)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return false;
    *notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QSocketNotifier *stop = notifier->get();
    QObject::connect(stop, &QSocketNotifier::activated, &app, [stop, &app] {
        stop->setEnabled(false);
        app.quit();
    });
    struct sigaction sa {
    };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    return true;
}

int fail(const QString &error)
{
    std::fprintf(stderr, "telvara-sim: %s\n", error.toLocal8Bit().constData());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    ::umask(077);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("telvara-sim"));
    Options options;
    if (const auto exitCode = readCommandLine(app.arguments(), &options))
        return *exitCode;

    telvara::setQuiet(options.quiet);
    telvara::Device device;
    device.initialise(options.release, options.subRelease);
    const QString &statePath = options.statePath;
    QString error;
    if (!statePath.isEmpty() &&
        telvara::loadDevice(statePath, &device, &error) == telvara::LoadResult::Invalid)
        return fail(error);
    device.failures = options.failures;

    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (!quitOnSignals(app, &stopNotifier))
        return 1;
    Pty pty;
    if (!pty.open(options.link, &error))
        return fail(error);
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
    if (!statePath.isEmpty() && !telvara::saveDevice(statePath, device, &error))
        return fail(error);
    return saveFailed ? 1 : rc;
}
