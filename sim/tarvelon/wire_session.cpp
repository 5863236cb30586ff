#include "wire_session.h"

#include "images.h"
#include "log.h"

#include "link/encodings.h"

#include <algorithm>
#include <cstring>

namespace sim
{

namespace
{

// 9600 baud with a start and a stop bit around each 8-bit character.
constexpr qint64 kPaceCharsPerSecond = 960;
constexpr int kPaceTickMs = 5;

constexpr int kChecksumChars = 2;

const char kCommandLetters[] = "XNKOLBI";

// The markers around each read answer's payload.
struct Markers {
    char letter;
    const char *start;
    const char *end;
};
const Markers kReadMarkers[] = {
    {'X', "Version Data", "End Data"},    {'N', "Data RAM", "End RAM"},
    {'K', "Kalib RAM", "End RAM"},        {'O', "Stored Data", "End Data"},
    {'L', "SnapshotNr Data", "End Data"},
};

bool isCommandLetter(char c)
{
    return c != 0 && std::strchr(kCommandLetters, c) != nullptr;
}

QString commandName(char letter)
{
    return QStringLiteral("D") + QLatin1Char(letter);
}

int hexValue(const QByteArray &digits, bool *ok)
{
    const int v = digits.toInt(ok, 16);
    *ok = *ok && digits.size() == 2;
    return v;
}

} // namespace

WireSession::WireSession(Clock &clock, AnswerSource &source, const FailureModes &modes,
                         ByteChannel &channel, Driven driven, QObject *parent)
    : QObject(parent), m_clock(clock), m_source(source), m_modes(modes), m_channel(channel),
      m_driven(driven)
{
    m_sendTimer.setSingleShot(true);
    m_sendTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_sendTimer, &QTimer::timeout, this, &WireSession::sendSome);
    m_writeTimer.setSingleShot(true);
    connect(&m_writeTimer, &QTimer::timeout, this, &WireSession::checkWrite);
}

void WireSession::wakeIn(QTimer &timer, qint64 ms)
{
    if (m_driven == Driven::ByTimers)
        timer.start(int(std::max<qint64>(0, ms)));
}

void WireSession::poll()
{
    if (m_sending)
        sendSome();
    if (m_input == Input::CollectingWrite)
        checkWrite();
}

void WireSession::reset()
{
    m_sendTimer.stop();
    m_writeTimer.stop();
    m_chunks.clear();
    m_current.clear();
    m_currentSent = 0;
    m_sending = false;
    m_dropWhenSent = false;
    m_input = Input::Idle;
    m_pending.clear();
    m_writeData.clear();
    m_lastCommand = 0;
    m_burstCount = 0;
    m_lastInputMs = -1;
}

void WireSession::receive(const QByteArray &bytes)
{
    const qint64 now = m_clock.nowMs();
    const bool withinBurst = m_lastInputMs >= 0 && now - m_lastInputMs < kBurstGapMs;
    m_lastInputMs = now;

    switch (m_input) {
    case Input::CollectingWrite:
        m_writeData += bytes;
        wakeIn(m_writeTimer, kWriteQuietMs);
        return;
    case Input::Discarding:
        // The rest of a burst, and anything arriving while an answer goes out, is not a
        // new command: answering it would interleave two answers.
        if (withinBurst || m_sending)
            return;
        m_input = Input::Idle;
        break;
    case Input::Idle:
        break;
    }
    m_pending += bytes;
    scanForCommand();
}

void WireSession::scanForCommand()
{
    for (int i = 0; i + 1 < m_pending.size(); ++i) {
        if (m_pending[i] == 'D' && isCommandLetter(m_pending[i + 1])) {
            const char letter = m_pending[i + 1];
            const QByteArray rest = m_pending.mid(i + 2);
            m_pending.clear();
            m_input = Input::Discarding;
            handleCommand(letter, rest);
            return;
        }
    }
    // Keep a lone 'D' whose letter is still on its way (serial sends one character at a time).
    const bool keepD = !m_pending.isEmpty() && m_pending.back() == 'D';
    m_pending = keepD ? QByteArray("D") : QByteArray();
}

