#include "model/ctarvelon.h"

#include "link/clock.h"
#include "link/encodings.h"
#include "model/tables.h"
#include "store/database.h"

#include <QRegularExpression>

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

const FieldInfo kControllerFields[] = {
#define OSTRACOM_FIELD_INFO(name, pos, kind, scale) {#name, pos, FieldKind::kind, scale},
    OSTRACOM_TARVELON_FIELDS(OSTRACOM_FIELD_INFO)
#undef OSTRACOM_FIELD_INFO
};

const FieldInfo kRegulationFields[] = {
#define OSTRACOM_FIELD_INFO(name, pos, kind, scale) {#name, pos, FieldKind::kind, scale},
    OSTRACOM_REGELUNG_FIELDS(OSTRACOM_FIELD_INFO)
#undef OSTRACOM_FIELD_INFO
};

const FieldInfo *findField(const FieldInfo *begin, const FieldInfo *end, const QString &name)
{
    for (const FieldInfo *f = begin; f != end; ++f)
        if (name == QLatin1String(f->name))
            return f;
    return nullptr;
}

// Equal values, or the same bits: a field that holds no number (an unset record's FFFFFFFF)
// equals itself, as it would never compare equal as a number.
bool sameSingle(float a, float b)
{
    return a == b || std::bit_cast<quint32>(a) == std::bit_cast<quint32>(b);
}

void checkIndex(const char *what, int i, int high)
{
    if (i < 0 || i > high)
        throw std::out_of_range(std::string(what) + " index " + std::to_string(i) +
                                " is outside 0.." + std::to_string(high));
}

} // namespace

cTarvelon::cTarvelon(Clock &clock, Progress &progress, Interaction &interaction)
    : m_clock(clock), m_progress(progress), m_interaction(interaction)
{
}

cTarvelon::~cTarvelon() = default;

void cTarvelon::set_HydoProgramString(const QString &image)
{
    m_program = image;
    if (ProgrammingStatusChange)
        ProgrammingStatusChange();
}

QDateTime cTarvelon::aq_Datum_Uhrzeit() const
{
    return QDateTime(HexDateGet(m_program, kClockDatePos).date(),
                     HexTimeGet(m_program, kClockTimePos));
}

void cTarvelon::set_aq_Datum_Uhrzeit(const QDateTime &when)
{
    QString image = writeField<FieldKind::Time>(m_program, kClockTimePos, 0, when.time());
    image = writeField<FieldKind::Date>(image, kClockDatePos, 0, when.date());
    set_HydoProgramString(image);
}

int cTarvelon::aq_id_raw() const
{
    return HexWordGet(m_program, kIdPos);
}

int cTarvelon::aq_id()
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

void cTarvelon::set_aq_id(int id)
{
    set_HydoProgramString(writeField<FieldKind::Word>(m_program, kIdPos, 0, id));
}

float cTarvelon::aq_Version() const
{
    return HexSingleGet(m_versionData, kVersionPos);
}

int cTarvelon::aq_SubRelease() const
{
    return HexByteGet(m_versionData, kSubReleasePos);
}

int cTarvelon::Event_Count() const
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

int cTarvelon::Event_Sensor_nr(int i) const
{
    return HexByteGet(m_eventData, eventBase(i));
}

int cTarvelon::Event_RegelStatus(int i) const
{
    return HexByteGet(m_eventData, eventBase(i) + 1);
}

double cTarvelon::Event_Wert(int i) const
{
    // Scaled by the type of the sensor the record belongs to, as the controller stores it.
    const int sensor = Event_Sensor_nr(i);
    int type = 0;
    if (sensor >= 1 && sensor <= kSensors)
        type = const_cast<cTarvelon *>(this)->Sensor(sensor).sensortyp();
    return static_cast<double>(HexWordGet(m_eventData, eventBase(i) + 2)) /
           tables::scaleFactor(type);
}

QDateTime cTarvelon::Event_Datum(int i) const
{
    const int base = eventBase(i);
    return QDateTime(HexDateGet(m_eventData, base + 8).date(), HexTimeGet(m_eventData, base + 4));
}

QString cTarvelon::Event_RecordText(int i) const
{
    return m_eventData.mid(eventBase(i) * 2, kEventRecordBytes * 2);
}

QString cTarvelon::Event_DatumText(int i) const
{
    const int base = eventBase(i);
    return Database::datumText(HexDateGet(m_eventData, base + 8).date(),
                               HexTimeGet(m_eventData, base + 4));
}

