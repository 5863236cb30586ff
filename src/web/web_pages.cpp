#include "web/web_pages.h"

#include "model/error_text.h"
#include "store/private_file.h"
#include "store/strings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>


namespace
{

constexpr int kSensors = 8;

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

// The main window's row colours, so that a row reads the same in both.
constexpr const char *kStyle =
    "body{font-family:sans-serif;margin:0.5em;color:#111;background:#fff}"
    "h1{font-size:1.3em;margin:0.3em 0}h2{font-size:1.1em}"
    ".wide{overflow-x:auto}"
    "table{border-collapse:collapse}"
    "th,td{border:1px solid #bbb;padding:0.3em 0.5em;text-align:left;white-space:nowrap}"
    "th{background:#eee}"
    "tr.warning td{background:rgb(255,236,160)}"
    "tr.alarm td{background:rgb(255,160,160)}"
    ".notes{margin:0.5em 0;padding:0.3em;background:#f4f4f4}"
    ".notes p{margin:0.2em 0}"
    "img{max-width:100%;height:auto;border:1px solid #bbb}"
    "form{margin:0.5em 0}form label{margin-right:0.5em;display:inline-block}"
    "nav a{margin-right:0.8em;display:inline-block;padding:0.2em 0}";

QByteArray page(const QString &title, const QString &body, bool reloads)
{
    QString html = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                                  "<meta name=\"viewport\" content=\"width=device-width, "
                                  "initial-scale=1\">");
    if (reloads)
        html += QStringLiteral("<meta http-equiv=\"refresh\" content=\"10\">");
    html += QStringLiteral("<title>%1</title><style>%2</style></head>\n<body>\n")
                .arg(esc(title), QLatin1String(kStyle));
    html += body;
    html += QStringLiteral("</body></html>\n");
    return html.toUtf8();
}

QString timeText(const QDateTime &t)
{
    return QLocale().toString(t, QLocale::ShortFormat);
}

// The state a row shows: a controller without data counts as an alarm, as in the window.
QString rowClass(const ControllerStatus &s)
{
    if (s.stale || s.state == RegulationState::Alarm)
        return QStringLiteral("alarm");
    if (s.state == RegulationState::Warning)
        return QStringLiteral("warning");
    return QString();
}

// The status column of the main window: state, no data, the error or the last download.
QString statusText(const ControllerStatus &s)
{
    QStringList text;
    if (s.state == RegulationState::Alarm)
        text << ms("Alarm");
    else if (s.state == RegulationState::Warning)
        text << ms("Warnung");
    if (s.stale)
        text << ms("Keine Daten") + QLatin1Char(' ') + ms("seit") + QLatin1Char(' ') +
                    timeText(s.staleSince);
    if (!s.lastError.ok())
        text << ms("Fehler") + QStringLiteral(": ") + errorText(s.lastError).simplified();
    else if (s.lastDownload.isValid())
        text << QLocale().toString(s.lastDownload, QStringLiteral("HH:mm:ss"));
    return text.join(QStringLiteral(" - "));
}

// What the poll output says of the whole service.
QStringList serviceNotes(const ServiceStatus &st)
{
    QStringList notes;
    if (st.spoolBacklog > 0)
        notes << ms("Messwerte warten im Zwischenspeicher: ") + QString::number(st.spoolBacklog);
    if (!st.spoolProblem.isEmpty())
        notes << ms("Zwischenspeicher: ") + st.spoolProblem;
    if (st.mailsWaiting > 0)
        notes << ms("E-Mails warten auf den Versand: ") + QString::number(st.mailsWaiting) +
                     (st.mailFailure.isEmpty() ? QString()
                                               : QStringLiteral(" (") + ms("Letzter Fehler: ") +
                                                     st.mailFailure + QLatin1Char(')'));
    if (!st.mailProblem.isEmpty())
        notes << ms("E-Mail konnte nicht versendet werden: ") + st.mailProblem;
    if (!st.settingsProblem.isEmpty())
        notes << ms("Einstellungen konnten nicht gelesen werden: ") + st.settingsProblem;
    return notes;
}

// A value in its display's decimals, so that 25.3 does not read 25.299999237.
double rounded(double value, int decimals)
{
    const double scale = std::pow(10.0, std::clamp(decimals, 0, 6));
    return std::round(value * scale) / scale;
}

QString isoTime(const QDateTime &t)
{
    return t.isValid() ? t.toString(Qt::ISODate) : QString();
}

QJsonValue isoOrNull(const QDateTime &t)
{
    return t.isValid() ? QJsonValue(t.toString(Qt::ISODate)) : QJsonValue();
}

