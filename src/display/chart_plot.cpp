#include "display/chart_plot.h"

#include "display/archive_query.h"
#include "display/hydo_display.h"
#include "model/tables.h"
#include "store/strings.h"

#include <QLocale>

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
    const QString datum = WallTextOfDayNumber(p.x);
    const QString unit = series.unit.isEmpty() ? QString() : QLatin1Char(' ') + series.unit;
    return {datum.mid(8, 2) + QLatin1Char('.') + datum.mid(5, 2) + QLatin1Char('.') + datum.left(4),
            datum.mid(11, 8),
            tables::formatValue(p.y, QStringLiteral("0.00"), decimalPoint()) + unit};
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
