#pragma once

#include "link/clock.h"
#include "link/error.h"
#include "link/transport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// The byte pipe to one controller, over a serial line or TCP. It sends text character by
// character, collects whatever arrives into Buffer and knows nothing of commands; the
// protocol drives it. Every operation returns an error, ok for success.
class cHydoConnect
{
public:
    // Takes the two transports (kind Serial and kind Tcp); tests pass fakes.
    cHydoConnect(std::unique_ptr<Transport> serial, std::unique_ptr<Transport> tcp, Clock &clock);
    ~cHydoConnect();
    cHydoConnect(const cHydoConnect &) = delete;
    cHydoConnect &operator=(const cHydoConnect &) = delete;

    // A QSerialPort and a QTcpSocket transport; use from one thread only.
    static std::unique_ptr<cHydoConnect> createDefault(Clock &clock);

    // Closes any previous link, then opens the serial device (address = device path, setting
    // = line settings) or the TCP connection (address = host, setting = port).
    Error connect(bool serial, const QString &address, const QString &setting);
    // Sends data one character at a time with delayMs after each, then the terminator. Over
    // TCP a two-character command goes out as one burst of 100 copies instead.
    Error PutBuffer(const QString &data, int delayMs, bool quiet, const QString &terminator);
    // Appends whatever has arrived to Buffer, without waiting.
    Error GetBuffer();
    // Empties Buffer and closes whatever link is open.
    void disconnect();

    // Serial devices that can be opened, in a stable order, at most maxPorts of them.
    static QStringList Avaible_Comports(int maxPorts);

    QByteArray Buffer; // the receive buffer, as received
    // (index of the character just sent, 1-based; number of characters)
    std::function<void(int index, int total)> PutBufferProgress;

private:
    bool sendOn(Transport &transport, const QByteArray &bytes, Error *error);
    bool sendToOpenLinks(const QByteArray &bytes, Error *error);

    std::unique_ptr<Transport> m_serial;
    std::unique_ptr<Transport> m_tcp;
    Clock &m_clock;
};
