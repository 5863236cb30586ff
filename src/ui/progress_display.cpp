#include "ui/progress_display.h"

#include <algorithm>

ProgressStep progressStep(qint64 lastValue, qint64 current, qint64 maximum)
{
    ProgressStep step;
    step.old = current < lastValue ? 0 : lastValue;
    step.projected = current + (current - step.old);
    step.barMaximum = std::max(maximum, step.projected);
    step.text = QStringLiteral(" old  %1    current  %2  Max  %3  CCP  %4")
                    .arg(step.old)
                    .arg(current)
                    .arg(maximum)
                    .arg(step.projected);
    return step;
}
