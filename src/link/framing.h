#pragma once

// Pure pieces of the read and write exchanges, kept apart from the link so they can be
// checked without a port.

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// A read answer cut out of the receive buffer.
struct AnswerFrame {
    QByteArray payload;  // between the start marker and the end marker, verbatim
    QByteArray checksum; // the two characters before the checksum marker
};

// Payload: from the end of the first start marker to the first end marker after it.
// Checksum: the two characters before the first checksum marker after that end marker.
// Nothing when a marker is missing or fewer than two characters stand before the checksum
// marker. Markers inside whatever precedes the start marker do not count.
std::optional<AnswerFrame> cutAnswer(QByteArrayView buffer, QByteArrayView startMarker,
                                     QByteArrayView endMarker, QByteArrayView checksumMarker);

// Value of two hex digits (either case); nothing for anything else.
std::optional<int> hexPairValue(QByteArrayView digits);

// The record count at the start of a stored-data answer: four hex digits read as an
// unsigned 16-bit number; nothing when they are not hex.
std::optional<int> recordCountValue(QByteArrayView digits);
