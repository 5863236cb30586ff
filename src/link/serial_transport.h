#pragma once

#include "link/transport.h"

#include <QSerialPort>

#include <memory>
#include <optional>

// Line settings in the controller's notation, "9600,n,8,1": baud, parity (n, e, o, m, s),
// data bits (5 to 8), stop bits (1, 1.5, 2).
struct SerialLineSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};
// On a malformed text: nothing, and error (if given) holds an Other error saying why.
std::optional<SerialLineSettings> parseSerialLineSettings(const QString &text,
                                                          Error *error = nullptr);

// A serial device (a path such as /dev/ttyUSB0, or a pseudo-terminal) without flow control.
// Works without an event loop: writes wait a bounded time for the bytes to leave, reads
// only take what is already there.
class SerialTransport : public Transport
{
public:
    SerialTransport();
    ~SerialTransport() override;
    Kind kind() const override { return Kind::Serial; }
    Error open(const QString &address, const QString &setting, int timeoutMs) override;
    void close() override;
    bool isOpen() const override;
    Error write(const QByteArray &data) override;
    Error readAvailable(QByteArray *out) override;
    Error readUpTo(QByteArray *out, qint64 maxBytes) override;

private:
    std::unique_ptr<QSerialPort> m_port;
    QString m_device;
};
