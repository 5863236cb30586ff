#include "images.h"

#include "link/encodings.h"
#include "model/tables.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace sim
{

namespace
{

// Display types in the order of the compression words at 16..40 and again at 42..66.
constexpr int kCompressionOrder[] = {2, 13, 1, 3, 10, 5, 4, 11, 12, 6, 9, 8, 7};

struct RegulationPlan {
    int sensor;
    int regulation;
    int kind;
    int deadTime;
    float summerDay, summerNight, winterDay, winterNight;
    float lowerAlarm, upperAlarm;
    int socket;
};

// Set points and alarm limits that suit the simulated reef tank (see tank_model.cpp): the
// normal daily swing stays inside every alarm band.
const RegulationPlan kRegulations[] = {
    {1, 1, 2, 5, 25.0f, 24.6f, 24.8f, 24.4f, 23.5f, 27.0f, 1},        // heater
    {1, 2, 1, 5, 26.5f, 26.0f, 26.0f, 25.5f, 23.5f, 27.0f, 2},        // fan
    {2, 1, 1, 10, 8.05f, 8.10f, 8.05f, 8.10f, 7.50f, 8.40f, 3},       // CO2 valve lowers pH
    {3, 1, 2, 30, 350.0f, 350.0f, 350.0f, 350.0f, 200.0f, 450.0f, 4}, // ozone
    {4, 1, 1, 60, 53.5f, 53.5f, 53.5f, 53.5f, 50.0f, 56.0f, 5},       // fresh water top-up
    {5, 1, 2, 10, 90.0f, 95.0f, 90.0f, 95.0f, 75.0f, 115.0f, 6},      // air pump (dimmed)
};

struct SocketPlan {
    int socket;
    int kind;        // 0 none, 1 switchable, 2 dimmable
    int connectedTo; // sensor type code
    int current, valueOn, valueOff;
};

const SocketPlan kSockets[] = {
    {1, 1, 2, 0, 100, 0}, {2, 1, 2, 0, 100, 0},   {3, 1, 1, 0, 100, 0},  {4, 1, 3, 100, 100, 0},
    {5, 1, 4, 0, 100, 0}, {6, 2, 6, 60, 100, 20}, {7, 2, 0, 80, 100, 0}, {8, 2, 0, 0, 10, 0},
};

struct SensorPlan {
    int sensor;
    int type;
    float curVal, altVal, slope, offset;
    int compensation1, compensation2;
};

const SensorPlan kSensors[] = {
    {1, kTypeTemperature, 25.0f, 77.0f, 1.0f, 0.2f, 0, 0},
    {2, kTypePh, 7.80f, 0.0f, 58.2f, -1.5f, 1, 0},
    {3, kTypeRedox, 380.0f, 28.7f, 1.0f, 4.0f, 2, 0},
    {4, kTypeConductivityMs, 53.0f, 35.0f, 0.98f, 0.0f, 1, 0},
    {5, kTypeOxygen, 95.0f, 6.8f, 1.02f, -0.8f, 1, 4},
};

QString zeros(int bytes)
{
    return QString(bytes * 2, QLatin1Char('0'));
}

float secondsOfDay(const QDateTime &t)
{
    return static_cast<float>(t.time().msecsSinceStartOfDay() / 1000);
}

} // namespace

std::optional<FirmwareVersion> parseFirmwareVersion(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^\\s*(\\d+\\.\\d+)\\s*[Rr]\\s*(\\d+)\\s*$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    FirmwareVersion v;
    v.version = m.captured(1).toFloat();
    v.subRelease = m.captured(2).toInt();
    if (v.subRelease > 255)
        return std::nullopt;
    return v;
}

QString firmwareVersionText(const FirmwareVersion &v)
{
    return QStringLiteral("%1R%2").arg(v.version, 0, 'f', 2).arg(v.subRelease);
}

QString versionPayload(const FirmwareVersion &v)
{
    QString text = zeros(5);
    text = HexSinglePut(text, 0, v.version);
    return HexBytePut(text, 4, v.subRelease);
}

QString defaultProgramImage(int id, int storageIntervalSeconds, const QDateTime &now)
{
    QString p = zeros(kProgramBytes);
    p = HexBytePut(p, kPosStatus, 1);
    p = HexDatePut(p, kPosFlashDate, QDate(2023, 3, 14));
    p = HexWordPut(p, kPosId, id);
    p = HexBytePut(p, kPosIdFlag, 0);

    for (int i = 0; i < int(std::size(kCompressionOrder)); ++i) {
        const int type = kCompressionOrder[i];
        const float c = static_cast<float>(tables::compression(type));
        p = ScaledWordPut(p, kPosHorizontalCompression + 2 * i, c, tables::scaleFactor(type));
        p = ScaledWordPut(p, kPosLinearCompression + 2 * i, c, tables::scaleFactor(type));
    }

    p = HexBytePut(p, 69, 2); // external display change interval, seconds
    p = HexBytePut(p, 70, 3); // internal display
    p = HexTimePut(p, kPosStorageInterval, QTime(0, 0).addSecs(storageIntervalSeconds));
    p = HexWordPut(p, kPosStoragePlaces, 2000);
    p = HexSinglePut(p, 81, 50.1f); // latitude
    p = HexSinglePut(p, 85, 8.7f);  // longitude
    p = HexBytePut(p, 89, 1);       // time zone
    p = HexBytePut(p, 90, 1);       // acoustic alarm on
    p = HexBytePut(p, 91, 0);       // external alarm off
    p = HexBytePut(p, 92, 0);       // clear memory: no
    p = HexTimePut(p, 93, QTime(1, 0));
    p = HexBytePut(p, 97, 1);                   // programming level
    p = HexBytePut(p, kPosShowConductivity, 0); // conductivity shown in mS
    p = HexBytePut(p, 99, 0);                   // redox in mV
    p = HexBytePut(p, kPosShowOxygen, 1);       // oxygen in %
    p = HexBytePut(p, 101, 0);                  // temperature in °C

    for (const RegulationPlan &r : kRegulations) {
        const int base = regulationPos(r.sensor, r.regulation);
        p = HexBytePut(p, base + kRegKind, r.kind);
        p = HexBytePut(p, base + kRegDeadTime, r.deadTime);
        p = HexSinglePut(p, base + kRegSummerDay, r.summerDay);
        p = HexSinglePut(p, base + kRegSummerNight, r.summerNight);
        p = HexSinglePut(p, base + kRegWinterDay, r.winterDay);
        p = HexSinglePut(p, base + kRegWinterNight, r.winterNight);
        p = HexSinglePut(p, base + kRegLowerAlarm, r.lowerAlarm);
        p = HexSinglePut(p, base + kRegUpperAlarm, r.upperAlarm);
        p = HexBytePut(p, base + kRegSocket, r.socket);
    }

    for (const SocketPlan &s : kSockets) {
        const int base = socketPos(s.socket);
        p = HexBytePut(p, base + 0, s.kind);
        p = HexBytePut(p, base + 1, s.connectedTo);
        p = HexBytePut(p, base + 2, s.current);
        p = HexBytePut(p, base + 3, s.current);
        p = HexBytePut(p, base + 4, s.valueOn);
        p = HexBytePut(p, base + 5, s.valueOff);
    }

    const int interval = std::max(1, storageIntervalSeconds);
    return withClock(p, now, now.addSecs(interval));
}

QString defaultCalibrationImage()
{
    QString k = zeros(kCalibrationBytes);
    for (const SensorPlan &s : kSensors) {
        const int base = sensorPos(s.sensor);
        k = HexBytePut(k, base + kSenType, s.type);
        k = HexBytePut(k, base + kSenCalibration, 1);
        k = HexSinglePut(k, base + kSenCurVal, s.curVal);
        k = HexSinglePut(k, base + kSenCurAlt1Val, s.altVal);
        k = HexSinglePut(k, base + kSenSlope, s.slope);
        k = HexSinglePut(k, base + kSenOffset, s.offset);
        k = HexSinglePut(k, base + kSenBufferTemp, 25.0f);
        k = HexSinglePut(k, base + kSenTankTemp, 25.0f);
        k = HexSinglePut(k, base + kSenTankPh, 8.0f);
        k = HexSinglePut(k, base + kSenTankPressure, 1013.0f);
        k = HexBytePut(k, base + kSenCompensation1, s.compensation1);
        k = HexBytePut(k, base + kSenCompensation2, s.compensation2);
        k = HexBytePut(k, base + kSenWaterKind, 1); // sea water
    }
    return k;
}

int storageIntervalSeconds(const QString &program)
{
    const QTime t = HexTimeGet(program, kPosStorageInterval);
    return std::max(1, t.msecsSinceStartOfDay() / 1000);
}

QString withClock(const QString &program, const QDateTime &now, const QDateTime &nextStorage)
{
    QString p = HexTimePut(program, kPosClockTime, now.time());
    p = HexDatePut(p, kPosClockDate, now.date());
    p = HexBytePut(p, kPosDayOfWeek, now.date().dayOfWeek());
    return HexSinglePut(p, kPosNextStorage, secondsOfDay(nextStorage));
}

bool isImageText(const QString &text, int bytes)
{
    if (text.size() != bytes * 2)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
               (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ||
               (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
    });
}

} // namespace sim
