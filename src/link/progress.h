#pragma once

#include <QString>

// Where long operations report how far they are: the main window's progress display, a
// console line, or a test recorder.
class Progress {
public:
    virtual ~Progress() = default;
    virtual void DisplayProgress(const QString &text, qint64 current, qint64 maximum) = 0;
};

// Discards every report.
class NoProgress : public Progress {
public:
    void DisplayProgress(const QString &, qint64, qint64) override {}
};
