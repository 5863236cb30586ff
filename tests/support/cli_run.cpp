#include "support/cli_run.h"

#include "support/sanitizer_report.h"

#include <gtest/gtest.h>

void startCli(QProcess &process, const QStringList &args, const CliCall &call)
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
