#pragma once

#include "model/interaction.h"

#include <QList>
#include <QString>

// What went wrong in an exchange with the SMS controller or with a configuration file, as
// a code. The boxes the user reads are made from it only where they are shown (smsMessages).
enum class SmsErrorCode {
    None,
    PortFailed,       // the serial port could not be opened; detail: its cause
    Runtime,          // the port failed during an exchange; detail: its cause
    NoAnswer,         // the answer never began within 5 s
    Timeout,          // the answer began but was not complete within 5 s
    BadChecksum,      // a read answer's checksum did not match its data
    NoEndMarker,      // a read answer did not end with its end marker
    WriteIncomplete,  // a block write failed; cause: why; the validity marker stays unset
    ConfigInvalid,    // the marker is not set after a write; cause: why it could not be read
    ReadBackDiffers,  // the image read back after a write is not the one sent; detail: the
                      // configurations that differ ("4, 7"), extra: the first address, hex
    ReceiveOverflow,  // more arrived than any answer holds; detail: bytes received
    FileInvalid,      // detail: the file, line: the line that is no configuration line
    RecordIncomplete, // detail: the file, line: the record whose closing field is wrong
    FileError,        // detail: the file, extra: the system's reason; saving: see `saving`
    RecordUnwritable, // detail: the file, line: the configuration holding a quote or control
};

struct SmsError {
    SmsErrorCode code = SmsErrorCode::None;
    QString detail;
    QString extra;
    int line = 0;
    // The failed exchange behind WriteIncomplete or ConfigInvalid.
    SmsErrorCode cause = SmsErrorCode::None;
    bool saving = false;

    SmsError() = default;
    SmsError(SmsErrorCode c, QString d = {}) : code(c), detail(std::move(d)) {}
    bool ok() const { return code == SmsErrorCode::None; }
    // The short result of a transfer with the SMS controller: "" success, "-2" wrong
    // checksum, "-1" any other failure.
    QString resultCode() const;
};

// One message box the SMS configuration window shows for an error, in the selected language.
struct SmsMessage {
    QString title;
    QString text; // lines separated by "\r"
    Interaction::Icon icon = Interaction::Icon::Exclamation;
};

// The boxes shown for an error, in order; none for success.
QList<SmsMessage> smsMessages(const SmsError &error);

// The warning after a configuration read that found the validity marker unset: the table
// holds what the device holds, which may be a write cut short.
SmsMessage smsUnmarkedReadWarning();
