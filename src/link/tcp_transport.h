#pragma once

#include "link/transport.h"

#include <QTcpSocket>

#include <memory>

// A TCP connection to a controller (or a serial-to-network adapter). Blocking-style calls
// with bounded waits, so it works on a worker thread without an event loop.
class TcpTransport : public Transport
{
public:
    TcpTransport();
    ~TcpTransport() override;
    Kind kind() const override { return Kind::Tcp; }
    // setting is the port number. Gives up at once when the connection is refused or the
    // host is unknown, otherwise after timeoutMs.
    Error open(const QString &address, const QString &setting, int timeoutMs) override;
    void close() override;
    bool isOpen() const override;
    Error write(const QByteArray &data) override;
    // Data that arrived before the peer closed is handed out first; the failure is
    // reported by the first read that finds nothing left.
    Error readAvailable(QByteArray *out) override;
    Error readUpTo(QByteArray *out, qint64 maxBytes) override;

private:
    std::unique_ptr<QTcpSocket> m_socket;
    bool m_open = false;
};
