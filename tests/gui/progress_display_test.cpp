// The arithmetic of the progress display: the bar runs one step ahead of the reports, starts
// over when the count goes back, stays put on the same count and raises a passed maximum.

#include "ui/progress_display.h"

#include <gtest/gtest.h>

TEST(ProgressStep, barRunsOneStepAheadWithinARaisedMaximum)
{
    const struct {
        qint64 old, current, maximum;
        ProgressStep expected;
    } cases[] = {
        {3, 5, 100, {3, 7, 100, " old  3    current  5  Max  100  CCP  7"}},
        {5, 2, 100, {0, 4, 100, " old  0    current  2  Max  100  CCP  4"}},
        {40, 40, 100, {40, 40, 100, " old  40    current  40  Max  100  CCP  40"}},
        {90, 98, 100, {90, 106, 106, " old  90    current  98  Max  100  CCP  106"}},
        {0, 150, 100, {0, 300, 300, " old  0    current  150  Max  100  CCP  300"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected.text.toStdString());
        const ProgressStep step = progressStep(c.old, c.current, c.maximum);
        EXPECT_EQ(step.old, c.expected.old);
        EXPECT_EQ(step.projected, c.expected.projected);
        EXPECT_EQ(step.barMaximum, c.expected.barMaximum);
        EXPECT_EQ(step.text, c.expected.text);
    }
}
