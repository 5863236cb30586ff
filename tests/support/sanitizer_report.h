#pragma once

#include <QByteArray>

#include <gtest/gtest.h>

// Fails the running test when a program it started wrote a sanitizer report to `log` (its
// standard error), and shows the report, which the test would otherwise swallow.
inline void expectNoSanitizerReport(const char *program, const QByteArray &log)
{
    for (const char *marker : {"==ERROR: ", ": runtime error: "}) {
        if (const qsizetype at = log.indexOf(marker); at >= 0) {
            const qsizetype from = log.lastIndexOf('\n', at) + 1;
            ADD_FAILURE() << program << " reported a fault:\n" << log.mid(from).toStdString();
            return;
        }
    }
}
