#include "display/archive_query.h"

#include "link/encodings.h"
#include "model/ctarvelon.h"

#include <algorithm>
#include <cmath>

namespace
{

constexpr double kDayOfUnixEpoch = 25569; // 01.01.1970 counted from 30.12.1899
constexpr double kSecondsPerDay = 86400;
constexpr int kLogbookAqid = -1;
constexpr int kLogbookMarginDays = 10;

// Defaults of an oxygen saturation value without its compensation sensors.
constexpr double kDefaultTemperature = 25.0;
constexpr double kDefaultPressure = 1000.0;
// The conductivity conversion rises for every value above this one.
constexpr double kSalinityRisesFrom = -38.0;

constexpr double kDensityFactors[] = {4.06167, 4.09304, 4.12338, 4.15277, 4.18127, 4.20894,
                                      4.23584, 4.26203, 4.28755, 4.31244, 4.33676, 4.36054,
                                      4.38382, 4.40665, 4.42904, 4.45105, 4.47269, 4.494,
                                      4.515,   4.53574, 4.55622};

// Linear interpolation between the value at or before t and the one at or after it.
std::optional<double> interpolate(const std::optional<ArchiveSample> &before,
                                  const std::optional<ArchiveSample> &after, double t)
{
    if (!before || (after && after->second == before->second))
        return after ? std::optional<double>(after->wert) : std::nullopt;
    if (!after)
        return before->wert;
    const double y1 = before->wert;
    const double y2 = after->wert;
    return y1 + (y2 - y1) / static_cast<double>(after->second - before->second) *
                    (t - static_cast<double>(before->second));
}

// The samples of one sensor that the values at times first..last are interpolated from, and
// a walk over them for rising times.
class NeighbourWalk
{
public:
    NeighbourWalk(const Database &db, int tarvelonId, int sensor, WallSecond first, WallSecond last)
    {
        using N = Database::Neighbour;
        if (const auto b = db.archiveNeighbour(tarvelonId, sensor, first - 1, N::Before))
            m_samples.push_back(*b);
        const auto inside = db.archiveSamples(tarvelonId, sensor, first, last + 1);
        m_samples.insert(m_samples.end(), inside.begin(), inside.end());
        if (const auto a = db.archiveNeighbour(tarvelonId, sensor, last + 1, N::After))
            m_samples.push_back(*a);
    }

    std::optional<double> at(WallSecond t)
    {
        while (m_atOrBefore < m_samples.size() && m_samples[m_atOrBefore].second <= t)
            ++m_atOrBefore;
        while (m_atOrAfter < m_samples.size() && m_samples[m_atOrAfter].second < t)
            ++m_atOrAfter;
        const std::optional<ArchiveSample> before =
            m_atOrBefore > 0 ? std::optional(m_samples[m_atOrBefore - 1]) : std::nullopt;
        const std::optional<ArchiveSample> after =
            m_atOrAfter < m_samples.size() ? std::optional(m_samples[m_atOrAfter]) : std::nullopt;
        return interpolate(before, after, static_cast<double>(t));
    }

private:
    std::vector<ArchiveSample> m_samples;
    size_t m_atOrBefore = 0; // samples at or before the last t
    size_t m_atOrAfter = 0;  // index of the first sample at or after the last t
};

double fractionOfSecond(const QDateTime &t)
{
    return (t.toLocalTime().time().msec()) / 1000.0;
}

} // namespace

double DayNumber(WallSecond second)
{
    return static_cast<double>(second) / kSecondsPerDay + kDayOfUnixEpoch;
}

double DayNumber(const QDateTime &when)
{
    return (static_cast<double>(Database::wallSecond(when)) + fractionOfSecond(when)) /
               kSecondsPerDay +
           kDayOfUnixEpoch;
}

QDateTime DateTimeOfDayNumber(double day)
{
    const qint64 ms = std::llround((day - kDayOfUnixEpoch) * kSecondsPerDay * 1000.0);
    const qint64 second = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    return Database::dateTimeOf(second).addMSecs(ms - second * 1000);
}

