#include "service/monitoring_service.h"

#include "model/ctarvelon.h"
#include "model/error_text.h"
#include "model/interaction.h"
#include "model/mail_notifier.h"
#include "store/archive_spool.h"
#include "store/database.h"
#include "store/strings.h"

#include <QLocale>

RegulationState worstRegulationState(cTarvelon &controller)
{
    RegulationState worst = RegulationState::Normal;
    for (int s = 1; s <= cTarvelon::kSensors; ++s) {
        if (controller.Sensor(s).sensortyp() == 0)
            continue;
        for (int r = 1; r <= cTarvelon::kRegulationsPerSensor; ++r) {
            const cHydoRegelung &reg = controller.Regelung(s, r);
            if (reg.UntererAlarmAktiv || reg.ObererAlarmAktiv)
                return RegulationState::Alarm;
            if (reg.UntereWarnungAktiv || reg.ObereWarnungAktiv)
                worst = RegulationState::Warning;
        }
    }
    return worst;
}

Outcome connectAndAdopt(cTarvelon &controller, const LinkParams &link, Database &db,
                        cHydoConnect &connection)
{
    const Outcome connected =
        controller.connect(link.serial, link.address, link.setting, &db, &connection);
    if (connected.ok())
        controller.aq_id(); // gives a controller without identifier a fresh one (is_new)
    if (!connected.ok() || !controller.is_new)
        return connected;
    // A controller without identifier must be programmed before it can be monitored.
    const auto answer = controller.interaction().ask(
        Interaction::Question::NewController,
        ms("Neuer Tarvelon gefunden.") + QStringLiteral("\r\r") +
            ms("Für Inbetriebnahme ist eine Inital Programmierung notwendig !"),
        ms("Neue VEK Hardware erkannt"), Interaction::Buttons::OkCancel, Interaction::Icon::None);
    if (answer != Interaction::Answer::Ok)
        return Declined::FirstProgramming;
    Error error = controller.check_programing(true);
    if (error.ok())
        error = controller.adoptNew();
    return error;
}

MonitoringService::MonitoringService(Database &db, const QString &dataDir, Interaction &interaction,
                                     Progress &progress, QObject *parent)
    : QObject(parent), m_db(db), m_dataDir(dataDir), m_interaction(interaction),
      m_progress(progress), m_outbox(std::make_unique<AlarmOutbox>(dataDir)),
      m_sender(std::make_unique<AlarmSender>(*m_outbox, dataDir)),
      m_notifier(std::make_unique<MailNotifier>(
          dataDir,
          [this](const QDateTime &when, const QString &subject, const QString &body) {
              const QString problem = m_outbox->add(when, subject, body);
              if (problem.isEmpty())
                  m_sender->wake();
              return problem;
          })),
      m_archive(std::make_unique<ArchiveSpool>(db, dataDir)),
      m_worker(std::make_unique<LinkWorker>())
{
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &MonitoringService::onTimer);
    m_status.spoolBacklog = m_archive->pending();
    m_status.settingsProblem = readSettings();
}

MonitoringService::~MonitoringService()
{
    m_timer.stop();
    // The job in progress reaches the worker through m_worker, which reset() would clear
    // before waiting for it.
    m_worker->finish();
    m_worker.reset();
    m_sender->stop();
}

void MonitoringService::setMailSettings(const MailSettings &account)
{
    m_notifier->setAccount(account);
    m_sender->setAccount(account);
}

MailSettings MonitoringService::mailSettings() const
{
    return m_sender->account();
}

QString MonitoringService::readSettings()
{
    // A database that cannot be read now leaves the settings in use.
    try {
        if (const auto account = m_db.mailSettings())
            setMailSettings(*account);
        m_sender->setMaxAgeSeconds(m_db.outboxMaxAgeSeconds());
        m_staleAlarmSeconds = m_db.staleAlarmSeconds();
        return QString();
    } catch (const StoreError &e) {
        return errorText(e.error());
    }
}

std::unique_ptr<cTarvelon> MonitoringService::newController()
{
    auto controller = std::make_unique<cTarvelon>(m_worker->clock(), m_progress, m_interaction);
    controller->setNotifier(m_notifier.get());
    return controller;
}

