#include "link/protocol.h"

#include "link/encodings.h"
#include "link/framing.h"

#include <QHostAddress>

#include <algorithm>

namespace
{

constexpr int kCommandCharDelayMs = 65;
constexpr int kDataCharDelayMs = 12;
constexpr qint64 kReadDeadlineMs = 6000;
// A long answer needs its line time on top of the read deadline: at 9600 baud with 10 bits a
// character, a whole program image (about 5,660 characters) takes 5.9 s by itself and could
// never arrive within 6 s.
constexpr qint64 kLineBitsPerChar = 10;
constexpr qint64 kLineBaud = 9600;

// The longest answer the line time is granted for: a program image with its framing. A
// garbled record count must not stretch the wait beyond that.
constexpr qint64 kLongestAnswerChars = 5700;

qint64 lineTimeMs(qint64 characters)
{
    const qint64 n = std::clamp<qint64>(characters, 0, kLongestAnswerChars);
    return (n * kLineBitsPerChar * 1000 + kLineBaud - 1) / kLineBaud;
}
constexpr qint64 kWriteDeadlineMs = 600000;
constexpr int kAnswerPollMs = 500;
// The controller needs the command repeated until it wakes; each look waits 99-298 ms.
constexpr int kLookMinimumMs = 99;
constexpr int kLookRangeMs = 199;
// Progress total while the length of an answer is not known yet.
constexpr int kUnknownTotal = 10000;
// A stored-data answer starts with a four-digit record count; each record is 24 characters.
constexpr int kRecordCountDigits = 4;
constexpr int kRecordLength = 24;
const char *const kCommandTerminator = "\n";

constexpr quint16 kDefaultTcpPort = 4001;
const char *const kDefaultSerialSetting = "9600,n,8,1";

// One exchange's common deadline, measured on the injected clock.
class Deadline
{
public:
    Deadline(Clock &clock, qint64 lengthMs) : m_clock(clock), m_end(clock.nowMs() + lengthMs) {}
    bool passed() const { return m_clock.nowMs() > m_end; }
    void extend(qint64 ms) { m_end += ms; }

private:
    Clock &m_clock;
    qint64 m_end;
};

bool contains(const QByteArray &buffer, const QByteArray &marker)
{
    return buffer.contains(marker);
}

// Sends the command and takes one look at the answer.
Error sendCommandAndLook(ProtocolContext &ctx, const QString &command)
{
    const Error error = ctx.link.PutBuffer(command, kCommandCharDelayMs, true,
                                           QString::fromLatin1(kCommandTerminator));
    if (!error.ok())
        return error;
    wait_random(ctx.clock, kLookMinimumMs, kLookRangeMs);
    return ctx.link.GetBuffer();
}

Error pollOnce(ProtocolContext &ctx)
{
    ctx.clock.sleepMs(kAnswerPollMs);
    return ctx.link.GetBuffer();
}

} // namespace

std::optional<LinkParams> parseControllerAddress(const QString &text, Error *error)
{
    auto fail = [&](const QString &why) -> std::optional<LinkParams> {
        if (error)
            *error = Error(ErrorCode::Other, why);
        return std::nullopt;
    };
    const QString usage = QStringLiteral("expected tcp:HOST[:PORT] or serial:DEVICE");
    const QString trimmed = text.trimmed();
    const qsizetype colon = trimmed.indexOf(QLatin1Char(':'));
    const QString scheme = colon < 0 ? QString() : trimmed.left(colon).toLower();
    const QString rest = colon < 0 ? QString() : trimmed.mid(colon + 1);

    if (scheme == QLatin1String("serial")) {
        if (rest.isEmpty())
            return fail(QStringLiteral("controller address '%1' names no serial device").arg(text));
        return LinkParams{true, rest, QString::fromLatin1(kDefaultSerialSetting)};
    }
    if (scheme != QLatin1String("tcp"))
        return fail(QStringLiteral("unknown controller address '%1': %2").arg(text, usage));

    QString host;
    QString port;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return fail(QStringLiteral("controller address '%1': missing ']'").arg(text));
        host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                return fail(QStringLiteral("controller address '%1': expected ':PORT' after ']'")
                                .arg(text));
            port = after.mid(1);
            if (port.isEmpty())
                return fail(QStringLiteral("controller address '%1': empty port").arg(text));
        }
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
            return fail(
                QStringLiteral("controller address '%1': '%2' is no IPv6 address").arg(text, host));
    } else if (rest.count(QLatin1Char(':')) > 1) {
        // An IPv6 address without brackets cannot carry a port.
        host = rest;
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
            return fail(QStringLiteral("controller address '%1': '%2' is no IPv6 address "
                                       "(write [ADDRESS]:PORT)")
                            .arg(text, host));
    } else {
        const qsizetype portColon = rest.indexOf(QLatin1Char(':'));
        host = portColon < 0 ? rest : rest.left(portColon);
        if (portColon >= 0) {
            port = rest.mid(portColon + 1);
            if (port.isEmpty())
                return fail(QStringLiteral("controller address '%1': empty port").arg(text));
        }
    }
    if (host.isEmpty())
        return fail(QStringLiteral("controller address '%1' names no host").arg(text));
    // A bracket within the host is one of a mistyped [ADDRESS]:PORT, which the IPv6 check
    // lets pass inside a scope ("fe80::1%eth0]:4001").
    for (const QChar c : host) {
        if (c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char('[') || c == QLatin1Char(']'))
            return fail(QStringLiteral("controller address '%1': bad host '%2'").arg(text, host));
    }
    if (port.isEmpty())
        return LinkParams{false, host, QString::number(kDefaultTcpPort)};
    bool ok = false;
    const int number = port.toInt(&ok);
    bool digitsOnly = true;
    for (const QChar c : port)
        digitsOnly = digitsOnly && c.isDigit();
    if (!ok || !digitsOnly || number < 1 || number > 65535)
        return fail(QStringLiteral("controller address '%1': port '%2' is not a number from 1 "
                                   "to 65535")
                        .arg(text, port));
    return LinkParams{false, host, QString::number(number)};
}

