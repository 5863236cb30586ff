#include "model/ctarvelon.h"

#include "link/clock.h"
#include "link/encodings.h"
#include "model/tables.h"
#include "store/database.h"

#include <bit>
#include <cctype>
#include <cmath>
#include <stdexcept>

namespace
{

void checkIndex(const char *what, int i, int high)
{
    if (i < 0 || i > high)
        throw std::out_of_range(std::string(what) + " index " + std::to_string(i) +
                                " is outside 0.." + std::to_string(high));
}

} // namespace

cTarvelon::cTarvelon(Clock &clock, Progress &progress, Interaction &interaction)
    : ControllerImages(clock), m_progress(progress), m_interaction(interaction)
{
}

cTarvelon::~cTarvelon() = default;

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
