#include "support/fake_transport.h"

#include "tarvelon/log.h"

#include <QScopeGuard>

#include <algorithm>
#include <stdexcept>

namespace
{

// What a flooding peer has ready at each read: more than any receive buffer should take.
constexpr qint64 kFloodChunk = 256 * 1024;

QString commandName(char letter)
{
    return QStringLiteral("D") + QLatin1Char(letter);
}

// A burst written in one piece: one command, repeated.
bool isBurstOf(const QByteArray &data, const QString &command)
{
    return !command.isEmpty() && data.size() >= 2 && data.size() % 2 == 0 &&
           data == command.toLatin1().repeated(data.size() / 2);
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
    const QByteArray digits = QByteArray::number(sum, 16).rightJustified(2, '0').toUpper();
    return start + payload + end + (lowerCase ? digits.toLower() : digits) + "CheckSum";
}

FakeController::FakeController(VirtualClock &clock)
    : m_clock(clock), m_session(clock, *this, {}, *this, sim::WireSession::Driven::ByPolls)
{
    sim::setQuiet(true);
    m_answers.insert(QStringLiteral("DB"), Answer{Kind::Write, {}, {}});
    m_answers.insert(QStringLiteral("DI"), Answer{Kind::Write, {}, {}});
}

void FakeController::setPayload(const QString &command, const QByteArray &payload)
{
    if (!QStringList{"DX", "DN", "DK", "DO", "DL"}.contains(command))
        throw std::invalid_argument("FakeController: no markers known for " +
                                    command.toStdString());
    m_answers.insert(command, Answer{Kind::Framed, payload, {}});
}

void FakeController::setRawAnswer(const QString &command, const QByteArray &answer)
{
    m_answers.insert(command, Answer{Kind::Raw, answer, {}});
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

Error FakeController::open(Transport::Kind kind, const QString &address, const QString &setting,
                           int timeoutMs)
{
    m_lastAddress = address;
    m_lastSetting = setting;
    if (m_refuseOpen || m_hangOnOpen) {
        if (m_hangOnOpen)
            m_clock.advance(timeoutMs);
        // As the real transports: a serial port fails in itself, a TCP connection is not made.
        return Error(kind == Transport::Kind::Serial ? ErrorCode::Runtime
                                                     : ErrorCode::ConnectFailed,
                     m_hangOnOpen ? QStringLiteral("connect timed out (fake)")
                                  : QStringLiteral("connection refused (fake)"));
    }
    resetConnection();
    m_openKind = kind;
    ++m_opens;
    return {};
}

void FakeController::close(Transport::Kind kind)
{
    if (m_openKind != kind)
        return;
    ++m_closes;
    m_openKind.reset();
    resetConnection();
}

Error FakeController::write(Transport::Kind kind, const QByteArray &data)
{
    const bool failing = m_failWrites || isBurstOf(data, m_failCommand);
    if (!isOpen(kind) || failing)
        return Error(ErrorCode::Runtime, isOpen(kind) ? QStringLiteral("broken pipe (fake)")
                                                      : QStringLiteral("not open (fake)"));
    m_writes.append({kind, m_clock.nowMs(), data});
    m_session.receive(data);
    return {};
}

Error FakeController::read(Transport::Kind kind, QByteArray *out, qint64 maxBytes)
{
    if (!isOpen(kind))
        return Error(ErrorCode::Runtime, QStringLiteral("not open (fake)"));
    const auto noteSize =
        qScopeGuard([&] { m_largestBuffer = qMax(m_largestBuffer, out->size()); });
    if (m_flooding) {
        out->append(QByteArray(std::min(maxBytes, kFloodChunk), 'F'));
        return {};
    }
    m_session.poll();
    // A read takes at most one piece; what does not fit waits for the next read.
    if (!m_inbox.empty() && m_inbox.front().bytes.size() > maxBytes) {
        out->append(m_inbox.front().bytes.first(maxBytes));
        m_inbox.front().bytes.remove(0, maxBytes);
        return {};
    }
    if (!m_inbox.empty() && !m_inbox.front().drop) {
        out->append(m_inbox.front().bytes);
        m_inbox.pop_front();
    }
    if (!m_inbox.empty() && m_inbox.front().drop) {
        m_lost = true;
        return Error(ErrorCode::Runtime, QStringLiteral("link lost (fake)"));
    }
    return {};
}

void FakeController::resetConnection()
{
    m_session.reset();
    m_lost = false;
    m_inbox.clear();
    m_flooding = false;
}

void FakeController::heard(char letter)
{
    const QString command = commandName(letter);
    ++m_bursts[command];
    m_flooding = m_flooding || (!modes().mute && command == m_floodCommand);
}

std::optional<sim::AnswerSource::Answer> FakeController::answer(char letter, QString *why)
{
    const auto it = m_answers.constFind(commandName(letter));
    if (it == m_answers.constEnd()) {
        *why = QStringLiteral("no answer scripted");
        return std::nullopt;
    }
    return *it;
}

bool FakeController::store(char letter, const QByteArray &data)
{
    m_stored.insert(commandName(letter), data);
    return true;
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
