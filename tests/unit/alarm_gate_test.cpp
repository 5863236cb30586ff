// When limit crossings count and are mailed (hysteresis, hold time, repeat interval), and
// when a controller counts as delivering no data: walks through time, edges included.

#include "model/alarm_gate.h"

#include <QString>

#include <gtest/gtest.h>

namespace
{

using Side = AlarmGate::Side;
// Lower and upper warning, lower and upper alarm, as a regulation orders them.
const AlarmGate::Limits kLimits{
    {{Side::Lower, 23.5f}, {Side::Upper, 26.5f}, {Side::Lower, 23.0f}, {Side::Upper, 27.0f}}};
const char kNames[] = "wWaA";

struct Step {
    qint64 second;
    float value;
    const char *mailed; // e.g. "w+a+": the lower warning and the lower alarm began
    const char *active; // limits crossed and counted now
};

void walk(const AlarmQuality &quality, std::initializer_list<Step> steps)
{
    AlarmGate gate;
    gate.setQuality(quality);
    AlarmGate::States active{};
    for (const Step &step : steps) {
        SCOPED_TRACE(testing::Message() << "t=" << step.second << " s, value " << step.value);
        QString mailed;
        for (const AlarmGate::Notice &n :
             gate.evaluate(step.second * 1000, step.value, kLimits, active))
            mailed += QString(QLatin1Char(kNames[n.limit])) + QLatin1Char(n.raised ? '+' : '-');
        QString on;
        for (int i = 0; i < AlarmGate::kLimits; ++i)
            if (active[size_t(i)])
                on += QLatin1Char(kNames[i]);
        EXPECT_EQ(mailed, QLatin1String(step.mailed));
        EXPECT_EQ(on, QLatin1String(step.active));
    }
}

} // namespace

TEST(AlarmGate, hysteresisEndsACrossingOnlyThatFarInsideTheLimit)
{
    walk({.hysteresis = 0.5}, {
                                  {0, 25.0f, "", ""},
                                  {1, 23.5f, "w+", "w"}, // exactly at the limit is a crossing
                                  {2, 23.9f, "", "w"},
                                  {3, 24.0f, "w-", ""}, // exactly the hysteresis inside
                                  {4, 26.5f, "W+", "W"},
                                  {5, 26.1f, "", "W"},
                                  {6, 26.0f, "W-", ""},
                                  {7, 22.9f, "w+a+", "wa"},
                                  {8, 23.5f, "a-", "w"},
                              });
    // A hysteresis of one decimal is met by the reading that looks like it.
    AlarmGate gate;
    gate.setQuality({.hysteresis = 0.1});
    AlarmGate::States active{};
    const AlarmGate::Limits ph{
        {{Side::Lower, 7.0f}, {Side::Upper, 9.0f}, {Side::Lower, 6.0f}, {Side::Upper, 10.0f}}};
    gate.evaluate(0, 6.9f, ph, active);
    ASSERT_TRUE(active[0]);
    gate.evaluate(1000, 7.1f, ph, active);
    EXPECT_FALSE(active[0]);
}

TEST(AlarmGate, aCrossingCountsOnceItLastedTheHoldTimeAndTheClockGoingBackRestartsIt)
{
    walk({.holdSeconds = 30},
         {
             {0, 22.0f, "", ""},
             {29, 22.0f, "", ""},
             {30, 22.0f, "w+a+", "wa"}, // exactly the hold time
             {40, 25.0f, "w-a-", ""},   // a return is not held
             {50, 22.0f, "", ""},
             {60, 25.0f, "", ""}, // an interrupted crossing starts again
             {70, 23.2f, "", ""},
             {99, 23.2f, "", ""},
             {100, 23.2f, "w+", "w"},
             {200, 26.8f, "w-", ""},
             {150, 26.8f, "", ""}, // the clock went back: the wait starts again
             {179, 26.8f, "", ""},
             {180, 26.8f, "W+", "W"},
         });
}

TEST(AlarmGate, repeatIntervalHoldsChangesBackAndDropsThoseUndoneMeanwhile)
{
    walk({.repeatSeconds = 60},
         {
             {0, 23.5f, "w+", "w"},
             {10, 25.0f, "", ""},  // the all-clear waits
             {20, 23.5f, "", "w"}, // and is undone: nothing to tell
             {61, 25.0f, "w-", ""},
             {70, 23.5f, "", "w"},
             {50, 23.5f, "", "w"}, // the clock went back: the interval counts from now
             {109, 23.5f, "", "w"},
             {110, 23.5f, "w+", "w"}, // exactly the interval
             {120, 22.0f, "", "wa"},
             {180, 25.0f, "w-", ""}, // the alarm came and went unmailed
             {190, 22.0f, "", "wa"},
             {240, 22.0f, "w+a+", "wa"}, // what one evaluation finds goes out together
         });
}

TEST(StaleWatch, noDataIsReportedOncePerSilenceAndItsEndOnce)
{
    using C = StaleWatch::Change;
    const struct {
        qint64 second;
        bool answered;
        qint64 timeoutSeconds;
        C change;
        bool stale;
    } steps[] = {
        {0, false, 60, C::None, false}, // the watch starts with the first cycle
        {59, false, 60, C::None, false},
        {60, false, 60, C::Stale, true}, // exactly the timeout
        {120, false, 60, C::None, true}, // once per silence
        {130, true, 60, C::Back, false},
        {189, false, 60, C::None, false},
        {190, false, 60, C::Stale, true},
        {200, false, 0, C::None, false}, // switched off: no more alarm, no notice
        {300, true, 60, C::None, false},
        {250, false, 60, C::None, false}, // the clock went back: the silence counts from now
        {309, false, 60, C::None, false},
        {310, false, 60, C::Stale, true},
    };
    StaleWatch watch;
    for (const auto &s : steps) {
        SCOPED_TRACE(testing::Message() << "t=" << s.second << " s");
        EXPECT_EQ(watch.update(s.second * 1000, s.answered, s.timeoutSeconds * 1000), s.change);
        EXPECT_EQ(watch.stale(), s.stale);
    }
}
