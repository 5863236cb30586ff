#pragma once

// Runs the controller emulator tarvelon-sim (or the SMS controller emulator telvara-sim) as
// a child process for integration tests, and talks to it through the real link code
// (cHydoConnect and the read/write exchanges).

#include "link/clock.h"
#include "link/protocol.h"
#include "support/error_print.h"
#include "support/files.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

class SimProcess
{
public:
    // How long start() waits for the emulator to report that it is ready.
    static constexpr int kStartTimeoutMs = 5000;
    enum class Emulator { Tarvelon, Telvara };

    explicit SimProcess(Emulator emulator = Emulator::Tarvelon);
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Starts the emulator with --port 0 (unless arguments say --no-tcp) and the given
    // arguments, and waits for its "listening on" and, with --pty or --serial, its "pty" or
    // "serial" line. telvara-sim has no TCP side: it gets --state statePath() and always
    // reports a pty. environment: NAME=VALUE entries added for the emulator alone (TZ).
    bool start(const QStringList &arguments, QString *error, const QStringList &environment = {});
    // start() for ASSERT_TRUE, which then shows why it failed.
    ::testing::AssertionResult launch(const QStringList &arguments,
                                      const QStringList &environment = {})
    {
        QString error;
        if (start(arguments, &error, environment))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << error.toStdString();
    }
    // SIGTERM, so the emulator saves its state; true when it exited with code 0.
    bool stop();
    bool isRunning() const;

    quint16 port() const { return m_port; }
    QString ptyDevice() const { return m_pty; }
    LinkParams tcpLink() const;
    LinkParams ptyLink() const;

    // Everything the emulator wrote to stderr so far (its per-command log).
    QString log() const;
    // A scratch directory for state and values files, removed with this object.
    QString scratchPath(const QString &name) const;
    // Where telvara-sim keeps its memory.
    QString statePath() const { return scratchPath(QStringLiteral("telvara.json")); }
    // telvara-sim's external memory from its state file (empty when unreadable).
    QByteArray savedExternalMemory() const;

private:
    Emulator m_emulator;
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_pty;
    QString m_logPath;
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

// Result of one read exchange.
struct SimRead {
    Error error;
    QString payload; // the answer's payload on success
    qint64 elapsedMs = 0;
};

// One read exchange ("DX", "DN", ...) with a fresh link object and real time, as the
// program makes it.
SimRead readFromController(const LinkParams &link, const QString &command);
// One write exchange ("DB", "DI") of data.
Error writeToController(const LinkParams &link, const QString &command, const QString &data);

// One stored measurement record of a "DO" payload.
struct SimRecord {
    int sensor = 0;
    int status = 0;
    int word = 0;   // value x scale factor, signed
    QDateTime when; // the controller's wall clock in a UTC QDateTime: no summer time
};
// The records of a "DO" payload: a 4-digit count, then 24 digits per record. Fails (false)
// when the length does not match the count.
bool decodeRecords(const QString &payload, QList<SimRecord> *records);
// Upper-case hex digits and nothing else, as the controller sends them.
bool isHexText(const QString &text);

// What the emulator's journal (--journal) says it handed over and forgot.
struct SimJournal {
    QSet<QString> handed;
    QStringList forgotten; // in order, each once
    bool endsAcknowledged = false;
    QStringList malformed;
};
SimJournal readJournal(const QString &path);

// An archive row, as a text to compare: controller, sensor, date and time, and the value
// word. The emulator's sensor 2 measures pH in hundredths; its other sensors store tenths.
int simScaleOf(int sensor);
QString archiveRowKey(int id, int sensor, const QString &datum, qint64 word);
// The row a journal record must become: the controller's clock reading as it stands.
QString expectedArchiveRow(int id, const QString &record);

// Ends an emulator with SIGTERM, so it saves its state, and kills it when it has not ended
// within `timeoutMs`; true when it exited with code 0. False when it was not running.
bool stopEmulator(QProcess &process, int timeoutMs);

// A QCoreApplication for code that needs one (sockets, serial ports), created once.
void ensureCoreApplication();
