#pragma once

// The points a chart draws: per series and pixel column at most four (first, lowest, highest,
// last), read from the archive's summary tables when a column spans whole slots of them and
// from the archive itself otherwise. The chart window and the command line draw these.

#include "display/archive_query.h"

#include <QDateTime>

#include <vector>

class cHydoDisplay;

struct ChartPoint {
    double x = 0; // day number (DayNumber)
    double y = 0;
    // For a column's extreme read from the summaries, whose own second is not kept: the
    // value lies somewhere in [spanFrom, spanTo) and x is only where it is drawn. Both 0
    // for a point at its own second.
    WallSecond spanFrom = 0;
    WallSecond spanTo = 0;
    bool hasSpan() const { return spanTo > spanFrom; }
};

struct ChartSeries {
    int aqid = 0;
    int sid = 0;
    // In time order; the boundary points at start and end (for the logbook ten days
    // outside) are included when the archive has a value to interpolate them from.
    std::vector<ChartPoint> points;
    // Extremes of every value in the range and of the boundary points, as ArchiveFetch
    // gives them; both 0 without points.
    double minimum = 0;
    double maximum = 0;
    // 1 when the archive's own rows were read, otherwise the summary slot length used.
    int slotSeconds = 1;
};

// The slot length whose summaries a chart of `spanSeconds` over `pixelWidth` columns reads:
// the longest one that still fits in a column, or 1 for the archive's own rows.
int ChartSlotSeconds(qint64 spanSeconds, int pixelWidth);

// One series of a chart over start..end drawn `pixelWidth` pixels wide. The logbook series
// (aqid -1) keeps every entry, since each one can be opened from the chart.
ChartSeries ChartFetchSeries(const Database &db, int aqid, int sid, const QDateTime &start,
                             const QDateTime &end, int pixelWidth,
                             const std::optional<SensorConversion> &conversion);
// Every series of a definition, item 1 (the logbook) first.
std::vector<ChartSeries> ChartFetch(const Database &db, const cHydoDisplay &display,
                                    const QDateTime &start, const QDateTime &end, int pixelWidth,
                                    const SensorLookup &lookup = {});
