#pragma once

// Publishes the service's state to an MQTT broker for home-automation hubs: after each cycle
// every fitted sensor's value, every regulation's state and each controller's connection,
// all retained; the service's own availability as its last will; and discovery messages in
// the form Home Assistant reads, so that the sensors appear in a hub by themselves.
//
// A broker that is down or slow never holds up a cycle: publishing only hands messages to
// libmosquitto's own thread, which reconnects with growing pauses. While no connection is
// up nothing is queued, so the values of that time are not replayed; the next cycle after
// the reconnect brings the hub up to date.

#include "service/controller_view.h"

#include <QList>
#include <QSet>
#include <QString>

#include <atomic>
#include <mutex>
#include <optional>

struct mosquitto;

struct MqttAddress {
    QString host;
    int port = 1883;
    bool tls = false; // mqtts://: TLS with the server's certificate checked
};

// mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (1883 and 8883 by default); nothing else.
std::optional<MqttAddress> parseMqttAddress(const QString &text, QString *problem);

struct MqttLogin {
    QString user;
    QString password;
};

// The broker's user name and password from a file of two lines (user, password) that only
// its owner may read; a file others may read is refused, so the password stays private.
std::optional<MqttLogin> readMqttLogin(const QString &path, QString *problem);

class MqttPublisher
{
public:
    // `caFile`: the certificate authority of a broker with its own CA (empty: the system's).
    MqttPublisher(const MqttAddress &address, const std::optional<MqttLogin> &login,
                  const QString &caFile, const QString &topicPrefix = QStringLiteral("ostracom"));
    ~MqttPublisher(); // says "offline" and disconnects, within a moment
    MqttPublisher(const MqttPublisher &) = delete;
    MqttPublisher &operator=(const MqttPublisher &) = delete;

    // Starts connecting in the background; "" or why it cannot even begin (a bad TLS setup).
    QString start();
    // Hands the cycle's state over; returns at once whether a broker is connected or not.
    void publish(const QList<ControllerView> &controllers);

    bool connected() const { return m_connected; }
    // Why the last connection attempt failed or the connection was lost; "" while connected.
    QString problem() const;
    QString statusTopic() const { return m_prefix + QStringLiteral("/status"); }

private:
    void onConnect(int rc);
    void onDisconnect(int rc);
    void send(const QString &topic, const QByteArray &payload);
    void announce(const QList<ControllerView> &controllers);

    const MqttAddress m_address;
    const std::optional<MqttLogin> m_login;
    const QString m_caFile;
    const QString m_prefix;
    mosquitto *m_client = nullptr;
    bool m_loopRunning = false;
    std::atomic<bool> m_connected{false};
    mutable std::mutex m_mutex;
    QString m_problem;
    QList<ControllerView> m_last; // what the next connection announces again
    QSet<QString> m_announced;    // discovery topics sent on this connection
};
