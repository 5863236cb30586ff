// Value ranges, scaling, time ticks and point texts of chart series.

#include "display/archive_query.h"
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

TEST(ChartPlot, timeAxisTicksStandAtRoundStepsThatFitTheWidth)
{
    auto at = [](const char *datum) { return Database::datumFromText(QString::fromLatin1(datum)); };
    struct Case {
        const char *from, *to;
        int width;
        QStringList labels;
        const char *first; // where the first tick stands
    };
    const Case cases[] = {
        // An hour from an odd minute: ten-minute steps, the time alone.
        {"2026-11-20 06:14:37",
         "2026-11-20 07:14:37",
         600,
         {"06:20", "06:30", "06:40", "06:50", "07:00", "07:10"},
         "2026-11-20 06:20:00"},
        // A minute online: seconds on the labels.
        {"2026-11-20 12:00:05",
         "2026-11-20 12:01:05",
         600,
         {"12:00:10", "12:00:20", "12:00:30", "12:00:40", "12:00:50", "12:01:00"},
         "2026-11-20 12:00:10"},
        // Two days: date and time, six-hour steps.
        {"2026-11-20 08:59:00",
         "2026-11-22 08:59:00",
         890,
         {"20.11 12:00", "20.11 18:00", "21.11 00:00", "21.11 06:00", "21.11 12:00", "21.11 18:00",
          "22.11 00:00", "22.11 06:00"},
         "2026-11-20 12:00:00"},
        // A week: days.
        {"2026-11-20 10:00:00",
         "2026-11-27 10:00:00",
         890,
         {"21.11.2026", "22.11.2026", "23.11.2026", "24.11.2026", "25.11.2026", "26.11.2026",
          "27.11.2026"},
         "2026-11-21 00:00:00"},
        // A year: the first of every other month.
        {"2026-01-01 00:00:00",
         "2026-12-31 00:00:00",
         890,
         {"01.01.2026", "01.03.2026", "01.05.2026", "01.07.2026", "01.09.2026", "01.11.2026"},
         "2026-01-01 00:00:00"},
    };
    for (const Case &c : cases) {
        const std::vector<TimeTick> ticks = TimeTicks(at(c.from), at(c.to), c.width);
        QStringList labels;
        for (const TimeTick &t : ticks)
            labels << t.label;
        EXPECT_EQ(labels, c.labels) << c.from << " .. " << c.to;
        ASSERT_FALSE(ticks.empty());
        EXPECT_EQ(WallTextOfDayNumber(ticks.front().day), c.first);
    }
}

TEST(ChartPlot, aPointFromTheSummariesShowsTheSpanItLiesIn)
{
    const WallSecond eight =
        Database::wallSecond(Database::datumFromText(QStringLiteral("2026-11-20 08:00:00")));
    PlotSeries s;
    s.unit = QStringLiteral("pH");
    s.points = {{DayNumber(eight + 1877), 7.25},                       // its own second
                {DayNumber(eight + 1800), 7.5, eight, eight + 3600},   // an hour's extreme
                {DayNumber(eight + 30), 6.5, eight + 10, eight + 50}}; // not whole minutes
    EXPECT_EQ(PointTexts(s, 0), (QStringList{"20.11.2026", "08:31:17", "7.25 pH"}));
    EXPECT_EQ(PointTexts(s, 1), (QStringList{"20.11.2026", "08:00–09:00", "7.50 pH"}));
    EXPECT_EQ(PointTexts(s, 2), (QStringList{"20.11.2026", "08:00:10–08:00:50", "6.50 pH"}));
    EXPECT_TRUE(PointTexts(s, 3).isEmpty());
}
