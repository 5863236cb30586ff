#pragma once

// Archive queries of charts: the value of a sensor at an instant, the conversion of stored
// values of derived sensor types, and the point table of a chart definition.

#include "store/database.h"

#include <QDateTime>
#include <QList>

#include <functional>
#include <optional>
#include <vector>

class cTarvelon;
class cHydoSensor;

// Day numbers of the charts' time axis: days since 30.12.1899, the time of day as fraction,
// read from the wall clock.
double DayNumber(const QDateTime &when);
double DayNumber(WallSecond second);
QDateTime DateTimeOfDayNumber(double day);
// The wall-clock reading of a day number as DATUM text ("YYYY-MM-DD HH:MM:SS"), also for the
// hour summer time skips, which no local QDateTime holds.
QString WallTextOfDayNumber(double day);

// What converting a stored value of one sensor needs to know.
struct SensorConversion {
    int tarvelonId = 0;
    int type = 0;        // display type (cHydoSensor::sensortyp)
    int kompSensor1 = 0; // temperature sensor of an oxygen saturation value, 0 for none
    int kompSensor2 = 0; // air pressure sensor, 0 for none
    int wasserart = 0;   // 1 for sea water

    // True when the value depends on other sensors at the same instant.
    bool needsCompensation() const;
    // True when the conversion keeps the order of values from `lowest` on, so the extremes
    // of the stored values convert to the extremes of the converted ones.
    bool keepsOrderFrom(double lowest) const;
};
SensorConversion ConversionOf(cTarvelon &controller, int sensorNumber);
// The conversion of a chart series, or nullopt when its controller is not at hand: the
// values are then drawn as stored.
using SensorLookup = std::function<std::optional<SensorConversion>(int aqid, int sid)>;

// The value of a sensor at an instant, interpolated linearly between the archived values
// around it; nullopt when the sensor has no archived value at all.
std::optional<double> ArchiveValueAt(const Database &db, const QDateTime &t, int tarvelonId,
                                     int sensor);
std::optional<double> ArchiveValueAt(const Database &db, WallSecond t, double fraction,
                                     int tarvelonId, int sensor);

// A stored value x converted for display as its type requires. Compensation values are
// taken from the archive at t; a compensation sensor without archived values counts as none.
double DerivedValue(const Database &db, cTarvelon &controller, cHydoSensor &sensor, int type,
                    const QDateTime &t, double x);
double DerivedValue(const Database &db, const SensorConversion &conversion, WallSecond t, double x);
// The conversion itself, with the compensation values already known.
double ConvertStored(const SensorConversion &conversion, double x,
                     std::optional<double> temperature, std::optional<double> pressure);
// DerivedValue of every sample (sorted by time), reading each compensation sensor once.
std::vector<double> DerivedValues(const Database &db, const SensorConversion &conversion,
                                  const std::vector<ArchiveSample> &samples);

// The point table of a chart: per series a column of X (day numbers) and one of Y; at least
// two rows, trailing cells of shorter series 0. Series and rows count from 0 here.
class PointTable
{
public:
    void reset(int series, int rows);
    void grow(int rows); // keeps the contents
    int rows() const { return m_rows; }
    int series() const { return m_series; }
    double x(int series, int row) const { return m_cells[index(series, row)]; }
    double y(int series, int row) const { return m_cells[index(series, row) + 1]; }
    void set(int series, int row, double x, double y);

private:
    size_t index(int series, int row) const
    {
        return (static_cast<size_t>(row) * m_series + series) * 2;
    }
    int m_series = 0;
    int m_rows = 0;
    std::vector<double> m_cells;
};

// Every archived value of each series with start < DATUM < end, in time order, between a
// point at start and one at end interpolated from the archive; the logbook series (aqid -1)
// takes its boundary points ten days outside the range. maxima and minima receive each
// series' extremes. A boundary without any archived value is left out.
void ArchiveFetch(const Database &db, const QDateTime &start, const QDateTime &end,
                  const QList<int> &aqids, const QList<int> &sids, QList<double> &maxima,
                  QList<double> &minima, PointTable &table, const SensorLookup &lookup = {});
