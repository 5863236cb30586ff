#include "web/web_server.h"

#include "display/chart_plot.h"
#include "display/ui/chart_drawing.h"
#include "model/error_text.h"
#include "store/database.h"
#include "store/store_error.h"
#include "store/strings.h"

#include <QBuffer>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

namespace
{

using Status = QHttpServerResponder::StatusCode;

// Accepts connections up to a bound and guards each socket before the HTTP server sees it:
// the server buffers a whole request, so a request larger than a header, or a client that
// stops sending, is cut off here.
class GuardedListener : public QTcpServer
{
public:
    GuardedListener(std::optional<QSslConfiguration> tls, QObject *parent)
        : QTcpServer(parent), m_tls(std::move(tls))
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        QTcpSocket *socket = m_tls ? new QSslSocket(this) : new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (m_open >= WebServer::kMaxConnections) {
            socket->write("HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\n"
                          "Content-Length: 0\r\n\r\n");
            socket->disconnectFromHost();
            connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
            return;
        }
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        guard(socket);
        if (auto *ssl = qobject_cast<QSslSocket *>(socket)) {
            ssl->setSslConfiguration(*m_tls);
            // A client that fails the handshake is simply dropped.
            connect(ssl, &QSslSocket::sslErrors, ssl, [ssl] { ssl->abort(); });
            connect(ssl, &QAbstractSocket::errorOccurred, ssl, [ssl] {
                if (!ssl->isEncrypted())
                    ssl->abort();
            });
            ssl->startServerEncryption();
        }
        addPendingConnection(socket);
    }

private:
    // Connected before the HTTP server's own reader, so it runs first on every read.
    static void guard(QTcpSocket *socket)
    {
        socket->setReadBufferSize(2 * WebServer::kMaxRequestBytes);
        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        idle->start(WebServer::kIdleMs);
        connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
        auto unanswered = std::make_shared<qint64>(0);
        connect(socket, &QIODevice::readyRead, socket, [socket, idle, unanswered] {
            idle->start(WebServer::kIdleMs);
            *unanswered += socket->bytesAvailable();
            if (*unanswered <= WebServer::kMaxRequestBytes)
                return;
            // Nobody else reads this socket any more; the answer leaves before it closes.
            QObject::disconnect(socket, &QIODevice::readyRead, nullptr, nullptr);
            socket->write("HTTP/1.1 413 Content Too Large\r\nConnection: close\r\n"
                          "Content-Length: 0\r\n\r\n");
            socket->close();
        });
        // An answer went out: the next request starts counting afresh.
        connect(socket, &QIODevice::bytesWritten, socket, [unanswered] { *unanswered = 0; });
        connect(socket, &QAbstractSocket::disconnected, idle, &QTimer::stop);
    }

    std::optional<QSslConfiguration> m_tls;
    int m_open = 0;
};

QByteArray readAll(const QString &path, QString *problem)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("%1: %2").arg(path, f.errorString());
        return {};
    }
    return f.readAll();
}

} // namespace

QString WebOptionsProblem(const WebServerOptions &options)
{
    if (options.certFile.isEmpty() != options.keyFile.isEmpty())
        return QStringLiteral("--http-cert and --http-key go together");
    if (options.address.host.isLoopback())
        return QString();
    if (!options.login || options.certFile.isEmpty())
        return QStringLiteral("--http %1 is reachable from other computers: it needs "
                              "--http-login FILE and --http-cert FILE --http-key FILE, so that "
                              "only those who know the password see the view, over TLS")
            .arg(options.address.host.toString());
    return QString();
}

WebServer::WebServer(const Database &db, const WebServerOptions &options,
                     std::function<void(const QString &)> log, QObject *parent)
    : QAbstractHttpServer(parent), m_db(db), m_options(options), m_log(std::move(log))
{
}

WebServer::~WebServer() = default;

QString WebServer::start()
{
    std::optional<QSslConfiguration> tls;
    if (!m_options.certFile.isEmpty()) {
        if (!QSslSocket::supportsSsl())
            return QStringLiteral("TLS is not available: ") +
                   QSslSocket::sslLibraryBuildVersionString();
        QString problem;
        const QByteArray certData = readAll(m_options.certFile, &problem);
        const QByteArray keyData =
            problem.isEmpty() ? readAll(m_options.keyFile, &problem) : QByteArray();
        if (!problem.isEmpty())
            return QStringLiteral("cannot read ") + problem;
        const QList<QSslCertificate> chain = QSslCertificate::fromData(certData, QSsl::Pem);
        if (chain.isEmpty())
            return QStringLiteral("%1 holds no PEM certificate").arg(m_options.certFile);
        QSslKey key(keyData, QSsl::Rsa, QSsl::Pem);
        if (key.isNull())
            key = QSslKey(keyData, QSsl::Ec, QSsl::Pem);
        if (key.isNull())
            return QStringLiteral("%1 holds no PEM private key (RSA or EC, without passphrase)")
                .arg(m_options.keyFile);
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificateChain(chain);
        config.setPrivateKey(key);
        config.setProtocol(QSsl::TlsV1_2OrLater);
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        tls = config;
    }
    auto *listener = new GuardedListener(tls, this);
    if (!listener->listen(m_options.address.host, m_options.address.port)) {
        const QString problem = QStringLiteral("cannot listen on %1:%2: %3")
                                    .arg(m_options.address.host.toString())
                                    .arg(m_options.address.port)
                                    .arg(listener->errorString());
        delete listener;
        return problem;
    }
    bind(listener);
    m_listener = listener;
    return QString();
}

