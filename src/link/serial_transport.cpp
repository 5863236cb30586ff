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

QString describe(const QSerialPort &port, const QString &what, const QString &device)
{
    return QStringLiteral("%1 %2: %3").arg(what, device, port.errorString());
}

} // namespace

std::optional<SerialLineSettings> parseSerialLineSettings(const QString &text, QString *error)
{
    auto fail = [&](const QString &why) -> std::optional<SerialLineSettings> {
        if (error)
            *error = QStringLiteral("invalid serial settings '%1': %2").arg(text, why);
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

bool SerialTransport::open(const QString &address, const QString &setting, int, QString *error)
{
    close();
    const auto settings = parseSerialLineSettings(setting, error);
    if (!settings)
        return false;
    if (address.trimmed().isEmpty()) {
        if (error)
            *error = QStringLiteral("no serial device given");
        return false;
    }
    // Created here so the port belongs to the thread that uses it.
    m_device = address.trimmed();
    m_port = std::make_unique<QSerialPort>();
    m_port->setPortName(m_device);
    if (!m_port->open(QIODevice::ReadWrite)) {
        if (error)
            *error = describe(*m_port, QStringLiteral("cannot open"), m_device);
        m_port.reset();
        return false;
    }
    if (!m_port->setBaudRate(settings->baudRate) || !m_port->setParity(settings->parity) ||
        !m_port->setDataBits(settings->dataBits) || !m_port->setStopBits(settings->stopBits) ||
        !m_port->setFlowControl(QSerialPort::NoFlowControl)) {
        if (error)
            *error = describe(*m_port, QStringLiteral("cannot configure"), m_device);
        close();
        return false;
    }
    m_port->clear();
    // What the port takes from the driver is bounded too; the rest waits there.
    m_port->setReadBufferSize(kReceiveLimit);
    return true;
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

bool SerialTransport::write(const QByteArray &data, QString *error)
{
    if (!isOpen()) {
        if (error)
            *error = QStringLiteral("serial port is not open");
        return false;
    }
    if (m_port->write(data) != data.size()) {
        if (error)
            *error = describe(*m_port, QStringLiteral("cannot write to"), m_device);
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (m_port->bytesToWrite() > 0) {
        const qint64 left = kSerialWriteTimeoutMs - timer.elapsed();
        if (left <= 0 || !m_port->waitForBytesWritten(static_cast<int>(left))) {
            if (error)
                *error = m_port->error() == QSerialPort::TimeoutError ||
                                 m_port->error() == QSerialPort::NoError
                             ? QStringLiteral("write to %1 timed out").arg(m_device)
                             : describe(*m_port, QStringLiteral("cannot write to"), m_device);
            m_port->clearError();
            return false;
        }
    }
    return true;
}

bool SerialTransport::readAvailable(QByteArray *out, QString *error)
{
    return readUpTo(out, std::numeric_limits<qint64>::max(), error);
}

bool SerialTransport::readUpTo(QByteArray *out, qint64 maxBytes, QString *error)
{
    if (!isOpen()) {
        if (error)
            *error = QStringLiteral("serial port is not open");
        return false;
    }
    // A zero wait lets the port pick up what the driver holds; its time-out is no failure.
    m_port->waitForReadyRead(0);
    const QSerialPort::SerialPortError failure = m_port->error();
    out->append(m_port->read(std::min(maxBytes, m_port->bytesAvailable())));
    if (failure == QSerialPort::NoError || failure == QSerialPort::TimeoutError) {
        m_port->clearError();
        return true;
    }
    if (error)
        *error = describe(*m_port, QStringLiteral("lost"), m_device);
    close();
    return false;
}
