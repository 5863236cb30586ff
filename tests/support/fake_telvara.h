#pragma once

// The emulator's SMS controller behind a fake serial port, in virtual time, with the faults
// of the line itself (a port that will not open, noise, short reads, a flood) on top.

#include "link/clock.h"
#include "link/transport.h"
#include "telvara/device.h"

#include <QByteArray>
#include <QList>

#include <memory>

class FakeTelvara : public telvara::Device
{
public:
    struct Sent {
        qint64 atMs;
        QByteArray bytes;
    };

    explicit FakeTelvara(VirtualClock &clock);

    // ---- faults of the line
    bool refuseOpen = false;
    // Line noise sent ahead of every answer.
    QByteArray strayBytes;
    // At most this many bytes arrive per look at the line (0: all that is waiting).
    int bytesPerRead = 0;
    // A peer that streams: this many noise bytes more arrive at every look.
    int floodPerLook = 0;

    // ---- what happened
    QList<Sent> sent;         // every write of the PC, one character each
    QList<QByteArray> frames; // every request recognised, in order
    qint64 bytesTaken = 0;    // by the PC, noise included

    std::unique_ptr<Transport> transport();

    // the far end
    Error open();
    void close() { m_open = false; }
    bool isOpen() const { return m_open; }
    void write(const QByteArray &bytes);
    // What the PC reads, at most maxBytes; the rest waits for its next look.
    QByteArray take(qint64 maxBytes);

private:
    VirtualClock &m_clock;
    bool m_open = false;
    QByteArray m_out;
};
