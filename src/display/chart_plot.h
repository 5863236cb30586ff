#pragma once

// Everything a chart draws, worked out without a window: the range of each series, its
// points scaled onto the common 0..100 axis, colours, legend and scale texts. The chart
// window and `ostracom-cli chart` draw from this, so both show the same.

#include "display/chart_points.h"
#include "display/sensor_info.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>

class cHydoDisplay;
class Database;

struct Rgb {
    int red = 0;
    int green = 0;
    int blue = 0;
    bool operator==(const Rgb &) const = default;
};

// Colours of series pairs 1..10 (pair 1 is the logbook); a chart has at most ten pairs.
constexpr std::array<Rgb, 10> kSeriesColours{{{255, 0, 0},
                                              {0, 0, 255},
                                              {255, 0, 255},
                                              {0, 255, 0},
                                              {255, 255, 0},
                                              {0, 255, 255},
                                              {255, 255, 255},
                                              {125, 0, 0},
                                              {0, 0, 125},
                                              {125, 125, 125}}};
// The colour of the 1-based pair; pairs beyond the table take the last colour.
Rgb SeriesColour(int pair);

struct ChartRange {
    double minimum = 0;
    double maximum = 0;
    bool operator==(const ChartRange &) const = default;
};
// The range a series is drawn in: its fixed bounds when either is set, otherwise its
// extremes widened by 5 % at the top and 5 % of the widened span below (a flat series
// gets ±5 % of its value).
ChartRange SeriesRange(double minimum, double maximum, float ymin, float ymax);
// y on the 0..100 axis of the range; unscaled when the range is empty.
double ScaleToAxis(double y, const ChartRange &range);

struct PlotSeries {
    int aqid = 0;
    int sid = 0;
    bool logbook = false;
    ChartRange range;
    std::vector<ChartPoint> points; // values as archived (converted for display)
    std::vector<ChartPoint> scaled; // the same on the 0..100 axis
    Rgb colour;
    QString legend;      // identifier and current value, or the logbook's name
    QString unit;        // empty for the logbook or a controller not connected
    QString trendFormat; // format of the scale texts
};

struct ChartPlot {
    QDateTime start;
    QDateTime end;
    int pixelWidth = 0;             // the width the points were chosen for
    std::vector<PlotSeries> series; // item 1 of the definition (the logbook) first
};

// Fetches and prepares the chart of `definition` `pixelWidth` pixels wide. In online mode
// the range is moved to end at `now` first (and stored in the definition).
ChartPlot BuildPlot(const Database &db, cHydoDisplay &definition, const QList<SensorInfo> &sensors,
                    int pixelWidth, const QDateTime &now);
// The chart of one controller from `from` to `to` as the command line and the web view draw
// it: the given sensors, or, when none are given, each of the eight that has a value in the
// range, coloured in turn.
ChartPlot BuildControllerPlot(const Database &db, int id, const QList<int> &sensors,
                              const QDateTime &from, const QDateTime &to, int pixelWidth);

// The eleven texts beside the grid lines 0, 10, ..., 100 of a series.
QStringList ScaleTexts(const PlotSeries &series);
// Date, time and value of point `index` of a series, as the window shows them; a point
// whose own second is unknown shows the span it lies in as its time ("08:00–09:00").
QStringList PointTexts(const PlotSeries &series, size_t index);
struct TimeTick {
    double day = 0; // DayNumber
    QString label;
};
// Ticks of a time axis over start..end drawn `pixelWidth` pixels wide: the finest round step
// (seconds; 1, 2, 5, 10, 15, 30 minutes; 1, 2, 3, 6, 12 hours; days, weeks, months, years)
// whose labels still fit side by side. Labels show the time alone within one day, date and
// time across days, the date alone from a step of a day; seconds only below a minute's step.
std::vector<TimeTick> TimeTicks(const QDateTime &start, const QDateTime &end, int pixelWidth);

// Every point drawn, one line each: identifier, sensor, DATUM, value; with a header line.
QString PlotCsv(const ChartPlot &plot);
