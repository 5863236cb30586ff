// The web view's pages and options, made from views without a socket.

#include "web/web_pages.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace
{

ControllerView controller(int id, RegulationState state, const QString &shown)
{
    ControllerView c;
    c.status.id = id;
    c.status.address = QStringLiteral("tcp:10.0.0.%1:4001").arg(id);
    c.status.connected = true;
    c.status.state = state;
    c.status.lastDownload = QDateTime(QDate(2026, 12, 7), QTime(17, 30, 5));
    c.version = QStringLiteral("3.10-2");
    c.sensors.append({3, QStringLiteral("Temperatur"), QStringLiteral("°C"), 25.4999, 1, shown,
                      c.status.lastDownload});
    return c;
}

WebSnapshot snapshot()
{
    WebSnapshot s;
    s.controllers = {controller(11, RegulationState::Normal, QStringLiteral("25.5 °C")),
                     controller(12, RegulationState::Warning, QStringLiteral("26.5 °C")),
                     controller(13, RegulationState::Alarm, QStringLiteral("<b>27.5</b> °C"))};
    ControllerView silent;
    silent.status.address = QStringLiteral("tcp:<host>:4001");
    silent.status.lastError = Error(ErrorCode::Timeout);
    s.controllers.append(silent);
    s.service.spoolBacklog = 42;
    s.service.mailsWaiting = 2;
    s.service.mailFailure = QStringLiteral("server <down>");
    s.lastCycleMs = 312;
    s.taken = QDateTime(QDate(2026, 12, 7), QTime(17, 30, 9));
    return s;
}

TEST(WebPages, theListShowsEachControllerAsTheWindowDoesWithEveryOutsideTextEscaped)
{
    const QString html = QString::fromUtf8(ListPage(snapshot()));
    for (const char *part :
         {"<meta name=\"viewport\"", "<meta http-equiv=\"refresh\" content=\"10\">",
          "<tr><td><a href=\"/controller/11\">11</a></td><td>3.10-2</td><td>25.5 °C</td>",
          "<tr class=\"warning\"><td><a href=\"/controller/12\">12</a>",
          "&lt;b&gt;27.5&lt;/b&gt; °C", "<td>tcp:&lt;host&gt;:4001</td>", "<th>Sensor 3</th>",
          "Messwerte warten im Zwischenspeicher: 42",
          "E-Mails warten auf den Versand: 2 (Letzter Fehler: server &lt;down&gt;)",
          "tr.alarm td{background:rgb(255,160,160)}"})
        EXPECT_TRUE(html.contains(QString::fromUtf8(part))) << part << "\n" << html.toStdString();
    EXPECT_FALSE(html.contains("<b>27.5")) << "a controller's text is never markup";
    EXPECT_FALSE(html.contains("Sensor 1")) << "no column for a sensor nobody fitted";
    EXPECT_FALSE(html.contains("http://")) << "no outside asset: the page works offline";
    EXPECT_TRUE(html.contains("<td title=\"\">Fehler: ")) << "the silent one shows its error";
    EXPECT_TRUE(html.contains(">Alarm - 17:30:05</td>")) << "state and last download";
}

TEST(WebPages, statusJsonHoldsTheServiceAndEachController)
{
    const QJsonObject root = QJsonDocument::fromJson(StatusJson(snapshot())).object();
    const QJsonObject service = root.value("service").toObject();
    EXPECT_EQ(service.value("spoolBacklog").toInt(), 42);
    EXPECT_EQ(service.value("outbox").toInt(), 2);
    EXPECT_EQ(service.value("lastCycleMs").toInt(), 312);
    const QJsonArray controllers = root.value("controllers").toArray();
    ASSERT_EQ(controllers.size(), 4);
    const QJsonObject alarm = controllers[2].toObject();
    EXPECT_EQ(alarm.value("lastDownload").toString(), "2026-12-07T17:30:05");
    const QJsonObject sensor = alarm.value("sensors").toArray().first().toObject();
    EXPECT_DOUBLE_EQ(sensor.value("value").toDouble(), 25.5) << "in the display's decimals";
    const QJsonObject silent = controllers[3].toObject();
    EXPECT_FALSE(silent.value("lastError").toString().isEmpty());
    EXPECT_TRUE(silent.value("lastDownload").isNull());
}

TEST(WebPages, chartRequestsBySpanOrRange)
{
    const QDateTime now(QDate(2026, 3, 31), QTime(12, 0));
    const struct {
        const char *query;
        const char *from; // empty: refused
        const char *to;
    } cases[] = {
        {"", "2026-03-30T12:00:00", "2026-03-31T12:00:00"},
        {"span=week", "2026-03-24T12:00:00", "2026-03-31T12:00:00"},
        {"span=month", "2026-02-28T12:00:00", "2026-03-31T12:00:00"},
        {"span=year", "2025-03-31T12:00:00", "2026-03-31T12:00:00"},
        {"from=2026-01-02&to=2026-01-03", "2026-01-02T00:00:00", "2026-01-03T23:59:59"},
        {"from=2026-01-02T08:15&to=2026-01-02%2009:30:10", "2026-01-02T08:15:00",
         "2026-01-02T09:30:10"},
        {"from=2026-01-02", "", ""},
        {"from=yesterday&to=2026-01-03", "", ""},
    };
    for (const auto &c : cases) {
        QString problem;
        const auto r = ParseChartRequest(7, QUrlQuery(QString::fromLatin1(c.query)), now, &problem);
        if (!*c.from) {
            EXPECT_FALSE(r) << c.query;
            EXPECT_FALSE(problem.isEmpty()) << c.query;
            continue;
        }
        ASSERT_TRUE(r) << c.query << ": " << problem.toStdString();
        EXPECT_EQ(r->from.toString(Qt::ISODate), c.from) << c.query;
        EXPECT_EQ(r->to.toString(Qt::ISODate), c.to) << c.query;
        // The picture and CSV links ask for the same chart again.
        QString again;
        const auto same = ParseChartRequest(7, QUrlQuery(r->query()), now, &again);
        ASSERT_TRUE(same) << r->query().toStdString();
        EXPECT_EQ(same->from, r->from);
        EXPECT_EQ(same->to, r->to);
    }
}

TEST(WebPages, theChartPageLinksThePointsAndEscapesTheLogbook)
{
    QString problem;
    const auto r =
        ParseChartRequest(1234, QUrlQuery("span=hour"), QDateTime::currentDateTime(), &problem);
    ASSERT_TRUE(r);
    const QString html = QString::fromUtf8(
        ChartPage(*r, {{QDateTime(QDate(2026, 12, 7), QTime(9, 0)), "Filter <cleaned> & fed"}}));
    for (const char *part :
         {"<a href=\"/controller/1234/chart.csv?span=hour\">", "name=\"from\"", "name=\"to\"",
          "<a href=\"/controller/1234?span=year\">", "Filter &lt;cleaned&gt; &amp; fed"})
        EXPECT_TRUE(html.contains(QLatin1String(part))) << part << "\n" << html.toStdString();
}

TEST(WebPages, addressesAndPasswords)
{
    const struct {
        const char *text;
        const char *host; // empty: refused
        int port;
    } addresses[] = {
        {"[::1]:80", "::1", 80},    {"localhost:9000", "127.0.0.1", 9000},
        {"127.0.0.1", "", 0},       {"127.0.0.1:0", "", 0},
        {"127.0.0.1:70000", "", 0}, {"example.org:80", "", 0},
        {"::1:80", "", 0},
    };
    for (const auto &a : addresses) {
        QString problem;
        const auto parsed = ParseWebAddress(QLatin1String(a.text), &problem);
        EXPECT_EQ(parsed.has_value(), *a.host != 0) << a.text;
        if (parsed) {
            EXPECT_EQ(parsed->host.toString(), a.host);
            EXPECT_EQ(parsed->port, a.port);
        } else {
            EXPECT_TRUE(problem.contains(QLatin1String(a.text))) << problem.toStdString();
        }
    }

    const WebLogin login{QStringLiteral("keeper"), QStringLiteral("salt water")};
    const struct {
        QByteArray header;
        bool matches;
        const char *user;
    } headers[] = {
        {"Basic " + QByteArray("keeper:salt water").toBase64(), true, "keeper"},
        {"Basic " + QByteArray("keeper:salt wate").toBase64(), false, "keeper"},
        {"Basic " + QByteArray("keeper:salt water!").toBase64(), false, "keeper"},
        {"Basic " + QByteArray("keepe:salt water").toBase64(), false, "keepe"},
        {"Basic " + QByteArray("keeper").toBase64(), false, ""},
        {"Basic ***", false, ""},
        {"Bearer " + QByteArray("keeper:salt water").toBase64(), false, ""},
        {"", false, ""},
    };
    for (const auto &h : headers) {
        EXPECT_EQ(BasicAuthMatches(h.header, login), h.matches) << h.header.toStdString();
        EXPECT_EQ(BasicAuthUser(h.header), h.user) << h.header.toStdString();
    }
}

} // namespace
