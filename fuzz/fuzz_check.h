#pragma once

// What the fuzz targets share: a check that stops the run so libFuzzer keeps the input,
// and the process settings every target needs before it touches Qt.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding like a crash: say which, then abort.
#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__, what);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// Local times without summer-time gaps, so that a decoded clock reading always exists.
inline void fuzzProcessSetup()
{
    setenv("TZ", "UTC", 1);
    tzset();
}

// Qt's warnings about odd input (a file name holding a NUL, say) are expected here by the
// thousand; written out they would slow the run to a crawl and bury the findings.
inline void fuzzQuietQtWarnings()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
}

inline QByteArray bytesOf(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}
