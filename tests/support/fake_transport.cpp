#include "support/fake_transport.h"

#include <cctype>
#include <stdexcept>

namespace
{

// The controller's own framing, restated here rather than taken from the code under test.
struct Markers {
    const char *command;
    const char *start;
    const char *end;
};
const Markers kReadMarkers[] = {
    {"DX", "Version Data", "End Data"},    {"DN", "Data RAM", "End RAM"},
    {"DK", "Kalib RAM", "End RAM"},        {"DO", "Stored Data", "End Data"},
    {"DL", "SnapshotNr Data", "End Data"},
};
const QByteArray kChecksumMarker("CheckSum");
const QByteArray kReadyMarker("Receive Start");
constexpr int kChecksumDigits = 2;

bool isRepeatOf(QByteArrayView text, QByteArrayView unit)
{
    if (unit.isEmpty() || text.isEmpty() || text.size() % unit.size() != 0)
        return false;
    for (qsizetype i = 0; i < text.size(); i += unit.size()) {
        if (text.sliced(i, unit.size()) != unit)
            return false;
    }
    return true;
}

// A command is two letters, sent once or repeated.
std::optional<QString> commandIn(const QByteArray &text)
{
    if (text.size() < 2 || !std::isalpha(static_cast<unsigned char>(text[0])) ||
        !std::isalpha(static_cast<unsigned char>(text[1])))
        return std::nullopt;
    const QByteArrayView unit = QByteArrayView(text).first(2);
    if (!isRepeatOf(text, unit))
        return std::nullopt;
    return QString::fromLatin1(unit);
}

} // namespace

int wireSum(const QByteArray &bytes)
{
    int sum = 0;
    for (char c : bytes)
        sum = (sum + static_cast<unsigned char>(c)) % 256;
    return sum;
}

QByteArray framedAnswer(const QByteArray &start, const QByteArray &payload, const QByteArray &end,
                        int checksumOffset, bool lowerCase)
{
    const int sum = ((wireSum(payload) + checksumOffset) % 256 + 256) % 256;
    QByteArray digits = QByteArray::number(sum, 16).rightJustified(2, '0');
    digits = lowerCase ? digits.toLower() : digits.toUpper();
    return start + payload + end + digits + kChecksumMarker;
}

FakeController::FakeController(VirtualClock &clock) : m_clock(clock)
{
    acceptWrites(QStringLiteral("DB"));
    acceptWrites(QStringLiteral("DI"));
}

void FakeController::setPayload(const QString &command, const QByteArray &payload)
{
    for (const Markers &m : kReadMarkers) {
        if (command == QLatin1String(m.command)) {
            Answer a;
            a.startMarker = m.start;
            a.endMarker = m.end;
            a.payload = payload;
            m_answers.insert(command, a);
            return;
        }
    }
    throw std::invalid_argument("FakeController: no markers known for " + command.toStdString());
}

void FakeController::setRawAnswer(const QString &command, const QByteArray &answer)
{
    Answer a;
    a.payload = answer;
    a.raw = true;
    m_answers.insert(command, a);
}

void FakeController::acceptWrites(const QString &command)
{
    Answer a;
    a.write = true;
    m_answers.insert(command, a);
}

void FakeController::splitAnswer(int chunks, int pauseMs)
{
    m_pieceSizes.clear();
    m_pieceCount = qMax(1, chunks);
    m_pieceMs = pauseMs;
}

void FakeController::splitAnswerAt(const QList<int> &sizes, int pauseMs)
{
    m_pieceSizes = sizes;
    m_pieceCount = 1;
    m_pieceMs = pauseMs;
}

QByteArray FakeController::written() const
{
    QByteArray all;
    for (const Write &w : m_writes)
        all += w.bytes;
    return all;
}

std::optional<QByteArray> FakeController::stored(const QString &command) const
{
    const auto it = m_stored.constFind(command);
    if (it == m_stored.constEnd())
        return std::nullopt;
    return *it;
}

bool FakeController::open(Transport::Kind kind, const QString &address, const QString &setting,
                          int timeoutMs, QString *error)
{
    m_lastAddress = address;
    m_lastSetting = setting;
    if (m_refuseOpen) {
        if (error)
            *error = QStringLiteral("connection refused (fake)");
        return false;
    }
    if (m_hangOnOpen) {
        m_clock.advance(timeoutMs);
        if (error)
            *error = QStringLiteral("connect timed out (fake)");
        return false;
    }
    resetConnection();
    m_openKind = kind;
    ++m_opens;
    return true;
}

void FakeController::close(Transport::Kind kind)
{
    if (m_openKind != kind)
        return;
    ++m_closes;
    m_openKind.reset();
    resetConnection();
}

bool FakeController::isOpen(Transport::Kind kind) const
{
    return m_openKind == kind && !m_lost;
}

