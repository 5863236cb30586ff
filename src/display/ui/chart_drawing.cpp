#include "display/ui/chart_drawing.h"

#include "display/archive_query.h"

#include <QCategoryAxis>
#include <QChart>
#include <QFile>
#include <QGraphicsScene>
#include <QImage>
#include <QLineSeries>
#include <QPainter>
#include <QScatterSeries>
#include <QSvgGenerator>
#include <QValueAxis>

#include <cmath>
#include <limits>

namespace
{
// A background on which all ten series colours, white and navy included, stay visible.
const QColor kPlotBackground(190, 190, 190);
constexpr int kLogbookMarker = 14;
constexpr int kPointMarker = 7;
constexpr int kDenseMarker = 3;
constexpr size_t kDensePoints = 60;
constexpr int kDefaultWidth = 800;
constexpr int kValueDivisions = 10;
} // namespace

QColor ColourOf(const Rgb &rgb)
{
    return QColor(rgb.red, rgb.green, rgb.blue);
}

int NearestPoint(const PlotSeries &series, const QPointF &at, const QSizeF &perPixel)
{
    int best = -1;
    double bestDistance = std::numeric_limits<double>::max();
    const double w = perPixel.width() > 0 ? perPixel.width() : 1;
    const double h = perPixel.height() > 0 ? perPixel.height() : 1;
    for (size_t i = 0; i < series.scaled.size(); ++i) {
        const double d =
            std::hypot((series.scaled[i].x - at.x()) / w, (series.scaled[i].y - at.y()) / h);
        if (d < bestDistance) {
            bestDistance = d;
            best = int(i);
        }
    }
    return best;
}

QChart *DrawChart(const ChartPlot &plot, int selectedSeries)
{
    auto *chart = new QChart;
    chart->setTitle(QString());
    chart->setPlotAreaBackgroundBrush(kPlotBackground);
    chart->setPlotAreaBackgroundVisible(true);
    chart->legend()->setAlignment(Qt::AlignBottom);

    // Time runs on the controller's wall clock (day numbers), so an hour summer time skips
    // or repeats is drawn as the archive holds it; the labels are made from the same clock.
    auto *time = new QCategoryAxis;
    const double first = DayNumber(plot.start);
    const double last = std::max(DayNumber(plot.end), first + 1.0 / 86400);
    time->setRange(first, last);
    time->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    // Labels stand at the ends of categories: the first one needs a category ending at the
    // start of the range.
    time->setStartValue(first - (last - first) / 1000);
    const int width = plot.pixelWidth > 0 ? plot.pixelWidth : kDefaultWidth;
    for (const TimeTick &tick : TimeTicks(plot.start, plot.end, width))
        time->append(tick.label, tick.day);
    auto *value = new QValueAxis;
    value->setRange(0, 100);
    value->setTickCount(kValueDivisions + 1);
    value->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(time, Qt::AlignBottom);
    chart->addAxis(value, Qt::AlignLeft);

    // The logbook last, so its markers stand above a sensor line at half height; each
    // series carries its place in the plot.
    std::vector<size_t> order;
    for (size_t i = 0; i < plot.series.size(); ++i)
        if (!plot.series[i].logbook)
            order.push_back(i);
    for (size_t i = 0; i < plot.series.size(); ++i)
        if (plot.series[i].logbook)
            order.push_back(i);
    for (const size_t i : order) {
        const PlotSeries &s = plot.series[i];
        QXYSeries *series = nullptr;
        const QColor colour = ColourOf(s.colour);
        if (s.logbook) {
            auto *markers = new QScatterSeries;
            markers->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
            markers->setMarkerSize(kLogbookMarker);
            markers->setBorderColor(colour.darker(150));
            series = markers;
        } else {
            auto *line = new QLineSeries;
            line->setPointsVisible(true);
            // Dense series would turn into a band of markers: their markers shrink.
            line->setMarkerSize(s.points.size() > kDensePoints ? kDenseMarker : kPointMarker);
            QPen pen(colour);
            pen.setWidth(int(i) == selectedSeries ? 3 : 1);
            line->setPen(pen);
            series = line;
        }
        series->setColor(colour);
        series->setName(s.legend);
        series->setProperty(kPlotIndexProperty, int(i));
        QList<QPointF> points;
        points.reserve(qsizetype(s.scaled.size()));
        for (const ChartPoint &p : s.scaled)
            points.append(QPointF(p.x, p.y));
        series->replace(points);
        chart->addSeries(series);
        series->attachAxis(time);
        series->attachAxis(value);
    }
    return chart;
}

namespace
{

// The chart of a picture, in a scene of the picture's size. A picture has no point to click:
// the first sensor's own scale stands on the right.
void drawScene(const ChartPlot &plot, QGraphicsScene &scene, int width, int height)
{
    QChart *chart = DrawChart(plot);
    for (const PlotSeries &s : plot.series) {
        if (s.logbook)
            continue;
        auto *scale = new QValueAxis;
        scale->setRange(s.range.minimum, s.range.maximum);
        scale->setTickCount(kValueDivisions + 1);
        scale->setLabelsColor(ColourOf(s.colour).darker(130));
        scale->setTitleText(s.unit);
        chart->addAxis(scale, Qt::AlignRight);
        break;
    }
    scene.addItem(chart); // the scene owns it from here
    chart->resize(width, height);
    scene.setSceneRect(0, 0, width, height);
}

} // namespace

bool RenderChartSvg(const ChartPlot &plot, QIODevice *device, int width, int height)
{
    QGraphicsScene scene;
    drawScene(plot, scene, width, height);
    QSvgGenerator svg;
    svg.setOutputDevice(device);
    svg.setSize(QSize(width, height));
    svg.setViewBox(QRect(0, 0, width, height));
    QPainter painter;
    if (!painter.begin(&svg))
        return false;
    scene.render(&painter);
    return painter.end();
}

bool RenderChart(const ChartPlot &plot, const QString &path, int width, int height, QString *error)
{
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            !RenderChartSvg(plot, &file, width, height) || !file.flush()) {
            if (error)
                *error = QStringLiteral("cannot write %1").arg(path);
            return false;
        }
        return true;
    }
    QGraphicsScene scene;
    drawScene(plot, scene, width, height);
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        scene.render(&painter);
    }
    if (!image.save(path, "PNG")) {
        if (error)
            *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}
