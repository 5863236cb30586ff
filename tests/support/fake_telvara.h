#pragma once

// An SMS controller behind a fake serial port, in virtual time: it answers the service
// handshake and the select, read, write and reset frames from a 4 KB memory, and can
// misbehave in named ways. Written from the wire format, not from the program's code.

#include "link/clock.h"
#include "link/transport.h"

#include <QByteArray>
#include <QList>

#include <memory>

class FakeTelvara
{
public:
    struct Sent {
        qint64 atMs;
        QByteArray bytes;
    };

    explicit FakeTelvara(VirtualClock &clock);

    // External memory (select 02): validity marker at 0, configuration from 0x400.
    QByteArray external = QByteArray(4096, '\0');
    // Internal memory (select 09): firmware version at 0x220.
    QByteArray internal = QByteArray(4096, '\0');

    // ---- failure modes
    bool mute = false;
    // Stops answering after this many block writes (-1: never).
    int muteAfterWrites = -1;
    bool badReadChecksum = false;
    bool noEndMarker = false;
    // Requests ignored before the first one that is answered, for each request.
    int ignoreFirst = 0;
    bool refuseOpen = false;
    // Line noise sent ahead of every answer.
    QByteArray strayBytes;
    // At most this many bytes arrive per look at the line (0: all that is waiting).
    int bytesPerRead = 0;
    // A block written to this address is acknowledged but not kept (-1: none).
    int loseWriteAt = -1;
    // A peer that streams: this many noise bytes more arrive at every look.
    int floodPerLook = 0;

    // ---- what happened
    QList<Sent> sent;         // every write of the PC, one character each
    QList<QByteArray> frames; // every request recognised, in order
    int resets = 0;
    int writesTaken = 0;
    qint64 bytesTaken = 0; // by the PC, noise included

    std::unique_ptr<Transport> transport();

    // the far end
    bool open(QString *error);
    void close() { m_open = false; }
    bool isOpen() const { return m_open; }
    void receive(const QByteArray &bytes);
    // What the PC reads, at most maxBytes; the rest waits for its next look.
    QByteArray take(qint64 maxBytes);

private:
    void answer(const QByteArray &frame);
    void reply(const QByteArray &bytes);

    VirtualClock &m_clock;
    bool m_open = false;
    QByteArray m_in;
    QByteArray m_out;
    int m_ignored = 0;
    QByteArray *m_memory = &external;
};
