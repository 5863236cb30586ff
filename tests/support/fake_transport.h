#pragma once

// The emulated controller's session behind fake transports, in virtual time: it answers what
// a test scripts (payloads framed the controller's way, or raw bytes) and can misbehave in
// named ways, both on the wire and in the transport itself.

#include "link/clock.h"
#include "link/hydo_connect.h"
#include "link/transport.h"
#include "support/error_print.h"
#include "tarvelon/wire_session.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <deque>
#include <limits>
#include <memory>
#include <optional>

// The controller's checksum, restated for tests: the character codes summed modulo 256.
int wireSum(const QByteArray &bytes);
// start + payload + end + two hex digits of (wireSum(payload) + offset) + "CheckSum".
QByteArray framedAnswer(const QByteArray &start, const QByteArray &payload, const QByteArray &end,
                        int checksumOffset = 0, bool lowerCase = false);

class FakeController : public sim::AnswerSource, private sim::ByteChannel
{
public:
    struct Write {
        Transport::Kind kind;
        qint64 atMs;
        QByteArray bytes;
    };

    explicit FakeController(VirtualClock &clock);

    // ---- what the controller answers
    // A read command (DX, DN, DK, DO, DL): the payload within the controller's own framing.
    void setPayload(const QString &command, const QByteArray &payload);
    // Exactly these bytes as the answer, for malformed answers.
    void setRawAnswer(const QString &command, const QByteArray &answer);
    // DB and DI answer "Receive Start", take the data of any length and echo its checksum,
    // unless a raw answer replaces them.

    // ---- failure modes (they hold until changed)
    void mute(bool on = true) { modes().mute = on; }
    // Answers only the nth burst of a command in a row.
    void answerAfterRepeats(int n) { modes().answerAfter = n; }
    // Each answer in this many even pieces; a read takes at most one piece.
    void splitAnswer(int chunks)
    {
        splitAnswerAt({});
        modes().splitChunks = qMax(1, chunks);
    }
    // Pieces of exactly these sizes (the rest is the last piece); piece i is ready no
    // earlier than pauseMs * i after the first.
    void splitAnswerAt(const QList<int> &sizes, int pauseMs = 0)
    {
        modes().splitSizes = sizes;
        modes().splitChunks = 1;
        modes().splitPauseMs = pauseMs;
    }
    // Virtual time from a recognised command to the first piece of its answer.
    void setAnswerDelayMs(int ms) { modes().answerDelayMs = ms; }
    // Half of the answer arrives, then the link is lost.
    void dropMidAnswer(bool on = true) { modes().dropMidAnswer = on; }
    // Takes the data of a write but never echoes its checksum.
    void noEchoAfterWrite(bool on = true) { modes().noEcho = on; }
    void failWrites(bool on = true) { m_failWrites = on; }
    void refuseOpen(bool on = true) { m_refuseOpen = on; }
    // Opening takes the whole time allowed for it, then fails (a host that never answers).
    void hangOnOpen(bool on = true) { m_hangOnOpen = on; }
    // Per command: no answer at all; a burst of it fails to write; or it is answered by
    // bytes without end, as a wrong peer would send them (an empty command ends that).
    void forget(const QString &command) { m_answers.remove(command); }
    void failWritesOf(const QString &command) { m_failCommand = command; }
    void floodOn(const QString &command) { m_floodCommand = command; }

    // ---- what happened
    const QList<Write> &writes() const { return m_writes; }
    // Every byte written, over all connections.
    QByteArray written() const;
    // Bursts of a command recognised, over all connections.
    int bursts(const QString &command) const { return m_bursts.value(command); }
    int opens() const { return m_opens; }
    // The most the PC's receive buffer held after one of its reads.
    qsizetype largestBuffer() const { return m_largestBuffer; }
    int closes() const { return m_closes; }
    QString lastAddress() const { return m_lastAddress; }
    QString lastSetting() const { return m_lastSetting; }
    // Data of the last write with a matching checksum, without the checksum digits.
    std::optional<QByteArray> stored(const QString &command) const;
    // Data and checksum digits of the last write, whatever their checksum.
    QByteArray lastWriteReceived() const { return m_lastWriteReceived; }
    // Forgets what happened so far (writes, bursts, opens, stored data); the answers and
    // failure modes stay. For a fake that serves millions of exchanges (fuzzing).
    void clearHistory();

    // ---- the far end of FakeTransport
    Error open(Transport::Kind kind, const QString &address, const QString &setting, int timeoutMs);
    void close(Transport::Kind kind);
    bool isOpen(Transport::Kind kind) const { return m_openKind == kind && !m_lost; }
    Error write(Transport::Kind kind, const QByteArray &data);
    Error read(Transport::Kind kind, QByteArray *out, qint64 maxBytes);

private:
    sim::FailureModes &modes() { return m_session.modes(); }
    void resetConnection();

    // The session's side.
    void heard(char letter) override;
    std::optional<Answer> answer(char letter, QString *why) override;
    int writeLength(char) const override { return 0; }
    void received(char, const QByteArray &data) override { m_lastWriteReceived = data; }
    bool store(char letter, const QByteArray &data) override;
    void send(const QByteArray &bytes) override { m_inbox.push_back({bytes, false}); }
    void drop() override { m_inbox.push_back({{}, true}); }

    VirtualClock &m_clock;
    QHash<QString, Answer> m_answers;
    sim::WireSession m_session;

    bool m_failWrites = false;
    bool m_refuseOpen = false;
    bool m_hangOnOpen = false;
    QString m_failCommand;
    QString m_floodCommand;

    QList<Write> m_writes;
    QHash<QString, int> m_bursts;
    int m_opens = 0;
    int m_closes = 0;
    QString m_lastAddress;
    QString m_lastSetting;
    QHash<QString, QByteArray> m_stored;
    QByteArray m_lastWriteReceived;
    qsizetype m_largestBuffer = 0;

    // One connection's state: what the session sent, piece by piece, and whether it ended
    // the connection after them.
    struct Piece {
        QByteArray bytes;
        bool drop;
    };
    std::optional<Transport::Kind> m_openKind;
    bool m_lost = false;
    std::deque<Piece> m_inbox;
    bool m_flooding = false;
};

class FakeTransport : public Transport
{
public:
    FakeTransport(Kind kind, FakeController &controller) : m_kind(kind), m_controller(controller) {}
    Kind kind() const override { return m_kind; }
    Error open(const QString &address, const QString &setting, int timeoutMs) override
    {
        return m_controller.open(m_kind, address, setting, timeoutMs);
    }
    void close() override { m_controller.close(m_kind); }
    bool isOpen() const override { return m_controller.isOpen(m_kind); }
    Error write(const QByteArray &data) override { return m_controller.write(m_kind, data); }
    Error readAvailable(QByteArray *out) override
    {
        return m_controller.read(m_kind, out, std::numeric_limits<qint64>::max());
    }
    Error readUpTo(QByteArray *out, qint64 maxBytes) override
    {
        return m_controller.read(m_kind, out, maxBytes);
    }

private:
    Kind m_kind;
    FakeController &m_controller;
};

// A cHydoConnect whose serial and TCP transports both lead to one fake controller.
struct FakeLink {
    explicit FakeLink(quint32 seed = 1);
    VirtualClock clock;
    FakeController controller;
    std::unique_ptr<cHydoConnect> link;
};
