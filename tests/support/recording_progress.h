#pragma once

#include "link/progress.h"

#include <QList>
#include <QString>

// Keeps every progress report for a test to look at.
class RecordingProgress : public Progress
{
public:
    struct Report {
        QString text;
        qint64 current;
        qint64 maximum;
    };
    void DisplayProgress(const QString &text, qint64 current, qint64 maximum) override
    {
        reports.append({text, current, maximum});
    }
    QList<Report> reports;
};
