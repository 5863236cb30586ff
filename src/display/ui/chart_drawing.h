#pragma once

#include "display/chart_plot.h"

#include <QColor>
#include <QPointF>
#include <QSizeF>
#include <QString>

class QChart;
class QIODevice;
class QXYSeries;

// Axis labels and legend take this much of a rendered picture's width from the plot.
constexpr int kChartFrameWidth = 120;

// Draws a prepared chart with Qt Charts: one line with markers per series in its colour, the
// logbook as large markers without a line, time across, 0..100 up. The window shows it; the
// command line renders it into a file.
QChart *DrawChart(const ChartPlot &plot, int selectedSeries = -1);
// Each chart series' index in ChartPlot::series, as an int property.
constexpr const char *kPlotIndexProperty = "plotIndex";
QColor ColourOf(const Rgb &rgb);
// The 0-based index of the point of `series` drawn nearest to `at` (day number, 0..100), or
// -1; `perPixel` is what one pixel spans on each axis, so that distance is measured as seen.
int NearestPoint(const PlotSeries &series, const QPointF &at, const QSizeF &perPixel);

// Renders the chart of `plot` into an SVG file (by its extension) or a PNG file; false with
// the reason in `error` when the file cannot be written.
bool RenderChart(const ChartPlot &plot, const QString &path, int width, int height, QString *error);
// The same chart as SVG into an open device (a buffer for a web page); false when the
// device takes no data.
bool RenderChartSvg(const ChartPlot &plot, QIODevice *device, int width, int height);
