#pragma once

#include <QString>

namespace sim
{

// One line per event on stderr, so a user watching the emulator sees every command.
void setQuiet(bool quiet);
void logLine(const QString &line);
// Warnings are shown even when quiet: they mean a file or option could not be used.
void warnLine(const QString &line);

} // namespace sim
