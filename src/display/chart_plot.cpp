#include "display/chart_plot.h"

#include "display/archive_query.h"
#include "display/hydo_display.h"
#include "model/tables.h"
#include "store/strings.h"

#include <QLocale>

#include <algorithm>

namespace
{

constexpr double kMargin = 0.05;

QChar decimalPoint()
{
    const QString p = QLocale().decimalPoint();
    return p.isEmpty() ? QLatin1Char('.') : p.front();
}

} // namespace

Rgb SeriesColour(int pair)
{
    const size_t i = static_cast<size_t>(std::clamp(pair, 1, int(kSeriesColours.size())) - 1);
    return kSeriesColours[i];
}

ChartRange SeriesRange(double minimum, double maximum, float ymin, float ymax)
{
    if (ymin != 0 || ymax != 0)
        return {ymin, ymax};
    const double span = maximum - minimum;
    if (span <= 0)
        return {minimum * (1 - kMargin), maximum * (1 + kMargin)};
    const double top = maximum + kMargin * span;
    return {minimum - kMargin * (top - minimum), top};
}

double ScaleToAxis(double y, const ChartRange &range)
{
    const double span = range.maximum - range.minimum;
    return span != 0 ? (y - range.minimum) * 100 / span : y;
}

ChartPlot BuildPlot(const Database &db, cHydoDisplay &definition, const QList<SensorInfo> &sensors,
                    int pixelWidth, const QDateTime &now)
{
    if (definition.onlinedata()) {
        const QString unit = IntervalUnit(definition.onlineintervall());
        definition.set_StartDatum(DateAdd(unit, -definition.onlinenumber(), now));
        definition.set_endDatum(now);
    }
    ChartPlot plot;
    plot.start = definition.StartDatum();
    plot.end = definition.endDatum();
    plot.pixelWidth = pixelWidth;
    if (definition.count() < 1)
        return plot;

    const SensorLookup lookup = [&sensors](int aqid, int sid) -> std::optional<SensorConversion> {
        const SensorInfo *s = FindSensor(sensors, aqid, sid);
        if (!s)
            return std::nullopt;
        return SensorConversion{s->aqid, s->type, s->kompSensor1, s->kompSensor2, s->wasserart};
    };
    const std::vector<ChartSeries> fetched =
        ChartFetch(db, definition, plot.start, plot.end, pixelWidth, lookup);
    for (size_t i = 0; i < fetched.size(); ++i) {
        const int item = int(i) + 1;
        const ChartSeries &f = fetched[i];
        PlotSeries s;
        s.aqid = f.aqid;
        s.sid = f.sid;
        s.logbook = f.aqid == cHydoDisplay::kLogbookAqid;
        s.range = SeriesRange(f.minimum, f.maximum, definition.ymin(item), definition.ymax(item));
        s.points = f.points;
        s.scaled.reserve(f.points.size());
        for (const ChartPoint &p : f.points)
            s.scaled.push_back({p.x, ScaleToAxis(p.y, s.range)});
        s.colour = SeriesColour(item);
        if (s.logbook) {
            s.legend = ms("Logbuch");
        } else if (const SensorInfo *sensor = FindSensor(sensors, f.aqid, f.sid)) {
            s.legend = QString::number(f.aqid) + QLatin1Char(' ') + sensor->currentValue;
            s.unit = sensor->unit;
            s.trendFormat = sensor->trendFormat;
        } else {
            s.legend = QString::number(f.aqid) + QLatin1Char(' ') + ms("Sensor") +
                       QLatin1Char(' ') + QString::number(f.sid);
        }
        plot.series.push_back(std::move(s));
    }
    return plot;
}

QStringList ScaleTexts(const PlotSeries &series)
{
    QStringList texts;
    const QString unit = series.unit.isEmpty() ? QString() : QLatin1Char(' ') + series.unit;
    for (int j = 0; j <= 10; ++j) {
        const double v =
            series.range.minimum + (series.range.maximum - series.range.minimum) * j / 10;
        texts << tables::formatValue(v, series.trendFormat, decimalPoint()) + unit;
    }
    return texts;
}

QStringList PointTexts(const PlotSeries &series, size_t index)
{
    if (index >= series.points.size())
        return {};
    const ChartPoint &p = series.points[index];
    // The controller's clock reading as archived, summer-time gaps included.
    const QString datum = p.hasSpan() ? Database::datumText(p.spanFrom) : WallTextOfDayNumber(p.x);
    QString time = datum.mid(11, 8);
    if (p.hasSpan()) {
        const bool minutes = p.spanFrom % 60 == 0 && p.spanTo % 60 == 0;
        const int length = minutes ? 5 : 8;
        time =
            datum.mid(11, length) + QChar(0x2013) + Database::datumText(p.spanTo).mid(11, length);
    }
    const QString unit = series.unit.isEmpty() ? QString() : QLatin1Char(' ') + series.unit;
    return {datum.mid(8, 2) + QLatin1Char('.') + datum.mid(5, 2) + QLatin1Char('.') + datum.left(4),
            time, tables::formatValue(p.y, QStringLiteral("0.00"), decimalPoint()) + unit};
}

