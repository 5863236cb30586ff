#include "sms/sms_protocol.h"

#include "link/serial_transport.h"
#include "sms/hydo_sms_modul.h"
#include "store/strings.h"

#include <algorithm>
#include <cmath>

namespace
{

constexpr quint8 kFrameStart1 = 0x02;
constexpr quint8 kFrameStart2 = 0xFD;
constexpr quint8 kCmdSelect = 0x01;
constexpr quint8 kCmdWrite = 0x02;
constexpr quint8 kCmdRead = 0x03;
constexpr quint8 kCmdReset = 0x63;
constexpr quint8 kSelectExternalEeprom = 0x02;
constexpr quint8 kSelectBeforeReset = 0x08;
constexpr quint8 kSelectBeforeVersion = 0x09;
constexpr quint8 kEndMarker = 0x00;
const QByteArray kAnswerPrefix("\x06\xF9\x00", 3);
const QByteArray kValidMarker("\x61\x19", 2);
const QByteArray kInvalidMarker("\x00\x00", 2);
const char *const kLineSettings = "9600,n,8,1";

// The device takes characters no faster than one each 5 ms.
constexpr int kCharDelayMs = 5;
// After each request the device is given 99-298 ms before the PC looks for its answer.
constexpr int kLookMinimumMs = 99;
constexpr int kLookRangeMs = 199;
constexpr qint64 kDeadlineMs = 5000;
constexpr int kWaitPollMs = 50;
// Prefix, checksum and end marker around the data of a read answer.
constexpr int kReadFraming = 5;
constexpr int kReadBlock = 255;
constexpr int kWriteBlock = 20;
// After a reset or a configuration write the device is busy for six seconds.
constexpr int kBusySeconds = 6;

QByteArray addressBytes(quint16 address)
{
    QByteArray bytes;
    bytes.append(char(address & 0xFF));
    bytes.append(char(address >> 8));
    return bytes;
}

bool answerBegun(const QByteArray &buffer, const QByteArray &prefix)
{
    return prefix.isEmpty() ? !buffer.isEmpty() : buffer.contains(prefix);
}

// Which configurations of the image differ, and the EEPROM address of the first byte that does.
Error readBackDifference(const QByteArray &sent, const QByteArray &back)
{
    QStringList numbers;
    qsizetype first = -1;
    for (qsizetype i = 0; i < kSmsImageLength; ++i) {
        if (i < back.size() && i < sent.size() && back.at(i) == sent.at(i))
            continue;
        if (first < 0)
            first = i;
        const QString number = QString::number(i / cHydoSmsModul::kRecordLength + 1);
        if (numbers.isEmpty() || numbers.last() != number)
            numbers << number;
    }
    const qsizetype address = kSmsImageAddress + qMax<qsizetype>(0, first);
    return Error(ErrorCode::SmsReadBackDiffers, numbers.join(QStringLiteral(", ")),
                 QStringLiteral("0x") +
                     QString::number(address, 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

} // namespace

std::optional<int> HexToDec(const QString &text)
{
    QString digits = text.trimmed();
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ||
        digits.startsWith(QLatin1String("&H"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    bool ok = false;
    const int value = digits.toInt(&ok, 16);
    if (!ok || digits.startsWith(u'-') || digits.startsWith(u'+'))
        return std::nullopt;
    return value;
}

quint8 calculate_crc(const QByteArray &bytes)
{
    unsigned sum = 0;
    for (const char c : bytes)
        sum += quint8(c);
    return quint8(sum & 0xFF);
}

quint8 smsFrameCheck(quint8 command, const QByteArray &payload)
{
    const unsigned sum = (command + calculate_crc(payload)) & 0xFF;
    return quint8((256 - sum) & 0xFF);
}

QByteArray smsFrame(quint8 command, const QByteArray &payload)
{
    QByteArray frame;
    frame.append(char(kFrameStart1));
    frame.append(char(kFrameStart2));
    frame.append(char(payload.size()));
    frame.append(char(command));
    frame.append(payload);
    frame.append(char(smsFrameCheck(command, payload)));
    return frame;
}

QByteArray smsSelectFrame(quint8 subCode)
{
    return smsFrame(kCmdSelect, QByteArray(1, char(subCode)));
}

QByteArray smsReadFrame(quint16 address, quint8 length)
{
    return smsFrame(kCmdRead, addressBytes(address) + char(length));
}

QByteArray smsWriteFrame(quint16 address, const QByteArray &data)
{
    return smsFrame(kCmdWrite, addressBytes(address) + data);
}

QByteArray smsResetFrame()
{
    // The device takes the reset without a checksum: the last byte is always 0.
    QByteArray frame;
    frame.append(char(kFrameStart1));
    frame.append(char(kFrameStart2));
    frame.append(char(0));
    frame.append(char(kCmdReset));
    frame.append(char(0));
    return frame;
}

cSmsController::cSmsController(TransportFactory factory, Clock &clock, Progress &progress)
    : m_factory(std::move(factory)), m_clock(clock), m_progress(progress)
{
}

cSmsController::~cSmsController()
{
    disconnect();
}

cSmsController::TransportFactory cSmsController::serialPorts()
{
    return [] { return std::make_unique<SerialTransport>(); };
}

void cSmsController::disconnect()
{
    m_buffer.clear();
    if (m_transport && m_transport->isOpen())
        m_transport->close();
}

Error cSmsController::connect()
{
    disconnect();
    if (!m_transport)
        m_transport = m_factory();
    // A port that will not open is a failure of the port itself.
    return m_transport->open(m_port, QString::fromLatin1(kLineSettings), 0);
}

Error cSmsController::PutBuffer(const QByteArray &text, int delayMs)
{
    if (!m_transport || !m_transport->isOpen())
        return {};
    for (const char c : text) {
        if (const Error written = m_transport->write(QByteArray(1, c)); !written.ok())
            return written;
        if (delayMs > 0)
            m_clock.sleepMs(delayMs);
    }
    return {};
}

Error cSmsController::GetBuffer()
{
    if (!m_transport || !m_transport->isOpen())
        return {};
    // The longest answer is 260 bytes and a request is repeated at most every 99 ms for 5 s:
    // a peer that sends more than the link's limit in one exchange is no SMS controller, and
    // is cut off at once instead of filling the memory until the deadline. One byte beyond
    // the room left tells the two apart.
    QByteArray received;
    const qint64 room = std::max<qint64>(0, kReceiveLimit - m_received);
    const Error read = m_transport->readUpTo(&received, room + 1);
    m_received += received.size();
    if (m_received > kReceiveLimit) {
        const Error tooMuch(ErrorCode::ReceiveOverflow, QString::number(m_received));
        // The rest of the flood goes with the port, so the next exchange starts clean.
        disconnect();
        return tooMuch;
    }
    m_buffer += received;
    return read;
}

void cSmsController::sleep_random_sms(int minimum, int range)
{
    m_clock.sleepMs(int(std::lround(minimum + m_clock.random() * range)));
}

Error cSmsController::get_Meta_Data_Sms(const Request &request, QByteArray *data)
{
    if (!request.silent)
        m_progress.DisplayProgress(request.title, request.position, request.maximum);
    Error error = connect();
    if (!error.ok())
        return error;

    m_received = 0;
    const qint64 start = m_clock.nowMs();
    auto inTime = [&] { return m_clock.nowMs() - start < kDeadlineMs; };
    auto sendAndLook = [&] {
        Error e = PutBuffer(request.frame, kCharDelayMs);
        m_buffer.clear();
        if (!e.ok())
            return e;
        sleep_random_sms(kLookMinimumMs, kLookRangeMs);
        return GetBuffer();
    };

    error = sendAndLook();
    // The device may miss a request while it is busy; it is repeated until answered.
    while (!answerBegun(m_buffer, request.prefix) && error.ok() && inTime())
        error = sendAndLook();

    // Only what came from the answer prefix on counts: the line may carry stray bytes before it.
    auto answerLength = [&] {
        const qsizetype from = request.prefix.isEmpty() ? 0 : m_buffer.indexOf(request.prefix);
        return from < 0 ? 0 : m_buffer.size() - from;
    };
    if (!request.noWait) {
        while (answerLength() < request.expectedLength && error.ok() && inTime()) {
            m_clock.sleepMs(kWaitPollMs);
            error = GetBuffer();
        }
    }
    const qsizetype at = request.prefix.isEmpty() ? 0 : m_buffer.indexOf(request.prefix);
    if (!request.silent) {
        qint64 received = at < 0 ? 0 : m_buffer.size() - at - request.prefix.size();
        // Data bytes only, so that one block's end is the next one's start.
        if (request.check)
            received = qMin<qint64>(received, request.expectedLength - kReadFraming);
        m_progress.DisplayProgress(request.title, request.position + qMax<qint64>(0, received),
                                   request.maximum);
    }

    if (error.ok() && !answerBegun(m_buffer, request.prefix))
        error = Error(ErrorCode::SmsNoAnswer);
    else if (error.ok() && !inTime())
        error = Error(ErrorCode::SmsTimeout);
    else if (error.ok() && request.check) {
        const qsizetype p = at + request.prefix.size();
        const qsizetype length = request.expectedLength - kReadFraming;
        if (m_buffer.size() < p + length + 2) {
            error = Error(ErrorCode::SmsTimeout);
        } else {
            const QByteArray payload = m_buffer.mid(p, length);
            const quint8 check = quint8(m_buffer.at(p + length));
            const quint8 end = quint8(m_buffer.at(p + length + 1));
            const quint8 sum = calculate_crc(payload);
            if (end != kEndMarker)
                error = Error(ErrorCode::SmsNoEndMarker);
            else if (!((check == 0 && sum == 0) || (check != 0 && 256 - check == sum)))
                error = Error(ErrorCode::SmsBadChecksum);
            else if (data)
                *data = payload;
        }
    }
    m_buffer.clear();
    return error;
}

Error cSmsController::ServiceBetriebsartEinschalten()
{
    Request r;
    r.frame = QByteArrayLiteral("@K");
    r.prefix = QByteArrayLiteral("@K!K!");
    r.title = ms("Service Betriebsart einschalten");
    return get_Meta_Data_Sms(r);
}

Error cSmsController::svc_select(quint8 subCode, const QString &title)
{
    Request r;
    r.frame = smsSelectFrame(subCode);
    r.prefix = kAnswerPrefix + char(0);
    r.expectedLength = r.prefix.size();
    r.title = title;
    r.silent = title.isEmpty();
    return get_Meta_Data_Sms(r);
}

Error cSmsController::SvcSetDeviceEepromExtern()
{
    return svc_select(kSelectExternalEeprom, QString());
}

Error cSmsController::svc_read(quint16 address, quint8 length, QByteArray *data,
                               const QString &title, qint64 position, qint64 maximum, bool silent)
{
    Request r;
    r.frame = smsReadFrame(address, length);
    r.prefix = kAnswerPrefix;
    r.check = true;
    r.expectedLength = length + kReadFraming;
    r.title = title;
    r.position = position;
    r.maximum = maximum;
    r.silent = silent;
    return get_Meta_Data_Sms(r, data);
}

Error cSmsController::svc_write(quint16 address, const QByteArray &data, const QString &title,
                                qint64 position, qint64 maximum)
{
    Request r;
    r.frame = smsWriteFrame(address, data.left(kWriteBlock));
    // The acknowledgement is the prefix and a 0; the prefix alone ends the wait.
    r.prefix = kAnswerPrefix;
    r.noWait = true;
    r.title = title;
    r.position = position;
    r.maximum = maximum;
    r.silent = title.isEmpty();
    return get_Meta_Data_Sms(r);
}

Error cSmsController::svc_mark_valid(bool valid)
{
    return svc_write(kSmsMarkerAddress, valid ? kValidMarker : kInvalidMarker, QString(), 0, 0);
}

void cSmsController::busyWait()
{
    for (int second = 0; second < kBusySeconds; ++second) {
        m_progress.DisplayProgress(ms("Der SMS Controller ist beschäftigt !"), second,
                                   kBusySeconds);
        m_clock.sleepMs(1000);
    }
    m_progress.DisplayProgress(ms("Der SMS Controller ist beschäftigt !"), kBusySeconds,
                               kBusySeconds);
}

Error cSmsController::readVersion(SmsVersion *version)
{
    Error error = ServiceBetriebsartEinschalten();
    const QString title = ms("SMS Controller Version wird ausgelesen");
    if (error.ok())
        error = svc_select(kSelectBeforeVersion, title);
    QByteArray data;
    if (error.ok())
        error = svc_read(kSmsVersionAddress, 2, &data, title, 0, 2, false);
    if (!error.ok())
        return error;
    // Fewer than two bytes leave the version as it was.
    if (data.size() > 1) {
        version->subRelease = quint8(data.at(0));
        version->release = quint8(data.at(1));
    }
    busyWait();
    return {};
}

Error cSmsController::readImage(QByteArray *image, const QString &title, qint64 position,
                                qint64 maximum)
{
    Error error;
    QByteArray all;
    for (int offset = 0; offset < kSmsImageLength && error.ok(); offset += kReadBlock) {
        const int length = qMin(kReadBlock, kSmsImageLength - offset);
        QByteArray block;
        error = svc_read(quint16(kSmsImageAddress + offset), quint8(length), &block, title,
                         position + offset, maximum, false);
        all += block;
    }
    if (error.ok())
        *image = all;
    return error;
}

Error cSmsController::readConfiguration(QByteArray *image, bool *marked)
{
    Error error = ServiceBetriebsartEinschalten();
    if (error.ok())
        error = SvcSetDeviceEepromExtern();
    QByteArray marker;
    if (error.ok())
        error = svc_read(kSmsMarkerAddress, 2, &marker, QString(), 0, 0, true);
    QByteArray all;
    if (error.ok())
        error =
            readImage(&all, ms("Konfiguration aus SMS Controller laden ... "), 0, kSmsImageLength);
    if (!error.ok())
        return error;
    *image = all;
    if (marked)
        *marked = marker == kValidMarker;
    return {};
}

Error cSmsController::writeConfiguration(const QByteArray &image)
{
    Error error = ServiceBetriebsartEinschalten();
    if (error.ok())
        error = SvcSetDeviceEepromExtern();
    if (error.ok())
        error = svc_mark_valid(true);
    if (error.ok())
        error = svc_mark_valid(false);
    if (!error.ok())
        return error;

    // The progress runs over the blocks and then over their reading back.
    const qint64 total = 2 * kSmsImageLength;
    const QString title = ms("Konfiguration an SMS Controller übertragen ");
    for (int offset = 0; offset < kSmsImageLength; offset += kWriteBlock) {
        error = svc_write(quint16(kSmsImageAddress + offset), image.mid(offset, kWriteBlock), title,
                          offset, total);
        if (!error.ok()) {
            // The marker stays cleared: a half-written configuration must never read as valid.
            return Error::because(ErrorCode::SmsWriteIncomplete, error);
        }
    }

    // The device acknowledges a block before it stores it, so a block it lost is found only
    // by reading it back; until it matches, the marker stays cleared.
    QByteArray back;
    error =
        readImage(&back, ms("Konfiguration im SMS Controller prüfen ... "), kSmsImageLength, total);
    if (!error.ok()) {
        return Error::because(ErrorCode::SmsConfigInvalid, error);
    }
    if (back != image.left(kSmsImageLength))
        return readBackDifference(image, back);

    error = SvcSetDeviceEepromExtern();
    if (error.ok())
        error = svc_mark_valid(true);
    QByteArray marker;
    if (error.ok())
        error = svc_read(kSmsMarkerAddress, 2, &marker, QString(), 0, 0, true);
    if (!error.ok() || marker != kValidMarker) {
        return Error::because(ErrorCode::SmsConfigInvalid, error);
    }
    busyWait();
    return {};
}

Error cSmsController::reset()
{
    const QString title = ms("Reset SMS controller");
    Error error = ServiceBetriebsartEinschalten();
    if (error.ok())
        error = svc_select(kSelectBeforeReset, title);
    if (!error.ok())
        return error;
    Request r;
    r.frame = smsResetFrame();
    r.title = title;
    r.silent = false;
    error = get_Meta_Data_Sms(r);
    if (!error.ok())
        return error;
    busyWait();
    return {};
}
