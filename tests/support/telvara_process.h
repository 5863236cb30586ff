#pragma once

// Runs the SMS controller emulator telvara-sim as a child process on a pseudo-terminal.

#include "link/clock.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

class TelvaraProcess
{
public:
    static constexpr int kStartTimeoutMs = 5000;

    TelvaraProcess();
    ~TelvaraProcess();

    // Starts the emulator with its state in this object's scratch folder and the given
    // arguments; waits for its "pty" line.
    bool start(const QStringList &arguments, QString *error);
    // start() for ASSERT_TRUE, which then shows why it failed.
    ::testing::AssertionResult launch(const QStringList &arguments)
    {
        QString error;
        if (start(arguments, &error))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << error.toStdString();
    }
    // SIGTERM, so the emulator saves its state; true when it exited with code 0.
    bool stop();

    QString ptyDevice() const { return m_pty; }
    QString statePath() const { return m_dir.filePath(QStringLiteral("telvara.json")); }
    QString scratchPath(const QString &name) const { return m_dir.filePath(name); }
    QString log() const;
    // The emulator's external memory from its state file (empty when unreadable).
    QByteArray savedExternalMemory() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_pty;
    int m_starts = 0;
};

// Waits a tenth as long as asked, so transfers and the six-second busy waits go quickly,
// while the time read runs only 5/3 as fast as real time: the five-second answer deadline
// still leaves the emulator three real seconds on a loaded machine.
class FastClock : public Clock
{
public:
    static constexpr int kSleepDivisor = 10;
    FastClock() { m_timer.start(); }
    qint64 nowMs() override { return m_timer.elapsed() * 5 / 3; }
    void sleepMs(int ms) override { m_real.sleepMs((ms + kSleepDivisor - 1) / kSleepDivisor); }
    double random() override { return m_real.random(); }

private:
    QElapsedTimer m_timer;
    RealClock m_real;
};
