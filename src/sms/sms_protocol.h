#pragma once

#include "link/clock.h"
#include "link/progress.h"
#include "link/transport.h"
#include "sms/sms_messages.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// ---- framing, pure

// 0x1A, &H1A and 1A all give 26; nullopt for anything that is no hexadecimal number.
std::optional<int> HexToDec(const QString &text);
// The 8-bit additive sum of the bytes (the device calls it a CRC).
quint8 calculate_crc(const QByteArray &bytes);
// The byte that makes command and payload sum to 0 modulo 256.
quint8 smsFrameCheck(quint8 command, const QByteArray &payload);
// 02 FD N CMD payload CHK.
QByteArray smsFrame(quint8 command, const QByteArray &payload);
QByteArray smsSelectFrame(quint8 subCode);
QByteArray smsReadFrame(quint16 address, quint8 length);
QByteArray smsWriteFrame(quint16 address, const QByteArray &data);
QByteArray smsResetFrame();

// The EEPROM as the program uses it.
constexpr quint16 kSmsMarkerAddress = 0x0000;
constexpr quint16 kSmsVersionAddress = 0x0220;
constexpr quint16 kSmsImageAddress = 0x0400;
constexpr int kSmsImageLength = 1800;

struct SmsVersion {
    quint8 release = 0;
    quint8 subRelease = 0;
};

// The SMS controller at the far end of its own serial line, driven through the service
// protocol. Every operation opens the port when it starts and leaves it open until the next
// one or until this object goes. Waits run on the injected clock and block the calling
// thread, so the desktop program calls these from a worker.
class cSmsController
{
public:
    using TransportFactory = std::function<std::unique_ptr<Transport>()>;

    cSmsController(TransportFactory factory, Clock &clock, Progress &progress);
    ~cSmsController();
    // A serial port through QSerialPort.
    static TransportFactory serialPorts();

    // The serial device of the next operation.
    void setPort(const QString &device) { m_port = device; }
    QString port() const { return m_port; }

    // Service mode, then the two version bytes. Followed by the busy wait.
    Error readVersion(SmsVersion *version);
    // Service mode, the validity marker, then the 1800 bytes of the image. An unset marker
    // (never configured, or a write cut short) does not stop the read: what the device holds
    // is all the user has to repair it from. marked, when given, says whether it was set.
    Error readConfiguration(QByteArray *image, bool *marked = nullptr);
    // Service mode, marker cleared, the image in blocks of 20 bytes, read back and compared
    // (ReadBackDiffers names where it differs), then marker set and checked, then the busy
    // wait. image must hold 1800 bytes.
    Error writeConfiguration(const QByteArray &image);
    // Service mode, reset, busy wait.
    Error reset();

    // ---- single steps, for tests and tools
    Error ServiceBetriebsartEinschalten();
    Error SvcSetDeviceEepromExtern();
    Error svc_select(quint8 subCode, const QString &title);
    Error svc_read(quint16 address, quint8 length, QByteArray *data, const QString &title,
                   qint64 position, qint64 maximum, bool silent);
    Error svc_write(quint16 address, const QByteArray &data, const QString &title, qint64 position,
                    qint64 maximum);
    Error svc_mark_valid(bool valid);

    // One exchange: send the request until the prefix arrives, wait for the expected length,
    // check checksum and end marker when asked to. All within 5 s of the start. data gets the
    // answer's data on success (checked answers only).
    struct Request {
        QByteArray frame;
        QByteArray prefix; // empty: any character is the answer
        bool check = false;
        int expectedLength = 0;
        QString title;
        qint64 position = 0;
        qint64 maximum = 0;
        bool silent = true;
        bool noWait = false;
    };
    Error get_Meta_Data_Sms(const Request &request, QByteArray *data = nullptr);

    void disconnect();

private:
    Error connect();
    Error PutBuffer(const QByteArray &text, int delayMs);
    Error GetBuffer();
    void sleep_random_sms(int minimum, int range);
    void busyWait();
    // The 1800 bytes of the image, in blocks, with progress from position on.
    Error readImage(QByteArray *image, const QString &title, qint64 position, qint64 maximum);

    TransportFactory m_factory;
    Clock &m_clock;
    Progress &m_progress;
    std::unique_ptr<Transport> m_transport;
    QString m_port;
    QByteArray m_buffer;
    qint64 m_received = 0; // by the current exchange, however much of it was kept
};