std::optional<QDateTime> parseTime(QString text, bool endOfDay)
{
    text = text.trimmed();
    text.replace(QLatin1Char('T'), QLatin1Char(' '));
    const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (date.isValid())
        return QDateTime(date, endOfDay ? QTime(23, 59, 59) : QTime(0, 0));
    for (const char *format : {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm"}) {
        const QDateTime t = QDateTime::fromString(text, QLatin1String(format));
        if (t.isValid())
            return t;
    }
    return std::nullopt;
}

// Equal in time that depends on the longer length only.
bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    const qsizetype n = std::max(a.size(), b.size());
    unsigned diff = a.size() == b.size() ? 0u : 1u;
    for (qsizetype i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
        const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
        diff |= unsigned(x ^ y);
    }
    return diff == 0;
}

// user and password of a Basic Authorization header, or nothing.
std::optional<std::pair<QByteArray, QByteArray>> basicCredentials(const QByteArray &header)
{
    const QByteArray h = header.trimmed();
    if (!h.startsWith("Basic ") && !h.startsWith("basic "))
        return std::nullopt;
    const auto decoded =
        QByteArray::fromBase64Encoding(h.mid(6).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    const qsizetype colon = decoded.decoded.indexOf(':');
    if (colon < 0)
        return std::nullopt;
    return std::make_pair(decoded.decoded.left(colon), decoded.decoded.mid(colon + 1));
}

} // namespace

QByteArray ListPage(const WebSnapshot &snapshot)
{
    // Only the sensor places some controller has fitted; a phone has no room for empty ones.
    bool fitted[kSensors + 1] = {};
    for (const ControllerView &c : snapshot.controllers)
        for (const SensorView &s : c.sensors)
            if (s.number >= 1 && s.number <= kSensors)
                fitted[s.number] = true;
    QString body = QStringLiteral("<h1>Ostracom</h1>\n");
    const QStringList notes = serviceNotes(snapshot.service);
    body += QStringLiteral("<div class=\"notes\"><p>%1</p>")
                .arg(esc(timeText(snapshot.taken.isValid() ? snapshot.taken
                                                           : QDateTime::currentDateTime())));
    for (const QString &note : notes)
        body += QStringLiteral("<p>%1</p>").arg(esc(note));
    body += QStringLiteral("</div>\n<div class=\"wide\"><table>\n<tr><th>%1</th><th>%2</th>")
                .arg(esc(ms("ID")), esc(ms("Tarvelon Version")));
    for (int s = 1; s <= kSensors; ++s)
        if (fitted[s])
            body += QStringLiteral("<th>%1 %2</th>").arg(esc(ms("Sensor"))).arg(s);
    body += QStringLiteral("<th>%1</th></tr>\n").arg(esc(ms("Status")));
    for (const ControllerView &c : snapshot.controllers) {
        const ControllerStatus &st = c.status;
        const QString cls = rowClass(st);
        QString tip;
        if (st.lastDownload.isValid())
            tip = ms("Letzte Abfrage") + QStringLiteral(": ") +
                  QLocale().toString(st.lastDownload, QStringLiteral("HH:mm:ss")) +
                  QStringLiteral(", ") + QString::number(st.lastRecords) + QLatin1Char(' ') +
                  ms("Messwerte");
        body +=
            cls.isEmpty() ? QStringLiteral("<tr>") : QStringLiteral("<tr class=\"%1\">").arg(cls);
        if (st.id != 0)
            body += QStringLiteral("<td><a href=\"/controller/%1\">%1</a></td>").arg(st.id);
        else
            body += QStringLiteral("<td>%1</td>").arg(esc(st.address));
        body += QStringLiteral("<td>%1</td>").arg(esc(c.version));
        for (int s = 1; s <= kSensors; ++s) {
            if (!fitted[s])
                continue;
            QString shown;
            for (const SensorView &v : c.sensors)
                if (v.number == s)
                    shown = v.shown;
            body += QStringLiteral("<td>%1</td>").arg(esc(shown));
        }
        body +=
            QStringLiteral("<td title=\"%1\">%2</td></tr>\n").arg(esc(tip), esc(statusText(st)));
    }
    body += QStringLiteral("</table></div>\n");
    return page(QStringLiteral("Ostracom"), body, true);
}

QString ChartRequest::query() const
{
    if (!span.isEmpty())
        return QStringLiteral("span=") + span;
    const QString f = QStringLiteral("yyyy-MM-ddTHH:mm:ss");
    return QStringLiteral("from=%1&to=%2").arg(from.toString(f), to.toString(f));
}

