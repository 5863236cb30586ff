#pragma once

#include "images.h"

#include <QMap>
#include <QString>
#include <QStringList>

namespace sim
{

// Everything the emulated controller keeps across a restart.
struct SimState {
    FirmwareVersion version;
    QString program;            // hex text, 2815 bytes
    QString calibration;        // hex text, 336 bytes
    QStringList pending;        // stored records not yet acknowledged, 24 hex digits each
    QMap<int, double> scripted; // sensor -> forced value
    int snapshot = 0;           // number of acknowledged downloads
};

enum class LoadResult { Loaded, Absent, Invalid };

// Reads a state file. Absent when the file does not exist; Invalid (with error) when it
// cannot be read or does not hold a complete state, so a damaged file is never overwritten
// with defaults by accident.
LoadResult loadState(const QString &path, SimState *state, QString *error);
// Writes the state atomically: a crash leaves either the old or the new file.
bool saveState(const QString &path, const SimState &state, QString *error);

} // namespace sim
