#include "controller.h"

#include "log.h"

#include "link/encodings.h"
#include "model/tables.h"

#include <algorithm>
#include <cmath>

namespace sim
{

namespace
{

constexpr int kRecordBytes = 12;
// Storage instants handled in one go when the emulator falls behind (very high --speed);
// older ones are skipped, as they would have been dropped from a full memory anyway.
constexpr int kMaxInstantsPerBatch = 400;
constexpr int kDayStartHour = 8;
constexpr int kDayEndHour = 20;

bool isSummer(const QDate &d)
{
    return d.month() >= 4 && d.month() <= 9;
}

// Non-hex digits in the value, time and date of a record (after sensor and status, which the
// PC needs to tell whose record it was).
QString garbled(QString record)
{
    record[4] = QLatin1Char('G');
    record[8] = QLatin1Char('Z');
    record[16] = QLatin1Char('G');
    return record;
}

QDateTime wallClock(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

} // namespace

SimController::SimController(const ControllerSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_model(settings.seed), m_scripted(settings.valuesPath)
{
    m_storageTimer.setSingleShot(true);
    m_storageTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_storageTimer, &QTimer::timeout, this, &SimController::storeDueRecords);
}

bool SimController::start(QString *error)
{
    if (!m_settings.journalPath.isEmpty() && !m_journal.open(m_settings.journalPath, error))
        return false;
    m_realClock.start();
    // The local date and time read as a wall clock, not as an instant: the controller's
    // clock shows what the local clock shows at start and then never jumps.
    const QDateTime local = QDateTime::currentDateTime();
    m_startMs = m_settings.clockStart.value_or(QDateTime(local.date(), local.time(), Qt::UTC))
                    .toMSecsSinceEpoch();

    bool loaded = false;
    if (!m_settings.statePath.isEmpty()) {
        const LoadResult r = loadState(m_settings.statePath, &m_state, error);
        if (r == LoadResult::Invalid)
            return false;
        loaded = r == LoadResult::Loaded;
    }
    if (!loaded) {
        m_state = SimState();
        m_state.program = defaultProgramImage(
            kDefaultId, m_settings.intervalSeconds.value_or(kDefaultStorageIntervalSeconds), now());
        m_state.calibration = defaultCalibrationImage();
    }
    if (m_settings.version)
        m_state.version = *m_settings.version;
    if (m_settings.id)
        m_state.program = HexWordPut(m_state.program, kPosId, *m_settings.id);
    for (const auto &[sensor, type] : m_settings.sensorTypes)
        m_state.calibration = HexBytePut(m_state.calibration, sensorPos(sensor) + kSenType, type);
    if (m_settings.intervalSeconds)
        m_state.program = HexTimePut(m_state.program, kPosStorageInterval,
                                     QTime(0, 0).addSecs(*m_settings.intervalSeconds));

    for (const QString &record : std::as_const(m_state.pending))
        m_pending.push_back({m_nextSeq++, record});
    m_state.pending.clear();
    // A values file decides on its own; without one, values forced in an earlier run stay.
    if (!m_scripted.hasFile())
        m_scripted.setAll(m_state.scripted);

    logLine(QStringLiteral("controller %1, firmware %2, %3 records pending%4")
                .arg(HexWordGet(m_state.program, kPosId))
                .arg(firmwareVersionText(m_state.version))
                .arg(m_pending.size())
                .arg(loaded ? QStringLiteral(", state loaded") : QString()));

    if (!m_settings.statePath.isEmpty() && !save()) {
        *error = QStringLiteral("cannot write state file %1").arg(m_settings.statePath);
        return false;
    }
    scheduleNextStorage(true);
    return true;
}

bool SimController::save()
{
    if (m_settings.statePath.isEmpty())
        return true;
    SimState s = m_state;
    for (const Pending &p : m_pending)
        s.pending.append(p.text);
    s.scripted = m_scripted.all();
    QString error;
    if (!saveState(m_settings.statePath, s, &error)) {
        warnLine(error);
        return false;
    }
    return true;
}

qint64 SimController::nowMs() const
{
    return m_startMs +
           static_cast<qint64>(std::llround(double(m_realClock.elapsed()) * m_settings.speed));
}

QDateTime SimController::now() const
{
    return wallClock(nowMs());
}

bool SimController::journal(const char *word, const QStringList &records)
{
    QString error;
    if (m_journal.append(word, records, &error))
        return true;
    warnLine(error);
    return false;
}

std::optional<AnswerSource::Answer> SimController::answer(char letter, QString *why)
{
    auto framed = [](const QString &payload, const QString &note) {
        return Answer{Kind::Framed, payload.toLatin1(), note};
    };
    auto chars = [](const QString &payload) {
        return QStringLiteral("%1 chars").arg(payload.size());
    };
    switch (letter) {
    case 'X': {
        const QString p = sim::versionPayload(m_state.version);
        return framed(p, chars(p));
    }
    case 'N': {
        // The clock fields show the controller's time at the moment of reading.
        const QString p = withClock(m_state.program, now(), wallClock(m_nextStorageMs));
        return framed(p, chars(p));
    }
    case 'K':
        return framed(m_state.calibration, chars(m_state.calibration));
    case 'O': {
        int count = 0;
        int announced = 0;
        const auto p = storedRecordsPayload(&count, &announced);
        if (!p)
            break;
        const QString shortNote =
            announced != count ? QStringLiteral(", %1 announced").arg(announced) : QString();
        return framed(*p, QStringLiteral("%1 records%2, %3 chars, %4 pending")
                              .arg(count)
                              .arg(shortNote)
                              .arg(p->size())
                              .arg(pendingCount()));
    }
    case 'L': {
        int dropped = 0;
        const auto p = acknowledgePayload(&dropped);
        if (!p)
            break;
        return framed(
            *p,
            QStringLiteral("%1 records acknowledged, %2 pending").arg(dropped).arg(pendingCount()));
    }
    case 'B':
    case 'I':
        return Answer{Kind::Write, {}, {}};
    default:
        *why = QStringLiteral("unknown command");
        return std::nullopt;
    }
    *why = QStringLiteral("the journal cannot be written");
    return std::nullopt;
}

int SimController::writeLength(char letter) const
{
    return 2 * (letter == 'B' ? kProgramBytes : kCalibrationBytes) + 2;
}

bool SimController::store(char letter, const QByteArray &data)
{
    return letter == 'B' ? storeProgram(QString::fromLatin1(data))
                         : storeCalibration(QString::fromLatin1(data));
}

std::optional<QString> SimController::storedRecordsPayload(int *carried, int *announced)
{
    const int n = std::min<int>(int(m_pending.size()), kMaxRecordsPerAnswer);
    QStringList records;
    for (int i = 0; i < n; ++i)
        records.append(m_pending[i].text);
    if (!journal("handed", records))
        return std::nullopt;
    const bool shortBatch =
        m_settings.shortBatchEvery > 0 && ++m_answeredCount % m_settings.shortBatchEvery == 0;
    *carried = n;
    *announced = n + (shortBatch ? kShortBatchExtra : 0);
    if (n > 0)
        m_lastReturnedSeq = m_pending[n - 1].seq;
    return HexWordPut(QStringLiteral("0000"), 0, *announced) + records.join(QString());
}

std::optional<QString> SimController::acknowledgePayload(int *dropped)
{
    int n = 0;
    if (m_lastReturnedSeq) {
        QStringList forgotten;
        for (const Pending &p : m_pending) {
            if (p.seq > *m_lastReturnedSeq)
                break;
            forgotten.append(p.text);
        }
        if (!journal("forgot", forgotten))
            return std::nullopt;
        n = int(forgotten.size());
        m_pending.erase(m_pending.begin(), m_pending.begin() + n);
        m_lastReturnedSeq.reset();
        ++m_state.snapshot;
        m_reportedFull = false;
        save();
    }
    *dropped = n;
    return HexWordPut(QStringLiteral("0000"), 0, m_state.snapshot);
}

bool SimController::storeProgram(const QString &image)
{
    if (!isImageText(image, kProgramBytes))
        return false;
    const int oldInterval = storageIntervalSeconds(m_state.program);
    m_state.program = image.toUpper();
    save();
    if (storageIntervalSeconds(m_state.program) != oldInterval)
        scheduleNextStorage(true);
    return true;
}

bool SimController::storeCalibration(const QString &image)
{
    if (!isImageText(image, kCalibrationBytes))
        return false;
    m_state.calibration = image.toUpper();
    save();
    return true;
}

void SimController::scheduleNextStorage(bool realign)
{
    const qint64 intervalMs = qint64(storageIntervalSeconds(m_state.program)) * 1000;
    const qint64 now = nowMs();
    if (realign || m_nextStorageMs <= 0)
        m_nextStorageMs = (now / intervalMs + 1) * intervalMs;
    const double realMs = double(m_nextStorageMs - now) / m_settings.speed;
    m_storageTimer.start(static_cast<int>(std::clamp(std::ceil(realMs), 1.0, 86400000.0)));
}

void SimController::storeDueRecords()
{
    const qint64 intervalMs = qint64(storageIntervalSeconds(m_state.program)) * 1000;
    const qint64 now = nowMs();
    if (m_nextStorageMs <= now) {
        const qint64 due = (now - m_nextStorageMs) / intervalMs + 1;
        if (due > kMaxInstantsPerBatch)
            m_nextStorageMs += (due - kMaxInstantsPerBatch) * intervalMs;
    }
    while (m_nextStorageMs <= now) {
        storeRecordsAt(wallClock(m_nextStorageMs));
        m_nextStorageMs += intervalMs;
    }
    scheduleNextStorage(false);
}

void SimController::storeRecordsAt(const QDateTime &time)
{
    m_scripted.refresh();
    for (int sensor = 1; sensor <= kSensorCount; ++sensor) {
        const int base = sensorPos(sensor);
        const int type = HexByteGet(m_state.calibration, base + kSenType);
        if (type == kTypeNone)
            continue;
        const auto forced = m_scripted.forced(sensor);
        const double value = forced ? *forced : m_model.value(type, time);
        const int status = regulationStatus(m_state.program, sensor, value, time);
        QString text = recordText(sensor, status, value, tables::scaleFactor(type), time);
        // Garbled once, as stored, so the record reads the same each time it is handed over.
        if (m_settings.garbleEvery > 0 && ++m_storedCount % m_settings.garbleEvery == 0)
            text = garbled(text);
        m_pending.push_back({m_nextSeq++, text});
        m_state.calibration =
            HexSinglePut(m_state.calibration, base + kSenCurVal, static_cast<float>(value));
        m_state.calibration = HexSinglePut(m_state.calibration, base + kSenCurAlt1Val,
                                           static_cast<float>(TankModel::alternative(type, value)));
    }
    // A full memory overwrites its oldest records.
    bool dropped = false;
    while (int(m_pending.size()) > m_settings.maxPending) {
        m_pending.pop_front();
        dropped = true;
    }
    if (dropped && !m_reportedFull) {
        logLine(QStringLiteral("memory full (%1 records): oldest records dropped")
                    .arg(m_settings.maxPending));
        m_reportedFull = true;
    }
}

QString SimController::recordText(int sensor, int status, double value, int scale,
                                  const QDateTime &time)
{
    QString r(kRecordBytes * 2, QLatin1Char('0'));
    r = HexBytePut(r, 0, sensor);
    r = HexBytePut(r, 1, status);
    // Clamp to the word's range rather than let a forced value wrap around.
    const double limit = 32767.0 / scale;
    r = ScaledWordPut(r, 2, static_cast<float>(std::clamp(value, -limit, limit)), scale);
    r = HexTimePut(r, 4, time.time());
    return HexDatePut(r, 8, time.date());
}

int SimController::regulationStatus(const QString &program, int sensor, double value,
                                    const QDateTime &time)
{
    const bool day = time.time().hour() >= kDayStartHour && time.time().hour() < kDayEndHour;
    const bool summer = isSummer(time.date());
    const int setPointPos =
        summer ? (day ? kRegSummerDay : kRegSummerNight) : (day ? kRegWinterDay : kRegWinterNight);
    int status = 0;
    for (int r = 1; r <= kRegulationsPerSensor; ++r) {
        const int base = regulationPos(sensor, r);
        const int kind = HexByteGet(program, base + kRegKind);
        if (kind == 0)
            continue;
        const double setPoint = HexSingleGet(program, base + setPointPos);
        const bool on = kind == 2 ? value < setPoint : value > setPoint;
        if (on)
            status |= 1 << (r - 1);
        if (value <= HexSingleGet(program, base + kRegLowerAlarm))
            status |= 1 << 4;
        if (value >= HexSingleGet(program, base + kRegUpperAlarm))
            status |= 1 << 5;
    }
    return status;
}

} // namespace sim