void wait_random(Clock &clock, int minimum, int range)
{
    clock.sleepMs(static_cast<int>(RoundHalfEven(minimum + clock.random() * range)));
}

Error get_Meta_Data(ProtocolContext &ctx, const QString &command, const QString &startMarker,
                    const QString &endMarker, const QString &checksumMarker, QString &result,
                    int expectedLength, const QString &progressText, bool silent)
{
    cHydoConnect &link = ctx.link;
    const QByteArray start = startMarker.toLatin1();
    const QByteArray end = endMarker.toLatin1();
    const QByteArray check = checksumMarker.toLatin1();

    bool totalKnown = silent || expectedLength != 0;
    qint64 total = totalKnown ? expectedLength : kUnknownTotal;
    if (!silent)
        ctx.progress.DisplayProgress(progressText, 0, total);

    result.clear();
    Error error = link.connect(ctx.params.serial, ctx.params.address, ctx.params.setting);
    if (!error.ok())
        return error;

    Deadline deadline(ctx.clock, kReadDeadlineMs);
    if (expectedLength > 0)
        deadline.extend(lineTimeMs(expectedLength));
    error = sendCommandAndLook(ctx, command);

    while (!contains(link.Buffer, start) && error.ok() && !deadline.passed())
        error = sendCommandAndLook(ctx, command);

    while (!contains(link.Buffer, end) && error.ok() && !deadline.passed()) {
        const qsizetype at = link.Buffer.indexOf(start);
        const qsizetype received = at < 0 ? 0 : link.Buffer.size() - at - start.size();
        if (!totalKnown && !silent && received >= kRecordCountDigits + 1) {
            const auto count = recordCountValue(
                QByteArrayView(link.Buffer).sliced(at + start.size(), kRecordCountDigits));
            total = qint64(count.value_or(0)) * kRecordLength;
            totalKnown = true;
            deadline.extend(lineTimeMs(total));
        }
        if (!silent)
            ctx.progress.DisplayProgress(progressText, received, total);
        error = pollOnce(ctx);
    }

    while (!contains(link.Buffer, check) && error.ok() && !deadline.passed())
        error = pollOnce(ctx);

    const bool late = deadline.passed();
    QByteArray payload;
    if (error.ok() && !late) {
        const auto frame = cutAnswer(link.Buffer, start, end, check);
        const auto sum = frame ? hexPairValue(frame->checksum) : std::nullopt;
        if (!frame || !sum || *sum != Sum8(QByteArrayView(frame->payload)))
            error = Error(ErrorCode::Communication);
        else
            payload = frame->payload;
    }

    if (!silent)
        ctx.progress.DisplayProgress(progressText, total, total);
    if (late)
        error = Error(ErrorCode::Timeout);
    if (error.ok())
        result = QString::fromLatin1(payload);
    link.disconnect();
    return error;
}

Error put_Meta_Data(ProtocolContext &ctx, const QString &command, const QString &readyMarker,
                    const QString &checksumMarker, const QString &data, bool quiet)
{
    cHydoConnect &link = ctx.link;
    const QByteArray ready = readyMarker.toLatin1();
    const QByteArray check = checksumMarker.toLatin1();

    // A write is not begun for a program that is closing, and once begun it is not cut.
    if (link.abandoned())
        return Error(ErrorCode::Abandoned);
    const cHydoConnect::WriteGuard whole(link);
    Error error = link.connect(ctx.params.serial, ctx.params.address, ctx.params.setting);
    if (!error.ok())
        return error;

    const Deadline deadline(ctx.clock, kWriteDeadlineMs);
    error = sendCommandAndLook(ctx, command);

    while (!contains(link.Buffer, ready) && error.ok() && !deadline.passed())
        error = sendCommandAndLook(ctx, command);

    const int sent = Sum8(data);
    if (contains(link.Buffer, ready) && error.ok() && !deadline.passed())
        error = link.PutBuffer(data + Sum8Text(sent), kDataCharDelayMs, quiet, QString());

    link.Buffer.clear();
    while (!contains(link.Buffer, check) && error.ok() && !deadline.passed())
        error = pollOnce(ctx);

    const bool late = deadline.passed();
    if (contains(link.Buffer, check) && error.ok() && !late) {
        const qsizetype at = link.Buffer.indexOf(check);
        const auto echoed =
            at >= 2 ? hexPairValue(QByteArrayView(link.Buffer).sliced(at - 2, 2)) : std::nullopt;
        if (!echoed || *echoed != sent)
            error = Error(ErrorCode::TransferFailed);
    }
    if (late)
        error = Error(ErrorCode::Timeout);
    link.disconnect();
    return error;
}
