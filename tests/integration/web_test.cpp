// The web view of `ostracom-cli poll` against the emulator, as a browser, a script and an
// intruder meet it: pages, status.json, charts and their points, refused writes, the login
// over TLS, oversized requests and clients that hold connections open.

#include "support/cli_run.h"
#include "support/files.h"
#include "support/loopback.h"
#include "support/sim_process.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#ifdef QT_GUI_LIB
#include <QImage>
#endif
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <memory>
#include <optional>
#include <vector>

namespace
{

constexpr int kMaxConnections = 16; // the server's bound

struct Reply {
    int status = 0; // 0: no answer
    QByteArray head;
    QByteArray body;
};

// One request on a connection of its own, the answer read until the server closes or the
// announced length arrived.
Reply request(quint16 port, const QByteArray &method, const QByteArray &path,
              const QByteArray &extra = {}, bool tls = false)
{
    std::unique_ptr<QTcpSocket> socket;
    if (tls) {
        auto *ssl = new QSslSocket;
        ssl->setPeerVerifyMode(QSslSocket::VerifyNone); // the test's own self-signed certificate
        ssl->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        socket.reset(ssl);
        if (!ssl->waitForEncrypted(10000))
            return {};
    } else {
        socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, port);
        if (!socket->waitForConnected(10000))
            return {};
    }
    socket->write(method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                  extra + "\r\n");
    QByteArray data;
    QDeadlineTimer deadline(60000);
    qsizetype headEnd = -1;
    qsizetype length = -1;
    while (!deadline.hasExpired()) {
        if (socket->bytesAvailable() == 0 && !socket->waitForReadyRead(200) &&
            socket->state() != QAbstractSocket::ConnectedState)
            break;
        data += socket->readAll();
        if (headEnd < 0 && (headEnd = data.indexOf("\r\n\r\n")) >= 0) {
            const auto m = QRegularExpression(QStringLiteral("(?i)\\r\\ncontent-length: *(\\d+)"))
                               .match(QString::fromLatin1(data.left(headEnd)));
            length = m.hasMatch() ? m.captured(1).toLongLong() : -1;
            if (method == "HEAD")
                length = 0;
        }
        if (headEnd >= 0 && length >= 0 && data.size() >= headEnd + 4 + length)
            break;
    }
    Reply r;
    if (headEnd < 0)
        return r;
    r.head = data.left(headEnd);
    r.body = data.mid(headEnd + 4);
    r.status = r.head.mid(9, 3).toInt();
    return r;
}

QJsonObject statusJson(quint16 port)
{
    return QJsonDocument::fromJson(request(port, "GET", "/status.json").body).object();
}

long residentKiB(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const auto m = QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+)"))
                       .match(QString::fromLatin1(f.readAll()));
    return m.hasMatch() ? m.captured(1).toLong() : -1;
}

// An emulated controller whose temperature is in alarm, polled every second with the web view.
class Web : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureCoreApplication();
        const QString values = m_sim.scratchPath(QStringLiteral("values.txt"));
        ASSERT_TRUE(writeTestFile(values, "1=27.5\n"));
        ASSERT_TRUE(m_sim.launch({"--quiet", "--interval", "1", "--values", values}));
        m_address = QStringLiteral("tcp:127.0.0.1:%1").arg(m_sim.port());
        m_port = closedLocalPort();
    }
    QStringList global() const { return {"--data-dir", m_data.path(), "--lang", "ENGLISH"}; }
    QStringList pollArgs(const QString &http) const
    {
        return global() +
               QStringList{"poll", "--controller", m_address, "--interval", "1", "--http", http};
    }
    // Polls with the view on loopback until the controller's values are on status.json.
    void startPolling(const QStringList &environment = {})
    {
        // Warning above 26 °C, alarm above 27 °C (set before the poller holds the emulator).
        const CliRun program =
            runCli(global() + QStringList{"program", "--controller", m_address, "set",
                                          "Regelung(1,1).SW_ObereWarnung=26"});
        ASSERT_EQ(program.exitCode, 0) << program.err.toStdString();
        m_poll.emplace(pollArgs(QStringLiteral("127.0.0.1:%1").arg(m_port)),
                       CliCall{.environment = environment});
        ASSERT_TRUE(m_poll->collect(30000, [&] {
            const QJsonArray c = statusJson(m_port).value("controllers").toArray();
            return !c.isEmpty() && c[0].toObject().value("state").toString() == "alarm";
        })) << m_poll->output().toStdString();
    }
    int cycles() { return statusJson(m_port).value("service").toObject().value("cycles").toInt(); }

    QTemporaryDir m_data;
    SimProcess m_sim;
    QString m_address;
    quint16 m_port = 0;
    std::optional<WatchedCli> m_poll;
};

