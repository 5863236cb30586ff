// The controller's read answers, as arbitrary bytes arriving in arbitrary pieces and at
// arbitrary times, through the read exchange and the link it drives. Checked beyond "no
// crash": the exchange ends within its deadline and closes the link; a payload it hands out
// stands in what arrived between its markers with the right checksum; an untouched answer
// that arrives promptly is accepted as sent.
//
// Input: four option bytes, the piece sizes they announce, then the answer.
//   [0] bits 0-2 command (DX DN DK DO DL), bit 3 flips silent, bit 4 serial line, bit 5 the
//       link is lost mid-answer, bit 6 the rest is a payload the controller frames itself,
//       bit 7 its checksum digits in lower case
//   [1] delay before the answer, 50 ms units   [2] pause between pieces, 10 ms units
//   [3] number of piece sizes (low 3 bits), followed by that many sizes (1 + byte % 64)

#include "fuzz_check.h"
#include "link/protocol.h"
#include "support/fake_transport.h"

#include <memory>

namespace
{

struct Command {
    const char *name;
    const char *start;
    const char *end;
    int expectedLength; // as the callers ask
    bool silent;
};
const Command kCommands[] = {
    {"DX", "Version Data", "End Data", 0, true},    {"DN", "Data RAM", "End RAM", 5630, false},
    {"DK", "Kalib RAM", "End RAM", 672, false},     {"DO", "Stored Data", "End Data", 0, false},
    {"DL", "SnapshotNr Data", "End Data", 0, true},
};
const QByteArray kCheck("CheckSum");

// Six seconds, the line time of the longest answer at 9600 baud (about 5.9 s, whatever a
// garbled record count announces), and the longest single wait that can straddle the end.
constexpr qint64 kLatestEndMs = 6000 + 5938 + 500;

// Keeps a copy of every byte the link received, so an accepted payload can be looked up in
// what actually arrived.
class RecordingTransport : public Transport
{
public:
    RecordingTransport(Kind kind, FakeController &controller, QByteArray &received)
        : m_inner(kind, controller), m_received(received)
    {
    }
    Kind kind() const override { return m_inner.kind(); }
    Error open(const QString &address, const QString &setting, int timeoutMs) override
    {
        return m_inner.open(address, setting, timeoutMs);
    }
    void close() override { m_inner.close(); }
    bool isOpen() const override { return m_inner.isOpen(); }
    Error write(const QByteArray &data) override { return m_inner.write(data); }
    Error readAvailable(QByteArray *out) override
    {
        QByteArray piece;
        const Error read = m_inner.readAvailable(&piece);
        m_received += piece;
        out->append(piece);
        return read;
    }

private:
    FakeTransport m_inner;
    QByteArray &m_received;
};

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// True when received holds start + payload + end, later followed by two hex digits whose
// value is the payload's checksum and then the checksum marker.
bool carriesValidFrame(const QByteArray &received, const QByteArray &start,
                       const QByteArray &payload, const QByteArray &end)
{
    const int sum = wireSum(payload);
    const QByteArray framed = start + payload + end;
    for (qsizetype at = received.indexOf(framed); at >= 0; at = received.indexOf(framed, at + 1)) {
        const qsizetype after = at + framed.size();
        for (qsizetype check = received.indexOf(kCheck, after); check >= 0;
             check = received.indexOf(kCheck, check + 1)) {
            if (check - after < 2 || !isHexDigit(received[check - 2]) ||
                !isHexDigit(received[check - 1]))
                continue;
            if (received.mid(check - 2, 2).toInt(nullptr, 16) == sum)
                return true;
        }
    }
    return false;
}

// What the PC wrote: the command with a line feed over the serial line, or bursts of 100
// copies over TCP, nothing else.
bool onlyCommandsWritten(const QByteArray &written, const QByteArray &command, bool serial)
{
    const QByteArray unit = serial ? command + '\n' : command.repeated(100);
    return !written.isEmpty() && written.size() % unit.size() == 0 &&
           written == unit.repeated(written.size() / unit.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzProcessSetup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const uint8_t options = data[0];
    const Command &command = kCommands[(options & 7) % 5];
    const bool silent = command.silent != bool(options & 0x08);
    const bool serial = options & 0x10;
    const bool drop = options & 0x20;
    const bool intact = options & 0x40;
    const bool lowerCase = options & 0x80;
    const int delayMs = data[1] * 50;
    const int pauseMs = data[2] * 10;
    size_t at = 4;
    QList<int> pieces;
    for (int n = data[3] & 7; n > 0 && at < size; --n)
        pieces << 1 + data[at++] % 64;
    const QByteArray rest = bytesOf(data + at, size - at);

    const QByteArray start(command.start);
    const QByteArray end(command.end);
    const QByteArray answer = intact ? framedAnswer(start, rest, end, 0, lowerCase) : rest;

    VirtualClock clock(1 + options);
    FakeController controller(clock);
    controller.setRawAnswer(command.name, answer);
    controller.splitAnswerAt(pieces, pauseMs);
    controller.setAnswerDelayMs(delayMs);
    controller.dropMidAnswer(drop);
    QByteArray received;
    cHydoConnect link(
        [&](Transport::Kind kind) {
            return std::make_unique<RecordingTransport>(kind, controller, received);
        },
        clock);

    NoProgress progress;
    ProtocolContext ctx{link, clock, progress,
                        serial ? LinkParams{true, "/dev/ttyFUZZ0", "9600,n,8,1"}
                               : LinkParams{false, "ctl.example", "4001"}};
    QString result = QStringLiteral("stale");
    const Error error = get_Meta_Data(ctx, command.name, command.start, command.end, "CheckSum",
                                      result, command.expectedLength, "fuzz", silent);

    FUZZ_CHECK(clock.nowMs() <= kLatestEndMs, "the exchange outlived its deadline");
    FUZZ_CHECK(controller.opens() == 1 && controller.closes() == 1,
               "the link is opened once and closed on every outcome");
    FUZZ_CHECK(link.Buffer.isEmpty(), "nothing of an answer survives the exchange");
    FUZZ_CHECK(onlyCommandsWritten(controller.written(), command.name, serial),
               "only the command went out");
    if (error.ok()) {
        const QByteArray payload = result.toLatin1();
        FUZZ_CHECK(!payload.contains(end), "the payload ends at the first end marker");
        FUZZ_CHECK(carriesValidFrame(received, start, payload, end),
                   "an accepted payload stands framed with its checksum in what arrived");
    } else {
        FUZZ_CHECK(error.code == ErrorCode::Timeout || error.code == ErrorCode::Communication ||
                       error.code == ErrorCode::NoLinkReceive,
                   "a failed read says why with a read error");
        FUZZ_CHECK(result.isEmpty(), "a failed read hands out nothing");
    }

    // A payload free of markers, framed by the controller and sent at once in a few pieces,
    // must come through as sent.
    const bool markerFree = !rest.contains(start) && !rest.contains(end) && !rest.contains(kCheck);
    if (intact && markerFree && delayMs == 0 && pauseMs == 0 && !drop) {
        FUZZ_CHECK(error.ok(), "a prompt, intact answer is accepted");
        FUZZ_CHECK(result.toLatin1() == rest, "a prompt, intact answer yields its payload");
    }
    return 0;
}
