#include "display/chart_points.h"

#include "display/hydo_display.h"

#include <algorithm>
#include <array>
#include <map>

namespace
{

constexpr int kLogbookMarginDays = 10;
constexpr size_t kPointsPerColumn = 4;

double dayOf(double second)
{
    return DayNumber(WallSecond(0)) + second / 86400.0;
}

class Extremes
{
public:
    void note(double v)
    {
        m_low = m_any ? std::min(m_low, v) : v;
        m_high = m_any ? std::max(m_high, v) : v;
        m_any = true;
    }
    double low() const { return m_low; }
    double high() const { return m_high; }

private:
    bool m_any = false;
    double m_low = 0;
    double m_high = 0;
};

WallSecond floorToSlot(WallSecond second, int slot)
{
    const WallSecond r = second % slot;
    return second - (r < 0 ? r + slot : r);
}

// The stored values of one column: first, the extremes between (their times are not kept,
// so they stand in the middle, in the order of the column's trend, and carry the span of the
// column's slots) and last.
void addSummaryColumn(const ArchiveColumn &c, int slot,
                      const std::optional<SensorConversion> &conversion,
                      std::optional<double> temperature, std::optional<double> pressure,
                      std::vector<ChartPoint> &points, Extremes &extremes)
{
    auto convert = [&](double x) {
        return conversion ? ConvertStored(*conversion, x, temperature, pressure) : x;
    };
    const double first = convert(c.first);
    const double last = convert(c.last);
    const double low = convert(c.minimum);
    const double high = convert(c.maximum);
    extremes.note(low);
    extremes.note(high);
    points.push_back({DayNumber(c.firstSecond), first});
    if (c.count == 1)
        return;
    const double middle = dayOf((static_cast<double>(c.firstSecond) + c.lastSecond) / 2);
    const bool rising = first <= last;
    const std::array<double, 2> between =
        rising ? std::array<double, 2>{low, high} : std::array<double, 2>{high, low};
    const WallSecond spanFrom = floorToSlot(c.firstSecond, slot);
    const WallSecond spanTo = floorToSlot(c.lastSecond, slot) + slot;
    for (double v : between)
        if (v != first && v != last)
            points.push_back({middle, v, spanFrom, spanTo});
    points.push_back({DayNumber(c.lastSecond), last});
}

// Archived rows of one column [begin, end): all of them when few, else first, the first
// lowest, the first highest and last, in time order.
void addRawColumn(const std::vector<ArchiveSample> &rows, const std::vector<double> &values,
                  size_t begin, size_t end, std::vector<ChartPoint> &points)
{
    std::vector<size_t> keep;
    if (end - begin <= kPointsPerColumn) {
        for (size_t i = begin; i < end; ++i)
            keep.push_back(i);
    } else {
        const auto low = std::min_element(values.begin() + begin, values.begin() + end);
        const auto high = std::max_element(values.begin() + begin, values.begin() + end);
        keep = {begin, static_cast<size_t>(low - values.begin()),
                static_cast<size_t>(high - values.begin()), end - 1};
        std::sort(keep.begin(), keep.end());
        keep.erase(std::unique(keep.begin(), keep.end()), keep.end());
    }
    for (size_t i : keep)
        points.push_back({DayNumber(rows[i].second), values[i]});
}

} // namespace

int ChartSlotSeconds(qint64 spanSeconds, int pixelWidth)
{
    const qint64 width = std::max(pixelWidth, 1);
    int slot = 1;
    for (int s : Database::kSummarySlots)
        if (s * width <= spanSeconds)
            slot = s;
    return slot;
}