TEST_F(Web, servesTheListStatusChartsAndPointsAndNothingElse)
{
    ASSERT_NO_FATAL_FAILURE(startPolling());

    const Reply list = request(m_port, "GET", "/");
    EXPECT_EQ(list.status, 200);
    for (const char *part : {"<tr class=\"alarm\"><td><a href=\"/controller/1234\">1234</a>",
                             "27.5 °C", "<th>Sensor 1</th>", "Alarm - "})
        EXPECT_TRUE(QString::fromUtf8(list.body).contains(QString::fromUtf8(part)))
            << part << "\n"
            << list.body.toStdString();

    const QJsonObject controller =
        statusJson(m_port).value("controllers").toArray().first().toObject();
    EXPECT_EQ(controller.value("id").toInt(), 1234);
    EXPECT_EQ(controller.value("address").toString(), m_address);
    EXPECT_TRUE(controller.value("connected").toBool());
    EXPECT_FALSE(controller.value("lastDownload").toString().isEmpty());
    const QJsonObject sensor = controller.value("sensors").toArray().first().toObject();
    EXPECT_EQ(sensor.value("number").toInt(), 1);
    EXPECT_DOUBLE_EQ(sensor.value("value").toDouble(), 27.5);
    EXPECT_EQ(sensor.value("unit").toString(), "°C");

    const Reply page = request(m_port, "GET", "/controller/1234?span=hour");
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.contains("/controller/1234/chart.svg?span=hour"));
    const Reply svg = request(m_port, "GET", "/controller/1234/chart.svg?span=hour");
    EXPECT_EQ(svg.status, 200);
    EXPECT_TRUE(svg.head.contains("image/svg+xml"));
    EXPECT_TRUE(svg.body.contains("<svg")) << svg.body.left(300).toStdString();
    EXPECT_TRUE(svg.body.contains("1234 Sensor 1")) << "the sensor's series is in the legend";

    // The CSV holds exactly the points `ostracom-cli chart` draws for the same range: one in
    // the past, so that no download adds to it between the two.
    const QDateTime to = QDateTime::currentDateTime().addSecs(-3);
    QThread::sleep(4);
    const QString range =
        QStringLiteral("from=%1&to=%2")
            .arg(to.addSecs(-600).toString(Qt::ISODate), to.toString(Qt::ISODate));
    const Reply csv = request(m_port, "GET", "/controller/1234/chart.csv?" + range.toLatin1());
    EXPECT_EQ(csv.status, 200);
    QTemporaryDir out;
    const CliRun chart = runCli(
        global() + QStringList{"chart", "--controller", "1234", "--from",
                               to.addSecs(-600).toString("yyyy-MM-dd HH:mm:ss"), "--to",
                               to.toString("yyyy-MM-dd HH:mm:ss"), "--out", out.filePath("p.csv")});
    ASSERT_EQ(chart.exitCode, 0) << chart.err.toStdString();
    QFile drawn(out.filePath("p.csv"));
    ASSERT_TRUE(drawn.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.body, drawn.readAll());
    EXPECT_GT(csv.body.count(",1,"), 1) << csv.body.toStdString();

    const struct {
        QByteArray method;
        QByteArray path;
        int status;
    } refused[] = {
        {"POST", "/", 405},
        {"PUT", "/status.json", 405},
        {"DELETE", "/controller/1234", 405},
        {"GET", "/controller/999", 404},
        {"GET", "/controller/999/chart.csv", 404},
        {"GET", "/nothing", 404},
        {"GET", "/controller/1234?span=decade", 400},
        {"GET", "/controller/1234/chart.svg?from=2026-01-02&to=2026-01-01", 400},
    };
    for (const auto &r : refused)
        EXPECT_EQ(request(m_port, r.method, r.path, "Content-Length: 0\r\n").status, r.status)
            << r.method.toStdString() << " " << r.path.toStdString();
    const Reply head = request(m_port, "HEAD", "/");
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.isEmpty());
}

