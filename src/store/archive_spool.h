#pragma once

#include "store/database.h"

#include <QMutex>
#include <QString>

#include <vector>

// The safe way into the measurement archive. Records go into the database in one
// transaction; when the database cannot take them (locked by another program, disk full,
// file gone), they are appended to a spool file in the data directory instead and written
// first at the next attempt. A record already in the archive (same controller, sensor,
// time and value) is not written again, so a replayed spool or a download the controller
// repeats never doubles a row.
class ArchiveSpool
{
public:
    static constexpr const char *kFileName = "archive.spool";

    struct Result {
        int written = 0; // records now in the archive, spooled ones included
        int spooled = 0; // records waiting in the spool file
        QString error;   // why the database refused, empty when it took everything
        // True when every record is either in the archive or in the spool file, so the
        // controller may forget them.
        bool safe = true;
    };

    ArchiveSpool(Database &db, const QString &dataDir);

    // Writes any spooled records and then these, in one transaction.
    Result store(const std::vector<ArchiveRecord> &records);
    // Writes the spooled records alone.
    Result flush() { return store({}); }
    // Records waiting in the spool file.
    int pending() const;
    QString path() const { return m_path; }

private:
    std::vector<ArchiveRecord> readSpool(QString *error) const;
    bool appendToSpool(const std::vector<ArchiveRecord> &records, QString *error);

    Database &m_db;
    const QString m_path;
    mutable QMutex m_mutex;
};
