// Values at an instant, conversions of derived types and the point table of a chart.

#include "display/archive_query.h"
#include "support/temp_db.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace
{

QDateTime at(const char *text)
{
    return Database::datumFromText(QString::fromLatin1(text));
}

} // namespace

class ArchiveQueries : public ::testing::TestWithParam<Backend>
{
protected:
    void archive(std::vector<ArchiveRecord> records) { db.appendArchive(records); }

    TempDb tmp{TempDb::Start::Prepared, GetParam()};
    Database db{tmp.path()};
};

OSTRACOM_ON_EVERY_BACKEND(ArchiveQueries);

TEST_P(ArchiveQueries, valueAtAnInstantIsInterpolatedBetweenItsNeighbours)
{
    archive({{"2026-05-01 10:00:00", 20.0, 3, 1},
             {"2026-05-01 11:00:00", 22.0, 3, 1},
             {"2026-05-01 11:00:00", 23.0, 3, 1}, // two values in one second
             {"2026-05-01 10:30:00", 99.0, 3, 2}});
    const struct {
        const char *t;
        std::optional<double> value;
    } cases[] = {
        {"2026-05-01 10:00:00", 20.0}, {"2026-05-01 10:30:00", 21.0}, {"2026-05-01 10:15:00", 20.5},
        {"2026-05-01 11:00:00", 22.0}, {"2026-05-01 12:00:00", 23.0}, {"2026-05-01 09:00:00", 20.0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ArchiveValueAt(db, at(c.t), 3, 1), c.value) << c.t;
    EXPECT_EQ(ArchiveValueAt(db, at("2026-05-01 10:00:00").addMSecs(500), 3, 1), 20.0)
        << "the instant is compared to the second, as the row it falls on";
    EXPECT_EQ(ArchiveValueAt(db, at("2026-05-01 10:00:00"), 3, 5), std::nullopt)
        << "a sensor without history has no value";
}

TEST(ArchiveConversions, derivedTypesConvertTheStoredValue)
{
    const struct {
        int type;
        double x;
        double expected;
        double tolerance;
    } cases[] = {
        {12, 53, 1.02335, 1e-5},
        {12, 70, 70 * 4.55622 / 10000 + 1, 1e-12},
        {12, 10, 10 * 4.06167 / 10000 + 1, 1e-12},
        {12, 40.5, 40.5 * 4.06167 / 10000 + 1, 1e-12},
        {11, 53, 35.0, 0.1},
        {10, 29, 21.67, 1e-12},
        {6, 100, 6.4508, 1e-4},
        {2, 24.5, 24.5, 0},
    };
    for (const auto &c : cases)
        EXPECT_NEAR(ConvertStored({1, c.type, 0, 0, 0}, c.x, std::nullopt, std::nullopt),
                    c.expected, c.tolerance)
            << "type " << c.type << " x " << c.x;
    // Saturated water at 25 degrees and 1013 hPa: 8.26 mg/l on the curve of water type 1,
    // 6.54 on the other; warmer water holds less.
    EXPECT_NEAR(ConvertStored({1, 6, 0, 0, 1}, 100, 25.0, 1013.0), 8.26, 0.005);
    EXPECT_NEAR(ConvertStored({1, 6, 0, 0, 0}, 100, 25.0, 1013.0), 6.54, 0.005);
    EXPECT_LT(ConvertStored({1, 6, 0, 0, 0}, 100, 30.0, 1013.0), 6.5);
}

TEST_P(ArchiveQueries, derivedSeriesInOnePassEqualsTheValueOfEveryPointAlone)
{
    QRandomGenerator random(99);
    const WallSecond t0 = *Database::wallSecond(u"2026-07-01 00:00:00");
    std::vector<ArchiveRecord> records;
    // Oxygen every few seconds; temperature and pressure sparse, starting late and ending
    // early, with values repeated in one second.
    for (int i = 0; i < 600; ++i) {
        const WallSecond t = t0 + random.bounded(7200);
        records.push_back({Database::datumText(t), random.bounded(1200) / 10.0, 5, 3});
        if (i % 9 == 0)
            records.push_back({Database::datumText(t0 + 900 + random.bounded(5000)),
                               15 + random.bounded(150) / 10.0, 5, 1});
        if (i % 23 == 0)
            records.push_back(
                {Database::datumText(t0 + 1800 + random.bounded(3000)), 950.0 + i, 5, 2});
    }
    archive(records);

    for (const SensorConversion conversion :
         {SensorConversion{5, 6, 1, 2, 0}, SensorConversion{5, 6, 1, 0, 1},
          SensorConversion{5, 6, 0, 4, 0}}) {
        const auto samples = db.archiveSamples(5, 3, t0, t0 + 7200);
        const auto values = DerivedValues(db, conversion, samples);
        ASSERT_EQ(values.size(), samples.size());
        for (size_t i = 0; i < samples.size(); ++i)
            ASSERT_EQ(values[i], DerivedValue(db, conversion, samples[i].second, samples[i].wert))
                << "sample " << i << " of conversion with " << conversion.kompSensor1 << ","
                << conversion.kompSensor2;
    }
}

TEST_P(ArchiveQueries, pointTableHoldsEachSeriesInTimeOrderBetweenItsBoundaries)
{
    archive({{"2026-05-01 10:20:00", 40.0, 3, 1},
             {"2026-05-01 10:10:00", 53.0, 3, 1}, // written after a later one
             {"2026-05-01 09:00:00", 50.0, 3, 2},
             {"2026-05-01 08:00:00", 60.0, 3, 7}});
    ASSERT_TRUE(db.createLogbookEntry(at("2026-05-01 10:15:00"), "Futter"));
    const QDateTime start = at("2026-05-01 10:00:00");
    const QDateTime end = at("2026-05-01 11:00:00");
    // Sensor 1 shows density, a type that converts its stored value.
    const SensorLookup lookup = [](int aqid, int sid) -> std::optional<SensorConversion> {
        return SensorConversion{aqid, sid == 1 ? 12 : 0, 0, 0, 0};
    };
    QList<double> maxima, minima;
    PointTable table;
    ArchiveFetch(db, start, end, {-1, 3, 3, 3}, {0, 1, 2, 9}, maxima, minima, table, lookup);

    auto density = [](double x) { return ConvertStored({3, 12, 0, 0, 0}, x, {}, {}); };
    const double s = DayNumber(start), e = DayNumber(end), minute = 1.0 / 1440;
    const struct {
        const char *what;
        std::vector<std::pair<double, double>> points;
    } expected[] = {
        {"logbook, ten days beyond both ends",
         {{s - 10, 100}, {s + 15 * minute, 100}, {e + 10, 100}}},
        {"density, boundaries converted too",
         {{s, density(53)},
          {s + 10 * minute, density(53)},
          {s + 20 * minute, density(40)},
          {e, density(40)}}},
        {"no row in the range: its two boundaries", {{s, 50}, {e, 50}}},
        {"no row at all: no point", {}},
    };
    ASSERT_EQ(table.series(), 4);
    EXPECT_EQ(table.rows(), 4) << "as many rows as the longest series";
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(expected[i].what);
        const auto &points = expected[i].points;
        for (int r = 0; r < table.rows(); ++r) {
            const auto want = r < int(points.size()) ? points[r] : std::pair(0.0, 0.0);
            EXPECT_NEAR(table.x(i, r), want.first, 1e-9) << r;
            EXPECT_DOUBLE_EQ(table.y(i, r), want.second) << r;
        }
    }
    EXPECT_EQ(std::pair(minima[1], maxima[1]), std::pair(density(40), density(53)));
    EXPECT_EQ(std::pair(minima[3], maxima[3]), std::pair(0.0, 0.0));
    EXPECT_EQ(DateTimeOfDayNumber(e), end);
}