void WireSession::handleCommand(char letter, const QByteArray &rest)
{
    m_source.heard(letter);
    m_burstCount = letter == m_lastCommand ? m_burstCount + 1 : 1;
    m_lastCommand = letter;
    const QString name = commandName(letter);
    if (m_modes.mute) {
        logLine(QStringLiteral("%1 not answered (mute)").arg(name));
        return;
    }
    if (m_burstCount < m_modes.answerAfter) {
        logLine(QStringLiteral("%1 burst %2 ignored (answering burst %3)")
                    .arg(name)
                    .arg(m_burstCount)
                    .arg(m_modes.answerAfter));
        return;
    }
    m_burstCount = 0;
    m_lastCommand = 0;
    QString why;
    const auto answer = m_source.answer(letter, &why);
    if (!answer) {
        logLine(QStringLiteral("%1 not answered: %2").arg(name, why));
        return;
    }
    switch (answer->kind) {
    case AnswerSource::Kind::Write:
        startWrite(letter, rest);
        break;
    case AnswerSource::Kind::Raw:
        transmit(answer->bytes, QStringLiteral("%1 answered (as scripted)").arg(name));
        break;
    case AnswerSource::Kind::Framed:
        for (const Markers &m : kReadMarkers) {
            if (m.letter == letter)
                transmit(frame(m.start, answer->bytes, m.end),
                         QStringLiteral("%1 answered (%2)").arg(name, answer->note));
        }
        break;
    }
}

QByteArray WireSession::frame(const char *start, const QByteArray &payload, const char *end) const
{
    const int sum = (Sum8(QByteArrayView(payload)) + (m_modes.badChecksum ? 1 : 0)) & 0xFF;
    return "\r\n" + QByteArray(start) + payload + end + Sum8Text(sum).toLatin1() + "CheckSum\r\n";
}

void WireSession::startWrite(char letter, const QByteArray &rest)
{
    m_input = Input::CollectingWrite;
    m_writeCommand = letter;
    m_writeLength = m_source.writeLength(letter);
    m_writeData = rest; // may hold more repeats; only the tail counts
    m_writeStartMs = m_clock.nowMs();
    // The ready marker goes out whole even with --drop-mid-answer; the checksum answer is
    // the one that breaks.
    const bool drop = m_modes.dropMidAnswer;
    m_modes.dropMidAnswer = false;
    transmit(
        QByteArrayLiteral("\r\nReceive Start\r\n"),
        QStringLiteral("%1 ready, expecting %2 chars").arg(commandName(letter)).arg(m_writeLength));
    m_modes.dropMidAnswer = drop;
    wakeIn(m_writeTimer, kWriteQuietMs);
}

void WireSession::checkWrite()
{
    if (m_input != Input::CollectingWrite)
        return;
    const qint64 now = m_clock.nowMs();
    const qint64 quiet = now - std::max(m_lastInputMs, m_writeStartMs);
    if (m_sending) {
        // The PC cannot start before it has seen the whole ready marker.
        wakeIn(m_writeTimer, kWriteQuietMs);
        return;
    }
    if (m_writeLength == 0 && !m_writeData.trimmed().isEmpty() && quiet >= kWriteQuietMs) {
        finishWrite(m_writeData.trimmed());
        return;
    }
    if (m_writeLength > 0 && m_writeData.size() >= m_writeLength && quiet >= kWriteQuietMs) {
        // Over TCP the command's repeats are hex digits too; the data is what came last.
        finishWrite(m_writeData.right(m_writeLength));
        return;
    }
    if (quiet >= kShortWriteQuietMs) {
        if (m_writeData.trimmed().isEmpty()) {
            logLine(
                QStringLiteral("%1 abandoned: no data arrived").arg(commandName(m_writeCommand)));
            m_input = Input::Idle;
            return;
        }
        finishWrite(m_writeData);
        return;
    }
    const qint64 next = m_writeData.size() >= m_writeLength ? kWriteQuietMs : kShortWriteQuietMs;
    wakeIn(m_writeTimer, std::max<qint64>(1, next - quiet));
}