QString cTarvelon::Event_Problem(int i) const
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

cHydoSensor &cTarvelon::Sensor(int i)
{
    checkIndex("Sensor", i, kSensors);
    auto &slot = m_sensors[static_cast<size_t>(i)];
    if (!slot) {
        slot = std::make_unique<cHydoSensor>();
        slot->init(this, i);
    }
    return *slot;
}

cHydoAktor &cTarvelon::Aktor(int i)
{
    checkIndex("Aktor", i, kSockets);
    auto &slot = m_sockets[static_cast<size_t>(i)];
    if (!slot) {
        slot = std::make_unique<cHydoAktor>();
        slot->init(this, i);
    }
    return *slot;
}

cHydoRegelung &cTarvelon::Regelung(int sensor, int regulation)
{
    checkIndex("Regelung sensor", sensor, kSensors);
    checkIndex("Regelung", regulation, kRegulationsPerSensor);
    auto &slot = m_regulations[static_cast<size_t>(sensor)][static_cast<size_t>(regulation)];
    if (!slot) {
        slot = std::make_unique<cHydoRegelung>();
        slot->bind(this, sensor, regulation);
    }
    return *slot;
}

cHydoIntervallSteuerung &cTarvelon::IntervallSteuerung(int i)
{
    checkIndex("IntervallSteuerung", i, kIntervalControls);
    auto &slot = m_intervals[static_cast<size_t>(i)];
    if (!slot) {
        slot = std::make_unique<cHydoIntervallSteuerung>();
        slot->init(this, i);
    }
    return *slot;
}

cHydoStroemungsSimulation *cTarvelon::aq_StroemungsSimulation(int n)
{
    if (n < 1 || n > kFlowEntries)
        return nullptr;
    auto &slot = m_flow[static_cast<size_t>(n)];
    if (!slot) {
        slot = std::make_unique<cHydoStroemungsSimulation>();
        slot->init(this, n);
    }
    // Entries 11 to 16 reach past the socket table and the image's end; their fields then
    // read as 0 and no date.
    const int base =
        cHydoStroemungsSimulation::kTableStart + (n - 1) * cHydoStroemungsSimulation::kRecordSize;
    cHydoStroemungsSimulation &e = *slot;
    e.Byte0 = HexByteGet(m_program, base);
    QDate *dates[] = {&e.Datum1, &e.Datum2, &e.Datum3, &e.Datum4, &e.Datum5};
    for (int k = 0; k < 5; ++k) {
        const int pos = base + 1 + 4 * k;
        *dates[k] = (pos + 4) * 2 <= m_program.size() ? HexDateGet(m_program, pos).date() : QDate();
    }
    int *bytes[] = {&e.Byte21, &e.Byte22, &e.Byte23, &e.Byte24, &e.Byte25};
    for (int k = 0; k < 5; ++k)
        *bytes[k] = HexByteGet(m_program, base + 21 + k);
    return &e;
}

cHydoSensor *cTarvelon::First_sensor_of_type(int type, bool &found)
{
    for (int i = 1; i <= kSensors; ++i) {
        if (Sensor(i).sensortyp() == type) {
            found = true;
            return &Sensor(i);
        }
    }
    return nullptr;
}

int cTarvelon::SensorAnzahl()
{
    int n = 0;
    for (int i = 1; i <= kSensors; ++i)
        if (Sensor(i).sensortyp() != 0)
            ++n;
    return n;
}

QString cTarvelon::MesswertEinheit(int type) const
{
    return tables::sensorUnit(type);
}

QString cTarvelon::formatierte_MesswertEinheit(int type) const
{
    return tables::formattedUnit(type);
}

double cTarvelon::HorizontaleKompression(int type) const
{
    return tables::compression(type);
}

double cTarvelon::LineareKompression(int type) const
{
    return tables::compression(type);
}

bool cTarvelon::kalib_is_dirty()
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

QStringList cTarvelon::fieldNames()
{
    QStringList names;
    for (const FieldInfo &f : kControllerFields)
        names << QString::fromLatin1(f.name);
    names << QStringLiteral("aq_Datum_Uhrzeit") << QStringLiteral("aq_id");
    for (const FieldInfo &f : kRegulationFields)
        names << QStringLiteral("Regelung(S,R).") + QString::fromLatin1(f.name);
    names << QStringLiteral("Regelung(S,R).SW_UntereWarnung")
          << QStringLiteral("Regelung(S,R).SW_ObereWarnung")
          << QStringLiteral("Regelung(S,R).beschreibung");
    return names;
}

