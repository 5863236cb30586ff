#pragma once

#include "controller.h"
#include "wire_session.h"

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace sim
{

// The controller's serial port: the master side of a pseudo-terminal (the PC opens the
// slave device as its serial port) or a real serial device.
class TtyFrontEnd : public QObject, public ByteChannel
{
    Q_OBJECT
public:
    TtyFrontEnd(SimController &controller, const FailureModes &modes, QObject *parent = nullptr);
    ~TtyFrontEnd() override;

    // Creates a pseudo-terminal in raw mode; linkPath, when given, becomes a symlink to it.
    bool openPty(const QString &linkPath, QString *error);
    // Opens a serial device at 9600 baud, 8 data bits, no parity, one stop bit.
    bool openDevice(const QString &path, QString *error);
    // The device the PC opens.
    QString devicePath() const { return m_devicePath; }

    void send(const QByteArray &bytes) override;
    // A serial line cannot be closed from this end: the rest of the answer is just lost.
    void drop() override;
    void beginAnswer() override;

private:
    void watch();
    void onReadable();
    void onWritable();
    void flushOut();

    int m_fd = -1;
    // The pty's own handle on the slave side: keeps the slave open between the PC's
    // sessions, so the master never sees a hang-up, and lets stale input be flushed.
    int m_slaveFd = -1;
    QString m_devicePath;
    QString m_linkPath;
    QByteArray m_out;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    RealClock m_clock;
    WireSession m_session;
};

} // namespace sim
