#include "device.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdio>

namespace telvara
{

namespace
{

constexpr quint8 kSelect = 0x01;
constexpr quint8 kWrite = 0x02;
constexpr quint8 kRead = 0x03;
constexpr quint8 kReset = 0x63;
constexpr quint8 kSelectExternal = 0x02;
constexpr quint8 kSelectReset = 0x08;
constexpr quint8 kSelectInternal = 0x09;
constexpr int kVersionAddress = 0x220;
constexpr int kImageAddress = 0x400;
constexpr int kImageLength = 1800;
const QByteArray kHandshake("@K");
const QByteArray kHandshakeAnswer("@K!K!");
const QByteArray kAck("\x06\xF9\x00\x00", 4);
const QByteArray kPrefix("\x06\xF9\x00", 3);

bool g_quiet = false;

int sum(const QByteArray &bytes)
{
    int s = 0;
    for (const char c : bytes)
        s += quint8(c);
    return s & 0xFF;
}

} // namespace

void setQuiet(bool quiet)
{
    g_quiet = quiet;
}

void logLine(const QString &line)
{
    if (!g_quiet) {
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        std::fflush(stderr);
    }
}

Device::Device() : external(kMemorySize, '\xFF'), internal(kMemorySize, '\xFF')
{
}

void Device::initialise(quint8 release, quint8 subRelease)
{
    internal[kVersionAddress] = char(subRelease);
    internal[kVersionAddress + 1] = char(release);
    external[0] = char(0x61);
    external[1] = char(0x19);
    external.replace(kImageAddress, kImageLength, QByteArray(kImageLength, '\0'));
}

bool Device::takeChanged()
{
    const bool changed = m_changed;
    m_changed = false;
    return changed;
}

QByteArray Device::receive(const QByteArray &bytes)
{
    m_in += bytes;
    QByteArray out;
    for (;;) {
        // Outside service mode the device only listens for the handshake.
        const qsizetype handshake = m_in.indexOf(kHandshake);
        const qsizetype frameStart = m_in.indexOf("\x02\xFD");
        if (handshake >= 0 && (frameStart < 0 || handshake < frameStart || !m_service)) {
            m_in.remove(0, handshake + kHandshake.size());
            if (heard)
                heard(kHandshake);
            if (m_requests++ < failures.ignoreFirst)
                continue;
            m_service = true;
            if (!failures.mute) {
                logLine(QStringLiteral("service mode"));
                out += kHandshakeAnswer;
            }
            continue;
        }
        if (!m_service || frameStart < 0) {
            // Keep a possible start of a handshake or frame for the next call.
            m_in = m_in.right(1);
            return out;
        }
        m_in.remove(0, frameStart);
        if (m_in.size() < 4 || m_in.size() < 5 + quint8(m_in.at(2)))
            return out;
        const QByteArray frame = m_in.left(5 + quint8(m_in.at(2)));
        m_in.remove(0, frame.size());
        if (heard)
            heard(frame);
        if (!failures.mute && m_requests++ >= failures.ignoreFirst)
            out += answer(frame);
    }
}

QByteArray Device::answer(const QByteArray &frame)
{
    const int n = quint8(frame.at(2));
    const quint8 command = quint8(frame.at(3));
    const QByteArray payload = frame.mid(4, n);
    // The reset frame carries no checksum; every other frame must sum to 0.
    if (command != kReset && sum(frame.mid(3, n + 2)) != 0) {
        logLine(QStringLiteral("frame with a wrong checksum ignored"));
        return {};
    }
    const int address = n >= 2 ? quint8(payload.at(0)) | quint8(payload.at(1)) << 8 : 0;
    switch (command) {
    case kSelect: {
        if (n != 1)
            return {};
        const quint8 sub = quint8(payload.at(0));
        m_resetArmed = sub == kSelectReset;
        m_memory = sub == kSelectInternal ? &internal : &external;
        logLine(QStringLiteral("select %1").arg(sub, 2, 16, QLatin1Char('0')));
        if (sub != kSelectExternal && sub != kSelectInternal && sub != kSelectReset)
            return {};
        return kAck;
    }
    case kWrite: {
        if (n < 2 || address + n - 2 > kMemorySize)
            return {};
        if (failures.muteAfterWrites >= 0 && m_writes >= failures.muteAfterWrites) {
            logLine(QStringLiteral("write at %1 not answered: gone mute").arg(address));
            failures.mute = true;
            return {};
        }
        ++m_writes;
        if (address == failures.loseWriteAt) {
            logLine(QStringLiteral("write %1 bytes at %2 acknowledged and lost")
                        .arg(n - 2)
                        .arg(address));
            return kAck;
        }
        m_memory->replace(address, n - 2, payload.mid(2));
        m_changed = true;
        logLine(QStringLiteral("write %1 bytes at %2").arg(n - 2).arg(address));
        return kAck;
    }
    case kRead: {
        if (n != 3)
            return {};
        const int length = quint8(payload.at(2));
        if (address + length > kMemorySize)
            return {};
        const QByteArray data = m_memory->mid(address, length);
        const int check = ((256 - sum(data)) + (failures.badReadChecksum ? 1 : 0)) & 0xFF;
        logLine(QStringLiteral("read %1 bytes at %2").arg(length).arg(address));
        return kPrefix + data + char(check) + (failures.noEndMarker ? '\x55' : '\0');
    }
    case kReset:
        if (!m_resetArmed)
            return {};
        logLine(QStringLiteral("reset"));
        m_service = false;
        m_resetArmed = false;
        m_memory = &external;
        m_changed = true;
        return QByteArray(1, '\x06');
    default:
        return {};
    }
}

bool saveDevice(const QString &path, const Device &device, QString *error)
{
    QJsonObject o;
    o[QStringLiteral("external")] = QString::fromLatin1(device.external.toHex());
    o[QStringLiteral("internal")] = QString::fromLatin1(device.internal.toHex());
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    f.write(QJsonDocument(o).toJson());
    if (!f.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

LoadResult loadDevice(const QString &path, Device *device, QString *error)
{
    QFile f(path);
    if (!f.exists())
        return LoadResult::Absent;
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return LoadResult::Invalid;
    }
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    const QByteArray external =
        QByteArray::fromHex(o.value(QStringLiteral("external")).toString().toLatin1());
    const QByteArray internal =
        QByteArray::fromHex(o.value(QStringLiteral("internal")).toString().toLatin1());
    if (external.size() != Device::kMemorySize || internal.size() != Device::kMemorySize) {
        *error = QStringLiteral("%1 holds no complete device state").arg(path);
        return LoadResult::Invalid;
    }
    device->external = external;
    device->internal = internal;
    return LoadResult::Loaded;
}

} // namespace telvara
