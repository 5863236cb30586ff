#pragma once

#include <QString>

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
    MailInternal,       // libcurl itself failed ("Unknown error")
};

struct Error {
    ErrorCode code = ErrorCode::None;
    QString detail;
    QString extra;
    // For an error that follows from another one: that one's code (its detail and extra are
    // the ones above).
    ErrorCode cause = ErrorCode::None;

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
    bool operator==(const Error &) const = default;
};
