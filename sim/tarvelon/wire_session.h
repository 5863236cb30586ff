#pragma once

#include "link/clock.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <optional>

namespace sim
{

// Where a session's answers go: a TCP connection, a serial line / pseudo-terminal, or an
// in-process transport.
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

// What a session answers with: the controller's memory, or a script.
class AnswerSource
{
public:
    enum class Kind { Framed, Raw, Write };
    struct Answer {
        Kind kind = Kind::Framed;
        QByteArray bytes; // the payload between the markers, or the whole answer (Raw)
        QString note;     // what it holds, for the log
    };
    virtual ~AnswerSource() = default;
    // A burst of the command was recognised, whether or not it is answered.
    virtual void heard(char letter) { Q_UNUSED(letter); }
    // The answer to a command; nothing: it goes unanswered for the reason in *why.
    virtual std::optional<Answer> answer(char letter, QString *why) = 0;
    // Characters of data and checksum a write carries; 0: whatever arrives.
    virtual int writeLength(char letter) const = 0;
    // All a write brought, checksum digits included, before it is judged.
    virtual void received(char letter, const QByteArray &data)
    {
        Q_UNUSED(letter);
        Q_UNUSED(data);
    }
    // The data of a write whose checksum matched; false: not stored.
    virtual bool store(char letter, const QByteArray &data) = 0;
};

// Ways to misbehave, for tests and demos of the PC's error handling.
struct FailureModes {
    int answerAfter = 1;           // answer only the Nth burst of a command
    int splitChunks = 1;           // send each answer in this many pieces ...
    QList<int> splitSizes;         // ... or in pieces of these sizes (the rest is the last) ...
    int splitPauseMs = 0;          // ... with this pause between them
    int answerDelayMs = 0;         // from a command to the first piece of its answer
    bool badChecksum = false;      // read answers carry a wrong checksum
    bool dropMidAnswer = false;    // break the connection halfway through an answer
    bool mute = false;             // never answer
    bool pace9600 = false;         // send at the speed of a 9600-baud line
    bool badWriteChecksum = false; // echo a wrong checksum for a write and keep nothing
    bool noEcho = false;           // take a write's data but never echo its checksum
};

// The controller's side of one connection: recognises commands in the incoming bytes,
// answers each burst of repeats once, and takes in the data of a write. Time comes from the
// clock; what is due later is done by timers, or by poll() where the caller drives time.
class WireSession : public QObject
{
    Q_OBJECT
public:
    enum class Driven { ByTimers, ByPolls };
    // A command's repeats that follow each other closer than this belong to one burst.
    static constexpr int kBurstGapMs = 50;
    // A write's data is complete when at least its length has arrived and the line has been
    // quiet this long (the PC sends a character every 12 ms).
    static constexpr int kWriteQuietMs = 300;
    // A write that stops short stays quiet this long before it is refused.
    static constexpr int kShortWriteQuietMs = 2000;

    WireSession(Clock &clock, AnswerSource &source, const FailureModes &modes, ByteChannel &channel,
                Driven driven = Driven::ByTimers, QObject *parent = nullptr);

    FailureModes &modes() { return m_modes; }
    void receive(const QByteArray &bytes);
    // Sends and finishes what is due by now.
    void poll();
    // The connection went away: forget any half-done answer or write.
    void reset();

private:
    enum class Input { Idle, Discarding, CollectingWrite };

    void scanForCommand();
    void handleCommand(char letter, const QByteArray &rest);
    void startWrite(char letter, const QByteArray &rest);
    void checkWrite();
    void finishWrite(const QByteArray &data);
    void transmit(const QByteArray &frame, const QString &logText);
    void sendSome();
    void finishTransmission();
    void wakeIn(QTimer &timer, qint64 ms);
    QByteArray frame(const char *start, const QByteArray &payload, const char *end) const;

    Clock &m_clock;
    AnswerSource &m_source;
    FailureModes m_modes;
    ByteChannel &m_channel;
    Driven m_driven;

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
