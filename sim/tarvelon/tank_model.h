#pragma once

#include <QDateTime>
#include <QMap>
#include <QRandomGenerator>
#include <QString>

#include <optional>

namespace sim
{

// What the sensors of a reef tank read over a day: temperature swings about ±0.5 °C around
// 25 °C, pH about ±0.1 around 7.8 with the lights (plants and algae take up CO2 by day),
// redox, conductivity and oxygen follow the same rhythm; each reading carries a little noise.
class TankModel
{
public:
    explicit TankModel(quint32 seed);
    // The value a sensor of the given raw type code reads at time t.
    double value(int type, const QDateTime &t);
    // The sensor's second reading derived from its value: °F, rH, salinity, mg/l.
    static double alternative(int type, double value);

private:
    double noise(double sigma);
    QRandomGenerator m_rng;
};

// Forced sensor values from a file of SENSOR=VALUE lines ("2=7.95"); blank lines and lines
// starting with # are ignored. The file is re-read whenever its content changes, so a test or
// a demo can move a value across a limit and back by editing it.
class ScriptedValues
{
public:
    ScriptedValues() = default;
    explicit ScriptedValues(const QString &path) : m_path(path) {}

    bool hasFile() const { return !m_path.isEmpty(); }
    // Re-reads the file when it changed. A missing file forces nothing.
    void refresh();
    std::optional<double> forced(int sensor) const;
    const QMap<int, double> &all() const { return m_values; }
    void setAll(const QMap<int, double> &values) { m_values = values; }

    // Parses the file's text; malformed lines are reported in warnings and skipped.
    static QMap<int, double> parse(const QByteArray &text, QStringList *warnings);

private:
    QString m_path;
    QByteArray m_lastText;
    bool m_read = false;
    QMap<int, double> m_values;
};

} // namespace sim