namespace
{

constexpr WallSecond kDay = 86400;
// 1970-01-01, the origin of wall seconds, was a Thursday; weeks start on Monday.
constexpr WallSecond kMondayOffset = 4 * kDay;

WallSecond floorTo(WallSecond t, WallSecond step, WallSecond offset = 0)
{
    const WallSecond r = (t - offset) % step;
    return t - (r < 0 ? r + step : r);
}

// Wall second of the first of a month counted from year 0.
WallSecond monthStart(int months)
{
    const QDate date(months / 12, months % 12 + 1, 1);
    return Database::wallSecond(QDateTime(date, QTime(0, 0)));
}

struct Step {
    WallSecond seconds = 0; // a fixed step, or
    int months = 0;         // a calendar step
};

std::vector<WallSecond> ticksOf(const Step &step, WallSecond from, WallSecond to)
{
    std::vector<WallSecond> ticks;
    if (step.seconds > 0) {
        const WallSecond offset = step.seconds % (7 * kDay) == 0 ? kMondayOffset : 0;
        WallSecond t = floorTo(from, step.seconds, offset);
        if (t < from)
            t += step.seconds;
        for (; t <= to; t += step.seconds)
            ticks.push_back(t);
        return ticks;
    }
    const QDate first = Database::dateTimeOf(from).date();
    int months = first.year() * 12 + first.month() - 1;
    months -= months % step.months;
    for (WallSecond t = monthStart(months); t <= to; t = monthStart(months += step.months))
        if (t >= from)
            ticks.push_back(t);
    return ticks;
}

} // namespace

std::vector<TimeTick> TimeTicks(const QDateTime &start, const QDateTime &end, int pixelWidth)
{
    static const Step steps[] = {{1},        {2},        {5},         {10},    {15},     {30},
                                 {60},       {120},      {300},       {600},   {900},    {1800},
                                 {3600},     {7200},     {10800},     {21600}, {43200},  {kDay},
                                 {2 * kDay}, {7 * kDay}, {14 * kDay}, {0, 1},  {0, 2},   {0, 3},
                                 {0, 6},     {0, 12},    {0, 24},     {0, 60}, {0, 120}, {0, 600}};
    // A label's width in pixels per character of the axis font, with a gap between labels.
    constexpr int kCharPixels = 7;
    constexpr int kLabelGap = 16;
    const WallSecond from = Database::wallSecond(start);
    const WallSecond to = std::max(Database::wallSecond(end), from + 1);
    const qint64 width = std::max(pixelWidth, 100);

    std::vector<WallSecond> ticks;
    bool withDate = false, withTime = true, withSeconds = false;
    for (const Step &step : steps) {
        // Ticks closer than a few pixels need not be counted to be refused.
        const WallSecond approximate = step.seconds > 0 ? step.seconds : step.months * 28 * kDay;
        if ((to - from) / approximate > width / 20)
            continue;
        ticks = ticksOf(step, from, to);
        withTime = step.seconds > 0 && step.seconds < kDay;
        withSeconds = step.seconds < 60 && withTime;
        withDate = !withTime ||
                   (!ticks.empty() && floorTo(ticks.front(), kDay) != floorTo(ticks.back(), kDay));
        const int length = withTime ? (withDate ? 6 : 0) + (withSeconds ? 8 : 5) : 10;
        if (qint64(ticks.size()) * (length * kCharPixels + kLabelGap) <= width)
            break;
    }
    std::vector<TimeTick> out;
    for (const WallSecond t : ticks) {
        const QString datum = Database::datumText(t);
        QString date = datum.mid(8, 2) + QLatin1Char('.') + datum.mid(5, 2);
        if (!withTime)
            date += QLatin1Char('.') + datum.left(4);
        QStringList parts;
        if (withDate)
            parts << date;
        if (withTime)
            parts << datum.mid(11, withSeconds ? 8 : 5);
        out.push_back({DayNumber(t), parts.join(QLatin1Char(' '))});
    }
    return out;
}

QString PlotCsv(const ChartPlot &plot)
{
    QString csv = QStringLiteral("TARVELONID,ASID,DATUM,WERT\n");
    for (const PlotSeries &s : plot.series)
        for (const ChartPoint &p : s.points)
            csv += QStringLiteral("%1,%2,%3,%4\n")
                       .arg(s.aqid)
                       .arg(s.sid)
                       .arg(WallTextOfDayNumber(p.x))
                       .arg(p.y, 0, 'g', 10);
    return csv;
}

ChartPlot BuildControllerPlot(const Database &db, int id, const QList<int> &sensors,
                              const QDateTime &from, const QDateTime &to, int pixelWidth)
{
    cHydoDisplay definition;
    for (int n : sensors.isEmpty() ? QList<int>{1, 2, 3, 4, 5, 6, 7, 8} : sensors)
        definition.add(id, n, 0, 0);
    definition.set_StartDatum(from);
    definition.set_endDatum(to);
    definition.set_onlinedata(false);
    ChartPlot plot = BuildPlot(db, definition, {}, pixelWidth, to);
    if (sensors.isEmpty()) {
        // Sensors without a value in the range are no series of this chart.
        std::erase_if(plot.series,
                      [](const PlotSeries &s) { return !s.logbook && s.points.empty(); });
        for (size_t i = 0; i < plot.series.size(); ++i)
            plot.series[i].colour = SeriesColour(int(i) + 1);
    }
    return plot;
}
