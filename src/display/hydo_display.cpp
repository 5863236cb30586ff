#include "display/hydo_display.h"

#include "store/database.h"

#include "link/encodings.h"

#include <stdexcept>

namespace
{

constexpr int kStartDate = 0;
constexpr int kStartTime = 4;
constexpr int kEndDate = 8;
constexpr int kEndTime = 12;
constexpr int kOnlineData = 16;
constexpr int kOnlineNumber = 17;
constexpr int kOnlineIntervall = 21;
constexpr int kSlotBase = 22;
constexpr int kSlotSize = 11;
// Offsets within a slot.
constexpr int kSlotAqid = 0;
constexpr int kSlotSid = 2;
constexpr int kSlotYmax = 3;
constexpr int kSlotYmin = 7;

int slotAt(int slot, int offset)
{
    return kSlotBase + kSlotSize * (slot - 1) + offset;
}

int checkedByte(int value, const char *what)
{
    if (value < 0 || value > 255)
        throw std::overflow_error(std::string(what) + " does not fit in a byte");
    return value;
}

// Date field plus time field; the date field holds whole days.
QDateTime dateTimeAt(const QString &record, int datePos, int timePos)
{
    return QDateTime(HexDateGet(record, datePos).date(), HexTimeGet(record, timePos));
}

QString putDateTime(QString record, int datePos, int timePos, const QDateTime &when)
{
    record = HexDatePut(record, datePos, when.date());
    return HexTimePut(record, timePos, when.time());
}

const char *const kUnitNames[] = {"jahr", "monat", "tag", "stunde", "minute", "sekunde"};
const char *const kUnits[] = {"yyyy", "m", "d", "h", "n", "s"};

} // namespace

cHydoDisplay::cHydoDisplay() : m_record(kRecordChars, QLatin1Char('0'))
{
    m_aqid << kLogbookAqid;
    m_sid << 0;
    m_ymax << kLogbookYmax;
    m_ymin << kLogbookYmin;
}

QDateTime cHydoDisplay::StartDatum() const
{
    return dateTimeAt(m_record, kStartDate, kStartTime);
}

void cHydoDisplay::set_StartDatum(const QDateTime &when)
{
    m_record = putDateTime(m_record, kStartDate, kStartTime, when);
}

QDateTime cHydoDisplay::endDatum() const
{
    return dateTimeAt(m_record, kEndDate, kEndTime);
}

void cHydoDisplay::set_endDatum(const QDateTime &when)
{
    m_record = putDateTime(m_record, kEndDate, kEndTime, when);
}

bool cHydoDisplay::onlinedata() const
{
    return HexByteGet(m_record, kOnlineData) > 0;
}

void cHydoDisplay::set_onlinedata(bool online)
{
    m_record = HexBytePut(m_record, kOnlineData, online ? 255 : 0);
}

float cHydoDisplay::onlinenumber() const
{
    return HexSingleGet(m_record, kOnlineNumber);
}

void cHydoDisplay::set_onlinenumber(float number)
{
    m_record = HexSinglePut(m_record, kOnlineNumber, number);
}

int cHydoDisplay::onlineintervall() const
{
    return HexByteGet(m_record, kOnlineIntervall);
}

void cHydoDisplay::set_onlineintervall(int code)
{
    m_record = HexBytePut(m_record, kOnlineIntervall, checkedByte(code, "onlineintervall"));
}

void cHydoDisplay::checkIndex(int index) const
{
    if (index < 1 || index > m_aqid.size())
        throw std::out_of_range("chart series " + std::to_string(index) + " does not exist");
}

int cHydoDisplay::aqid(int index) const
{
    checkIndex(index);
    return m_aqid[index - 1];
}

int cHydoDisplay::sid(int index) const
{
    checkIndex(index);
    return m_sid[index - 1];
}

float cHydoDisplay::ymin(int index) const
{
    checkIndex(index);
    return m_ymin[index - 1];
}

void cHydoDisplay::ymin_replace(int index, float value)
{
    checkIndex(index);
    m_ymin[index - 1] = value;
}

