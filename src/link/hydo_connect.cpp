#include "link/hydo_connect.h"

#include "link/serial_transport.h"
#include "link/tcp_transport.h"

#include <QSerialPort>
#include <QSerialPortInfo>

#include <algorithm>

namespace
{

// How long a TCP connection may take before the controller counts as unreachable.
constexpr int kConnectTimeoutMs = 20000;
// Over TCP a two-letter command goes out as one burst of this many copies, so a controller
// that wakes late still finds a whole command in its input.
constexpr int kTcpCommandRepeats = 100;
constexpr int kCommandLength = 2;

// Orders ttyS2 before ttyS10.
bool naturalLess(const QString &a, const QString &b)
{
    int i = 0;
    int j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            int ei = i;
            int ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            const QString na = a.mid(i, ei - i);
            const QString nb = b.mid(j, ej - j);
            const qulonglong va = na.toULongLong();
            const qulonglong vb = nb.toULongLong();
            if (va != vb)
                return va < vb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

} // namespace

cHydoConnect::cHydoConnect(TransportFactory factory, Clock &clock)
    : m_factory(std::move(factory)), m_clock(clock)
{
}

cHydoConnect::~cHydoConnect()
{
    disconnect();
}

std::unique_ptr<cHydoConnect> cHydoConnect::createDefault(Clock &clock)
{
    return std::make_unique<cHydoConnect>(
        [](Transport::Kind kind) -> std::unique_ptr<Transport> {
            if (kind == Transport::Kind::Serial)
                return std::make_unique<SerialTransport>();
            return std::make_unique<TcpTransport>();
        },
        clock);
}

Error cHydoConnect::connect(bool serial, const QString &address, const QString &setting)
{
    disconnect();
    if (stopNow())
        return Error(ErrorCode::Abandoned);
    const Transport::Kind kind = serial ? Transport::Kind::Serial : Transport::Kind::Tcp;
    if (!m_transport || m_transport->kind() != kind) {
        m_transport = m_factory(kind);
        m_transport->setStopCheck([this] { return stopNow(); });
    }
    // A serial device that will not open is a failure of the port itself; a TCP connection's
    // cause (refused, no route, name unknown, timed out) tells the user what to mend.
    const Error opened = m_transport->open(address, setting, serial ? 0 : kConnectTimeoutMs);
    if (!opened.ok() && !serial && stopNow())
        return Error(ErrorCode::Abandoned);
    return opened;
}

bool cHydoConnect::isOpen(Transport::Kind kind) const
{
    return m_transport && m_transport->kind() == kind && m_transport->isOpen();
}

// A link that went away (peer closed, device unplugged) is no link any more, as if it had
// never been open; any other failure is one of the port itself.
bool cHydoConnect::send(const QByteArray &bytes, Error *error)
{
    if (stopNow()) {
        *error = Error(ErrorCode::Abandoned);
        return false;
    }
    if (!m_transport || !m_transport->isOpen()) {
        *error = Error(ErrorCode::NoLinkSend);
        return false;
    }
    const Error written = m_transport->write(bytes);
    *error = written.ok() || m_transport->isOpen() ? written : Error(ErrorCode::NoLinkSend);
    return written.ok();
}

Error cHydoConnect::PutBuffer(const QString &data, int delayMs, bool quiet,
                              const QString &terminator)
{
    Error error(ErrorCode::NoLinkSend);
    const QByteArray bytes = data.toLatin1();

    if (isOpen(Transport::Kind::Tcp) && bytes.size() == kCommandLength) {
        send(bytes.repeated(kTcpCommandRepeats), &error);
        return error;
    }

    const int total = static_cast<int>(bytes.size());
    for (int i = 0; i < total; ++i) {
        if (!send(QByteArray(1, bytes[i]), &error))
            return error;
        if (!quiet && PutBufferProgress)
            PutBufferProgress(i + 1, total);
        if (delayMs > 0)
            m_clock.sleepMs(delayMs);
    }
    if (!terminator.isEmpty() && !send(terminator.toLatin1(), &error))
        return error;
    return error;
}

Error cHydoConnect::GetBuffer()
{
    if (stopNow())
        return Error(ErrorCode::Abandoned);
    if (!m_transport || !m_transport->isOpen())
        return Error(ErrorCode::NoLinkReceive);
    // One byte beyond the room left tells a full buffer from a peer that sends too much.
    const qint64 room = std::max<qint64>(0, kReceiveLimit - Buffer.size());
    const Error read = m_transport->readUpTo(&Buffer, room + 1);
    if (Buffer.size() > kReceiveLimit) {
        const Error tooMuch(ErrorCode::ReceiveOverflow, QString::number(Buffer.size()));
        // The rest of the flood goes with the link, so the next exchange starts clean.
        disconnect();
        return tooMuch;
    }
    if (!read.ok() && !m_transport->isOpen())
        return Error(ErrorCode::NoLinkReceive);
    return read;
}

void cHydoConnect::disconnect()
{
    Buffer.clear();
    // Closing a closed transport is harmless, and a socket whose peer went away still
    // needs its close.
    if (m_transport)
        m_transport->close();
}

QStringList cHydoConnect::Avaible_Comports(int maxPorts)
{
    QStringList usable;
    if (maxPorts <= 0)
        return usable;
    QStringList candidates;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        candidates << info.systemLocation();
    std::sort(candidates.begin(), candidates.end(), naturalLess);
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    for (const QString &path : candidates) {
        if (usable.size() >= maxPorts)
            break;
        // Listed is not enough: a port held by another program or without permission is
        // of no use to the user.
        QSerialPort port;
        port.setPortName(path);
        if (port.open(QIODevice::ReadWrite)) {
            port.close();
            usable << path;
        }
    }
    return usable;
}
