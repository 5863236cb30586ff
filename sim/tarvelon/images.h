#pragma once

// The emulated controller's memory images, built as hex text with the same encoders the PC
// uses, so both sides agree on every field by construction.

#include <QDateTime>
#include <QString>

#include <optional>

namespace sim
{

constexpr int kProgramBytes = 2815;
constexpr int kCalibrationBytes = 336;
constexpr int kSensorCount = 8;
constexpr int kRegulationsPerSensor = 4;
constexpr int kSocketCount = 16;

// Program image fields the emulator reads or keeps current.
constexpr int kPosStatus = 0;
constexpr int kPosClockTime = 1;
constexpr int kPosClockDate = 5;
constexpr int kPosFlashDate = 9;
constexpr int kPosId = 13;
constexpr int kPosIdFlag = 15;
constexpr int kPosHorizontalCompression = 16; // 13 words, then the linear ones
constexpr int kPosLinearCompression = 42;
constexpr int kPosDayOfWeek = 68;
constexpr int kPosStorageInterval = 71;
constexpr int kPosNextStorage = 75;
constexpr int kPosStoragePlaces = 79;
constexpr int kPosShowConductivity = 98;
constexpr int kPosShowOxygen = 100;

constexpr int kRegulationBase = 102;
constexpr int kRegulationSensorStride = 144;
constexpr int kRegulationBytes = 36;
constexpr int kRegKind = 1; // 0 off, 1 lowering, 2 raising
constexpr int kRegDeadTime = 2;
constexpr int kRegSummerDay = 3;
constexpr int kRegSummerNight = 7;
constexpr int kRegWinterDay = 11;
constexpr int kRegWinterNight = 15;
constexpr int kRegLowerAlarm = 19;
constexpr int kRegUpperAlarm = 23;
constexpr int kRegSocket = 35;

constexpr int kFlowSimulationBase = 2422;
constexpr int kFlowSimulationBytes = 26;
constexpr int kSocketBase = 2703;
constexpr int kSocketBytes = 7;

// Sensor records of the calibration image.
constexpr int kSensorRecordBytes = 42;
constexpr int kSenType = 0;
constexpr int kSenCalibration = 1;
constexpr int kSenCurVal = 2;
constexpr int kSenCurAlt1Val = 6;
constexpr int kSenSlope = 10;
constexpr int kSenOffset = 14;
constexpr int kSenBufferTemp = 18;
constexpr int kSenTankTemp = 22;
constexpr int kSenTankPh = 26;
constexpr int kSenTankPressure = 30;
constexpr int kSenTrend = 34;
constexpr int kSenAlarm = 38;
constexpr int kSenCompensation1 = 39;
constexpr int kSenCompensation2 = 40;
constexpr int kSenWaterKind = 41;

// Raw sensor type codes of the calibration image (the PC's display types 0..8).
constexpr int kTypeNone = 0;
constexpr int kTypePh = 1;
constexpr int kTypeTemperature = 2;
constexpr int kTypeRedox = 3;
constexpr int kTypeConductivityMs = 4;
constexpr int kTypeConductivityUs = 5;
constexpr int kTypeOxygen = 6;
constexpr int kTypeLevel = 7;
constexpr int kTypeAirPressure = 8;

constexpr int kDefaultId = 1234;
constexpr int kDefaultStorageIntervalSeconds = 10;

inline int regulationPos(int sensor, int regulation)
{
    return kRegulationBase + (sensor - 1) * kRegulationSensorStride +
           (regulation - 1) * kRegulationBytes;
}
inline int socketPos(int socket)
{
    return kSocketBase + (socket - 1) * kSocketBytes;
}
inline int sensorPos(int sensor)
{
    return (sensor - 1) * kSensorRecordBytes;
}

struct FirmwareVersion {
    float version = 2.20f;
    int subRelease = 5;
};

// "2.20R5", "2.19R23", "2.19 R23"; nothing for anything else.
std::optional<FirmwareVersion> parseFirmwareVersion(const QString &text);
QString firmwareVersionText(const FirmwareVersion &v);
// The "DX" payload: the version as a single, then the sub-release byte.
QString versionPayload(const FirmwareVersion &v);

// A reef tank's controller: five sensors, regulations with set points and alarm limits,
// switchable and dimmable sockets. `now` fills the clock fields.
QString defaultProgramImage(int id, int storageIntervalSeconds, const QDateTime &now);
QString defaultCalibrationImage();

// Storage interval of a program image in seconds, at least 1.
int storageIntervalSeconds(const QString &program);
// Writes the controller clock, day of week and next storage time into the image.
QString withClock(const QString &program, const QDateTime &now, const QDateTime &nextStorage);

// A text of hex digits of exactly the given number of bytes.
bool isImageText(const QString &text, int bytes);

} // namespace sim
