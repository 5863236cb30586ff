#pragma once

#include "link/clock.h"
#include "link/hydo_connect.h"
#include "link/progress.h"

#include <QString>

#include <optional>

// How to reach one controller: a serial device with its line settings, or a TCP host with
// its port in setting.
struct LinkParams {
    bool serial = false;
    QString address;
    QString setting;
};

// Parses "tcp:HOST[:PORT]" (port 4001 by default, an IPv6 host in brackets) and
// "serial:DEVICE" (setting "9600,n,8,1"). On failure returns nothing, and error (if given)
// is an Other error saying what is wrong.
std::optional<LinkParams> parseControllerAddress(const QString &text, Error *error);

// What one exchange needs: the shared link, the time source, where progress goes, and the
// controller's link parameters.
struct ProtocolContext {
    cHydoConnect &link;
    Clock &clock;
    Progress &progress;
    LinkParams params;
};

// Sleeps minimum + r * range milliseconds, r a fresh random number in [0, 1).
void wait_random(Clock &clock, int minimum, int range);

// Read exchange: sends the command until the start marker appears, collects the answer up to
// the checksum marker and checks the checksum, all within 6 seconds. result receives the
// payload only on success. A link abandoned meanwhile ends it with ErrorCode::Abandoned.
Error get_Meta_Data(ProtocolContext &ctx, const QString &command, const QString &startMarker,
                    const QString &endMarker, const QString &checksumMarker, QString &result,
                    int expectedLength, const QString &progressText, bool silent);

// Write exchange: sends the command until the controller is ready, sends data with its
// checksum and compares the checksum the controller echoes, all within 600 seconds. Not
// begun on an abandoned link; once begun, abandoning the link does not cut it.
Error put_Meta_Data(ProtocolContext &ctx, const QString &command, const QString &readyMarker,
                    const QString &checksumMarker, const QString &data, bool quiet);
