#pragma once

#include "images.h"
#include "journal.h"
#include "state_file.h"
#include "tank_model.h"
#include "wire_session.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <map>
#include <optional>

namespace sim
{

struct ControllerSettings {
    std::optional<FirmwareVersion> version; // overrides the state file when given
    std::optional<int> id;                  // likewise
    std::optional<int> intervalSeconds;     // likewise
    std::map<int, int> sensorTypes;         // sensor number -> type code, likewise
    double speed = 1.0;
    QString statePath; // empty: state in memory only
    QString valuesPath;
    int maxPending = 2000;
    quint32 seed = 1;
    // Wall-clock start of the controller's clock (date and time carried in a UTC QDateTime);
    // none: the local time at start.
    std::optional<QDateTime> clockStart;
    QString journalPath;     // empty: no hand-over journal
    int shortBatchEvery = 0; // every Nth "DO" answer announces more records than it carries
    int garbleEvery = 0;     // every Nth stored record gets non-hex digits in its fields
};

// The controller behind the wire: its memory images, its clock, and the measurement memory
// that fills at every storage interval and empties when the PC acknowledges a download.
class SimController : public QObject, public AnswerSource
{
    Q_OBJECT
public:
    // Records one "DO" answer carries at most; the rest follow in the next download, so a
    // full memory still fits the PC's 6-second read limit at 9600 baud.
    static constexpr int kMaxRecordsPerAnswer = 150;
    // Records a short batch (--short-batch) announces beyond those it carries.
    static constexpr int kShortBatchExtra = 2;

    explicit SimController(const ControllerSettings &settings, QObject *parent = nullptr);

    // Loads or creates the state and starts the storage clock.
    bool start(QString *error);
    // Saves the state when a state file is in use; true without one.
    bool save();

    // What the wire sessions answer: the memory images, the records and their acknowledgement.
    std::optional<Answer> answer(char letter, QString *why) override;
    int writeLength(char letter) const override;
    bool store(char letter, const QByteArray &data) override;

    int pendingCount() const { return int(m_pending.size()); }
    // The controller's clock: a plain wall clock (date and time of a UTC QDateTime) that
    // knows no summer time, so it runs through the hour the local clock skips.
    QDateTime now() const;
    const SimState &state() const { return m_state; }

    // The record as it travels: sensor, regulation status, scaled value, time, date.
    static QString recordText(int sensor, int status, double value, int scale,
                              const QDateTime &time);
    // Bit r-1 set when regulation r of the sensor is switching its socket on; bit 4 lower
    // alarm, bit 5 upper alarm of any active regulation.
    static int regulationStatus(const QString &program, int sensor, double value,
                                const QDateTime &time);

private:
    // The oldest records not yet acknowledged (count word, then the records). Remembers
    // which it returned, for the acknowledgement. Nothing when the journal cannot be
    // written: the answer must not go out then.
    std::optional<QString> storedRecordsPayload(int *carried, int *announced);
    // Acknowledges the records of the last "DO" answer: they leave the memory. Nothing (and
    // nothing dropped) when the journal cannot be written.
    std::optional<QString> acknowledgePayload(int *dropped);
    bool storeProgram(const QString &image);
    bool storeCalibration(const QString &image);
    void storeDueRecords();
    void storeRecordsAt(const QDateTime &time);
    void scheduleNextStorage(bool realign);
    qint64 nowMs() const;
    bool journal(const char *word, const QStringList &records);

    struct Pending {
        quint64 seq;
        QString text;
    };

    ControllerSettings m_settings;
    SimState m_state;
    std::deque<Pending> m_pending;
    quint64 m_nextSeq = 1;
    std::optional<quint64> m_lastReturnedSeq;
    bool m_reportedFull = false;
    quint64 m_storedCount = 0;   // records stored in this run, for --garble
    quint64 m_answeredCount = 0; // "DO" answers given in this run, for --short-batch
    Journal m_journal;

    TankModel m_model;
    ScriptedValues m_scripted;

    QElapsedTimer m_realClock;
    qint64 m_startMs = 0; // the controller's wall clock at start, ms since 1970-01-01 00:00
    qint64 m_nextStorageMs = 0;
    QTimer m_storageTimer;
};

} // namespace sim
