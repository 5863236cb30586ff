#include "link/serial_transport.h"

#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace
{

// A write that cannot leave within this time means the line is stuck (nobody reads a
// pseudo-terminal, a USB adapter hangs).
constexpr int kSerialWriteTimeoutMs = 5000;

Error describe(const QSerialPort &port, const QString &what, const QString &device)
{
    return Error(ErrorCode::Runtime,
                 QStringLiteral("%1 %2: %3").arg(what, device, port.errorString()));
}

Error notOpen()
{
    return Error(ErrorCode::Runtime, QStringLiteral("serial port is not open"));
}

} // namespace

std::optional<SerialLineSettings> parseSerialLineSettings(const QString &text, Error *error)
{
    auto fail = [&](const QString &why) -> std::optional<SerialLineSettings> {
        if (error)
            *error = Error(ErrorCode::Other,
                           QStringLiteral("invalid serial settings '%1': %2").arg(text, why));
        return std::nullopt;
    };
    const QStringList parts = text.trimmed().split(QLatin1Char(','));
    if (parts.size() != 4)
        return fail(QStringLiteral("expected baud,parity,data bits,stop bits"));

    SerialLineSettings s;
    bool ok = false;
    s.baudRate = parts[0].trimmed().toInt(&ok);
    if (!ok || s.baudRate <= 0)
        return fail(QStringLiteral("bad baud rate"));

    const QString parity = parts[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        s.parity = QSerialPort::SpaceParity;
    else
        return fail(QStringLiteral("bad parity"));

    const int bits = parts[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        return fail(QStringLiteral("bad data bits"));
    s.dataBits = static_cast<QSerialPort::DataBits>(bits);

    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        return fail(QStringLiteral("bad stop bits"));
    return s;
}

SerialTransport::SerialTransport() = default;

SerialTransport::~SerialTransport()
{
    close();
}

Error SerialTransport::open(const QString &address, const QString &setting, int)
{
    close();
    Error bad;
    const auto settings = parseSerialLineSettings(setting, &bad);
    // Wrong settings keep the port from opening: a failure of the port like any other.
    if (!settings)
        return Error(ErrorCode::Runtime, bad.detail);
    if (address.trimmed().isEmpty())
        return Error(ErrorCode::Runtime, QStringLiteral("no serial device given"));
    // Created here so the port belongs to the thread that uses it.
    m_device = address.trimmed();
    m_port = std::make_unique<QSerialPort>();
    m_port->setPortName(m_device);
    if (!m_port->open(QIODevice::ReadWrite)) {
        const Error failed = describe(*m_port, QStringLiteral("cannot open"), m_device);
        m_port.reset();
        return failed;
    }
    if (!m_port->setBaudRate(settings->baudRate) || !m_port->setParity(settings->parity) ||
        !m_port->setDataBits(settings->dataBits) || !m_port->setStopBits(settings->stopBits) ||
        !m_port->setFlowControl(QSerialPort::NoFlowControl)) {
        const Error failed = describe(*m_port, QStringLiteral("cannot configure"), m_device);
        close();
        return failed;
    }
    m_port->clear();
    // What the port takes from the driver is bounded too; the rest waits there.
    m_port->setReadBufferSize(kReceiveLimit);
    return {};
}

void SerialTransport::close()
{
    if (m_port) {
        if (m_port->isOpen())
            m_port->close();
        m_port.reset();
    }
}

bool SerialTransport::isOpen() const
{
    return m_port && m_port->isOpen();
}

Error SerialTransport::write(const QByteArray &data)
{
    if (!isOpen())
        return notOpen();
    if (m_port->write(data) != data.size())
        return describe(*m_port, QStringLiteral("cannot write to"), m_device);
    QElapsedTimer timer;
    timer.start();
    while (m_port->bytesToWrite() > 0) {
        const qint64 left = kSerialWriteTimeoutMs - timer.elapsed();
        if (left <= 0 || !m_port->waitForBytesWritten(static_cast<int>(left))) {
            const Error failed =
                m_port->error() == QSerialPort::TimeoutError ||
                        m_port->error() == QSerialPort::NoError
                    ? Error(ErrorCode::Runtime,
                            QStringLiteral("write to %1 timed out").arg(m_device))
                    : describe(*m_port, QStringLiteral("cannot write to"), m_device);
            m_port->clearError();
            return failed;
        }
    }
    return {};
}

Error SerialTransport::readAvailable(QByteArray *out)
{
    return readUpTo(out, std::numeric_limits<qint64>::max());
}

Error SerialTransport::readUpTo(QByteArray *out, qint64 maxBytes)
{
    if (!isOpen())
        return notOpen();
    // A zero wait lets the port pick up what the driver holds; its time-out is no failure.
    m_port->waitForReadyRead(0);
    const QSerialPort::SerialPortError failure = m_port->error();
    out->append(m_port->read(std::min(maxBytes, m_port->bytesAvailable())));
    if (failure == QSerialPort::NoError || failure == QSerialPort::TimeoutError) {
        m_port->clearError();
        return {};
    }
    const Error lost = describe(*m_port, QStringLiteral("lost"), m_device);
    close();
    return lost;
}