bool FakeController::write(Transport::Kind kind, const QByteArray &data, QString *error)
{
    if (!isOpen(kind)) {
        if (error)
            *error = QStringLiteral("not open (fake)");
        return false;
    }
    if (m_failWrites) {
        if (error)
            *error = QStringLiteral("broken pipe (fake)");
        return false;
    }
    m_writes.append({kind, m_clock.nowMs(), data});
    if (m_takingData)
        m_writeData += data;
    else
        takeCommandText(data);
    return true;
}

bool FakeController::read(Transport::Kind kind, QByteArray *out, QString *error)
{
    if (!isOpen(kind)) {
        if (error)
            *error = QStringLiteral("not open (fake)");
        return false;
    }
    // The PC only looks for the echo once it has sent all of its data.
    if (m_takingData && !m_writeData.isEmpty() && m_pending.empty())
        finishWriteData();
    if (m_pending.empty() || m_pending.front().readyAtMs > m_clock.nowMs())
        return true;
    const Piece piece = m_pending.front();
    m_pending.pop_front();
    out->append(piece.bytes);
    if (piece.dropAfter) {
        m_lost = true;
        if (error)
            *error = QStringLiteral("link lost (fake)");
        return false;
    }
    if (m_pending.empty() && !m_writeCommand.isEmpty())
        m_takingData = true;
    return true;
}

void FakeController::resetConnection()
{
    m_lost = false;
    m_commandText.clear();
    m_connectionBursts.clear();
    m_pending.clear();
    m_writeCommand.clear();
    m_takingData = false;
    m_writeData.clear();
}

void FakeController::takeCommandText(const QByteArray &data)
{
    // A burst written in one piece (TCP) ...
    if (data.size() >= 2) {
        if (const auto command = commandIn(data)) {
            m_commandText.clear();
            onBurst(*command);
            return;
        }
    }
    // ... or characters one by one up to a line feed (serial).
    m_commandText += data;
    qsizetype lineEnd;
    while ((lineEnd = m_commandText.indexOf('\n')) >= 0) {
        const QByteArray line = m_commandText.left(lineEnd).trimmed();
        m_commandText.remove(0, lineEnd + 1);
        if (const auto command = commandIn(line))
            onBurst(*command);
    }
}

void FakeController::onBurst(const QString &command)
{
    ++m_bursts[command];
    const int seen = ++m_connectionBursts[command];
    // A controller busy answering does not start a second answer.
    if (m_mute || !m_pending.empty() || seen < m_answerAfter)
        return;
    const auto it = m_answers.constFind(command);
    if (it == m_answers.constEnd())
        return;
    const Answer &a = *it;
    if (a.write) {
        m_writeCommand = command;
        queue(kReadyMarker);
        return;
    }
    if (a.raw) {
        queue(a.payload);
        return;
    }
    queue(framedAnswer(a.startMarker, a.payload, a.endMarker, m_badChecksum ? 1 : 0));
}

void FakeController::queue(const QByteArray &whole)
{
    QByteArray answer = whole;
    if (m_dropMidAnswer)
        answer = answer.left(answer.size() / 2);

    QList<QByteArray> pieces;
    if (!m_pieceSizes.isEmpty()) {
        qsizetype at = 0;
        for (int size : m_pieceSizes) {
            if (at >= answer.size())
                break;
            pieces << answer.mid(at, size);
            at += size;
        }
        if (at < answer.size())
            pieces << answer.mid(at);
    } else {
        const qsizetype count = qMax<qsizetype>(1, qMin<qsizetype>(m_pieceCount, answer.size()));
        qsizetype at = 0;
        for (qsizetype i = 0; i < count; ++i) {
            const qsizetype next = answer.size() * (i + 1) / count;
            pieces << answer.mid(at, next - at);
            at = next;
        }
    }

    const qint64 first = m_clock.nowMs() + m_answerDelayMs;
    for (qsizetype i = 0; i < pieces.size(); ++i)
        m_pending.push_back({first + i * m_pieceMs, pieces[i], false});
    if (m_dropMidAnswer && !m_pending.empty())
        m_pending.back().dropAfter = true;
}

void FakeController::finishWriteData()
{
    m_lastWriteReceived = m_writeData;
    const QByteArray data =
        m_writeData.left(qMax<qsizetype>(0, m_writeData.size() - kChecksumDigits));
    const QByteArray digits = m_writeData.right(kChecksumDigits);
    const int computed = wireSum(data);
    bool ok = false;
    if (digits.size() == kChecksumDigits && digits.toInt(&ok, 16) == computed && ok)
        m_stored.insert(m_writeCommand, data);
    m_writeCommand.clear();
    m_takingData = false;
    m_writeData.clear();
    if (m_noEcho)
        return;
    const int echoed = ((computed + m_echoOffset) % 256 + 256) % 256;
    queue(QByteArray::number(echoed, 16).rightJustified(2, '0').toUpper() + kChecksumMarker);
}

FakeLink::FakeLink(quint32 seed)
    : clock(seed), controller(clock),
      link(std::make_unique<cHydoConnect>(
          std::make_unique<FakeTransport>(Transport::Kind::Serial, controller),
          std::make_unique<FakeTransport>(Transport::Kind::Tcp, controller), clock))
{
}
