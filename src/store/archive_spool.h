#pragma once

#include "store/database.h"

#include <QByteArray>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <sys/types.h>
#include <vector>

// The safe way into the measurement archive. Records go into the database; when the database
// cannot take them (locked by another program, disk full, file gone), they are kept in a
// spool file in the data directory instead and written first at the next attempt. A record
// already in the archive (same controller, sensor, time and value) is not written again, so a
// replayed spool or a download the controller repeats never doubles a row. Records that
// cannot be archived at all (unreadable fields) are kept in a rejects file with the reason.
//
// The spool file is a journal: a header line naming the database it belongs to, then one
// frame per stored batch, appended and synced on its own, so keeping a batch costs the batch
// and not the backlog:
//
//   ostracom archive spool 2<TAB><database>          (escaped as in the rejects file)
//   #<TAB><record count><TAB><checksum of the record lines>
//   <DATUM><TAB><WERT><TAB><TARVELONID><TAB><ASID>   (one line per record)
//
// A frame counts whole or not at all. An incomplete last frame is an append that never
// finished (its batch was not acknowledged): it is ignored and cut off by the next append.
// Anything else that does not read back (a frame whose checksum fails, a stray line) is
// damage: the file is set aside under a new name and reported, its sound frames go on.
// A file of the older form (record lines alone) is still read and replayed.
class ArchiveSpool
{
public:
    static constexpr const char *kFileName = "archive.spool";
    static constexpr const char *kRejectsFileName = "rejects.txt";

    // What is wrong with the spool file, for a caller to act on.
    enum class Problem {
        None,
        Unreadable,      // details: the spool file, the cause; it is kept as it is
        Damaged,         // details: the spool file, the name it was kept under (empty: kept)
        WriteFailed,     // details: the spool file, the cause
        ForeignDatabase, // details: the spool file, the database it belongs to, this database
    };

    struct Result {
        int written = 0; // rows added to the archive now; records already there not counted
        int spooled = 0; // records waiting in the spool file
        Error error;     // why the database refused, none when it took everything
        // The first spool problem met, and the text of all of them (empty: none).
        Problem problem = Problem::None;
        QStringList problemDetails;
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

    // Writes any spooled records and then these.
    Result store(const std::vector<ArchiveRecord> &records);
    // Writes the spooled records alone.
    Result flush() { return store({}); }
    // Records waiting in the spool file.
    int pending() const;
    QString path() const { return m_path; }

    // Appends the rejects to the rejects file, whole or not at all; otherwise why they could
    // not be kept.
    Error keepRejects(const std::vector<Reject> &rejects);
    QString rejectsPath() const { return m_rejectsPath; }

    // The fields of one line of the rejects file (time, controller, record, reason) as they
    // were before escaping.
    static QStringList rejectFields(const QString &line);
    // The line of the rejects file that keeps `reject` at `time`, ending in '\n'.
    static QByteArray rejectLine(const QString &time, const Reject &reject);

    // What the text of a spool file holds, read without the file or a database.
    struct Contents {
        enum class Form { None, Old, Journal };
        Form form = Form::None;
        bool known = true;             // false: a newer or cut header; never replaced
        QString database;              // as the header names it
        std::vector<QByteArray> lines; // record lines of the sound frames, each once, with '\n'
        qsizetype goodEnd = 0;         // end of the last whole frame before any damage
        QString problem;               // why it is damaged or unknown; empty when sound
    };
    static Contents readContents(const QByteArray &text);
    // A spool file holding `lines` for `database`, and the frame that appends `lines` to one.
    static QByteArray journalText(const QString &database, const std::vector<QByteArray> &lines);
    static QByteArray frameText(const std::vector<QByteArray> &lines);
    // How a spool header names a database: the absolute path of a SQLite file, or
    // postgresql://user@host:port/name (never a password).
    static QString databaseName(const QString &location);
    static QString problemText(Problem problem, const QStringList &details);

private:
    enum class State { Fine, Damaged, Unreadable, Foreign };
    using Form = Contents::Form;

    // What the spool file holds, kept between calls so that a store during an outage does
    // not read the backlog again. Trusted while the file is the one last read or written.
    struct Cache {
        bool loaded = false;
        bool exists = false;
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        qint64 mtimeNs = 0;
        State state = State::Fine;
        Form form = Form::None;
        QString database;              // as the header names it
        QString reason;                // why the file is damaged or unreadable
        std::vector<QByteArray> lines; // record lines, each ending in '\n'
        QSet<QByteArray> keys;         // the same, to keep each record once
        size_t replayed = 0;           // lines before this one are in the archive
        off_t goodEnd = 0;             // end of the last whole frame
    };

    void load() const;
    void readFile(const QByteArray &data) const;
    Error spoolLines(const std::vector<QByteArray> &fresh);
    Error appendFrame(const QByteArray &frame);
    Error rewrite(const std::vector<QByteArray> &fresh);
    void forgetFile() const;
    bool rememberFile() const;
    void note(Result &result, Problem problem, const QStringList &details) const;
    void setDamagedAside(Result &result);
    bool replayBacklog(Result &result);
    void spoolRecords(const std::vector<ArchiveRecord> &records, Result &result);

    Database &m_db;
    const QString m_path;
    const QString m_rejectsPath;
    const QString m_database;
    mutable QMutex m_mutex;
    mutable Cache m_cache;
};
