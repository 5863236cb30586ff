#include "tank_model.h"

#include "images.h"
#include "log.h"

#include <QFile>

#include <cmath>
#include <numbers>

namespace sim
{

namespace
{

// A cosine over the day peaking at peakHour.
double daily(const QDateTime &t, double peakHour)
{
    const double hours = t.time().msecsSinceStartOfDay() / 3600000.0;
    return std::cos(2.0 * std::numbers::pi * (hours - peakHour) / 24.0);
}

} // namespace

TankModel::TankModel(quint32 seed) : m_rng(seed)
{
}

double TankModel::noise(double sigma)
{
    // Box-Muller; 1 - u keeps the logarithm away from zero.
    const double u1 = 1.0 - m_rng.generateDouble();
    const double u2 = m_rng.generateDouble();
    return sigma * std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

double TankModel::value(int type, const QDateTime &t)
{
    switch (type) {
    case kTypePh:
        // Lowest at the end of the night, highest late in the light period.
        return 7.80 + 0.10 * daily(t, 19.0) + noise(0.005);
    case kTypeTemperature:
        return 25.0 + 0.5 * daily(t, 15.0) + noise(0.02);
    case kTypeRedox:
        return 380.0 + 15.0 * daily(t, 17.0) + noise(1.5);
    case kTypeConductivityMs:
        return 53.0 + 0.2 * daily(t, 15.0) + noise(0.05);
    case kTypeConductivityUs:
        return 450.0 + 8.0 * daily(t, 15.0) + noise(1.5);
    case kTypeOxygen:
        return 95.0 + 4.0 * daily(t, 16.0) + noise(0.4);
    case kTypeLevel:
        return 1.0;
    case kTypeAirPressure:
        return 1013.0 + noise(0.3);
    default:
        return 0.0;
    }
}

double TankModel::alternative(int type, double value)
{
    switch (type) {
    case kTypeTemperature:
        return value * 1.8 + 32.0;
    case kTypeRedox:
        return 2.0 * 7.8 + value / 29.0; // rH at the tank's usual pH
    case kTypeConductivityMs:
        return 35.0 * value / 53.0; // salinity
    case kTypeOxygen:
        return 6.8 * value / 100.0; // mg/l at 25 °C in sea water
    default:
        return 0.0;
    }
}

void ScriptedValues::refresh()
{
    if (m_path.isEmpty())
        return;
    QFile file(m_path);
    QByteArray text;
    if (file.open(QIODevice::ReadOnly))
        text = file.readAll();
    if (m_read && text == m_lastText)
        return;
    m_read = true;
    m_lastText = text;
    QStringList warnings;
    m_values = parse(text, &warnings);
    for (const QString &w : warnings)
        warnLine(QStringLiteral("%1: %2").arg(m_path, w));
    logLine(QStringLiteral("values file read: %1 forced").arg(m_values.size()));
}

std::optional<double> ScriptedValues::forced(int sensor) const
{
    const auto it = m_values.find(sensor);
    if (it == m_values.end())
        return std::nullopt;
    return it.value();
}

QMap<int, double> ScriptedValues::parse(const QByteArray &text, QStringList *warnings)
{
    QMap<int, double> values;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const int eq = line.indexOf('=');
        bool sensorOk = false;
        bool valueOk = false;
        const int sensor = eq > 0 ? line.left(eq).trimmed().toInt(&sensorOk) : 0;
        const double value = eq > 0 ? line.mid(eq + 1).trimmed().toDouble(&valueOk) : 0.0;
        if (!sensorOk || !valueOk || sensor < 1 || sensor > kSensorCount || !std::isfinite(value)) {
            if (warnings)
                warnings->append(QStringLiteral("line %1 is not SENSOR=VALUE with a sensor "
                                                "1 to 8: \"%2\"")
                                     .arg(i + 1)
                                     .arg(QString::fromLatin1(line)));
            continue;
        }
        values.insert(sensor, value);
    }
    return values;
}

} // namespace sim
