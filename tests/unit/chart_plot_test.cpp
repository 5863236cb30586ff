// Value ranges and scaling of chart series, and the CSV of what a chart drew.

#include "display/chart_plot.h"

#include <gtest/gtest.h>

TEST(ChartPlot, rangesFollowTheBoundsOrTheWidenedExtremes)
{
    struct Case {
        double minimum, maximum;
        float ymin, ymax;
        ChartRange expected;
    };
    const Case cases[] = {
        {20, 30, 0, 0, {19.475, 30.5}}, // 5 % on top, 5 % of the widened span below
        {20, 20, 0, 0, {19, 21}},       // flat: ±5 % of the value
        {20, 30, 10, 0, {10, 0}},       // one bound set: fixed, drawn upside down
        {20, 30, 15, 35, {15, 35}},     {0, 0, 0, 0, {0, 0}}, // nothing archived
    };
    for (const Case &c : cases) {
        const ChartRange r = SeriesRange(c.minimum, c.maximum, c.ymin, c.ymax);
        EXPECT_NEAR(r.minimum, c.expected.minimum, 1e-9) << c.minimum << ".." << c.maximum;
        EXPECT_NEAR(r.maximum, c.expected.maximum, 1e-9) << c.minimum << ".." << c.maximum;
    }
    // The logbook's bounds put its entries (stored at 100) at half height; an empty range
    // leaves values as they are.
    EXPECT_DOUBLE_EQ(ScaleToAxis(100, {199, 1}), 50);
    EXPECT_DOUBLE_EQ(ScaleToAxis(25, {20, 30}), 50);
    EXPECT_DOUBLE_EQ(ScaleToAxis(7, {0, 0}), 7);
    EXPECT_EQ(SeriesColour(1), (Rgb{255, 0, 0}));
    EXPECT_EQ(SeriesColour(11), (Rgb{125, 125, 125})) << "beyond the table: its last colour";
}

TEST(ChartPlot, csvHoldsEveryPointDrawn)
{
    ChartPlot plot;
    PlotSeries s;
    s.aqid = 1234;
    s.sid = 2;
    // 20.11.2026 12:00 as a day number (days since 30.12.1899).
    s.points = {{46346.5, 7.25}, {46346.75, 7.5}};
    plot.series.push_back(s);
    EXPECT_EQ(PlotCsv(plot), "TARVELONID,ASID,DATUM,WERT\n"
                             "1234,2,2026-11-20 12:00:00,7.25\n"
                             "1234,2,2026-11-20 18:00:00,7.5\n");
}
