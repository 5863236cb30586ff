// tarvelon-sim: an emulated Tarvelon controller on TCP, a pseudo-terminal or a serial device.

#include "controller.h"
#include "log.h"
#include "options.h"
#include "tcp_front.h"
#include "tty_front.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

// SIGINT and SIGTERM end the event loop through a socket pair, so the state is saved from
// ordinary code rather than inside a signal handler.
bool installSignalHandlers(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, notifier] {
        char c = 0;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &c, 1);
        notifier->setEnabled(false);
        app.quit();
    });
    struct sigaction sa {
    };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

void printReady(const QString &line)
{
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvelon-sim"));

    sim::SimOptions options;
    QString message;
    switch (sim::parseOptions(QCoreApplication::arguments(), &options, &message)) {
    case sim::ParseOutcome::ExitOk:
        std::printf("%s", message.toLocal8Bit().constData());
        return 0;
    case sim::ParseOutcome::UsageError:
        std::fprintf(stderr, "tarvelon-sim: %s\nTry tarvelon-sim --help.\n",
                     message.toLocal8Bit().constData());
        return 2;
    case sim::ParseOutcome::Run:
        break;
    }
    sim::setQuiet(options.quiet);
    if (!installSignalHandlers(app)) {
        sim::warnLine(QStringLiteral("cannot install the signal handlers"));
        return 1;
    }

    sim::SimController controller(options.controller);
    QString error;
    if (!controller.start(&error)) {
        sim::warnLine(error);
        return 1;
    }

    std::unique_ptr<sim::TcpFrontEnd> tcp;
    std::unique_ptr<sim::TtyFrontEnd> pty;
    std::unique_ptr<sim::TtyFrontEnd> serial;
    if (options.tcp) {
        tcp = std::make_unique<sim::TcpFrontEnd>(controller, options.failures);
        if (!tcp->listen(options.listenAddress, options.port, &error)) {
            sim::warnLine(error);
            return 1;
        }
        const QString host = options.listenAddress.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QStringLiteral("[%1]").arg(options.listenAddress.toString())
                                 : options.listenAddress.toString();
        printReady(QStringLiteral("listening on %1:%2").arg(host).arg(tcp->port()));
    }
    if (options.pty) {
        pty = std::make_unique<sim::TtyFrontEnd>(controller, options.failures);
        if (!pty->openPty(options.ptyLink, &error)) {
            sim::warnLine(error);
            return 1;
        }
        printReady(QStringLiteral("pty %1").arg(pty->devicePath()));
    }
    if (!options.serialDevice.isEmpty()) {
        serial = std::make_unique<sim::TtyFrontEnd>(controller, options.failures);
        if (!serial->openDevice(options.serialDevice, &error)) {
            sim::warnLine(error);
            return 1;
        }
        printReady(QStringLiteral("serial %1").arg(serial->devicePath()));
    }

    const int rc = app.exec();
    tcp.reset();
    pty.reset();
    serial.reset();
    if (!controller.save())
        return 1;
    sim::logLine(QStringLiteral("state saved, exiting"));
    return rc;
}