namespace
{
// "Regelung(2,1).RW_ObererAlarm" -> sensor 2, regulation 1, field name.
bool parseRegulationName(const QString &name, int *sensor, int *regulation, QString *field)
{
    static const QRegularExpression re(
        QStringLiteral(R"(^Regelung\(\s*(\d+)\s*,\s*(\d+)\s*\)\.(\w+)$)"));
    const auto m = re.match(name);
    if (!m.hasMatch())
        return false;
    *sensor = m.captured(1).toInt();
    *regulation = m.captured(2).toInt();
    *field = m.captured(3);
    return true;
}
} // namespace

std::optional<QString> cTarvelon::fieldText(const QString &name)
{
    if (const FieldInfo *f =
            findField(std::begin(kControllerFields), std::end(kControllerFields), name))
        return fieldToText(m_program, 0, *f);
    if (name == QLatin1String("aq_id"))
        return QString::number(aq_id_raw());
    if (name == QLatin1String("aq_Datum_Uhrzeit"))
        return aq_Datum_Uhrzeit().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    int s = 0, r = 0;
    QString field;
    if (!parseRegulationName(name, &s, &r, &field) || s < 1 || s > kSensors || r < 1 ||
        r > kRegulationsPerSensor)
        return std::nullopt;
    cHydoRegelung &reg = Regelung(s, r);
    if (const FieldInfo *f =
            findField(std::begin(kRegulationFields), std::end(kRegulationFields), field))
        return fieldToText(m_program, reg.recordBase(), *f);
    if (field == QLatin1String("SW_UntereWarnung"))
        return QString::number(reg.SW_UntereWarnung());
    if (field == QLatin1String("SW_ObereWarnung"))
        return QString::number(reg.SW_ObereWarnung());
    if (field == QLatin1String("beschreibung"))
        return reg.beschreibung();
    return std::nullopt;
}

bool cTarvelon::setFieldByName(const QString &name, const QString &value, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (const FieldInfo *f =
            findField(std::begin(kControllerFields), std::end(kControllerFields), name)) {
        const auto image = fieldFromText(m_program, 0, *f, value, error);
        if (!image)
            return false;
        set_HydoProgramString(*image);
        return true;
    }
    if (name == QLatin1String("aq_id")) {
        bool ok = false;
        const int id = value.trimmed().toInt(&ok);
        if (!ok || id < 1 || id > 32767)
            return fail(QStringLiteral("aq_id=%1 is not an identifier 1..32767").arg(value));
        set_aq_id(id);
        return true;
    }
    if (name == QLatin1String("aq_Datum_Uhrzeit")) {
        const QDateTime when =
            QDateTime::fromString(value.trimmed(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!when.isValid())
            return fail(
                QStringLiteral("aq_Datum_Uhrzeit=%1 is not a time yyyy-mm-dd hh:mm:ss").arg(value));
        set_aq_Datum_Uhrzeit(when);
        return true;
    }
    int s = 0, r = 0;
    QString field;
    if (!parseRegulationName(name, &s, &r, &field))
        return fail(QStringLiteral("unknown field %1").arg(name));
    if (s < 1 || s > kSensors || r < 1 || r > kRegulationsPerSensor)
        return fail(QStringLiteral("%1: sensor must be 1..8 and regulation 1..4").arg(name));
    cHydoRegelung &reg = Regelung(s, r);
    if (const FieldInfo *f =
            findField(std::begin(kRegulationFields), std::end(kRegulationFields), field)) {
        const auto image = fieldFromText(m_program, reg.recordBase(), *f, value, error);
        if (!image)
            return false;
        set_HydoProgramString(*image);
        return true;
    }
    if (field == QLatin1String("beschreibung")) {
        reg.set_beschreibung(value);
        return true;
    }
    if (field == QLatin1String("SW_UntereWarnung") || field == QLatin1String("SW_ObereWarnung")) {
        bool ok = false;
        const double d = value.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(d) || std::fabs(d) > kLargestSingle)
            return fail(QStringLiteral("%1=%2 is not a number").arg(name, value));
        if (field == QLatin1String("SW_UntereWarnung"))
            reg.set_SW_UntereWarnung(static_cast<float>(d));
        else
            reg.set_SW_ObereWarnung(static_cast<float>(d));
        return true;
    }
    return fail(QStringLiteral("unknown field %1").arg(name));
}
