#include "model/tables.h"

#include <QStringList>

#include <array>
#include <cmath>

namespace tables
{
namespace
{

// clang-format off
constexpr std::array<SensorType, kSensorTypeCount> kSensorTypes{{
    // name          unit    scale compr.   fmt      trend    mask     width grp raise                lower               day          night
    {"Kein Sensor", "",      10, 100000,  "",      "",      "",      0,    0,  "",                  "",                 "",          ""},
    {"pH",          "pH",    100, 0.1,    "00.00", "00.00", "##,##", 500,  1,  "pH erhöhen",        "pH senken",        "Wert Tag",  "Wert Nacht"},
    {"Temperatur",  "°C",    10, 0.3,     "00.0",  "00.00", "##,#",  450,  2,  "Heizen",            "Kühlen",           "Sommer Tag", "Sommer Nacht"},
    {"Redox",       "mV",    10, 5,       "000",   "000",   "###",   450,  3,  "Redox erhöhen",     "Redox senken",     "Wert",      ""},
    {"Leitwert",    "mS",    10, 3,       "000",   "000",   "###",   450,  4,  "Leitwert erhöhen",  "Leitwert senken",  "Wert",      ""},
    {"Leitwert",    "µS",    10, 3,       "000",   "000",   "###",   450,  4,  "Leitwert erhöhen",  "Leitwert senken",  "Wert",      ""},
    {"O²",          "%",     10, 1,       "000",   "000",   "###",   450,  6,  "O² erhöhen",        "O² senken",        "Wert Tag",  "Wert Nacht"},
    {"PE",          "",      10, 1,       "0",     "0",     "#",     450,  7,  "Nachfüllen",        "Ablassen",         "",          ""},
    {"Luftdruck",   "mB",    10, 1,       "0000",  "0000",  "####",  450,  8,  "",                  "",                 "",          ""},
    {"0²",          "mg/l",  10, 1,       "00.0",  "00.00", "##,#",  450,  9,  "0² erhöhen",        "0² senken",        "Wert Tag",  "Wert Nacht"},
    {"Redox",       "rH",    10, 5,       "0",     "0",     "#",     450,  3,  "Redox erhöhen",     "Redox senken",     "Wert",      ""},
    {"Salinität",   "",      10, 3,       "0",     "0",     "#",     450,  4,  "Leitwert erhöhen",  "Leitwert senken",  "Wert",      ""},
    {"Dichte",      "",      10, 2,       "0",     "0",     "#",     450,  4,  "",                  "",                 "Wert",      ""},
    {"Temperatur",  "°F",    10, 0,       "00.0",  "00.00", "##,#",  450,  2,  "Heizen",            "Kühlen",           "Sommer Tag", "Sommer Nacht"},
}};
// clang-format on

constexpr std::array<const char *, kSocketKindCount> kSocketKinds{"Keine Dose", "Schaltbare Dose",
                                                                  "Dimmbare Dose", ""};

QString text(const char *s)
{
    return QString::fromUtf8(s);
}

} // namespace

const SensorType *sensorType(int type)
{
    if (type < 0 || type >= kSensorTypeCount)
        return nullptr;
    return &kSensorTypes[static_cast<size_t>(type)];
}

QString sensorTypeName(int type)
{
    const SensorType *t = sensorType(type);
    return t ? text(t->name) : QString();
}

QString sensorUnit(int type)
{
    const SensorType *t = sensorType(type);
    return t ? text(t->unit) : QString();
}

QString formattedUnit(int type)
{
    const QString unit = sensorUnit(type);
    return unit.isEmpty() ? QString() : QLatin1Char('[') + unit + QLatin1Char(']');
}

int scaleFactor(int type)
{
    const SensorType *t = sensorType(type);
    return t ? t->scale : 10;
}

double compression(int type)
{
    const SensorType *t = sensorType(type);
    return t ? t->compression : 0.0;
}

QString valueFormat(int type)
{
    const SensorType *t = sensorType(type);
    return t ? text(t->format) : QString();
}

QString trendValueFormat(int type)
{
    const SensorType *t = sensorType(type);
    return t ? text(t->trendFormat) : QString();
}

QString valueMask(int type)
{
    const SensorType *t = sensorType(type);
    return t ? text(t->mask) : QString();
}

int valueWidth(int type)
{
    const SensorType *t = sensorType(type);
    return t ? t->width : 0;
}

int sensorGroup(int type)
{
    const SensorType *t = sensorType(type);
    return t ? t->group : -1;
}

QString offText(int type)
{
    return sensorType(type) ? QStringLiteral("Aus") : QString();
}

QString raiseText(int type)
{
    const SensorType *t = sensorType(type);
    return t ? text(t->raiseText) : QString();
}

QString lowerText(int type)
{
    const SensorType *t = sensorType(type);
    return t ? text(t->lowerText) : QString();
}

QString dayText(int type)
{
    const SensorType *t = sensorType(type);
    return t ? text(t->dayText) : QString();
}

QString nightText(int type)
{
    const SensorType *t = sensorType(type);
    return t ? text(t->nightText) : QString();
}

QString socketKindName(int kind)
{
    if (kind < 0 || kind >= kSocketKindCount)
        return QString();
    return text(kSocketKinds[static_cast<size_t>(kind)]);
}

QString formatValue(double value, const QString &pattern, QChar decimalSeparator)
{
    if (!std::isfinite(value))
        value = 0.0;
    if (pattern.isEmpty())
        return QString::number(value);
    const int point = pattern.indexOf(QLatin1Char('.'));
    const int intDigits = point < 0 ? pattern.size() : point;
    const int decimals = point < 0 ? 0 : static_cast<int>(pattern.size() - point - 1);
    // Round half away from zero to the shown decimals, as number formatting does.
    const double factor = std::pow(10.0, decimals);
    const double rounded = std::round(std::fabs(value) * factor) / factor;
    QString digits = QString::number(rounded, 'f', decimals);
    QString whole = point < 0 ? digits : digits.section(QLatin1Char('.'), 0, 0);
    const QString frac = decimals > 0 ? digits.section(QLatin1Char('.'), 1, 1) : QString();
    whole = whole.rightJustified(intDigits, QLatin1Char('0'));
    QString out = (value < 0 && rounded != 0.0) ? QStringLiteral("-") : QString();
    out += whole;
    if (decimals > 0)
        out += decimalSeparator + frac;
    return out;
}

QStringList allTexts()
{
    QStringList out;
    for (const SensorType &t : kSensorTypes) {
        for (const char *s : {t.name, t.unit, t.raiseText, t.lowerText, t.dayText, t.nightText})
            if (*s)
                out << text(s);
    }
    out << QStringLiteral("Aus");
    for (const char *s : kSocketKinds)
        if (*s)
            out << text(s);
    out.removeDuplicates();
    return out;
}

} // namespace tables
