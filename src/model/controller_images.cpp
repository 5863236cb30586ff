#include "model/controller_images.h"

#include "link/clock.h"
#include "link/encodings.h"
#include "model/sensor.h"
#include "model/tables.h"
#include "store/database.h"

#include <QLocale>

#include <bit>
#include <cctype>
#include <cmath>
#include <stdexcept>

namespace
{
// Positions in the program image outside the field list.
constexpr int kClockTimePos = 1;
constexpr int kClockDatePos = 5;
constexpr int kIdPos = 13;
constexpr int kHighestAssignedId = 31999;
// Version data.
constexpr int kVersionPos = 0;
constexpr int kSubReleasePos = 4;
// Event data: a word count, then 12-byte records.
constexpr int kEventRecordBytes = 12;
constexpr int kEventFirstRecord = 2;
// 31.12.9999 in days since 17.11.1858: the last date a DATUM text can hold.
constexpr double kLatestMjd = 2973483;

// Equal values, or the same bits: a field that holds no number (an unset record's FFFFFFFF)
// equals itself, as it would never compare equal as a number.
bool sameSingle(float a, float b)
{
    return a == b || std::bit_cast<quint32>(a) == std::bit_cast<quint32>(b);
}
} // namespace

void ControllerImages::set_HydoProgramString(const QString &image)
{
    m_program = image;
    if (ProgrammingStatusChange)
        ProgrammingStatusChange();
}

QDateTime ControllerImages::aq_Datum_Uhrzeit() const
{
    return QDateTime(HexDateGet(m_program, kClockDatePos).date(),
                     HexTimeGet(m_program, kClockTimePos));
}

void ControllerImages::set_aq_Datum_Uhrzeit(const QDateTime &when)
{
    QString image = writeField<FieldKind::Time>(m_program, kClockTimePos, 0, when.time());
    image = writeField<FieldKind::Date>(image, kClockDatePos, 0, when.date());
    set_HydoProgramString(image);
}

int ControllerImages::aq_id_raw() const
{
    return HexWordGet(m_program, kIdPos);
}

int ControllerImages::aq_id()
{
    const int id = aq_id_raw();
    if (id != 0)
        return id;
    // A controller without identifier gets one here. Identifier 0 would mean "none" again,
    // and one already in the database would merge two controllers' archives: draw again.
    int fresh = 0;
    for (int attempt = 0; attempt < 1000 && fresh == 0; ++attempt) {
        const int candidate = static_cast<int>(m_clock.random() * (kHighestAssignedId + 1));
        if (candidate > 0 && candidate <= kHighestAssignedId &&
            !(m_idInUse && m_idInUse(candidate)))
            fresh = candidate;
    }
    for (int candidate = 1; fresh == 0 && candidate <= kHighestAssignedId; ++candidate)
        if (!(m_idInUse && m_idInUse(candidate)))
            fresh = candidate;
    if (fresh == 0)
        throw std::runtime_error("no free controller identifier left");
    QString image = HexWordPut(m_program, kIdPos, fresh);
    image = HexBytePut(image, 15, 1); // aq_id_flag: the PC assigned it
    set_HydoProgramString(image);
    is_new = true;
    return fresh;
}

void ControllerImages::set_aq_id(int id)
{
    set_HydoProgramString(writeField<FieldKind::Word>(m_program, kIdPos, 0, id));
}

float ControllerImages::aq_Version() const
{
    return HexSingleGet(m_versionData, kVersionPos);
}

int ControllerImages::aq_SubRelease() const
{
    return HexByteGet(m_versionData, kSubReleasePos);
}

int ControllerImages::Event_Count() const
{
    return HexWordGet(m_eventData, 0);
}

namespace
{
int eventBase(int i)
{
    return kEventFirstRecord + (i - 1) * kEventRecordBytes;
}
} // namespace

int ControllerImages::Event_Sensor_nr(int i) const
{
    return HexByteGet(m_eventData, eventBase(i));
}

int ControllerImages::Event_RegelStatus(int i) const
{
    return HexByteGet(m_eventData, eventBase(i) + 1);
}

double ControllerImages::Event_Wert(int i) const
{
    // Scaled by the type of the sensor the record belongs to, as the controller stores it.
    const int sensor = Event_Sensor_nr(i);
    const int type = sensor >= 1 && sensor <= kSensors ? sensorType(sensor) : 0;
    return static_cast<double>(HexWordGet(m_eventData, eventBase(i) + 2)) /
           tables::scaleFactor(type);
}

QDateTime ControllerImages::Event_Datum(int i) const
{
    const int base = eventBase(i);
    return QDateTime(HexDateGet(m_eventData, base + 8).date(), HexTimeGet(m_eventData, base + 4));
}

QString ControllerImages::Event_RecordText(int i) const
{
    return m_eventData.mid(eventBase(i) * 2, kEventRecordBytes * 2);
}

QString ControllerImages::Event_DatumText(int i) const
{
    const int base = eventBase(i);
    return Database::datumText(HexDateGet(m_eventData, base + 8).date(),
                               HexTimeGet(m_eventData, base + 4));
}

QString ControllerImages::Event_Problem(int i) const
{
    const QString text = Event_RecordText(i);
    if (text.size() != kEventRecordBytes * 2)
        return QStringLiteral("record cut short");
    for (const QChar c : text)
        if (!isxdigit(static_cast<unsigned char>(c.toLatin1())))
            return QStringLiteral("fields that are no hex digits");
    // The decoders would wrap a time beyond one day and clamp a wild date; such a record
    // would be archived at a made-up time.
    const int base = eventBase(i);
    const double seconds = HexSingleGet(m_eventData, base + 4);
    // A reading that rounds to 86400 s would be midnight of its own date, a day early.
    if (!std::isfinite(seconds) || seconds < 0 || RoundHalfEven(seconds) >= 86400)
        return QStringLiteral("time of day out of range");
    const double mjd = HexSingleGet(m_eventData, base + 8);
    if (!std::isfinite(mjd) || mjd < 0 || mjd > kLatestMjd || mjd != std::floor(mjd))
        return QStringLiteral("date out of range");
    return QString();
}

int ControllerImages::sensorType(int n) const
{
    const int type = HexByteGet(m_kalibController, (n - 1) * cHydoSensor::kRecordSize);
    // The controller's display settings choose how oxygen, redox and conductivity are shown.
    if (aq_AnzSauerStoff() == 0 && type == 6)
        return 9;
    if (aq_AnzRedox() == 1 && type == 3)
        return 10;
    if (aq_AnzLeitwert() == 1 && type == 4)
        return 11;
    if (aq_AnzLeitwert() == 2 && type == 4)
        return 12;
    return type;
}

QString ControllerImages::versionNumberText(float version)
{
    // Firmware versions have two decimals: 2.20 is shown as such, not as 2.2.
    return QLocale().toString(static_cast<double>(version), 'f', 2);
}

bool ControllerImages::kalib_is_dirty() const
{
    // Slope and offset of each sensor, from the controller's copy and from the database's.
    for (int i = 1; i <= kSensors; ++i) {
        const int base = (i - 1) * cHydoSensor::kRecordSize;
        const float slopeController = HexSingleGet(m_kalibController, base + 10);
        const float offsetController = HexSingleGet(m_kalibController, base + 14);
        const float slopeDatabase = HexSingleGet(m_kalibDatabase, base + 10);
        const float offsetDatabase = HexSingleGet(m_kalibDatabase, base + 14);
        if (!sameSingle(slopeController, slopeDatabase) ||
            !sameSingle(offsetController, offsetDatabase))
            return true;
    }
    return false;
}
