#pragma once

// The pages of the read-only web view, made from the service's views as plain functions, so
// that they are built and tested without a socket. Every text that comes from a controller or
// the database is HTML-escaped here.

#include "service/controller_view.h"
#include "store/database.h"

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QUrlQuery>

#include <optional>
#include <vector>

// What the pages show of the service, taken after each cycle.
struct WebSnapshot {
    QList<ControllerView> controllers;
    ServiceStatus service;   // its controller list is in `controllers`
    qint64 lastCycleMs = -1; // how long the last cycle took; -1 before the first
    QDateTime taken;
};

// The controller list as the main window shows it, with the service's notes; reloads itself.
QByteArray ListPage(const WebSnapshot &snapshot);

// The chart a page asks for: a span ending now, or a from/to range.
struct ChartRequest {
    int id = 0;
    QDateTime from;
    QDateTime to;
    QString span; // "hour", "day", "week", "month", "year", or empty for from/to
    // The query that asks for the same chart again (for the picture and CSV links).
    QString query() const;
};
// The request of /controller/ID?span=... or ?from=...&to=... (YYYY-MM-DD or
// YYYY-MM-DD[T ]HH:MM[:SS]); without either the last day. Null with the reason in `problem`.
std::optional<ChartRequest> ParseChartRequest(int id, const QUrlQuery &query, const QDateTime &now,
                                              QString *problem);

// The chart page: span links, the from/to form, the picture, the CSV link and the logbook.
QByteArray ChartPage(const ChartRequest &request, const std::vector<LogbookEntry> &logbook);

// A short page for an error answer.
QByteArray ErrorPage(int status, const QString &message);

// The service's state for scripts: see the README for its fields.
QByteArray StatusJson(const WebSnapshot &snapshot);

// ---- what the server needs of its options

struct WebAddress {
    QHostAddress host;
    quint16 port = 0;
};
// ADDR:PORT or [IPv6]:PORT with a numeric address. Null with the reason in `problem`.
std::optional<WebAddress> ParseWebAddress(const QString &text, QString *problem);

struct WebLogin {
    QString user;
    QString password;
};
// The user and password, one a line, from a file only its owner may read.
std::optional<WebLogin> ReadWebLogin(const QString &path, QString *problem);

// True when the Authorization header value is HTTP Basic with exactly this login. The
// password is compared in constant time, so its length and content do not leak by timing.
bool BasicAuthMatches(const QByteArray &authorization, const WebLogin &login);
// The user name an Authorization header names, for the log; empty when it names none.
QString BasicAuthUser(const QByteArray &authorization);
