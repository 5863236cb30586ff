#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

namespace sim
{

class SimController;

// Where a session's answers go: a TCP connection or a serial line / pseudo-terminal.
class ByteChannel
{
public:
    virtual ~ByteChannel() = default;
    // Queues bytes for sending; never blocks.
    virtual void send(const QByteArray &bytes) = 0;
    // Breaks the connection as a failing controller would (TCP: closes it).
    virtual void drop() = 0;
    // A new answer starts: anything of an older answer the peer has not read is stale.
    virtual void beginAnswer() {}
};

// Ways to misbehave, for tests and demos of the PC's error handling.
struct FailureModes {
    int answerAfter = 1;           // answer only the Nth burst of a command
    int splitChunks = 1;           // send each answer in this many pieces ...
    int splitPauseMs = 0;          // ... with this pause between them
    bool badChecksum = false;      // read answers carry a wrong checksum
    bool dropMidAnswer = false;    // break the connection halfway through an answer
    bool mute = false;             // never answer
    bool pace9600 = false;         // send at the speed of a 9600-baud line
    bool badWriteChecksum = false; // echo a wrong checksum for a write and keep nothing
};

// The controller's side of one connection: recognises commands in the incoming bytes,
// answers each burst of repeats once, and takes in the data of a write.
class WireSession : public QObject
{
    Q_OBJECT
public:
    // A command's repeats that follow each other closer than this belong to one burst.
    static constexpr int kBurstGapMs = 50;
    // A write's data is complete when at least its length has arrived and the line has been
    // quiet this long (the PC sends a character every 12 ms).
    static constexpr int kWriteQuietMs = 300;
    // A write that stops short stays quiet this long before it is refused.
    static constexpr int kShortWriteQuietMs = 2000;
    // Nothing at all after "Receive Start" for this long: the PC gave up.
    static constexpr int kWriteAbandonMs = 30000;

    WireSession(SimController &controller, const FailureModes &modes, ByteChannel &channel,
                QObject *parent = nullptr);

    void receive(const QByteArray &bytes);
    // The connection went away: forget any half-done answer or write.
    void reset();

private:
    enum class Input { Idle, Discarding, CollectingWrite };

    void scanForCommand();
    void handleCommand(char letter);
    void answerRead(char letter);
    void startWrite(char letter);
    void checkWrite();
    void finishWrite(const QByteArray &data);
    void transmit(const QByteArray &frame, const QString &logText);
    void sendSome();
    void finishTransmission();
    QByteArray frame(const QString &start, const QString &payload, const QString &end) const;

    SimController &m_controller;
    FailureModes m_modes;
    ByteChannel &m_channel;

    QElapsedTimer m_clock;
    qint64 m_lastInputMs = -1;
    Input m_input = Input::Idle;
    QByteArray m_pending; // unrecognised input in Idle

    char m_lastCommand = 0;
    int m_burstCount = 0;

    // Write in progress
    char m_writeCommand = 0;
    int m_writeLength = 0;
    QByteArray m_writeData;
    qint64 m_writeStartMs = 0;
    QTimer m_writeTimer;

    // Transmission in progress: chunks still to send, each paced or at once.
    std::deque<QByteArray> m_chunks;
    QByteArray m_current;
    qint64 m_currentStartMs = 0;
    qint64 m_waitUntilMs = 0;
    bool m_firstChunk = true;
    int m_currentSent = 0;
    bool m_dropWhenSent = false;
    bool m_sending = false;
    QString m_sentLog;
    QTimer m_sendTimer;
};

} // namespace sim