void MonitoringService::addController(const LinkParams &link, const QString &address,
                                      bool keepWhenUnreachable,
                                      std::function<void(const AddOutcome &)> done)
{
    struct Attempt {
        std::unique_ptr<cTarvelon> controller;
        Outcome connected;
        AddOutcome outcome;
    };
    auto attempt = std::make_shared<Attempt>();
    attempt->controller = newController();
    hold();
    m_worker->run(
        [this, attempt, link] {
            attempt->connected =
                connectAndAdopt(*attempt->controller, link, m_db, m_worker->link());
        },
        [this, attempt, link, address, keepWhenUnreachable, done](const QString &failure) {
            Outcome &connected = attempt->connected;
            if (!failure.isEmpty())
                connected = Error(ErrorCode::Other, failure);
            AddOutcome &outcome = attempt->outcome;
            outcome.error = connected.error;
            outcome.declined = connected.declined;
            const bool answered = connected.ok();
            // A new controller the user would not program is not kept to be tried again.
            const bool refusedNew = connected.declined == Declined::FirstProgramming;
            if (answered || (keepWhenUnreachable && !refusedNew)) {
                auto slot = std::make_shared<Slot>();
                slot->link = link;
                slot->address = address;
                slot->status.address = address;
                slot->status.lastError = connected;
                if (answered) {
                    slot->controller = std::move(attempt->controller);
                    slot->status.id = slot->controller->aq_id();
                    slot->status.connected = true;
                }
                // The same controller added again takes the place of its old entry.
                auto same = std::find_if(m_slots.begin(), m_slots.end(), [&](const auto &s) {
                    return answered && s->controller && s->status.id == slot->status.id;
                });
                if (same != m_slots.end())
                    *same = slot;
                else
                    m_slots.push_back(slot);
                outcome.added = true;
                publishStatus();
                emit controllersChanged();
            }
            if (done)
                done(outcome);
            release();
        });
}

void MonitoringService::removeController(int position)
{
    if (position < 1 || position > controllerCount())
        return;
    // A cycle in progress keeps its own reference; its result for this slot is dropped.
    m_slots.erase(m_slots.begin() + (position - 1));
    publishStatus();
    emit controllersChanged();
}

cTarvelon *MonitoringService::controller(int position)
{
    if (position < 1 || position > controllerCount())
        return nullptr;
    return m_slots[static_cast<size_t>(position - 1)]->controller.get();
}

void MonitoringService::start(int intervalMs, FirstCycle first)
{
    m_sender->start();
    m_timer.start(intervalMs);
    if (first == FirstCycle::AtOnce)
        pollNow();
}

void MonitoringService::stop()
{
    m_timer.stop();
    m_due = false;
}

void MonitoringService::pollNow()
{
    m_due = true;
    onTimer();
}

void MonitoringService::onTimer()
{
    m_due = true;
    if (m_holds == 0 && !m_cycleRunning && !m_worker->busy())
        startCycle();
}

void MonitoringService::shutDown()
{
    stop();
    hold();
    m_worker->abandon();
    m_sender->requestStop();
}

void MonitoringService::hold()
{
    ++m_holds;
}

void MonitoringService::release()
{
    if (m_holds > 0)
        --m_holds;
    if (m_holds == 0 && m_due && m_timer.isActive())
        onTimer();
}

void MonitoringService::run(LinkWorker::Job job, LinkWorker::Done done)
{
    hold();
    m_worker->run(std::move(job), [this, done = std::move(done)](const QString &failure) {
        if (done)
            done(failure);
        release();
    });
}

void MonitoringService::startCycle()
{
    m_due = false;
    if (m_slots.empty())
        return; // nothing to poll, and no reason to hold up the window
    m_cycleRunning = true;
    emit cycleStarted();
    const std::vector<std::shared_ptr<Slot>> polled = m_slots;
    auto backlog = std::make_shared<int>(0);
    auto settingsProblem = std::make_shared<QString>();
    m_worker->run(
        [this, polled, backlog, settingsProblem] {
            // A changed setting (the window's settings dialog, ostracom-cli) counts from
            // this cycle on.
            *settingsProblem = readSettings();
            for (const auto &slot : polled) {
                checkStale(*slot, pollSlot(*slot));
                if (settingsProblem->isEmpty())
                    *settingsProblem = slot->status.lastPoll.settingsProblem;
            }
            *backlog = m_archive->pending();
        },
        [this, backlog, settingsProblem](const QString &failure) {
            m_cycleRunning = false;
            m_status.spoolBacklog = *backlog;
            m_status.settingsProblem = *settingsProblem;
            ++m_status.cycles;
            publishStatus();
            if (!failure.isEmpty() && !m_status.controllers.isEmpty())
                m_status.controllers.last().lastError = Error(ErrorCode::Other, failure);
            emit cycleFinished();
        });
}