bool WebServer::knownController(int id) const
{
    for (const ControllerView &c : m_snapshot.controllers)
        if (c.status.id == id)
            return true;
    return m_db.controllerIdInUse(id);
}

WebServer::Answer WebServer::controllerAnswer(int id, const QString &what, const QUrlQuery &query)
{
    if (!knownController(id))
        return {404,
                "text/html; charset=utf-8",
                ErrorPage(404, ms("Unbekannter Tarvelon: ") + QString::number(id)),
                {}};
    QString problem;
    const auto request = ParseChartRequest(id, query, QDateTime::currentDateTime(), &problem);
    if (!request)
        return {400, "text/html; charset=utf-8", ErrorPage(400, problem), {}};
    if (what.isEmpty())
        return {200,
                "text/html; charset=utf-8",
                ChartPage(*request, m_db.logbookEntries(request->from, request->to)),
                {}};
    // The chart of every sensor with values in the range, as `ostracom-cli chart` draws it.
    const ChartPlot plot = BuildControllerPlot(m_db, id, {}, request->from, request->to,
                                               kChartWidth - kChartFrameWidth);
    if (what == QLatin1String("chart.csv"))
        return {200,
                "text/csv; charset=utf-8",
                PlotCsv(plot).toUtf8(),
                {{"Content-Disposition",
                  QStringLiteral("inline; filename=\"tarvelon-%1.csv\"").arg(id).toUtf8()}}};
    QBuffer svg;
    svg.open(QIODevice::WriteOnly);
    if (!RenderChartSvg(plot, &svg, kChartWidth, kChartHeight))
        return {500,
                "text/html; charset=utf-8",
                ErrorPage(500, ms("Das Diagramm konnte nicht gezeichnet werden")),
                {}};
    return {200, "image/svg+xml", svg.data(), {}};
}

WebServer::Answer WebServer::answer(const QHttpServerRequest &request)
{
    using Method = QHttpServerRequest::Method;
    if (request.method() != Method::Get && request.method() != Method::Head)
        return {405,
                "text/html; charset=utf-8",
                ErrorPage(405, ms("Die Web-Ansicht kann nur lesen")),
                {{"Allow", "GET, HEAD"}}};
    if (m_options.login) {
        const QByteArray authorization = request.value("Authorization");
        if (!BasicAuthMatches(authorization, *m_options.login)) {
            if (!authorization.isEmpty() && m_log)
                m_log(QStringLiteral("web: wrong user or password for '%1' from %2")
                          .arg(BasicAuthUser(authorization).left(64),
                               request.remoteAddress().toString()));
            return {401,
                    "text/html; charset=utf-8",
                    ErrorPage(401, ms("Anmeldung erforderlich")),
                    {{"WWW-Authenticate", "Basic realm=\"Ostracom\", charset=\"UTF-8\""}}};
        }
    }
    const QString path = request.url().path();
    const QUrlQuery query(request.url());
    if (path == QLatin1String("/"))
        return {200, "text/html; charset=utf-8", ListPage(m_snapshot), {}};
    if (path == QLatin1String("/status.json"))
        return {200, "application/json", StatusJson(m_snapshot), {}};
    static const QRegularExpression controller(
        QStringLiteral("^/controller/([0-9]{1,9})(?:/(chart\\.svg|chart\\.csv))?$"));
    if (const auto m = controller.match(path); m.hasMatch()) {
        try {
            return controllerAnswer(m.captured(1).toInt(), m.captured(2), query);
        } catch (const StoreError &e) {
            return {503, "text/html; charset=utf-8", ErrorPage(503, errorText(e.error())), {}};
        }
    }
    return {404, "text/html; charset=utf-8", ErrorPage(404, ms("Diese Seite gibt es nicht")), {}};
}

bool WebServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const Answer a = answer(request);
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(static_cast<Status>(a.status));
    responder.writeHeader("Content-Type", a.type);
    responder.writeHeader("Content-Length", QByteArray::number(a.body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    // Nothing but the view's own pictures, and nothing that runs.
    responder.writeHeader("Content-Security-Policy",
                          "default-src 'none'; style-src 'unsafe-inline'; img-src 'self'; "
                          "form-action 'self'; frame-ancestors 'none'");
    for (const auto &[name, value] : a.headers)
        responder.writeHeader(name, value);
    if (request.method() == QHttpServerRequest::Method::Head)
        responder.writeBody("", 0);
    else
        responder.writeBody(a.body);
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    // Every request is answered by handleRequest; this is never reached.
    makeResponder(request, socket).write(Status::NotFound);
}