float cHydoDisplay::ymax(int index) const
{
    checkIndex(index);
    return m_ymax[index - 1];
}

void cHydoDisplay::ymax_replace(int index, float value)
{
    checkIndex(index);
    m_ymax[index - 1] = value;
}

void cHydoDisplay::add(int aqid, int sid, float ymax, float ymin)
{
    m_sid << checkedByte(sid, "sensor number");
    m_aqid << aqid;
    m_ymax << ymax;
    m_ymin << ymin;
    rewriteSlots();
}

void cHydoDisplay::remove(int index)
{
    checkIndex(index + 1);
    m_aqid.removeAt(index);
    m_sid.removeAt(index);
    m_ymax.removeAt(index);
    m_ymin.removeAt(index);
    rewriteSlots();
}

int cHydoDisplay::count() const
{
    return static_cast<int>(m_aqid.size());
}

void cHydoDisplay::rewriteSlots()
{
    for (int k = 1; k <= kSlots; ++k) {
        m_record = HexWordPut(m_record, slotAt(k, kSlotAqid), 0);
        m_record = HexBytePut(m_record, slotAt(k, kSlotSid), 0);
        m_record = HexSinglePut(m_record, slotAt(k, kSlotYmax), 0);
        m_record = HexSinglePut(m_record, slotAt(k, kSlotYmin), 0);
    }
    for (int i = 1; i <= std::min(count(), kSlots); ++i) {
        m_record = HexWordPut(m_record, slotAt(i, kSlotAqid), m_aqid[i - 1]);
        m_record = HexBytePut(m_record, slotAt(i, kSlotSid), m_sid[i - 1]);
        m_record = HexSinglePut(m_record, slotAt(i, kSlotYmax), m_ymax[i - 1]);
        m_record = HexSinglePut(m_record, slotAt(i, kSlotYmin), m_ymin[i - 1]);
    }
}

void cHydoDisplay::init(const QString &record)
{
    // The slots replace the lists: appending them to the logbook series already there would
    // show the logbook twice and every empty slot as a series of controller 0.
    m_record = record;
    m_aqid.clear();
    m_sid.clear();
    m_ymax.clear();
    m_ymin.clear();
    for (int k = 1; k <= kSlots; ++k) {
        const int aqid = HexWordGet(m_record, slotAt(k, kSlotAqid));
        const int sid = HexByteGet(m_record, slotAt(k, kSlotSid));
        if (aqid == 0 && sid == 0)
            continue; // an unused slot; a sensor series always has a sensor number
        m_aqid << aqid;
        m_sid << sid;
        m_ymax << HexSingleGet(m_record, slotAt(k, kSlotYmax));
        m_ymin << HexSingleGet(m_record, slotAt(k, kSlotYmin));
    }
}

int IntervalCodeOf(const QString &name)
{
    const QString lower = name.toLower();
    for (int code = 0; code < static_cast<int>(std::size(kUnitNames)); ++code)
        if (lower == QLatin1String(kUnitNames[code]))
            return code;
    return 0;
}

QString IntervalUnit(int code)
{
    if (code < 0 || code >= static_cast<int>(std::size(kUnits)))
        return QString();
    return QLatin1String(kUnits[code]);
}

QDateTime DateAdd(const QString &unit, double number, const QDateTime &when)
{
    const qint64 n = static_cast<qint64>(RoundHalfEven(number));
    if (unit == QLatin1String("yyyy"))
        return when.addYears(static_cast<int>(n));
    if (unit == QLatin1String("m"))
        return when.addMonths(static_cast<int>(n));
    if (unit == QLatin1String("d"))
        return when.addDays(n);
    // Hours, minutes and seconds count on the wall clock, as the archive's DATUM does: an
    // hour back from the repeated autumn hour is an hour earlier on the clock, not the same
    // reading.
    qint64 seconds = 0;
    if (unit == QLatin1String("h"))
        seconds = n * 3600;
    else if (unit == QLatin1String("n"))
        seconds = n * 60;
    else if (unit == QLatin1String("s"))
        seconds = n;
    else
        return when;
    return Database::dateTimeOf(Database::wallSecond(when) + seconds);
}
