#pragma once

#include "link/clock.h"
#include "link/error.h"
#include "link/transport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

// The byte pipe to one controller, over a serial line or TCP. It sends text character by
// character, collects whatever arrives into Buffer and knows nothing of commands; the
// protocol drives it. Every operation returns an error, ok for success.
class cHydoConnect
{
public:
    // Makes the transport a link needs, serial or TCP, when it is opened; tests make fakes.
    using TransportFactory = std::function<std::unique_ptr<Transport>(Transport::Kind)>;
    cHydoConnect(TransportFactory factory, Clock &clock);
    ~cHydoConnect();
    cHydoConnect(const cHydoConnect &) = delete;
    cHydoConnect &operator=(const cHydoConnect &) = delete;

    // Links over QSerialPort or QTcpSocket; use from one thread only.
    static std::unique_ptr<cHydoConnect> createDefault(Clock &clock);

    // Closes any previous link, then opens the serial device (address = device path, setting
    // = line settings) or the TCP connection (address = host, setting = port).
    Error connect(bool serial, const QString &address, const QString &setting);
    // Sends data one character at a time with delayMs after each, then the terminator. Over
    // TCP a two-character command goes out as one burst of 100 copies instead.
    Error PutBuffer(const QString &data, int delayMs, bool quiet, const QString &terminator);
    // Appends whatever has arrived to Buffer, without waiting. Buffer holds at most
    // kReceiveLimit bytes: a peer that sends more ends with ErrorCode::ReceiveOverflow and
    // the link disconnected.
    Error GetBuffer();
    // Empties Buffer and closes whatever link is open.
    void disconnect();

    // While *flag is set (from any thread, by a program that is closing) every step of an
    // exchange fails at once with ErrorCode::Abandoned, and a TCP connect stops waiting.
    // A write under a WriteGuard runs to its end: a program half written is worse than a
    // wait.
    void setAbandonFlag(const std::atomic<bool> *flag) { m_abandon = flag; }
    bool abandoned() const { return m_abandon && m_abandon->load(); }
    class WriteGuard
    {
    public:
        explicit WriteGuard(cHydoConnect &link) : m_link(link) { ++m_link.m_writes; }
        ~WriteGuard() { --m_link.m_writes; }
        WriteGuard(const WriteGuard &) = delete;
        WriteGuard &operator=(const WriteGuard &) = delete;

    private:
        cHydoConnect &m_link;
    };

    // Serial devices that can be opened, in a stable order, at most maxPorts of them.
    static QStringList Avaible_Comports(int maxPorts);

    QByteArray Buffer; // the receive buffer, as received
    // (index of the character just sent, 1-based; number of characters)
    std::function<void(int index, int total)> PutBufferProgress;

private:
    bool send(const QByteArray &bytes, Error *error);
    bool isOpen(Transport::Kind kind) const;
    bool stopNow() const { return m_writes == 0 && abandoned(); }

    TransportFactory m_factory;
    // The one transport of the link now open (or last opened), of the kind its address needs.
    std::unique_ptr<Transport> m_transport;
    Clock &m_clock;
    const std::atomic<bool> *m_abandon = nullptr;
    int m_writes = 0; // WriteGuards alive; the link is used from one thread
};