bool MonitoringService::pollSlot(Slot &slot)
{
    ControllerStatus &st = slot.status;
    // One controller's failure, of the link or of the database, must not keep the others
    // from being polled, nor stop the service: the next cycle tries again.
    try {
        if (!slot.controller) {
            st.lastPoll = PollResult{};
            auto controller = newController();
            st.lastError = connectAndAdopt(*controller, slot.link, m_db, m_worker->link());
            st.connected = st.lastError.ok();
            if (!st.connected)
                return false;
            slot.controller = std::move(controller);
            st.id = slot.controller->aq_id();
        }
        cTarvelon &t = *slot.controller;
        st.lastPoll = pollController(t, m_archive.get());
        st.lastError = st.lastPoll.error;
        const MeasurementDownload::Report &download = st.lastPoll.download;
        // A download that received its answer counts, even if storing had trouble: the link
        // is fine, and the error says what went wrong.
        st.connected = download.received > 0 || st.lastError.ok() || download.databaseBusy;
        bool answered = false;
        if (st.connected && (st.lastError.ok() || download.received > 0)) {
            st.lastDownload = QDateTime::currentDateTime();
            st.lastRecords = download.received;
            answered = true;
        }
        st.state = worstRegulationState(t);
        return answered;
    } catch (const std::exception &e) {
        st.lastError = Error(ErrorCode::Other, QString::fromUtf8(e.what()));
        return false;
    }
}

void MonitoringService::checkStale(Slot &slot, bool answered)
{
    ControllerStatus &st = slot.status;
    if (!slot.watchedSince.isValid())
        slot.watchedSince = QDateTime::currentDateTime();
    const StaleWatch::Change change =
        slot.stale.update(m_worker->clock().nowMs(), answered, qint64(m_staleAlarmSeconds) * 1000);
    const QDateTime since = st.stale                                 ? st.staleSince
                            : st.lastDownload.isValid() && !answered ? st.lastDownload
                                                                     : slot.watchedSince;
    st.stale = slot.stale.stale();
    st.staleSince = st.stale ? since : QDateTime();
    if (change == StaleWatch::Change::None)
        return;
    const bool back = change == StaleWatch::Change::Back;
    const QString who = (st.id != 0 ? QStringLiteral("#%1 ").arg(st.id) : QString()) +
                        QLatin1Char('(') + st.address + QLatin1Char(')');
    const QString when = QLocale().toString(since, QLocale::ShortFormat);
    const QString subject = ms("Ostracom---") + (back ? ms("Daten wieder da") : ms("Keine Daten"));
    const QString body = back ? ms("Wieder Daten von Tarvelon") + QLatin1Char(' ') + who +
                                    QStringLiteral(", ") + ms("ohne Daten seit") +
                                    QLatin1Char(' ') + when
                              : ms("Keine Daten von Tarvelon") + QLatin1Char(' ') + who +
                                    QLatin1Char(' ') + ms("seit") + QLatin1Char(' ') + when;
    const QString status = m_notifier->notify(subject, body);
    ++st.lastPoll.notifications;
    if (!status.isEmpty()) {
        if (!st.lastPoll.notifyProblems.isEmpty())
            st.lastPoll.notifyProblems += QStringLiteral("; ");
        st.lastPoll.notifyProblems += status;
    }
}

void MonitoringService::publishStatus()
{
    m_status.controllers.clear();
    m_status.spoolProblem.clear();
    for (const auto &slot : m_slots) {
        m_status.controllers.append(slot->status);
        if (!slot->status.lastPoll.download.spoolProblem.isEmpty())
            m_status.spoolProblem = slot->status.lastPoll.download.spoolProblem;
        if (!slot->status.lastPoll.notifyProblems.isEmpty())
            m_cycleMailProblem = slot->status.lastPoll.notifyProblems;
        else if (slot->status.lastPoll.notifications > 0)
            m_cycleMailProblem.clear();
    }
}

const ServiceStatus &MonitoringService::status() const
{
    const AlarmSender::Status mail = m_sender->status();
    m_status.mailsWaiting = mail.waiting;
    m_status.mailFailure = mail.lastFailure;
    QStringList problems;
    for (const QString &p : {m_cycleMailProblem, m_notifier->problem(), mail.problem})
        if (!p.isEmpty())
            problems << p;
    m_status.mailProblem = problems.join(QStringLiteral("; "));
    return m_status;
}