namespace
{

// Where a chart's columns are read: which series, which seconds, how they fall into columns.
struct FetchRange {
    const Database &db;
    int aqid;
    int sid;
    WallSecond from;
    WallSecond to;
    ColumnGrid grid;
};

// The columns from the summaries, one point pair a column; false when the conversion needs
// every stored value instead.
bool addSummaryPoints(const FetchRange &r, int slot,
                      const std::optional<SensorConversion> &conversion, ChartSeries &out,
                      Extremes &extremes)
{
    ColumnGrid slotted = r.grid;
    slotted.slotSeconds = slot;
    const std::vector<ArchiveColumn> columns =
        r.db.archiveColumns(r.aqid, r.sid, r.from, r.to, slotted);
    double lowest = 0;
    for (size_t i = 0; i < columns.size(); ++i)
        lowest = i == 0 ? columns[i].minimum : std::min(lowest, columns[i].minimum);
    const bool compensated = conversion && conversion->needsCompensation();
    // A conversion that does not keep the order of values needs every stored value.
    if (conversion && !compensated && !columns.empty() && !conversion->keepsOrderFrom(lowest))
        return false;
    // A compensated value converts with the mean of its compensation sensors over the same
    // column: close enough at a column of minutes or hours, and a year is still read from
    // summaries rather than from millions of rows.
    std::map<int, double> temperature;
    std::map<int, double> pressure;
    auto means = [&](int sensor, std::map<int, double> &into) {
        if (!compensated || sensor == 0)
            return;
        for (const ArchiveColumn &c : r.db.archiveColumns(r.aqid, sensor, r.from, r.to, slotted))
            if (c.count > 0)
                into[c.column] = c.sum / double(c.count);
    };
    means(conversion ? conversion->kompSensor1 : 0, temperature);
    means(conversion ? conversion->kompSensor2 : 0, pressure);
    auto at = [](const std::map<int, double> &m, int column) -> std::optional<double> {
        const auto it = m.find(column);
        return it == m.end() ? std::nullopt : std::optional<double>(it->second);
    };
    for (const ArchiveColumn &c : columns)
        addSummaryColumn(c, slot, conversion, at(temperature, c.column), at(pressure, c.column),
                         out.points, extremes);
    out.slotSeconds = slot;
    return true;
}

// Every stored value: the logbook's as they are, a sensor's thinned to each column's points.
void addRawPoints(const FetchRange &r, bool logbook,
                  const std::optional<SensorConversion> &conversion, ChartSeries &out,
                  Extremes &extremes)
{
    const std::vector<ArchiveSample> rows = r.db.archiveSamples(r.aqid, r.sid, r.from, r.to);
    std::vector<double> values;
    if (conversion) {
        values = DerivedValues(r.db, *conversion, rows);
    } else {
        values.reserve(rows.size());
        for (const ArchiveSample &s : rows)
            values.push_back(s.wert);
    }
    for (double v : values)
        extremes.note(v);
    if (logbook) {
        for (size_t i = 0; i < rows.size(); ++i)
            out.points.push_back({DayNumber(rows[i].second), values[i]});
        return;
    }
    for (size_t begin = 0; begin < rows.size();) {
        const int column = r.grid.columnOf(rows[begin].second);
        size_t end = begin + 1;
        while (end < rows.size() && r.grid.columnOf(rows[end].second) == column)
            ++end;
        addRawColumn(rows, values, begin, end, out.points);
        begin = end;
    }
}

} // namespace

ChartSeries ChartFetchSeries(const Database &db, int aqid, int sid, const QDateTime &start,
                             const QDateTime &end, int pixelWidth,
                             const std::optional<SensorConversion> &conversion)
{
    ChartSeries out;
    out.aqid = aqid;
    out.sid = sid;
    const bool logbook = aqid == cHydoDisplay::kLogbookAqid;
    const WallSecond origin = Database::wallSecond(start);
    const WallSecond last = Database::wallSecond(end);
    // DATUM > start and DATUM < end, compared to the second.
    const FetchRange range{
        db,   aqid,
        sid,  origin + 1,
        last, ColumnGrid{origin, std::max<qint64>(last - origin, 1), std::max(pixelWidth, 1), 1}};

    Extremes extremes;
    auto boundary = [&](const QDateTime &t, double margin) {
        auto v = ArchiveValueAt(db, t, aqid, sid);
        if (!v)
            return;
        if (conversion)
            v = DerivedValue(db, *conversion, Database::wallSecond(t), *v);
        out.points.push_back({DayNumber(t) + margin, *v});
        extremes.note(*v);
    };
    boundary(start, logbook ? -kLogbookMarginDays : 0);
    const int slot = logbook ? 1 : ChartSlotSeconds(range.grid.span, range.grid.columns);
    if (slot == 1 || !addSummaryPoints(range, slot, conversion, out, extremes))
        addRawPoints(range, logbook, conversion, out, extremes);
    boundary(end, logbook ? kLogbookMarginDays : 0);
    if (!out.points.empty()) {
        out.minimum = extremes.low();
        out.maximum = extremes.high();
    }
    return out;
}

std::vector<ChartSeries> ChartFetch(const Database &db, const cHydoDisplay &display,
                                    const QDateTime &start, const QDateTime &end, int pixelWidth,
                                    const SensorLookup &lookup)
{
    std::vector<ChartSeries> series;
    for (int i = 1; i <= display.count(); ++i) {
        const int aqid = display.aqid(i);
        const int sid = display.sid(i);
        std::optional<SensorConversion> conversion;
        if (aqid != cHydoDisplay::kLogbookAqid && lookup)
            conversion = lookup(aqid, sid);
        series.push_back(ChartFetchSeries(db, aqid, sid, start, end, pixelWidth, conversion));
    }
    return series;
}
