#include "support/cli_run.h"

#include "support/sanitizer_report.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QThread>

#include <csignal>

static void startCli(QProcess &process, const QStringList &args, const CliCall &call)
{
    // Numbers and messages the same whatever the machine's locale.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    for (const QString &entry : call.environment)
        env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(call.workingDirectory);
    process.start(call.program, args);
}

CliRun runCli(const QStringList &args, const CliCall &call)
{
    QProcess p;
    startCli(p, args, call);
    p.write(call.input);
    p.closeWriteChannel();
    CliRun r;
    if (!p.waitForFinished(call.hangCeilingMs)) {
        p.kill();
        p.waitForFinished();
        ADD_FAILURE() << call.program.toStdString() << " " << args.join(' ').toStdString()
                      << " did not finish";
    }
    if (p.exitStatus() == QProcess::NormalExit && p.error() != QProcess::FailedToStart)
        r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    const QByteArray err = p.readAllStandardError();
    expectNoSanitizerReport(qPrintable(call.program), err);
    r.err = QString::fromUtf8(err);
    return r;
}

WatchedCli::WatchedCli(const QStringList &args, const CliCall &call)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    startCli(m_process, args, call);
    m_started = m_process.waitForStarted(5000);
    m_timer.start();
}

WatchedCli::~WatchedCli()
{
    if (running())
        kill();
    expectNoSanitizerReport("ostracom-cli", m_output.toUtf8());
}

bool WatchedCli::collect(qint64 ms, const std::function<bool()> &done)
{
    QDeadlineTimer deadline(std::max<qint64>(0, ms));
    for (;;) {
        if (done && done())
            return true;
        if (deadline.hasExpired())
            return false;
        const int slice = static_cast<int>(std::min<qint64>(50, deadline.remainingTime()));
        if (running())
            m_process.waitForReadyRead(slice);
        else
            QThread::msleep(static_cast<unsigned long>(slice));
        m_output += QString::fromUtf8(m_process.readAll());
    }
}

bool WatchedCli::waitForOutput(const QString &text, int ms)
{
    return collect(ms, [&] { return m_output.contains(text); });
}

void WatchedCli::signal(int number)
{
    if (running())
        ::kill(static_cast<pid_t>(m_process.processId()), number);
}

void WatchedCli::kill()
{
    m_process.kill();
    m_process.waitForFinished(5000);
    m_output += QString::fromUtf8(m_process.readAll());
}

bool WatchedCli::finish(int timeoutMs)
{
    const bool done = m_process.waitForFinished(timeoutMs);
    m_output += QString::fromUtf8(m_process.readAll());
    return done;
}
