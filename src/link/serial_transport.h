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
std::optional<SerialLineSettings> parseSerialLineSettings(const QString &text, QString *error);

// A serial device (a path such as /dev/ttyUSB0, or a pseudo-terminal) without flow control.
// Works without an event loop: writes wait a bounded time for the bytes to leave, reads
// only take what is already there.
class SerialTransport : public Transport
{
public:
    SerialTransport();
    ~SerialTransport() override;
    Kind kind() const override { return Kind::Serial; }
    bool open(const QString &address, const QString &setting, int timeoutMs,
              QString *error) override;
    void close() override;
    bool isOpen() const override;
    bool write(const QByteArray &data, QString *error) override;
    bool readAvailable(QByteArray *out, QString *error) override;
    bool readUpTo(QByteArray *out, qint64 maxBytes, QString *error) override;

private:
    std::unique_ptr<QSerialPort> m_port;
    QString m_device;
};
