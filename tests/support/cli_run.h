#pragma once

// Runs ostracom-cli (or another program) as a user runs it and collects what it said.

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

struct CliRun {
    int exitCode = -1; // -1: it crashed, or hung and was killed
    QString out;
    QString err;
};

struct CliCall {
    QByteArray input;        // standard input, closed after it
    QStringList environment; // NAME=VALUE added to the test's own
    QString workingDirectory;
    QString program = QStringLiteral(OSTRACOM_CLI_PATH);
    // A ceiling against a hang, not a measurement: a whole program written over TCP takes
    // over a minute.
    int hangCeilingMs = 200000;
};

// Runs to the end. A hang or a sanitizer report fails the running test.
CliRun runCli(const QStringList &args, const CliCall &call = {});

// A run the test watches and ends itself (a poller), its standard output and error collected
// together as they come. A run still going is killed with this object.
class WatchedCli
{
public:
    explicit WatchedCli(const QStringList &args, const CliCall &call = {});
    ~WatchedCli();
    WatchedCli(const WatchedCli &) = delete;
    WatchedCli &operator=(const WatchedCli &) = delete;

    bool started() const { return m_started; }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    qint64 pid() const { return m_process.processId(); }
    qint64 elapsedMs() const { return m_timer.elapsed(); }
    // All it said so far, as far as collected by the calls below.
    const QString &output() const { return m_output; }

    // Collects output for up to ms milliseconds, or until `done` holds; whether it held.
    bool collect(qint64 ms, const std::function<bool()> &done = {});
    bool waitForOutput(const QString &text, int ms = 20000);
    // Runs until the program was started ms milliseconds ago.
    void runUntil(qint64 ms) { collect(ms - elapsedMs()); }
    void signal(int number);
    // SIGKILL: no handler runs, whatever the program was writing stays half done.
    void kill();
    // Waits for the end, collecting; false when it is still running after timeoutMs.
    bool finish(int timeoutMs);
    int exitCode() const { return m_process.exitCode(); }

private:
    QProcess m_process;
    QElapsedTimer m_timer;
    QString m_output;
    bool m_started = false;
};