void WireSession::finishWrite(const QByteArray &data)
{
    m_input = Input::Idle;
    m_pending.clear();
    m_source.received(m_writeCommand, data);
    const QString name = commandName(m_writeCommand);
    const bool lengthOk = m_writeLength == 0 || data.size() == m_writeLength;
    const QByteArray image = data.left(data.size() - kChecksumChars);
    bool digitsOk = false;
    const int received = hexValue(data.right(kChecksumChars), &digitsOk);
    const int computed = Sum8(QByteArrayView(image));
    const bool isHex =
        isImageText(QString::fromLatin1(image), int(image.size() / 2)) && image.size() % 2 == 0;

    int answer = computed;
    QString outcome;
    if (m_modes.badWriteChecksum) {
        answer = (computed + 1) & 0xFF;
        outcome = QStringLiteral("wrong checksum echoed on purpose, not stored");
    } else if (!lengthOk || !isHex) {
        // Data the memory cannot take must not look like a successful transfer: echo a
        // checksum that differs from the PC's.
        answer = digitsOk ? (received + 1) & 0xFF : computed;
        outcome = !lengthOk ? QStringLiteral("%1 chars instead of %2, refused")
                                  .arg(data.size())
                                  .arg(m_writeLength)
                            : QStringLiteral("data is not hex text, refused");
    } else if (!digitsOk || received != computed) {
        outcome = QStringLiteral("checksum mismatch (received %1, computed %2), not stored")
                      .arg(QString::fromLatin1(data.right(kChecksumChars)), Sum8Text(computed));
    } else {
        outcome = m_source.store(m_writeCommand, image)
                      ? (m_writeCommand == 'B' ? QStringLiteral("program stored")
                                               : QStringLiteral("calibration stored"))
                      : QStringLiteral("not stored");
    }
    const QString log = QStringLiteral("%1 received %2 chars, checksum %3: %4")
                            .arg(name)
                            .arg(data.size())
                            .arg(Sum8Text(answer), outcome);
    if (m_modes.noEcho) {
        logLine(log + QStringLiteral(", no echo"));
        return;
    }
    transmit(QStringLiteral("\r\n%1CheckSum\r\n").arg(Sum8Text(answer)).toLatin1(), log);
}

void WireSession::transmit(const QByteArray &frame, const QString &logText)
{
    QByteArray bytes = frame;
    if (m_modes.dropMidAnswer) {
        bytes = frame.left(frame.size() / 2);
        m_dropWhenSent = true;
    }
    qsizetype at = 0;
    for (int size : std::as_const(m_modes.splitSizes)) {
        if (at >= bytes.size())
            break;
        m_chunks.push_back(bytes.mid(at, size));
        at += size;
    }
    if (!m_modes.splitSizes.isEmpty()) {
        if (at < bytes.size())
            m_chunks.push_back(bytes.mid(at));
    } else {
        const qsizetype chunks =
            std::clamp<qsizetype>(m_modes.splitChunks, 1, std::max<qsizetype>(1, bytes.size()));
        for (qsizetype i = 1; i <= chunks; ++i) {
            const qsizetype next = bytes.size() * i / chunks;
            m_chunks.push_back(bytes.mid(at, next - at));
            at = next;
        }
    }
    if (!m_sentLog.isEmpty() && m_sending)
        logLine(m_sentLog);
    m_sentLog = logText;
    if (m_sending)
        return; // queued behind the answer still going out
    m_sending = true;
    m_channel.beginAnswer();
    m_current.clear();
    m_currentSent = 0;
    m_waitUntilMs = m_clock.nowMs() + m_modes.answerDelayMs;
    m_firstChunk = true;
    sendSome();
}

void WireSession::sendSome()
{
    for (;;) {
        const qint64 now = m_clock.nowMs();
        if (now < m_waitUntilMs) {
            wakeIn(m_sendTimer, m_waitUntilMs - now);
            return;
        }
        if (m_currentSent < m_current.size()) {
            qint64 due = m_current.size();
            if (m_modes.pace9600)
                due = std::min<qint64>(due,
                                       (now - m_currentStartMs) * kPaceCharsPerSecond / 1000 + 1);
            if (due > m_currentSent) {
                m_channel.send(m_current.mid(m_currentSent, int(due) - m_currentSent));
                m_currentSent = int(due);
            }
            if (m_currentSent < m_current.size()) {
                wakeIn(m_sendTimer, kPaceTickMs);
                return;
            }
        }
        if (m_chunks.empty()) {
            finishTransmission();
            return;
        }
        m_current = m_chunks.front();
        m_chunks.pop_front();
        m_currentSent = 0;
        // Paced pieces pause after the last character went out; others keep their schedule
        // however late the caller looks.
        if (!m_firstChunk)
            m_waitUntilMs = (m_modes.pace9600 ? now : m_waitUntilMs) + m_modes.splitPauseMs;
        m_currentStartMs = m_waitUntilMs;
        m_firstChunk = false;
    }
}

void WireSession::finishTransmission()
{
    m_sending = false;
    m_current.clear();
    m_currentSent = 0;
    logLine(m_sentLog);
    m_sentLog.clear();
    // Data of a write of any length is what follows the ready marker.
    if (m_input == Input::CollectingWrite && m_writeLength == 0)
        m_writeData.clear();
    if (m_dropWhenSent) {
        m_dropWhenSent = false;
        logLine(QStringLiteral("connection dropped mid-answer"));
        m_channel.drop(); // may reset this session; nothing may follow
    }
}

} // namespace sim
