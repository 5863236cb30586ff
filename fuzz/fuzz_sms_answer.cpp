// The SMS controller's answers, as arbitrary bytes on its serial line, through one service
// exchange of the program. Checked beyond "no crash": the exchange ends within its 5 s
// deadline; only its request went out, framed as the device expects; an answer accepted
// stands on the line with the framing it claims (prefix, data, checksum, end marker); a
// failed read hands out nothing; a prompt, well-formed answer is accepted.
//
// Input: six option bytes, then what the device sends.
//   [0] bits 0-2 exchange: read, select, service mode, block write, reset
//       bit 6 the rest is data the device frames itself; bit 7 it answers every request
//       (else once, after the first)
//   [1] read length, select sub-code or write length (at most 20)
//   [2] [3] address, low and high byte
//   [4] bytes per look at the line (0: all that is waiting)
//   [5] delay from a request to its answer, 20 ms units

#include "fuzz_check.h"
#include "sms/sms_protocol.h"

#include <memory>

namespace
{

const QByteArray kPrefix("\x06\xF9\x00", 3);
const QByteArray kAck("\x06\xF9\x00\x00", 4);
const QByteArray kService("@K!K!");
// The 5 s deadline and the longest single step after it: a 27-byte write request at 5 ms a
// character and the longest pause before a look.
constexpr qint64 kLatestEndMs = 5000 + 27 * 5 + 298;

enum Exchange { Read, Select, Service, Write, Reset, kExchanges };

// A serial line to a device that sends a scripted text: once, some time after the first
// request, or again after every request.
struct Line {
    explicit Line(VirtualClock &c) : clock(c) {}
    VirtualClock &clock;
    QByteArray answer;
    bool everyRequest = false;
    int delayMs = 0;
    int bytesPerLook = 0;
    int requestLength = 1;

    bool open = false;
    int opens = 0;
    QByteArray pending;
    qint64 readyAtMs = 0;
    QByteArray written;
    QByteArray received;

    void queueAnswer()
    {
        if (pending.isEmpty())
            readyAtMs = clock.nowMs() + delayMs;
        pending += answer;
    }
};

class ScriptedSerial : public Transport
{
public:
    explicit ScriptedSerial(Line &line) : m_line(line) {}
    Kind kind() const override { return Kind::Serial; }
    Error open(const QString &, const QString &, int) override
    {
        m_line.open = true;
        ++m_line.opens;
        return {};
    }
    void close() override { m_line.open = false; }
    bool isOpen() const override { return m_line.open; }
    Error write(const QByteArray &data) override
    {
        m_line.written += data;
        const bool requestDone = m_line.written.size() % m_line.requestLength == 0;
        if (requestDone && (m_line.everyRequest || m_line.written.size() == m_line.requestLength))
            m_line.queueAnswer();
        return {};
    }
    Error readAvailable(QByteArray *out) override
    {
        if (m_line.pending.isEmpty() || m_line.clock.nowMs() < m_line.readyAtMs)
            return {};
        const qsizetype n = m_line.bytesPerLook > 0 ? m_line.bytesPerLook : m_line.pending.size();
        const QByteArray piece = m_line.pending.left(n);
        m_line.pending.remove(0, piece.size());
        m_line.received += piece;
        out->append(piece);
        return {};
    }

private:
    Line &m_line;
};

// The device's frame check, restated: command and payload bytes with it sum to 0 mod 256.
QByteArray request(quint8 command, const QByteArray &payload)
{
    int sum = command;
    for (const char c : payload)
        sum += quint8(c);
    return QByteArray("\x02\xFD", 2) + char(payload.size()) + char(command) + payload +
           char((256 - sum % 256) % 256);
}

QByteArray addressBytes(quint16 address)
{
    QByteArray bytes;
    bytes.append(char(address & 0xFF));
    bytes.append(char(address >> 8));
    return bytes;
}

// The checksum byte a read answer carries for its data.
char answerCheck(const QByteArray &data)
{
    int sum = 0;
    for (const char c : data)
        sum += quint8(c);
    return char((256 - sum % 256) % 256);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzProcessSetup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 6)
        return 0;
    const int exchange = (data[0] & 7) % kExchanges;
    const bool intact = data[0] & 0x40;
    const quint8 length = data[1];
    const quint16 address = quint16(data[2] | (data[3] << 8));
    const QByteArray rest = bytesOf(data + 6, size - 6);

