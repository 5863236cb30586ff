#pragma once

// One poll of one connected controller, as the polling service runs it each cycle: the
// measurement download with its safe archiving, then the limit checks with their
// notifications.

#include "link/error.h"
#include "service/measurement_download.h"

#include <QString>

class ArchiveSpool;
class cTarvelon;

// What one poll of one controller did.
struct PollResult {
    Error error;                          // the download's error
    MeasurementDownload::Report download; // what became of the records
    int notifications = 0;                // notifications sent (or attempted)
    QString notifyProblems;               // status texts of notifications that failed
    QString settingsProblem; // the stored limits could not be read; the ones in use stay
};

// Downloads the controller's stored measurements (get_comp) into archive (see
// MeasurementDownload), takes up the regulations' settings stored meanwhile, and then
// evaluates every regulation once (process_warning_error).
PollResult pollController(cTarvelon &controller, ArchiveSpool *archive);
