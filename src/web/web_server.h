#pragma once

// The read-only web view of the monitoring service. It runs on the service's thread: pages
// are made from the snapshot of the last cycle, charts are drawn by the chart window's code
// from the archive. Nothing can be changed through it: only GET and HEAD are answered.
// A client cannot hold up a cycle: sockets are read as data comes, a request is bounded in
// size and time, and the number of connections is bounded.

#include "web/web_pages.h"

#include <QAbstractHttpServer>
#include <QSslConfiguration>

#include <functional>
#include <optional>

class Database;
class QTcpServer;

struct WebServerOptions {
    WebAddress address;
    std::optional<WebLogin> login; // HTTP Basic when set
    QString certFile;              // TLS when set, with keyFile
    QString keyFile;
};

// Why these options may not be used: a non-loopback address needs a login and TLS, a
// certificate needs its key. Empty when they are fine.
QString WebOptionsProblem(const WebServerOptions &options);

class WebServer : public QAbstractHttpServer
{
public:
    static constexpr int kMaxConnections = 16;
    static constexpr qint64 kMaxRequestBytes = 8192; // header; no body is accepted
    static constexpr int kIdleMs = 15000;            // a connection that sends nothing
    static constexpr int kChartWidth = 1000;
    static constexpr int kChartHeight = 600;

    // `log` receives what an operator should see (a wrong password); never a password.
    WebServer(const Database &db, const WebServerOptions &options,
              std::function<void(const QString &)> log, QObject *parent = nullptr);
    ~WebServer() override;

    // Listens; empty on success, otherwise why not (the certificate, the address).
    QString start();
    void setSnapshot(WebSnapshot snapshot) { m_snapshot = std::move(snapshot); }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Answer {
        int status = 200;
        QByteArray type = "text/html; charset=utf-8";
        QByteArray body;
        QList<std::pair<QByteArray, QByteArray>> headers;
    };
    Answer answer(const QHttpServerRequest &request);
    Answer controllerAnswer(int id, const QString &what, const QUrlQuery &query);
    bool knownController(int id) const;

    const Database &m_db;
    const WebServerOptions m_options;
    std::function<void(const QString &)> m_log;
    WebSnapshot m_snapshot;
    QTcpServer *m_listener = nullptr;
};
