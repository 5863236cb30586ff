#pragma once

#include "link/clock.h"
#include "link/hydo_connect.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

// The one thread that talks to controllers. It owns the shared link and a real clock, and
// runs every controller operation (connect, poll, program write, test mail) as a job, one
// after another, so that the UI thread never waits on a controller.
class LinkWorker : public QObject
{
    Q_OBJECT
public:
    // Runs on the worker thread.
    using Job = std::function<void()>;
    // Runs on the thread that called run(); `failure` holds the message of an exception
    // that escaped the job, empty when the job ended normally.
    using Done = std::function<void(const QString &failure)>;

    explicit LinkWorker(QObject *parent = nullptr);
    // Waits for the job in progress to end; jobs not yet started are dropped.
    ~LinkWorker() override;
    // Takes no more jobs, waits for the one in progress and ends the thread. The owner calls
    // it while its pointer to the worker is still valid, since that job may use the worker.
    void finish();

    // Queues `job` on the worker; `done` follows on this object's thread.
    void run(Job job, Done done = {});
    // Gives up the exchange in progress and every later one, except a write already begun
    // (see cHydoConnect::setAbandonFlag), so that a closing program need not wait for a
    // controller's time-outs. Safe from any thread; there is no way back.
    void abandon() { m_abandon = true; }
    // True from run() until the last `done` has been called.
    bool busy() const { return m_pending > 0; }

    // The shared link and the clock, for use inside jobs only.
    cHydoConnect &link();
    Clock &clock() { return m_clock; }

private:
    QThread m_thread;
    QObject *m_context = nullptr; // lives on m_thread; jobs are queued to it
    RealClock m_clock;
    std::unique_ptr<cHydoConnect> m_link; // created, used and destroyed on m_thread only
    int m_pending = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_abandon{false};
};