    VirtualClock clock(1 + data[0]);
    Line line(clock);
    line.everyRequest = data[0] & 0x80;
    line.bytesPerLook = data[4];
    line.delayMs = data[5] * 20;

    QByteArray expectedRequest;
    QByteArray intactAnswer;
    QByteArray readData;
    QByteArray writeData;
    switch (exchange) {
    case Read:
        expectedRequest = request(0x03, addressBytes(address) + char(length));
        readData = rest.left(length).leftJustified(length, '\0');
        intactAnswer = kPrefix + readData + answerCheck(readData) + '\0';
        break;
    case Select:
        expectedRequest = request(0x01, QByteArray(1, char(length)));
        intactAnswer = kAck;
        break;
    case Service:
        expectedRequest = "@K";
        intactAnswer = kService;
        break;
    case Write:
        writeData = rest.left(length % 21);
        expectedRequest = request(0x02, addressBytes(address) + writeData);
        intactAnswer = kAck;
        break;
    case Reset:
        expectedRequest = QByteArray("\x02\xFD\x00\x63\x00", 5);
        intactAnswer = rest.isEmpty() ? QByteArray("!") : rest.left(1);
        break;
    }
    line.answer = intact ? intactAnswer : rest;
    line.requestLength = int(expectedRequest.size());

    NoProgress progress;
    cSmsController sms([&] { return std::make_unique<ScriptedSerial>(line); }, clock, progress);
    sms.setPort("/dev/ttyFUZZ1");
    const QByteArray untouched("untouched");
    QByteArray got = untouched;
    Error error;
    switch (exchange) {
    case Read:
        error = sms.svc_read(address, length, &got, QString(), 0, 0, true);
        break;
    case Select:
        error = sms.svc_select(length, QString());
        break;
    case Service:
        error = sms.ServiceBetriebsartEinschalten();
        break;
    case Write:
        error = sms.svc_write(address, writeData, QString(), 0, 0);
        break;
    case Reset: {
        cSmsController::Request r;
        r.frame = smsResetFrame();
        error = sms.get_Meta_Data_Sms(r);
        break;
    }
    }

    FUZZ_CHECK(clock.nowMs() <= kLatestEndMs, "the exchange outlived its deadline");
    FUZZ_CHECK(line.opens == 1, "the port is opened once");
    FUZZ_CHECK(!line.written.isEmpty() &&
                   line.written ==
                       expectedRequest.repeated(line.written.size() / expectedRequest.size()),
               "only the request went out, whole, as often as it was repeated");

    const ErrorCode code = error.code;
    if (error.ok()) {
        switch (exchange) {
        case Read:
            FUZZ_CHECK(got.size() == length, "a read yields the length asked for");
            FUZZ_CHECK(line.received.contains(kPrefix + got + answerCheck(got) + '\0'),
                       "accepted data stands framed with its checksum and end marker");
            break;
        case Select:
        case Write:
            FUZZ_CHECK(line.received.contains(exchange == Select ? kAck : kPrefix),
                       "an acknowledgement was received");
            break;
        case Service:
            FUZZ_CHECK(line.received.contains(kService), "service mode was confirmed");
            break;
        case Reset:
            FUZZ_CHECK(!line.received.isEmpty(), "the device answered the reset");
            break;
        }
    } else {
        FUZZ_CHECK(code == ErrorCode::SmsNoAnswer || code == ErrorCode::SmsTimeout ||
                       (exchange == Read &&
                        (code == ErrorCode::SmsBadChecksum || code == ErrorCode::SmsNoEndMarker)),
                   "a failed exchange says why with an exchange error");
        FUZZ_CHECK(got == untouched, "a failed read hands out nothing");
    }

    // A well-formed answer, all there at the first look after it was sent, well within the
    // deadline, is taken.
    if (intact && line.bytesPerLook == 0 && line.delayMs <= 3000) {
        FUZZ_CHECK(error.ok(), "a prompt, well-formed answer is accepted");
        if (exchange == Read)
            FUZZ_CHECK(got == readData, "a prompt, well-formed read yields its data");
    }
    return 0;
}
