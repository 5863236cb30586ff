#include "log.h"

#include <cstdio>

namespace sim
{

namespace
{
bool g_quiet = false;
}

void setQuiet(bool quiet)
{
    g_quiet = quiet;
}

void logLine(const QString &line)
{
    if (g_quiet)
        return;
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

void warnLine(const QString &line)
{
    std::fprintf(stderr, "tarvelon-sim: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace sim