TEST_F(Web, noClientHoldsUpTheCyclesOrTheMemory)
{
    // The address sanitizer keeps freed memory aside to catch late uses: without that, the
    // resident size is the memory the poller holds, as in the plain build.
    ASSERT_NO_FATAL_FAILURE(startPolling({"ASAN_OPTIONS=quarantine_size_mb=0"}));
    const long before = residentKiB(m_poll->pid());

    // Every connection the server allows taken by a client that sends half a header and
    // waits: cycles go on, one more client is turned away.
    QThread::msleep(1000); // the connections of the requests above are gone
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < kMaxConnections; ++i) {
        held.push_back(std::make_unique<QTcpSocket>());
        held.back()->connectToHost(QHostAddress::LocalHost, m_port);
        ASSERT_TRUE(held.back()->waitForConnected(5000));
        held.back()->write("GET / HTTP/1.1\r\nHost: x\r\n");
        held.back()->flush();
    }
    QThread::msleep(500);
    QTcpSocket extra;
    extra.connectToHost(QHostAddress::LocalHost, m_port);
    ASSERT_TRUE(extra.waitForConnected(5000));
    QByteArray refusal;
    for (QDeadlineTimer d(5000); !refusal.contains("\r\n\r\n") && !d.hasExpired();) {
        extra.waitForReadyRead(100);
        refusal += extra.readAll();
    }
    EXPECT_TRUE(refusal.startsWith("HTTP/1.1 503"))
        << "beyond the bound: " << refusal.toStdString();
    const qint64 pid = m_poll->pid();
    // The cycles are seen in the poller's own output while the view is full.
    m_poll->collect(200); // what it said up to now
    const qsizetype cyclesBefore = m_poll->output().count("#1234");
    ASSERT_TRUE(m_poll->collect(30000, [&] {
        return m_poll->output().count("#1234") >= cyclesBefore + 3;
    })) << "cycles go on while every connection is held";
    held.clear();

    // A 10 MB request is cut off after its first kilobytes, not kept.
    QTcpSocket big;
    big.connectToHost(QHostAddress::LocalHost, m_port);
    ASSERT_TRUE(big.waitForConnected(5000));
    const QByteArray chunk(64 * 1024, 'x');
    big.write("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 10485760\r\n\r\n");
    qint64 sent = 0;
    QByteArray answer;
    while (sent < 10 * 1024 * 1024 && big.state() == QAbstractSocket::ConnectedState) {
        sent += big.write(chunk);
        big.waitForBytesWritten(1000);
        answer += big.readAll();
    }
    big.waitForReadyRead(2000);
    answer += big.readAll();
    // The answer may be lost when the server resets a connection it stopped reading.
    EXPECT_TRUE(answer.isEmpty() || answer.startsWith("HTTP/1.1 413"))
        << answer.left(100).toStdString();
    EXPECT_LT(sent, 10 * 1024 * 1024) << "the server closed before taking it all";
    const long after = residentKiB(pid);
    EXPECT_LT(after - before, 4 * 1024) << before << " KiB before, " << after << " KiB after";
    EXPECT_EQ(request(m_port, "GET", "/").status, 200) << "and it still serves";
}

