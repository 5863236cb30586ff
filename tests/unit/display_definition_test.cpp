// The chart definition's record and series lists, and the interval unit names.

#include "display/hydo_display.h"
#include "store/database.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(DisplayDefinition, newDefinitionHoldsOnlyTheLogbookAndAZeroRecord)
{
    const cHydoDisplay d;
    EXPECT_EQ(d.record(), QString(421, QLatin1Char('0')));
    EXPECT_EQ(d.count(), 1);
    EXPECT_EQ(std::tuple(d.aqid(1), d.sid(1), d.ymax(1), d.ymin(1)), std::tuple(-1, 0, 1.f, 199.f));
    EXPECT_EQ(d.StartDatum(), QDateTime(QDate(1858, 11, 17), QTime(0, 0))) << "day 0 of the MJD";
}

TEST(DisplayDefinition, settingsRoundTripThroughTheRecordToTheSecond)
{
    cHydoDisplay d;
    d.set_StartDatum(QDateTime(QDate(2026, 12, 4), QTime(23, 10, 5, 678)));
    d.set_endDatum(QDateTime(QDate(2027, 1, 31), QTime(0, 0, 59)));
    d.set_onlinedata(true);
    d.set_onlinenumber(2.5f);
    d.set_onlineintervall(3);
    EXPECT_EQ(d.StartDatum(), QDateTime(QDate(2026, 12, 4), QTime(23, 10, 5)));
    EXPECT_EQ(d.endDatum(), QDateTime(QDate(2027, 1, 31), QTime(0, 0, 59)));
    EXPECT_TRUE(d.onlinedata());
    EXPECT_EQ(d.record().mid(32, 2), "FF") << "true is written as the byte 255";
    EXPECT_EQ(d.onlinenumber(), 2.5f);
    EXPECT_EQ(d.onlineintervall(), 3);
    EXPECT_THROW(d.set_onlineintervall(256), std::overflow_error);
    EXPECT_THROW(d.set_onlineintervall(-1), std::overflow_error);
    EXPECT_EQ(d.onlineintervall(), 3);
}

TEST(DisplayDefinition, seriesAreAddedRemovedAndMirroredInTheRecordSlots)
{
    cHydoDisplay d;
    d.add(4711, 3, 50, 10);
    d.add(12, 8, 0, 0);
    d.add(12, 1, 0, 0);
    EXPECT_EQ(d.count(), 4);
    EXPECT_EQ(d.ymax(2), 50.f);
    EXPECT_EQ(d.ymin(2), 10.f);
    d.ymin_replace(3, -2.5f);
    d.ymax_replace(3, 7.f);
    EXPECT_EQ(std::tuple(d.ymin(3), d.ymax(3)), std::tuple(-2.5f, 7.f));
    for (int bad : {0, 5})
        EXPECT_THROW(d.aqid(bad), std::out_of_range) << bad;
    EXPECT_THROW(d.ymin_replace(5, 1), std::out_of_range);
    EXPECT_THROW(d.add(1, 256, 0, 0), std::overflow_error);
    EXPECT_EQ(d.count(), 4) << "a refused series leaves the lists alike";

    d.remove(1); // the settings dialog's first row: item 2
    EXPECT_EQ(d.count(), 3);
    EXPECT_EQ(std::tuple(d.aqid(2), d.sid(2)), std::tuple(12, 8));
    EXPECT_THROW(d.remove(3), std::out_of_range);

    // Slots 2 and 3 mirror items 2 and 3; slot 4 was cleared when the lists shrank.
    EXPECT_EQ(d.record().mid(2 * (22 + 11), 6), "000C08");
    EXPECT_EQ(d.record().mid(2 * (22 + 22), 6), "000C01");
    EXPECT_EQ(d.record().mid(2 * (22 + 33), 22), QString(22, QLatin1Char('0')));

    cHydoDisplay restored;
    restored.init(d.record());
    ASSERT_EQ(restored.count(), 3) << "the logbook once, no empty slots";
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(std::tuple(restored.aqid(i), restored.sid(i), restored.ymax(i), restored.ymin(i)),
                  std::tuple(d.aqid(i), d.sid(i), d.ymax(i), d.ymin(i)))
            << i;
}

TEST(DisplayDefinition, intervalNamesCodesAndUnits)
{
    const struct {
        const char *name;
        int code;
        const char *unit;
    } cases[] = {{"Jahr", 0, "yyyy"}, {"monat", 1, "m"},   {"TAG", 2, "d"},     {"Stunde", 3, "h"},
                 {"Minute", 4, "n"},  {"sekunde", 5, "s"}, {"hour", 0, "yyyy"}, {"", 0, "yyyy"}};
    for (const auto &c : cases) {
        EXPECT_EQ(IntervalCodeOf(c.name), c.code) << c.name;
        EXPECT_EQ(IntervalUnit(IntervalCodeOf(c.name)), c.unit) << c.name;
    }
    EXPECT_EQ(IntervalUnit(6), "");
    EXPECT_EQ(IntervalUnit(-1), "");

    const QDateTime t(QDate(2026, 1, 31), QTime(12, 0));
    EXPECT_EQ(DateAdd("m", 1, t), QDateTime(QDate(2026, 2, 28), QTime(12, 0)));
    EXPECT_EQ(DateAdd("h", -1, t), t.addSecs(-3600));
    EXPECT_EQ(DateAdd("n", -2.5, t), t.addSecs(-120)) << "halves round to even";
    EXPECT_EQ(DateAdd("yyyy", -1, t), t.addYears(-1));
    EXPECT_EQ(DateAdd("x", 5, t), t);
    // On the wall clock: an hour back from 02:30 of the repeated autumn hour is 01:30.
    const QDateTime repeated = Database::dateTimeOf(*Database::wallSecond(u"2026-10-25 02:30:00"));
    EXPECT_EQ(Database::datumText(DateAdd("h", -1, repeated)), "2026-10-25 01:30:00");
}
