#include "link/tcp_transport.h"

#include <QElapsedTimer>

#include <algorithm>
#include <limits>

namespace
{

constexpr int kTcpWriteTimeoutMs = 5000;
constexpr int kTcpCloseTimeoutMs = 1000;
// Each zero wait picks up one batch from the kernel; a few batches per look are plenty.
constexpr int kMaxReadBatches = 64;
// A connect is waited for in slices, so that a closing program need not wait it out.
constexpr int kConnectSliceMs = 100;

Error runtime(const QString &why)
{
    return Error(ErrorCode::Runtime, why);
}

} // namespace

TcpTransport::TcpTransport() = default;

TcpTransport::~TcpTransport()
{
    close();
}

Error TcpTransport::open(const QString &address, const QString &setting, int timeoutMs)
{
    close();
    bool ok = false;
    const int port = setting.trimmed().toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return Error(ErrorCode::ConnectFailed,
                     QStringLiteral("invalid TCP port '%1'").arg(setting));
    if (address.trimmed().isEmpty())
        return Error(ErrorCode::ConnectFailed, QStringLiteral("no host given"));
    // Created here so the socket belongs to the thread that uses it.
    m_socket = std::make_unique<QTcpSocket>();
    // What the socket takes from the kernel is bounded too; beyond it the peer waits.
    m_socket->setReadBufferSize(kReceiveLimit);
    m_socket->connectToHost(address.trimmed(), static_cast<quint16>(port));
    QElapsedTimer waited;
    waited.start();
    // Waited for in slices, each of which returns early on a refused connection or an
    // unknown host.
    bool connected = false;
    while (!connected) {
        const qint64 left = qMax<qint64>(0, timeoutMs - waited.elapsed());
        connected = m_socket->waitForConnected(int(qMin<qint64>(left, kConnectSliceMs)));
        if (!connected && (m_socket->state() == QAbstractSocket::UnconnectedState ||
                           left <= kConnectSliceMs || stopRequested()))
            break;
    }
    if (!connected) {
        const Error failed(ErrorCode::ConnectFailed, QStringLiteral("cannot connect to %1:%2: %3")
                                                         .arg(address.trimmed())
                                                         .arg(port)
                                                         .arg(m_socket->errorString()));
        m_socket->abort();
        m_socket.reset();
        return failed;
    }
    m_open = true;
    return {};
}

void TcpTransport::close()
{
    m_open = false;
    if (!m_socket)
        return;
    // A closing program does not wait for the peer to confirm.
    if (m_socket->state() != QAbstractSocket::UnconnectedState && !stopRequested()) {
        m_socket->disconnectFromHost();
        if (m_socket->state() != QAbstractSocket::UnconnectedState)
            m_socket->waitForDisconnected(kTcpCloseTimeoutMs);
    }
    m_socket->abort();
    m_socket.reset();
}

bool TcpTransport::isOpen() const
{
    return m_open;
}

Error TcpTransport::write(const QByteArray &data)
{
    if (!m_open)
        return runtime(QStringLiteral("not connected"));
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        // The peer is gone; whatever it still sent is of no use once we talk again.
        m_open = false;
        return runtime(QStringLiteral("connection closed by the controller"));
    }
    if (m_socket->write(data) != data.size())
        return runtime(QStringLiteral("cannot send: %1").arg(m_socket->errorString()));
    QElapsedTimer timer;
    timer.start();
    while (m_socket->bytesToWrite() > 0) {
        const qint64 left = kTcpWriteTimeoutMs - timer.elapsed();
        if (left <= 0 || !m_socket->waitForBytesWritten(static_cast<int>(left)))
            return runtime(QStringLiteral("cannot send: %1").arg(m_socket->errorString()));
    }
    return {};
}

Error TcpTransport::readAvailable(QByteArray *out)
{
    return readUpTo(out, std::numeric_limits<qint64>::max());
}

Error TcpTransport::readUpTo(QByteArray *out, qint64 maxBytes)
{
    if (!m_open)
        return runtime(QStringLiteral("not connected"));
    for (int i = 0; i < kMaxReadBatches && m_socket->bytesAvailable() < maxBytes &&
                    m_socket->waitForReadyRead(0);
         ++i) {
    }
    const QByteArray data = m_socket->read(std::min(maxBytes, m_socket->bytesAvailable()));
    out->append(data);
    if (!data.isEmpty() || m_socket->state() == QAbstractSocket::ConnectedState)
        return {};
    m_open = false;
    return runtime(QStringLiteral("connection closed by the controller"));
}