QString WallTextOfDayNumber(double day)
{
    return Database::datumText(
        static_cast<WallSecond>(std::llround((day - kDayOfUnixEpoch) * kSecondsPerDay)));
}

bool SensorConversion::needsCompensation() const
{
    return type == 6 && (kompSensor1 != 0 || kompSensor2 != 0);
}

bool SensorConversion::keepsOrderFrom(double lowest) const
{
    if (needsCompensation())
        return false;
    return type != 11 || lowest >= kSalinityRisesFrom;
}

SensorConversion ConversionOf(cTarvelon &controller, int sensorNumber)
{
    cHydoSensor &sensor = controller.Sensor(sensorNumber);
    return SensorConversion{controller.aq_id(), sensor.sensortyp(), sensor.KompSensor1(),
                            sensor.KompSensor2(), sensor.Wasserart()};
}

double ConvertStored(const SensorConversion &conversion, double x,
                     std::optional<double> temperature, std::optional<double> pressure)
{
    switch (conversion.type) {
    case 6: {
        // Oxygen saturation to concentration: partial pressure of oxygen over the water times
        // its solubility at the water's temperature.
        const double th = temperature.value_or(kDefaultTemperature);
        const double p = pressure.value_or(kDefaultPressure);
        const double pw = 6.92e-6 * std::pow(th, 4) + 6.3e-5 * std::pow(th, 3) + 0.0179 * th * th +
                          0.4316 * th + 6.104;
        const double po2 = (p - pw) * 0.2095;
        const double c = conversion.wasserart == 1
                             ? 3.95e-9 * std::pow(th, 4) - 5.9e-7 * std::pow(th, 3) +
                                   4.21e-5 * th * th - 0.0019105 * th + 0.06931
                             : 3.3e-9 * std::pow(th, 4) - 4.5e-7 * std::pow(th, 3) +
                                   2.995e-5 * th * th - 0.001413 * th + 0.05415;
        return x * po2 * c / 100;
    }
    case 10:
        return 2 * 7.0 + x / 29 + 6.67;
    case 11: {
        const double d = x / 1.106333 - 1;
        return 0.48273 * (1 + 1.2577 * d + 0.0093421 * d * d - 0.00011297 * std::pow(d, 3) +
                          7.5368e-7 * std::pow(d, 4));
    }
    case 12: {
        const int j = x > 60 ? 20 : x < 40 ? 0 : static_cast<int>(RoundHalfEven(x - 40));
        return x * kDensityFactors[j] / 10000 + 1;
    }
    default:
        return x;
    }
}

std::optional<double> ArchiveValueAt(const Database &db, WallSecond t, double fraction,
                                     int tarvelonId, int sensor)
{
    using N = Database::Neighbour;
    return interpolate(db.archiveNeighbour(tarvelonId, sensor, t, N::Before),
                       db.archiveNeighbour(tarvelonId, sensor, t, N::After),
                       static_cast<double>(t) + fraction);
}

std::optional<double> ArchiveValueAt(const Database &db, const QDateTime &t, int tarvelonId,
                                     int sensor)
{
    return ArchiveValueAt(db, Database::wallSecond(t), fractionOfSecond(t), tarvelonId, sensor);
}

double DerivedValue(const Database &db, const SensorConversion &conversion, WallSecond t, double x)
{
    if (!conversion.needsCompensation())
        return ConvertStored(conversion, x, std::nullopt, std::nullopt);
    auto compensation = [&](int sensor) {
        return sensor != 0 ? ArchiveValueAt(db, t, 0, conversion.tarvelonId, sensor) : std::nullopt;
    };
    return ConvertStored(conversion, x, compensation(conversion.kompSensor1),
                         compensation(conversion.kompSensor2));
}

double DerivedValue(const Database &db, cTarvelon &controller, cHydoSensor &sensor, int type,
                    const QDateTime &t, double x)
{
    SensorConversion conversion = ConversionOf(controller, sensor.sensornummer());
    conversion.type = type;
    return DerivedValue(db, conversion, Database::wallSecond(t), x);
}

