#pragma once

#include "link/error.h"

#include <QByteArray>
#include <QString>

#include <functional>

// The most a link keeps of what a controller sent: the longest answer is under 6 KiB, so a
// peer that sends more is no controller, and must not fill the memory before the deadline.
inline constexpr qint64 kReceiveLimit = 64 * 1024;

// One byte pipe to a controller: a serial line or a TCP connection. Implementations are
// used from the link worker thread only and never block longer than the deadline they are
// given. A failure comes back as an Error: Runtime for the port or connection itself,
// ConnectFailed for a TCP connection that could not be made; detail holds the cause.
class Transport
{
public:
    enum class Kind { Serial, Tcp };

    virtual ~Transport() = default;
    virtual Kind kind() const = 0;

    // Serial: address is a device path, setting the line settings ("9600,n,8,1").
    // TCP: address is the host, setting the port. timeoutMs bounds a TCP connect; serial
    // opens return at once.
    virtual Error open(const QString &address, const QString &setting, int timeoutMs) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Writes and flushes; fails when the link failed.
    virtual Error write(const QByteArray &data) = 0;
    // Everything received so far, without waiting. Fails when the link failed (for TCP: the
    // peer closed it); data received before the failure is still returned.
    virtual Error readAvailable(QByteArray *out) = 0;
    // As readAvailable, but appends at most maxBytes; the rest waits for a later read. The
    // default, for pipes that cannot be flooded, takes everything.
    virtual Error readUpTo(QByteArray *out, qint64 /*maxBytes*/) { return readAvailable(out); }

    // Asked during a long wait (a TCP connect): true gives the wait up, as the link's user
    // no longer needs its result.
    void setStopCheck(std::function<bool()> check) { m_stopCheck = std::move(check); }

protected:
    bool stopRequested() const { return m_stopCheck && m_stopCheck(); }

private:
    std::function<bool()> m_stopCheck;
};
