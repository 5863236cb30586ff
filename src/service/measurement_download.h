#pragma once

#include "link/error.h"

#include <QString>

class ArchiveSpool;
class cTarvelon;

// The download of one controller's stored measurements with their safe archiving: the
// records ("DO") go into the archive, or the spool file while the database cannot take them,
// or the rejects file when they are unreadable, and only then does the controller get
// leave to forget them ("DL"). Sensors then show the newest values.
class MeasurementDownload
{
public:
    // What the last get_comp did with the records, beyond its error.
    struct Report {
        int received = 0;          // whole records in the answer
        int archived = 0;          // rows added to the archive (records already there not counted)
        int spooled = 0;           // records waiting in the spool file
        int rejected = 0;          // records kept in the rejects file instead of the archive
        bool acknowledged = false; // "DL" sent: the controller may forget them
        bool databaseBusy = false; // the database was locked by another program
        QString spoolProblem;      // the spool file could not be read or written
    };

    // Without an archive the records go straight into the controller's database, and
    // unreadable ones are not acknowledged, as there is nowhere to keep them.
    MeasurementDownload(cTarvelon &controller, ArchiveSpool *archive)
        : m_controller(controller), m_archive(archive)
    {
    }

    // Downloads, archives, acknowledges once safe, and sets each sensor's current value and
    // its time. Records announced but not received, and records rejected, are reported
    // after a download that was otherwise fine.
    Error get_comp();
    const Report &lastDownload() const { return m_report; }

private:
    struct ReceivedRecords;
    void flushSpool();
    ReceivedRecords readRecords(int id, int complete) const;
    // Archives the records and keeps the rejects. `safe` when all are safe on this side;
    // `error`: why the database, or else the rejects file, did not take them.
    struct Stored {
        bool safe = true;
        Error error;
    };
    Stored archiveRecords(const ReceivedRecords &received);
    void updateSensorValues(int complete);

    cTarvelon &m_controller;
    ArchiveSpool *m_archive;
    Report m_report;
};
