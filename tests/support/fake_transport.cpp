#include "support/fake_transport.h"

#include <QScopeGuard>

#include <algorithm>
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
// What a flooding peer has ready at each read: more than any receive buffer should take.
constexpr qint64 kFloodChunk = 256 * 1024;

QByteArray twoHexDigits(int value)
{
    return QByteArray::number((value % 256 + 256) % 256, 16).rightJustified(2, '0').toUpper();
}

// A command is two letters, sent once or repeated.
std::optional<QString> commandIn(const QByteArray &text)
{
    if (text.size() < 2 || text.size() % 2 != 0 || !std::isalpha(uchar(text[0])) ||
        !std::isalpha(uchar(text[1])))
        return std::nullopt;
    const QByteArray unit = text.first(2);
    if (text != unit.repeated(text.size() / 2))
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
    const QByteArray digits = twoHexDigits(wireSum(payload) + checksumOffset);
    return start + payload + end + (lowerCase ? digits.toLower() : digits) + kChecksumMarker;
}

FakeController::FakeController(VirtualClock &clock) : m_clock(clock)
{
    m_answers.insert(QStringLiteral("DB"), Answer{Kind::Write, {}, {}, {}});
    m_answers.insert(QStringLiteral("DI"), Answer{Kind::Write, {}, {}, {}});
}

void FakeController::setPayload(const QString &command, const QByteArray &payload)
{
    for (const Markers &m : kReadMarkers) {
        if (command == QLatin1String(m.command)) {
            m_answers.insert(command, Answer{Kind::Framed, m.start, m.end, payload});
            return;
        }
    }
    throw std::invalid_argument("FakeController: no markers known for " + command.toStdString());
}

void FakeController::setRawAnswer(const QString &command, const QByteArray &answer)
{
    m_answers.insert(command, Answer{Kind::Raw, {}, {}, answer});
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
    return it == m_stored.constEnd() ? std::nullopt : std::optional<QByteArray>(*it);
}

void FakeController::clearHistory()
{
    m_writes.clear();
    m_bursts.clear();
    m_opens = 0;
    m_closes = 0;
    m_stored.clear();
    m_lastWriteReceived.clear();
    m_largestBuffer = 0;
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

bool FakeController::write(Transport::Kind kind, const QByteArray &data, QString *error)
{
    const bool failing =
        m_failWrites || (!m_failCommand.isEmpty() && commandIn(data) == m_failCommand);
    if (!isOpen(kind) || failing) {
        if (error)
            *error = isOpen(kind) ? QStringLiteral("broken pipe (fake)")
                                  : QStringLiteral("not open (fake)");
        return false;
    }
    m_writes.append({kind, m_clock.nowMs(), data});
    if (m_takingData)
        m_writeData += data;
    else
        takeCommandText(data);
    return true;
}

bool FakeController::read(Transport::Kind kind, QByteArray *out, qint64 maxBytes, QString *error)
{
    if (!isOpen(kind)) {
        if (error)
            *error = QStringLiteral("not open (fake)");
        return false;
    }
    const auto noteSize =
        qScopeGuard([&] { m_largestBuffer = qMax(m_largestBuffer, out->size()); });
    if (m_flooding) {
        out->append(QByteArray(std::min(maxBytes, kFloodChunk), 'F'));
        return true;
    }
    // The PC only looks for the echo once it has sent all of its data.
    if (m_takingData && !m_writeData.isEmpty() && m_pending.empty())
        finishWriteData();
    if (m_pending.empty() || m_pending.front().readyAtMs > m_clock.nowMs())
        return true;
    // What does not fit waits for the next read.
    if (m_pending.front().bytes.size() > maxBytes) {
        out->append(m_pending.front().bytes.first(maxBytes));
        m_pending.front().bytes.remove(0, maxBytes);
        return true;
    }
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
    m_flooding = false;
}

void FakeController::takeCommandText(const QByteArray &data)
{
    // A burst written in one piece (TCP) ...
    if (const auto command = commandIn(data)) {
        m_commandText.clear();
        onBurst(*command);
        return;
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
    m_flooding = m_flooding || (!m_mute && command == m_floodCommand);
    // A controller busy answering does not start a second answer.
    const auto it = m_answers.constFind(command);
    if (m_mute || !m_pending.empty() || seen < m_answerAfter || it == m_answers.constEnd())
        return;
    switch (it->kind) {
    case Kind::Write:
        m_writeCommand = command;
        queue(kReadyMarker);
        break;
    case Kind::Raw:
        queue(it->payload);
        break;
    case Kind::Framed:
        queue(framedAnswer(it->startMarker, it->payload, it->endMarker));
        break;
    }
}

void FakeController::queue(const QByteArray &whole)
{
    const QByteArray answer = m_dropMidAnswer ? whole.left(whole.size() / 2) : whole;
    QList<QByteArray> pieces;
    qsizetype at = 0;
    for (int size : m_pieceSizes) {
        if (at >= answer.size())
            break;
        pieces << answer.mid(at, size);
        at += size;
    }
    if (m_pieceSizes.isEmpty()) {
        const qsizetype count = qMax<qsizetype>(1, qMin<qsizetype>(m_pieceCount, answer.size()));
        for (qsizetype i = 1; i <= count; ++i) {
            const qsizetype next = answer.size() * i / count;
            pieces << answer.mid(at, next - at);
            at = next;
        }
    } else if (at < answer.size()) {
        pieces << answer.mid(at);
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
    const QByteArray data = m_writeData.chopped(qMin(m_writeData.size(), kChecksumDigits));
    const int computed = wireSum(data);
    bool ok = false;
    if (m_writeData.size() >= kChecksumDigits &&
        m_writeData.right(kChecksumDigits).toInt(&ok, 16) == computed && ok)
        m_stored.insert(m_writeCommand, data);
    m_writeCommand.clear();
    m_takingData = false;
    m_writeData.clear();
    if (!m_noEcho)
        queue(twoHexDigits(computed) + kChecksumMarker);
}

FakeLink::FakeLink(quint32 seed)
    : clock(seed), controller(clock),
      link(std::make_unique<cHydoConnect>(
          [this](Transport::Kind kind) {
              return std::make_unique<FakeTransport>(kind, controller);
          },
          clock))
{
}
