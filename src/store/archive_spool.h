#pragma once

#include "store/database.h"

#include <QMutex>
#include <QString>

#include <vector>

// The safe way into the measurement archive. Records go into the database in one
// transaction; when the database cannot take them (locked by another program, disk full,
// file gone), they are kept in a spool file in the data directory instead and written
// first at the next attempt. A record already in the archive (same controller, sensor,
// time and value) is not written again, so a replayed spool or a download the controller
// repeats never doubles a row. Records that cannot be archived at all (unreadable fields)
// are kept verbatim in a rejects file with the reason.
class ArchiveSpool
{
public:
    static constexpr const char *kFileName = "archive.spool";
    static constexpr const char *kRejectsFileName = "rejects.txt";

    struct Result {
        int written = 0; // rows added to the archive now; records already there not counted
        int spooled = 0; // records waiting in the spool file
        QString error;   // why the database refused, empty when it took everything
        // The spool file could not be read (it is kept, renamed when damaged) or written.
        QString spoolProblem;
        // True when every record is either in the archive or in the spool file, so the
        // controller may forget them.
        bool safe = true;
        // The database refused only because another program holds it: try again later.
        bool busy = false;
    };

    // A record the controller sent that cannot be archived: its text as received.
    struct Reject {
        int tarvelonId = 0;
        QString record;
        QString reason;
    };

    ArchiveSpool(Database &db, const QString &dataDir);

    // Writes any spooled records and then these, in one transaction.
    Result store(const std::vector<ArchiveRecord> &records);
    // Writes the spooled records alone.
    Result flush() { return store({}); }
    // Records waiting in the spool file.
    int pending() const;
    QString path() const { return m_path; }

    // Appends the rejects to the rejects file, whole or not at all. False with the reason
    // when they could not be kept.
    bool keepRejects(const std::vector<Reject> &rejects, QString *error);
    QString rejectsPath() const { return m_rejectsPath; }

private:
    enum class SpoolState { Fine, Damaged, Unreadable };
    std::vector<ArchiveRecord> readSpool(QString *problem, SpoolState *state) const;
    // The number of records written (repeats once), or -1 with the reason.
    int writeSpool(const std::vector<ArchiveRecord> &records, QString *error);

    Database &m_db;
    const QString m_path;
    const QString m_rejectsPath;
    mutable QMutex m_mutex;
};