std::vector<double> DerivedValues(const Database &db, const SensorConversion &conversion,
                                  const std::vector<ArchiveSample> &samples)
{
    std::vector<double> out;
    out.reserve(samples.size());
    if (!conversion.needsCompensation() || samples.empty()) {
        for (const ArchiveSample &s : samples)
            out.push_back(ConvertStored(conversion, s.wert, std::nullopt, std::nullopt));
        return out;
    }
    const WallSecond first = samples.front().second;
    const WallSecond last = samples.back().second;
    std::optional<NeighbourWalk> temperature, pressure;
    if (conversion.kompSensor1 != 0)
        temperature.emplace(db, conversion.tarvelonId, conversion.kompSensor1, first, last);
    if (conversion.kompSensor2 != 0)
        pressure.emplace(db, conversion.tarvelonId, conversion.kompSensor2, first, last);
    for (const ArchiveSample &s : samples)
        out.push_back(ConvertStored(conversion, s.wert,
                                    temperature ? temperature->at(s.second) : std::nullopt,
                                    pressure ? pressure->at(s.second) : std::nullopt));
    return out;
}

void PointTable::reset(int series, int rows)
{
    m_series = series;
    m_rows = rows;
    m_cells.assign(static_cast<size_t>(series) * rows * 2, 0.0);
}

void PointTable::grow(int rows)
{
    if (rows <= m_rows)
        return;
    m_rows = rows;
    m_cells.resize(static_cast<size_t>(m_series) * rows * 2, 0.0);
}

void PointTable::set(int series, int row, double x, double y)
{
    m_cells[index(series, row)] = x;
    m_cells[index(series, row) + 1] = y;
}

void ArchiveFetch(const Database &db, const QDateTime &start, const QDateTime &end,
                  const QList<int> &aqids, const QList<int> &sids, QList<double> &maxima,
                  QList<double> &minima, PointTable &table, const SensorLookup &lookup)
{
    const int n = static_cast<int>(std::min(aqids.size(), sids.size()));
    table.reset(n, 2);
    maxima.resize(n);
    minima.resize(n);
    const WallSecond from = Database::wallSecond(start);
    const WallSecond to = Database::wallSecond(end);
    for (int i = 0; i < n; ++i) {
        const int aqid = aqids[i];
        const int sid = sids[i];
        const bool logbook = aqid == kLogbookAqid;
        std::optional<SensorConversion> conversion;
        if (!logbook && lookup)
            conversion = lookup(aqid, sid);
        // The boundary values are converted like every other: a derived series drawn from
        // its stored values at both ends would jump and spoil its automatic value range.
        auto boundary = [&](const QDateTime &t) -> std::optional<double> {
            const auto v = ArchiveValueAt(db, t, aqid, sid);
            if (!v || !conversion)
                return v;
            return DerivedValue(db, *conversion, Database::wallSecond(t), *v);
        };

        std::vector<std::pair<double, double>> points;
        if (const auto y = boundary(start))
            points.emplace_back(DayNumber(start) - (logbook ? kLogbookMarginDays : 0), *y);
        // DATUM > start and DATUM < end, compared to the second.
        const std::vector<ArchiveSample> rows = db.archiveSamples(aqid, sid, from + 1, to);
        const std::vector<double> values =
            conversion ? DerivedValues(db, *conversion, rows) : std::vector<double>();
        for (size_t r = 0; r < rows.size(); ++r)
            points.emplace_back(DayNumber(rows[r].second), conversion ? values[r] : rows[r].wert);
        if (const auto y = boundary(end))
            points.emplace_back(DayNumber(end) + (logbook ? kLogbookMarginDays : 0), *y);

        table.grow(static_cast<int>(points.size()));
        double high = 0, low = 0;
        for (size_t r = 0; r < points.size(); ++r) {
            table.set(i, static_cast<int>(r), points[r].first, points[r].second);
            high = r == 0 ? points[r].second : std::max(high, points[r].second);
            low = r == 0 ? points[r].second : std::min(low, points[r].second);
        }
        maxima[i] = high;
        minima[i] = low;
    }
}