std::optional<ChartRequest> ParseChartRequest(int id, const QUrlQuery &query, const QDateTime &now,
                                              QString *problem)
{
    ChartRequest r;
    r.id = id;
    const bool hasRange =
        query.hasQueryItem(QStringLiteral("from")) || query.hasQueryItem(QStringLiteral("to"));
    if (hasRange) {
        const auto from = parseTime(query.queryItemValue(QStringLiteral("from")), false);
        const auto to = parseTime(query.queryItemValue(QStringLiteral("to")), true);
        if (!from || !to) {
            *problem = ms("Von und Bis brauchen eine Zeit JJJJ-MM-TT[ HH:MM[:SS]]");
            return std::nullopt;
        }
        if (*from >= *to) {
            *problem = ms("Von muss vor Bis liegen");
            return std::nullopt;
        }
        r.from = *from;
        r.to = *to;
        return r;
    }
    r.span = query.queryItemValue(QStringLiteral("span"));
    if (r.span.isEmpty())
        r.span = QStringLiteral("day");
    r.to = now;
    if (r.span == QLatin1String("hour"))
        r.from = now.addSecs(-3600);
    else if (r.span == QLatin1String("day"))
        r.from = now.addDays(-1);
    else if (r.span == QLatin1String("week"))
        r.from = now.addDays(-7);
    else if (r.span == QLatin1String("month"))
        r.from = now.addMonths(-1);
    else if (r.span == QLatin1String("year"))
        r.from = now.addYears(-1);
    else {
        *problem = ms("Unbekannter Zeitraum: ") + r.span;
        return std::nullopt;
    }
    return r;
}

QByteArray ChartPage(const ChartRequest &request, const std::vector<LogbookEntry> &logbook)
{
    const QString base = QStringLiteral("/controller/%1").arg(request.id);
    QString body = QStringLiteral("<nav><a href=\"/\">Ostracom</a></nav>\n<h1>%1 %2</h1>\n<nav>")
                       .arg(esc(ms("Tarvelon")))
                       .arg(request.id);
    const std::pair<const char *, const char *> spans[] = {{"hour", "Stunde"},
                                                           {"day", "Tag"},
                                                           {"week", "Woche"},
                                                           {"month", "Monat"},
                                                           {"year", "Jahr"}};
    for (const auto &[span, key] : spans)
        body += QStringLiteral("<a href=\"%1?span=%2\">%3</a>")
                    .arg(base, QLatin1String(span), esc(ms(QLatin1String(key))));
    const QString inputFormat = QStringLiteral("yyyy-MM-ddTHH:mm");
    body += QStringLiteral("</nav>\n<form method=\"get\" action=\"%1\">"
                           "<label>%2 <input type=\"datetime-local\" name=\"from\" value=\"%3\">"
                           "</label><label>%4 <input type=\"datetime-local\" name=\"to\" "
                           "value=\"%5\"></label><button type=\"submit\">%6</button></form>\n")
                .arg(base, esc(ms("Von")), request.from.toString(inputFormat), esc(ms("Bis")),
                     request.to.toString(inputFormat), esc(ms("Anzeigen")));
    const QString query = request.query().toHtmlEscaped();
    body += QStringLiteral("<p>%1 &ndash; %2</p>\n")
                .arg(esc(timeText(request.from)), esc(timeText(request.to)));
    body += QStringLiteral("<p><img src=\"%1/chart.svg?%2\" width=\"1000\" height=\"600\" "
                           "alt=\"%3\"></p>\n<p><a href=\"%1/chart.csv?%2\">%4</a></p>\n")
                .arg(base, query, esc(ms("Diagramm")), esc(ms("Messpunkte als CSV")));
    body += QStringLiteral("<h2>%1</h2>\n").arg(esc(ms("Logbuch")));
    if (logbook.empty()) {
        body += QStringLiteral("<p>%1</p>\n").arg(esc(ms("Keine Einträge")));
    } else {
        body += QStringLiteral("<div class=\"wide\"><table>\n");
        for (const LogbookEntry &e : logbook)
            body += QStringLiteral("<tr><td>%1</td><td style=\"white-space:pre-wrap\">%2</td>"
                                   "</tr>\n")
                        .arg(esc(timeText(e.datum)), esc(e.bemerkung));
        body += QStringLiteral("</table></div>\n");
    }
    return page(ms("Tarvelon") + QStringLiteral(" %1").arg(request.id), body, false);
}

QByteArray ErrorPage(int status, const QString &message)
{
    return page(QString::number(status),
                QStringLiteral("<nav><a href=\"/\">Ostracom</a></nav>\n<h1>%1</h1>\n<p>%2</p>\n")
                    .arg(status)
                    .arg(esc(message)),
                false);
}

