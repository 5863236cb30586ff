#include "service/mqtt_publisher.h"

#include "store/private_file.h"
#include "store/strings.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSysInfo>

#include <mosquitto.h>

#include <cerrno>
#include <mutex>

#include <unistd.h>

namespace
{

constexpr int kKeepAliveSeconds = 30;
// Reconnect pauses grow from one second to a minute while the broker stays away.
constexpr unsigned kFirstPauseSeconds = 1;
constexpr unsigned kLongestPauseSeconds = 60;
const char *const kDiscoveryPrefix = "homeassistant";

void initialiseLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString mosquittoText(int rc)
{
    return rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno))
                                : QString::fromUtf8(mosquitto_strerror(rc));
}

QByteArray json(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

std::optional<MqttAddress> parseMqttAddress(const QString &text, QString *problem)
{
    static const QRegularExpression form(QStringLiteral(
        "\\A(mqtts?)://([A-Za-z0-9.-]+|\\[[0-9A-Fa-f:.]+\\])(?::([0-9]{1,5}))?/?\\z"));
    const auto m = form.match(text);
    if (!m.hasMatch()) {
        // The text is named unless it may hold a login, which belongs in the login file.
        *problem = ms("Die MQTT-Adresse hat nicht die Form mqtt://RECHNER[:PORT] oder "
                      "mqtts://RECHNER[:PORT]: ") +
                   (text.contains(QLatin1Char('@')) ? QStringLiteral("…@…") : text);
        return std::nullopt;
    }
    MqttAddress a;
    a.tls = m.captured(1) == QLatin1String("mqtts");
    a.host = m.captured(2);
    if (a.host.startsWith(QLatin1Char('[')))
        a.host = a.host.mid(1, a.host.size() - 2);
    a.port = a.tls ? 8883 : 1883;
    if (m.hasCaptured(3)) {
        a.port = m.captured(3).toInt();
        if (a.port < 1 || a.port > 65535) {
            *problem = ms("Der Port in der MQTT-Adresse ist ungültig (1 bis 65535)");
            return std::nullopt;
        }
    }
    return a;
}

std::optional<MqttLogin> readMqttLogin(const QString &path, QString *problem)
{
    private_file::LoginFault fault;
    QString why;
    const auto read = private_file::readLogin(path, &fault, &why);
    if (fault == private_file::LoginFault::Unreadable) {
        *problem = ms("Die MQTT-Anmeldedatei ist nicht lesbar: ") + why;
        return std::nullopt;
    }
    if (fault == private_file::LoginFault::OpenToOthers) {
        *problem =
            ms("Die MQTT-Anmeldedatei darf nur ihrem Besitzer lesbar sein (chmod 600): ") + path;
        return std::nullopt;
    }
    const MqttLogin login{read->user, read->password};
    if (login.user.isEmpty()) {
        *problem = ms("Die MQTT-Anmeldedatei nennt keinen Benutzer: ") + path;
        return std::nullopt;
    }
    return login;
}

MqttPublisher::MqttPublisher(const MqttAddress &address, const std::optional<MqttLogin> &login,
                             const QString &caFile, const QString &topicPrefix)
    : m_address(address), m_login(login), m_caFile(caFile), m_prefix(topicPrefix)
{
}

MqttPublisher::~MqttPublisher()
{
    if (!m_client)
        return;
    if (m_connected) {
        const QByteArray topic = statusTopic().toUtf8();
        mosquitto_publish(m_client, nullptr, topic.constData(), 7, "offline", 1, true);
    }
    mosquitto_disconnect(m_client);
    if (m_loopRunning)
        mosquitto_loop_stop(m_client, false);
    mosquitto_destroy(m_client);
}

QString MqttPublisher::start()
{
    initialiseLibrary();
    const QByteArray id = QStringLiteral("ostracom-%1-%2")
                              .arg(QSysInfo::machineHostName())
                              .arg(::getpid())
                              .left(64)
                              .toUtf8();
    m_client = mosquitto_new(id.constData(), true, this);
    if (!m_client)
        return ms("MQTT: der Client konnte nicht angelegt werden");
    const QByteArray status = statusTopic().toUtf8();
    mosquitto_will_set(m_client, status.constData(), 7, "offline", 1, true);
    if (m_login) {
        const QByteArray user = m_login->user.toUtf8();
        QByteArray password = m_login->password.toUtf8();
        mosquitto_username_pw_set(m_client, user.constData(), password.constData());
        password.fill('\0');
    }
    if (m_address.tls) {
        const QByteArray ca = m_caFile.toUtf8();
        const int rc =
            mosquitto_tls_set(m_client, ca.isEmpty() ? nullptr : ca.constData(),
                              ca.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return ms("MQTT: TLS lässt sich nicht einrichten: ") + mosquittoText(rc);
        mosquitto_tls_opts_set(m_client, 1, nullptr, nullptr); // the certificate is checked
    }
    mosquitto_reconnect_delay_set(m_client, kFirstPauseSeconds, kLongestPauseSeconds, true);
    mosquitto_connect_callback_set(m_client, [](mosquitto *, void *self, int rc) {
        static_cast<MqttPublisher *>(self)->onConnect(rc);
    });
    mosquitto_disconnect_callback_set(m_client, [](mosquitto *, void *self, int rc) {
        static_cast<MqttPublisher *>(self)->onDisconnect(rc);
    });
    const QByteArray host = m_address.host.toUtf8();
    // A broker that is down now is tried again by the loop, with growing pauses.
    const int rc =
        mosquitto_connect_async(m_client, host.constData(), m_address.port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        std::lock_guard lock(m_mutex);
        m_problem = mosquittoText(rc);
    }
    const int loop = mosquitto_loop_start(m_client);
    if (loop != MOSQ_ERR_SUCCESS)
        return ms("MQTT: der Sendefaden lässt sich nicht starten: ") + mosquittoText(loop);
    m_loopRunning = true;
    return QString();
}

void MqttPublisher::onConnect(int rc)
{
    if (rc != 0) {
        std::lock_guard lock(m_mutex);
        m_problem = QString::fromUtf8(mosquitto_connack_string(rc));
        return;
    }
    QList<ControllerView> last;
    {
        std::lock_guard lock(m_mutex);
        m_problem.clear();
        m_announced.clear(); // a restarted broker may have lost its retained messages
        last = m_last;
    }
    m_connected = true;
    send(statusTopic(), "online");
    announce(last);
}

void MqttPublisher::onDisconnect(int rc)
{
    m_connected = false;
    if (rc != 0) {
        std::lock_guard lock(m_mutex);
        m_problem = ms("MQTT-Verbindung verloren: ") + mosquittoText(rc);
    }
}

QString MqttPublisher::problem() const
{
    std::lock_guard lock(m_mutex);
    return m_problem;
}

void MqttPublisher::send(const QString &topic, const QByteArray &payload)
{
    const QByteArray t = topic.toUtf8();
    // QoS 0: nothing waits in a queue for a broker that is away.
    mosquitto_publish(m_client, nullptr, t.constData(), int(payload.size()), payload.constData(), 0,
                      true);
}

// Discovery: one config message per sensor, regulation and connection, sent once per
// connection (and again for one that appears later).
void MqttPublisher::announce(const QList<ControllerView> &controllers)
{
    const QJsonObject serviceAvailable{{QStringLiteral("topic"), statusTopic()}};
    for (const ControllerView &c : controllers) {
        if (c.status.id == 0)
            continue;
        const QString id = QString::number(c.status.id);
        const QString base = m_prefix + QLatin1Char('/') + id;
        const QString object = QStringLiteral("ostracom_") + id;
        const QJsonObject device{{QStringLiteral("identifiers"), QJsonArray{object}},
                                 {QStringLiteral("name"), QStringLiteral("Tarvelon ") + id},
                                 {QStringLiteral("model"), QStringLiteral("Tarvelon")},
                                 {QStringLiteral("sw_version"), c.version}};
        const QJsonArray available{
            serviceAvailable,
            QJsonObject{{QStringLiteral("topic"), base + QStringLiteral("/connection")}}};
        auto config = [&](const QString &component, const QString &key, QJsonObject o) {
            const QString topic = QLatin1String(kDiscoveryPrefix) + QLatin1Char('/') + component +
                                  QLatin1Char('/') + object + QLatin1Char('_') + key +
                                  QStringLiteral("/config");
            {
                std::lock_guard lock(m_mutex);
                if (m_announced.contains(topic))
                    return;
                m_announced.insert(topic);
            }
            o.insert(QStringLiteral("unique_id"), object + QLatin1Char('_') + key);
            o.insert(QStringLiteral("device"), device);
            send(topic, json(o));
        };
        config(QStringLiteral("binary_sensor"), QStringLiteral("connection"),
               {{QStringLiteral("name"), ms("Verbindung")},
                {QStringLiteral("device_class"), QStringLiteral("connectivity")},
                {QStringLiteral("state_topic"), base + QStringLiteral("/connection")},
                {QStringLiteral("payload_on"), QStringLiteral("online")},
                {QStringLiteral("payload_off"), QStringLiteral("offline")},
                {QStringLiteral("availability"), QJsonArray{serviceAvailable}}});
        for (const SensorView &s : c.sensors)
            config(
                QStringLiteral("sensor"), QStringLiteral("sensor%1").arg(s.number),
                {{QStringLiteral("name"), ms(s.typeName) + QStringLiteral(" (%1)").arg(s.number)},
                 {QStringLiteral("state_topic"), base + QStringLiteral("/sensor/%1").arg(s.number)},
                 {QStringLiteral("unit_of_measurement"), s.unit},
                 {QStringLiteral("state_class"), QStringLiteral("measurement")},
                 {QStringLiteral("availability"), available},
                 {QStringLiteral("availability_mode"), QStringLiteral("all")}});
        for (const RegulationView &r : c.regulations)
            config(QStringLiteral("sensor"),
                   QStringLiteral("regulation%1_%2").arg(r.sensor).arg(r.number),
                   {{QStringLiteral("name"), r.description},
                    {QStringLiteral("state_topic"),
                     base + QStringLiteral("/regulation/%1-%2").arg(r.sensor).arg(r.number)},
                    {QStringLiteral("device_class"), QStringLiteral("enum")},
                    {QStringLiteral("options"),
                     QJsonArray{QStringLiteral("normal"), QStringLiteral("warning"),
                                QStringLiteral("alarm")}},
                    {QStringLiteral("availability"), available},
                    {QStringLiteral("availability_mode"), QStringLiteral("all")}});
    }
}

void MqttPublisher::publish(const QList<ControllerView> &controllers)
{
    {
        std::lock_guard lock(m_mutex);
        m_last = controllers;
    }
    if (!m_client || !m_connected)
        return; // not queued: the next cycle after the reconnect brings the news
    announce(controllers);
    for (const ControllerView &c : controllers) {
        if (c.status.id == 0)
            continue;
        const QString base = m_prefix + QLatin1Char('/') + QString::number(c.status.id);
        send(base + QStringLiteral("/connection"),
             c.status.connected ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"));
        for (const SensorView &s : c.sensors)
            // A sensor without a reading yet has nothing to tell.
            if (s.measured.isValid())
                send(base + QStringLiteral("/sensor/%1").arg(s.number),
                     QByteArray::number(s.value, 'f', s.decimals));
        for (const RegulationView &r : c.regulations)
            send(base + QStringLiteral("/regulation/%1-%2").arg(r.sensor).arg(r.number),
                 stateWord(r.state).toUtf8());
    }
}
