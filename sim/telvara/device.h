#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace telvara
{

// Ways the emulated device misbehaves, for tests of the PC's error handling.
struct FailureModes {
    bool mute = false;            // never answers anything
    int muteAfterWrites = -1;     // stops answering after this many block writes
    bool badReadChecksum = false; // read answers carry a checksum one too high
    bool noEndMarker = false;     // read answers end in 0x55 instead of 0x00
    int loseWriteAt = -1;         // a block written to this address is acknowledged, not kept
    int ignoreFirst = 0;          // this many requests go unheard before the first answer
};

// The SMS controller as the service protocol sees it: a handshake into service mode, then
// frames that select a memory, read and write it, and reset the device. Pure: bytes in,
// bytes out; the caller moves them over the line and keeps the state file.
class Device
{
public:
    static constexpr int kMemorySize = 4096;

    Device();

    // A fresh device: firmware release and sub-release, a valid empty configuration.
    void initialise(quint8 release, quint8 subRelease);

    // Takes what the PC sent; returns the answer to send back (possibly empty).
    QByteArray receive(const QByteArray &bytes);
    // True once after a write or reset changed what the state file holds.
    bool takeChanged();
    // The line was closed: a request cut short by it is forgotten.
    void dropInput() { m_in.clear(); }

    // Told of every request recognised (the handshake or a whole frame), answered or not.
    std::function<void(const QByteArray &)> heard;

    FailureModes failures;
    QByteArray external; // marker at 0, configuration at 0x400
    QByteArray internal; // firmware version at 0x220

private:
    QByteArray answer(const QByteArray &frame);

    QByteArray m_in;
    bool m_service = false;
    bool m_resetArmed = false;
    QByteArray *m_memory = &external;
    int m_writes = 0;
    int m_requests = 0;
    bool m_changed = false;
};

// Writes the state atomically (0600); loads it back. An unreadable file is an error, never
// silently replaced by a fresh device.
bool saveDevice(const QString &path, const Device &device, QString *error);
enum class LoadResult { Loaded, Absent, Invalid };
LoadResult loadDevice(const QString &path, Device *device, QString *error);

void logLine(const QString &line);
void setQuiet(bool quiet);

} // namespace telvara
