#include "tcp_front.h"

#include "log.h"

namespace sim
{

TcpFrontEnd::TcpFrontEnd(SimController &controller, const FailureModes &modes, QObject *parent)
    : QObject(parent), m_session(m_clock, controller, modes, *this)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TcpFrontEnd::onNewConnection);
}

bool TcpFrontEnd::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (!m_server.listen(address, port)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(m_server.errorString());
        return false;
    }
    return true;
}

void TcpFrontEnd::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_client) {
            logLine(QStringLiteral("tcp: new client replaces %1:%2")
                        .arg(m_client->peerAddress().toString())
                        .arg(m_client->peerPort()));
            m_client->disconnect(this);
            m_client->abort();
            m_client->deleteLater();
        }
        m_session.reset();
        m_client = socket;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, &TcpFrontEnd::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, &TcpFrontEnd::onDisconnected);
        logLine(QStringLiteral("tcp: client %1:%2 connected")
                    .arg(socket->peerAddress().toString())
                    .arg(socket->peerPort()));
    }
}

void TcpFrontEnd::onReadyRead()
{
    if (m_client)
        m_session.receive(m_client->readAll());
}

void TcpFrontEnd::onDisconnected()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket || socket != m_client)
        return;
    logLine(QStringLiteral("tcp: client disconnected"));
    m_session.reset();
    m_client->deleteLater();
    m_client = nullptr;
}

void TcpFrontEnd::send(const QByteArray &bytes)
{
    if (m_client && m_client->state() == QAbstractSocket::ConnectedState)
        m_client->write(bytes);
}

void TcpFrontEnd::drop()
{
    if (!m_client)
        return;
    // Flushes what was written so far, then closes: the PC sees half an answer and a
    // closed connection.
    m_client->disconnectFromHost();
}

} // namespace sim