TEST_F(Web, otherAddressesNeedALoginAndTls)
{
    QTemporaryDir dir;
    const QString login = dir.filePath("login");
    ASSERT_TRUE(writeTestFile(login, "keeper\nsalt water\n", 0644));
    const QString cert = dir.filePath("cert.pem");
    const QString key = dir.filePath("key.pem");
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                              "-out", cert, "-days", "1", "-subj", "/CN=localhost"});
    ASSERT_TRUE(openssl.waitForFinished(60000) && openssl.exitCode() == 0)
        << "openssl (scripts/setup installs it): " << openssl.readAllStandardError().toStdString();
    const QString anywhere = QStringLiteral("0.0.0.0:%1").arg(m_port);
    const QStringList tls{"--http-cert", cert, "--http-key", key};

    const CliRun bare = runCli(pollArgs(anywhere) + QStringList{"--cycles", "1"});
    EXPECT_EQ(bare.exitCode, 2);
    EXPECT_TRUE(bare.err.contains("--http-login")) << bare.err.toStdString();
    const CliRun open = runCli(pollArgs(anywhere) + tls + QStringList{"--http-login", login});
    EXPECT_EQ(open.exitCode, 1) << "a login file others may read";
    EXPECT_TRUE(open.err.contains("chmod 600")) << open.err.toStdString();
    ASSERT_TRUE(writeTestFile(login, "keeper\nsalt water\n"));
    const CliRun noTls = runCli(pollArgs(anywhere) + QStringList{"--http-login", login});
    EXPECT_EQ(noTls.exitCode, 2);

    m_poll.emplace(pollArgs(anywhere) + tls + QStringList{"--http-login", login});
    const auto basic = [](const QByteArray &userPassword) {
        return "Authorization: Basic " + userPassword.toBase64() + "\r\n";
    };
    ASSERT_TRUE(m_poll->collect(30000, [&] {
        return request(m_port, "GET", "/", {}, true).status == 401;
    })) << m_poll->output().toStdString();
    EXPECT_EQ(request(m_port, "GET", "/", basic("keeper:sea water"), true).status, 401);
    EXPECT_EQ(request(m_port, "GET", "/status.json", basic("keeper:salt water"), true).status, 200);
    EXPECT_EQ(request(m_port, "POST", "/", basic("keeper:salt water"), true).status, 405);
    EXPECT_EQ(request(m_port, "GET", "/").status, 0) << "no answer without TLS";
    m_poll->signal(SIGTERM);
    ASSERT_TRUE(m_poll->finish(15000));
    const QString &log = m_poll->output();
    EXPECT_EQ(log.count("wrong user or password for 'keeper'"), 1) << log.toStdString();
    EXPECT_FALSE(log.contains("water")) << "no password in the log";
}

// Chromium draws the pages as a user's browser does; the pictures are kept for people to see.
TEST_F(Web, aBrowserShowsTheListAndAChart)
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        GTEST_SKIP() << "needs Debian's package chromium (scripts/setup installs it)";
    ASSERT_NO_FATAL_FAILURE(startPolling());
    QThread::sleep(3); // a few points on the chart
    const QString dir = QStringLiteral(OSTRACOM_SOURCE_DIR "/build/screenshots");
    QDir().mkpath(dir);
    const struct {
        const char *file;
        const char *path;
        const char *size;
    } shots[] = {{"web_list.png", "/", "900,500"},
                 {"web_chart.png", "/controller/1234?span=hour", "1100,1100"}};
    for (const auto &s : shots) {
        const QString file = dir + QLatin1Char('/') + QLatin1String(s.file);
        QFile::remove(file);
        QTemporaryDir profile;
        QProcess browser;
        browser.start(chromium, {"--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                                 "--user-data-dir=" + profile.path(), "--screenshot=" + file,
                                 QStringLiteral("--window-size=%1").arg(QLatin1String(s.size)),
                                 QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(s.path)});
        ASSERT_TRUE(browser.waitForFinished(120000)) << "chromium hung";
        QFile png(file);
        ASSERT_TRUE(png.open(QIODevice::ReadOnly))
            << s.file << ": " << browser.readAllStandardError().toStdString();
        EXPECT_TRUE(png.read(8).startsWith("\x89PNG"));
        EXPECT_GT(png.size(), 10000) << s.file << " holds next to nothing";
#ifdef QT_GUI_LIB
        // A page that drew: many colours, the alarm row's among them on the list.
        const QImage shot(file);
        QSet<QRgb> colours;
        for (int y = 0; y < shot.height(); y += 2)
            for (int x = 0; x < shot.width(); x += 2)
                colours.insert(shot.pixel(x, y) & 0xffffff);
        EXPECT_GT(colours.size(), 20) << s.file;
        if (QLatin1String(s.file) == QLatin1String("web_list.png"))
            EXPECT_TRUE(colours.contains(qRgb(255, 160, 160) & 0xffffff)) << "the alarm row";
#endif
    }
}

} // namespace