QByteArray StatusJson(const WebSnapshot &snapshot)
{
    QJsonArray controllers;
    for (const ControllerView &c : snapshot.controllers) {
        const ControllerStatus &st = c.status;
        QJsonArray sensors;
        for (const SensorView &s : c.sensors)
            sensors.append(QJsonObject{{"number", s.number},
                                       {"type", s.typeName},
                                       {"unit", s.unit},
                                       {"value", rounded(s.value, s.decimals)},
                                       {"shown", s.shown},
                                       {"measured", isoOrNull(s.measured)}});
        controllers.append(QJsonObject{
            {"id", st.id},
            {"address", st.address},
            {"version", c.version},
            {"connected", st.connected},
            {"lastDownload", isoOrNull(st.lastDownload)},
            {"lastRecords", st.lastRecords},
            {"lastError", st.lastError.ok() ? QString() : errorText(st.lastError).simplified()},
            {"state", stateWord(st.state)},
            {"noDataSince", st.stale ? isoOrNull(st.staleSince) : QJsonValue()},
            {"sensors", sensors}});
    }
    const ServiceStatus &sv = snapshot.service;
    const QJsonObject service{
        {"time", isoTime(snapshot.taken)},
        {"cycles", sv.cycles},
        {"lastCycleMs", snapshot.lastCycleMs < 0 ? QJsonValue() : QJsonValue(snapshot.lastCycleMs)},
        {"spoolBacklog", sv.spoolBacklog},
        {"spoolProblem", sv.spoolProblem},
        {"outbox", sv.mailsWaiting},
        {"mailFailure", sv.mailFailure},
        {"mailProblem", sv.mailProblem},
        {"settingsProblem", sv.settingsProblem}};
    return QJsonDocument(QJsonObject{{"service", service}, {"controllers", controllers}})
        .toJson(QJsonDocument::Indented);
}

std::optional<WebAddress> ParseWebAddress(const QString &text, QString *problem)
{
    static const QRegularExpression form(QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([^:\\[\\]]+)):"
                                                        "([0-9]{1,5})$"));
    const auto m = form.match(text);
    WebAddress a;
    const QString host = m.hasMatch() ? m.captured(1) + m.captured(2) : QString();
    if (host == QLatin1String("localhost"))
        a.host = QHostAddress(QHostAddress::LocalHost);
    else
        a.host = QHostAddress(host);
    const int port = m.captured(3).toInt();
    if (!m.hasMatch() || a.host.isNull() || port < 1 || port > 65535) {
        *problem = QStringLiteral("--http needs ADDRESS:PORT with a numeric address, e.g. "
                                  "127.0.0.1:8080 or [::1]:8080 (got '%1')")
                       .arg(text);
        return std::nullopt;
    }
    a.port = quint16(port);
    return a;
}

std::optional<WebLogin> ReadWebLogin(const QString &path, QString *problem)
{
    private_file::LoginFault fault;
    QString why;
    const auto read = private_file::readLogin(path, &fault, &why);
    if (fault == private_file::LoginFault::Unreadable) {
        *problem = ms("Die Anmeldedatei der Web-Ansicht ist nicht lesbar: ") + why;
        return std::nullopt;
    }
    if (fault == private_file::LoginFault::OpenToOthers) {
        *problem = ms("Die Anmeldedatei der Web-Ansicht darf nur ihrem Besitzer lesbar sein "
                      "(chmod 600): ") +
                   path;
        return std::nullopt;
    }
    const WebLogin login{read->user, read->password};
    if (login.user.isEmpty() || login.user.contains(QLatin1Char(':')) || login.password.isEmpty()) {
        *problem = ms("Die Anmeldedatei der Web-Ansicht braucht einen Benutzer (ohne Doppelpunkt) "
                      "und ein Passwort: ") +
                   path;
        return std::nullopt;
    }
    return login;
}

bool BasicAuthMatches(const QByteArray &authorization, const WebLogin &login)
{
    const auto credentials = basicCredentials(authorization);
    if (!credentials)
        return false;
    // Both compared every time, so a wrong user takes as long as a wrong password.
    const bool user = sameBytes(credentials->first, login.user.toUtf8());
    const bool password = sameBytes(credentials->second, login.password.toUtf8());
    return user & password;
}

QString BasicAuthUser(const QByteArray &authorization)
{
    const auto credentials = basicCredentials(authorization);
    return credentials ? QString::fromUtf8(credentials->first) : QString();
}
