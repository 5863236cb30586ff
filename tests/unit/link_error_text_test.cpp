// The one place where an error's code and details become the text the user reads.

#include "model/error_text.h"
#include "store/database.h"

#include <gtest/gtest.h>

// Texts that only restate a fixed wording are left out: these rows put details, causes and
// declines together, and the loop below finds a code that has no words at all.
TEST(ErrorText, eachCodeReadsExactlyAsShownToTheUser)
{
    const struct {
        Outcome error;
        const char *text;
    } cases[] = {
        {Error(), ""},
        {Error(ErrorCode::ConnectFailed, "connection refused"),
         "Verbindungsfehler !\rconnection refused"},
        {Error(ErrorCode::Runtime, "broken pipe"), "Runtime Error: broken pipe"},
        {Error(ErrorCode::FirmwareTooOld, "2.19 R24", "2.19 R23"),
         "Firmware Update notwendig !\rTarvelon kann nicht hinzugefügt werden.\r\r"
         "Benötigt wird Version 2.19 R24 oder höher.\r\rVorhanden: 2.19 R23"},
        {Declined::ClockTakeover, "Tarvelon und Ostracom Zeitsyncronisation wurde verweigert !"},
        {Error(ErrorCode::IncompleteRecords, "3", "5"),
         "Unvollständige Messwerte vom Tarvelon: 3 / 5"},
        {Error(ErrorCode::RecordsRejected, "2", "/data/rejects.txt"),
         "2 unreadable record(s) kept in /data/rejects.txt"},
        {Error(ErrorCode::ReceiveOverflow, "65537"),
         "Fehler bei der Kommunikation mit dem Tarvelon\rZu viele Daten empfangen, Verbindung "
         "getrennt. Empfangene Bytes: 65537"},
        {Error::because(ErrorCode::NotAcknowledged, Error(ErrorCode::Runtime, "broken pipe")),
         "Messwerte archiviert, vom Tarvelon aber nicht quittiert: Runtime Error: broken pipe"},
        {Error(ErrorCode::Other, "database is locked"), "database is locked"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.error.error.code));
        EXPECT_EQ(errorText(c.error), QString::fromUtf8(c.text));
    }
    // Every code has words of its own, not just its details: a code added without its text
    // would show a bare file name or nothing at all.
    for (int code = 1; code <= static_cast<int>(ErrorCode::MailInternal); ++code) {
        const Error e(static_cast<ErrorCode>(code), QStringLiteral("\x01"));
        if (e.code != ErrorCode::Other) {
            EXPECT_NE(errorText(e), e.detail) << "code " << code;
        }
    }
}

// The database's and the data folder's failures: the same words as ever, each detail in its
// place, and the kind a caller decides by (a busy database is waited for, nothing else is).
TEST(ErrorText, storeFailuresReadAsShownAndTellWhetherWaitingHelps)
{
    using Kind = StoreError::Kind;
    auto with = [](Error e, const char *what, ErrorCode cause = ErrorCode::None) {
        e.what = QString::fromUtf8(what);
        e.cause = cause;
        return e;
    };
    const Error notWritable(ErrorCode::FolderNotWritable, "/d", "Permission denied");
    const struct {
        Error error;
        Kind kind;
        QString text;
    } cases[] = {
        {with(Error(ErrorCode::QueryFailed, "/d/o.db", "disk I/O error"), "Archiving measurements",
              ErrorCode::DiskFull),
         Kind::Full,
         "Archiving measurements failed on database /d/o.db: disk I/O error (the disk is full)"},
        {with(Error(ErrorCode::QueryFailed, "/d/o.db", "database is locked"), "Saving",
              ErrorCode::DatabaseBusy),
         Kind::Busy, "Saving failed on database /d/o.db: database is locked"},
        {with(Error(ErrorCode::DatabaseOpen, "/d/o.db", "out of memory"), "", ErrorCode::DiskFull),
         Kind::Full, "Cannot open database /d/o.db: out of memory (the disk is full)"},
        {Error(ErrorCode::LoginRefused, "postgresql://u@h/o", "28P01"), Kind::Other,
         "Der Datenbankserver hat die Anmeldung abgelehnt: postgresql://u@h/o (SQLSTATE 28P01)"},
        {Error(ErrorCode::DatabaseUnknown, "postgresql://h/x"), Kind::Missing,
         "Diese Datenbank gibt es auf dem Server nicht: postgresql://h/x"},
        {Error(ErrorCode::DatabaseAddress, QString::number(int(Database::AddressPart::Option)),
               "krbsrvname"),
         Kind::Other, "Unbekannte Option in der Datenbankadresse: krbsrvname"},
        {with(Error(ErrorCode::RecordWithoutTime, "/d/o.db", "3"), "10"), Kind::Other,
         "Archive record 3 of 10 has no valid time; nothing was written to database /d/o.db"},
        {with(Error(ErrorCode::MissingColumn, "/d/o.db", "HYDOARCHIVE"), "ASID"), Kind::Other,
         "Database /d/o.db cannot be used: table HYDOARCHIVE has no column ASID"},
        {Error(ErrorCode::SchemaNewer, "/d/o.db", "99"), Kind::Other,
         QStringLiteral(
             "Database /d/o.db has schema version 99, newer than this program knows (%1); "
             "it was left unchanged")
             .arg(Database::kSchemaVersion)},
        {Error(ErrorCode::NotSqlite, "/d/o.db"), Kind::Damaged,
         "/d/o.db is not a SQLite database; the file was left unchanged"},
        {Error::around(ErrorCode::DatabaseUnusable, "/d/o.db", notWritable), Kind::Other,
         "Database /d/o.db cannot be used: Folder /d is not writable: Permission denied"},
        {Error::around(ErrorCode::LanguageNotLoaded, "FRENCH",
                       with(Error(ErrorCode::QueryFailed, "/d/o.db", "locked"), "Reading texts",
                            ErrorCode::DatabaseBusy)),
         Kind::Other,
         "Language \"FRENCH\" could not be loaded: Reading texts failed on database /d/o.db: "
         "locked"},
        {with(Error(ErrorCode::DataFolderCreate, "/f/data", "/f"), "", ErrorCode::NotAFolder),
         Kind::Other, "Cannot create data folder /f/data: /f is a file, not a folder"},
        {Error(ErrorCode::DataFolderCreate, "/f/data", "/f"), Kind::Other,
         "Cannot create data folder /f/data: /f does not accept a new folder"},
        {Error(ErrorCode::DataFolderLocked, "", "/d"), Kind::Busy,
         "Another Ostracom program (process ?) is already polling with the data folder /d; stop "
         "it first or use another --data-dir"},
        {with(Error(ErrorCode::FileFailed, "/d/ostracom.lock", "No space left on device"),
              "Cannot write the lock file"),
         Kind::Other, "Cannot write the lock file /d/ostracom.lock: No space left on device"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.error.code));
        EXPECT_EQ(errorText(c.error), c.text);
        EXPECT_EQ(StoreError(c.error).kind(), c.kind);
    }
}
