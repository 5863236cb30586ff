#pragma once

#include "controller.h"
#include "wire_session.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace sim
{

// The controller's network module: one client at a time; a new connection replaces the
// old one, which is what a PC that lost its link and reconnects needs.
class TcpFrontEnd : public QObject, public ByteChannel
{
    Q_OBJECT
public:
    TcpFrontEnd(SimController &controller, const FailureModes &modes, QObject *parent = nullptr);
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const { return m_server.serverPort(); }

    void send(const QByteArray &bytes) override;
    void drop() override;

private:
    void onNewConnection();
    void onReadyRead();
    void onDisconnected();

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    RealClock m_clock;
    WireSession m_session;
};

} // namespace sim
