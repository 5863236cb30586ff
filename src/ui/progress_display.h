#pragma once

#include <QString>
#include <QtGlobal>

// The arithmetic of the main window's progress display. Reports come in bursts, so the bar
// is drawn where the transfer will be by the next report: current plus the last step.
struct ProgressStep {
    qint64 old = 0;        // the previous value; 0 when the count went back (a new transfer)
    qint64 projected = 0;  // current + (current - old)
    qint64 barMaximum = 0; // the maximum, raised to `projected` rather than overflowing
    QString text;          // what the text box shows beside the bar
};

ProgressStep progressStep(qint64 lastValue, qint64 current, qint64 maximum);
