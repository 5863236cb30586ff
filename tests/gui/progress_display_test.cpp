// The arithmetic of the progress display: the bar runs one step ahead of the reports.

#include "ui/progress_display.h"

#include <gtest/gtest.h>

TEST(ProgressStep, barRunsOneStepAheadAndStartsOverWhenTheCountGoesBack)
{
    ProgressStep step = progressStep(3, 5, 100);
    EXPECT_EQ(step.old, 3);
    EXPECT_EQ(step.projected, 7);
    EXPECT_EQ(step.barMaximum, 100);
    EXPECT_EQ(step.text, " old  3    current  5  Max  100  CCP  7");

    // A smaller count is a new transfer: the old value starts at 0.
    step = progressStep(5, 2, 100);
    EXPECT_EQ(step.old, 0);
    EXPECT_EQ(step.projected, 4);
    EXPECT_EQ(step.text, " old  0    current  2  Max  100  CCP  4");

    // The same count again does not move the bar ahead.
    step = progressStep(40, 40, 100);
    EXPECT_EQ(step.projected, 40);
}

TEST(ProgressStep, aProjectionPastTheMaximumRaisesTheMaximum)
{
    ProgressStep step = progressStep(90, 98, 100);
    EXPECT_EQ(step.projected, 106);
    EXPECT_EQ(step.barMaximum, 106);

    step = progressStep(0, 150, 100);
    EXPECT_EQ(step.projected, 300);
    EXPECT_EQ(step.barMaximum, 300);
}
