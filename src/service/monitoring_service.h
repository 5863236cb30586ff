#pragma once

// The monitoring service: the one owner of the connected controllers, the link worker that
// talks to them, the ten-second cycle, the archive spool and the alarm mails. The desktop
// program and ostracom-cli poll are front ends that show its status; neither has a poll
// loop or a connect sequence of its own.

#include "link/protocol.h"
#include "model/alarm_gate.h"
#include "service/controller_poll.h"
#include "model/outcome.h"
#include "service/alarm_outbox.h"
#include "service/link_worker.h"
#include "store/mail.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class ArchiveSpool;
class Database;
class Interaction;
class MailNotifier;
class Progress;
class cTarvelon;

// How a regulation stands against its limits; a controller shows its worst one.
enum class RegulationState { Normal, Warning, Alarm };

struct ControllerStatus {
    QString address;        // as the user gave it: "tcp:HOST:PORT", "serial:DEVICE"
    int id = 0;             // the controller's identifier, 0 until it was read once
    bool connected = false; // the last exchange with it worked
    QDateTime lastDownload; // when the last download ended well
    int lastRecords = 0;    // records that download received
    PollResult lastPoll;    // what the last cycle did with this controller
    RegulationState state = RegulationState::Normal;
    // What the last cycle came to: ok, an error, or a question the user declined.
    Outcome lastError;
    // No download for longer than the no-data alarm allows; since when (the last good
    // download, or the start of monitoring).
    bool stale = false;
    QDateTime staleSince;
};

struct ServiceStatus {
    QList<ControllerStatus> controllers; // in the order they were added
    int spoolBacklog = 0;                // records waiting in the spool file
    QString spoolProblem;                // the spool file cannot be read or written
    int mailsWaiting = 0;                // alarm mails in the outbox
    QString mailFailure;                 // why the last attempt failed, while mails wait
    QString mailProblem;                 // a mail that failed, or the outbox or log is unusable
    QString settingsProblem;             // stored settings could not be read; the old ones stay
    int cycles = 0;                      // cycles finished so far
};

class MonitoringService : public QObject
{
    Q_OBJECT
public:
    static constexpr int kCycleMs = 10000;

    // `interaction` and `progress` are used from the link worker; `db` must outlive the
    // service. The data directory holds the spool, the rejects, the mail file and the log.
    MonitoringService(Database &db, const QString &dataDir, Interaction &interaction,
                      Progress &progress, QObject *parent = nullptr);
    ~MonitoringService() override;

    // The mail settings for the next mail; each cycle reads the stored ones again.
    void setMailSettings(const MailSettings &account);
    MailSettings mailSettings() const;
    // Seconds without a good download after which a controller is reported once by mail,
    // and again when it delivers; 0: off. The stored setting, read at each cycle.
    int staleAlarmSeconds() const { return m_staleAlarmSeconds; }
    MailNotifier &notifier() { return *m_notifier; }
    AlarmSender &mailSender() { return *m_sender; }
    ArchiveSpool &archive() { return *m_archive; }
    LinkWorker &worker() { return *m_worker; }

    // ---- controllers (call from the service's own thread)
    struct AddOutcome {
        bool added = false;
        Declined declined = Declined::No; // the user declined a question of connecting
        Error error;                      // why it could not be added
    };
    // Connects a controller on the link worker and adopts it: version, program and
    // calibration are read; a new controller (one without identifier) is programmed with a
    // fresh identifier once the user agreed. With `keepWhenUnreachable` a controller that
    // does not answer is kept and tried again every cycle (the headless service); without
    // it only one that answered is added (the add dialog). A controller that is in the list
    // already takes its old place.
    void addController(const LinkParams &link, const QString &address, bool keepWhenUnreachable,
                       std::function<void(const AddOutcome &)> done = {});
    void removeController(int position);
    int controllerCount() const { return static_cast<int>(m_slots.size()); }
    // The controller at a 1-based position, null while it has not been read. Only while no
    // job runs on the worker.
    cTarvelon *controller(int position);

    // ---- the cycle
    // Polls every `intervalMs`; the first cycle at once or after the first interval. The
    // alarm mail sender starts too, and tries the mails left waiting at once.
    enum class FirstCycle { AtOnce, AfterInterval };
    void start(int intervalMs = kCycleMs, FirstCycle first = FirstCycle::AtOnce);
    void stop();
    // A cycle as soon as the worker is free and nothing holds the service.
    void pollNow();
    // While held (a dialog or an operation of the window uses the controllers) no cycle
    // starts; a cycle that fell due meanwhile runs on release.
    void hold();
    void release();
    bool cycleRunning() const { return m_cycleRunning; }
    // For a program that is closing: no cycle starts any more, and the one in progress gives
    // up its exchanges, so that it ends within a second or so. A record archived but not yet
    // acknowledged comes again and is skipped; a program or calibration write is finished.
    void shutDown();
    // The alarm mail fields are current; the others as of the last cycle.
    const ServiceStatus &status() const;

    // Runs an operation (a program write, a test mail) on the link worker between cycles.
    void run(LinkWorker::Job job, LinkWorker::Done done = {});

signals:
    void cycleStarted();
    void cycleFinished();
    void controllersChanged();

private:
    struct Slot {
        LinkParams link;
        QString address;
        std::unique_ptr<cTarvelon> controller;
        ControllerStatus status;
        StaleWatch stale;
        QDateTime watchedSince; // when its cycles began
    };

    std::unique_ptr<cTarvelon> newController();
    void onTimer();
    void startCycle();
    void publishStatus();
    // Polls one controller on the worker; true when a download ended well.
    bool pollSlot(Slot &slot);
    // Runs the no-data alarm of one controller after its poll, on the worker.
    void checkStale(Slot &slot, bool answered);
    // Reads the settings that apply from the next mail and cycle on; "" or the trouble.
    QString readSettings();

    Database &m_db;
    const QString m_dataDir;
    Interaction &m_interaction;
    Progress &m_progress;
    std::unique_ptr<AlarmOutbox> m_outbox;
    std::unique_ptr<AlarmSender> m_sender;
    std::unique_ptr<MailNotifier> m_notifier;
    std::unique_ptr<ArchiveSpool> m_archive;
    std::vector<std::shared_ptr<Slot>> m_slots;
    mutable ServiceStatus m_status;
    QString m_cycleMailProblem; // from the notifications of the last cycle
    QTimer m_timer;
    int m_holds = 0;
    bool m_due = false;
    bool m_cycleRunning = false;
    std::atomic<int> m_staleAlarmSeconds{0};
    // Declared last: destroyed first, so that no job outlives what it uses.
    std::unique_ptr<LinkWorker> m_worker;
};

// The worst state of a controller's regulations, from their warning and alarm flags.
RegulationState worstRegulationState(cTarvelon &controller);

// The connect-and-adopt sequence on the link worker (see addController). When the user
// declines a question on the way (the clock, a new controller's first programming),
// nothing is written.
Outcome connectAndAdopt(cTarvelon &controller, const LinkParams &link, Database &db,
                        cHydoConnect &connection);
