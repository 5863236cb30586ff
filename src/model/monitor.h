#pragma once

// Monitoring of connected controllers: the measurement download with its safe archiving,
// and the limit checks with their notifications. Used by the desktop program's polling
// cycle and by ostracom-cli poll alike.

#include "link/error.h"

#include <QString>

class cTarvelon;

// Where limit crossings are reported: the alarm e-mail in the program, a recorder in tests.
class Notifier
{
public:
    virtual ~Notifier() = default;
    // Returns the notification's status text, empty on success or when sending is disabled.
    virtual QString notify(const QString &subject, const QString &body) = 0;
};

// What one poll of one controller did.
struct PollResult {
    Error error;             // the download's error
    int archived = 0;        // rows added to the archive now (spooled ones included)
    int spooled = 0;         // records kept in the spool file for a later cycle
    int rejected = 0;        // unreadable records kept in the rejects file
    QString spoolProblem;    // the spool file could not be read or written
    int notifications = 0;   // notifications sent (or attempted)
    QString notifyProblems;  // status texts of notifications that failed
    QString settingsProblem; // the stored limits could not be read; the ones in use stay
};

// Downloads the controller's stored measurements (get_comp), takes up the regulations'
// settings stored meanwhile, and then evaluates every regulation once
// (process_warning_error), as the polling cycle does for each controller.
PollResult pollController(cTarvelon &controller);
