#pragma once

#include <QString>

#include <memory>

// What went wrong in an exchange with a controller, as a code the program can act on. The
// text the user reads is made from it only where it is shown (model/error_text.h), in the
// language selected then.
enum class ErrorCode {
    None,
    NoLinkSend,        // nothing open to send on
    NoLinkReceive,     // nothing open to receive from
    ConnectFailed,     // the TCP connection failed; detail: the socket's cause
    Runtime,           // the port itself failed; detail: its cause
    Timeout,           // no whole answer within the deadline
    Communication,     // an answer with a wrong checksum
    ReceiveOverflow,   // more arrived than any answer holds; detail: bytes received
    TransferFailed,    // the controller echoed a wrong checksum for what it was sent
    FirmwareTooOld,    // detail: the version needed, extra: the version found ("2.19 R24")
    IncompleteRecords, // detail: records received, extra: records announced
    RecordsRejected,   // detail: unreadable records kept, extra: the rejects file
    Abandoned,         // the program is closing; the exchange was given up unfinished
    NotAcknowledged,   // records archived, but "DL" failed: cause, detail, extra tell why
    Other,             // detail: a text made elsewhere (database, field check), shown as is

    // The database, the data folder and the program's files. Unless told otherwise, detail
    // is the file, folder or database location (never with a password) and extra the
    // driver's or the system's cause. A code that wraps another keeps it in cause or inner.
    DatabaseOpen,            // cause: DatabaseBusy, DiskFull, DatabaseDamaged... for its kind
    LoginRefused,            // the server refused the login; extra: the SQLSTATE
    DatabaseUnknown,         // the server has no database of that name
    DriverMissing,           // the PostgreSQL driver is not installed; no detail
    DatabaseAddress,         // detail: the part that is wrong (AddressPart); extra: an option
    NoDatabaseGiven,         // no location at all
    DatabaseMissing,         // the file does not exist
    NoArchive,               // the server's database holds no archive table
    DatabaseIsFolder,        // the location is a folder
    DatabaseUnreadable,      // the file cannot be read
    DatabaseReadOnly,        // the file cannot be written
    NotSqlite,               // the file is something else than a SQLite database
    DatabaseDamaged,         // extra: SQLite's findings
    DiskFull,                // the disk holding the database is full
    DatabaseBusy,            // locked by another program; extra: the driver's text
    CheckFailed,             // the check of the file could not run
    MissingColumn,           // extra: the table, what: the column it lacks
    SchemaNewer,             // extra: the version found
    SchemaUpgradedMeanwhile, // another, newer program upgraded it; extra: its version
    NoWalJournal,            // SQLite refused the WAL journal; no extra
    QueryFailed,             // what: the operation; cause: DatabaseBusy, DiskFull... for its kind
    ArchiveReadFailed,       // reading the archive failed
    RecordWithoutTime,       // extra: the record's number, what: how many were given
    LogbookWithoutTime,      // a logbook entry without a valid time
    UnknownLanguage,         // what: the language that is no column of HYDOLANG
    LanguageNameInvalid,     // what: a language name that is no plain identifier
    LanguageNoColumn,        // what: the language HYDOLANG has no column for
    LanguageNotLoaded,       // detail: the language; inner: why
    NoSummaryLevel,          // extra: the slot width asked for, in seconds
    MailPasswordNotGiven,    // the password belongs in the data folder and none was given
    DatabaseUnusable,        // inner: why (a problem of its folder)
    FolderMissing,           // the folder does not exist
    NotAFolder,              // something that is no folder stands where one should
    FolderNotWritable,       // no new file can be made in the folder
    NoDataFolder,            // no application data folder is known for this user; no detail
    DataFolderIsFile,        // the data folder is a file
    DataFolderCreate,        // extra: the part of the path that blocks it; cause: NotAFolder
                             // when that part is a file
    DataFolderUnusable,      // inner: why
    DataFolderNotPrivate,    // the data folder's access could not be narrowed to its owner
    FileNotPrivate,          // a file's access could not be narrowed to its owner
    DataFolderLocked,        // another program polls with it; detail: its process id (may be
                             // empty), extra: the folder
    MailSecretNotPlain,      // the mail password file is no small plain file
    FileFailed,              // what: the operation as shown ("Cannot write the lock file")

    // The SMS controller and its configuration files. Its port fails as Runtime (a port that
    // will not open too) and a flood ends as ReceiveOverflow, as the link's.
    SmsNoAnswer,         // the answer never began within 5 s
    SmsTimeout,          // the answer began but was not complete within 5 s
    SmsBadChecksum,      // a read answer's checksum did not match its data
    SmsNoEndMarker,      // a read answer did not end with its end marker
    SmsWriteIncomplete,  // a block write failed; cause: why, with its detail; the validity
                         // marker stays unset
    SmsConfigInvalid,    // the marker is not set after a write; cause: why it could not be read
    SmsReadBackDiffers,  // the image read back after a write is not the one sent; detail: the
                         // configurations that differ ("4, 7"), extra: the first address, hex
    SmsFileInvalid,      // detail: the file, extra: the line that is no configuration line
    SmsRecordIncomplete, // detail: the file, extra: the record whose closing field is wrong
    SmsFileUnreadable,   // detail: the file, extra: the system's reason
    SmsFileUnwritable,   // detail: the file, extra: the system's reason
    SmsRecordUnwritable, // detail: the file, extra: the configuration holding a quote or
                         // control character

    // Sending mail; detail: what failed, in libcurl's or the file system's words (never the
    // password). Each stands for one numbered status text of the log.
    MailTransferFailed, // 1: bad argument, no connection, SMTP error
    MailNoEncryption,   // 1 as well: a login was due but the server offered no TLS
    MailRefused,        // 2: no message file, server or sender refused
    MailFileOpenFailed, // 3: the message file cannot be opened
    MailFileNotRegular, // 4: the message file is a folder or device
    MailFileReadFailed, // 5: the message file opened but is not readable
    MailInternal,       // libcurl itself failed ("Unknown error"); the last code
};

struct Error;

// A whole error kept inside another one, compared by what it holds.
struct InnerError {
    std::shared_ptr<const Error> error;
    explicit operator bool() const { return error != nullptr; }
    const Error &operator*() const { return *error; }
    bool operator==(const InnerError &o) const;
};

struct Error {
    ErrorCode code = ErrorCode::None;
    QString detail;
    QString extra;
    // For an error that follows from another one: that one's code (its detail and extra are
    // the ones above).
    ErrorCode cause = ErrorCode::None;
    // A third detail where a code needs one (its comment says what); because() leaves it to
    // the new error.
    QString what;
    // The whole error a wrapping one was made for, where its detail is needed for the
    // wrapper's own (the database a folder problem keeps from being used).
    InnerError inner;

    Error() = default;
    Error(ErrorCode c, QString d = {}, QString e = {})
        : code(c), detail(std::move(d)), extra(std::move(e))
    {
    }
    // code, because of the error why.
    static Error because(ErrorCode c, const Error &why)
    {
        Error e(c, why.detail, why.extra);
        e.cause = why.code;
        return e;
    }
    bool ok() const { return code == ErrorCode::None; }
    // An error wrapped around `why`, about `detail`.
    static Error around(ErrorCode c, QString detail, const Error &why)
    {
        Error e(c, std::move(detail));
        e.inner.error = std::make_shared<const Error>(why);
        return e;
    }
    bool operator==(const Error &) const = default;
};

inline bool InnerError::operator==(const InnerError &o) const
{
    return error == o.error || (error && o.error && *error == *o.error);
}
