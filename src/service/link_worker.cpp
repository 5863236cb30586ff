#include "service/link_worker.h"

#include <exception>

LinkWorker::LinkWorker(QObject *parent) : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("link worker"));
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread.start();
    // The transports' sockets belong to the thread that creates them.
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            m_link = cHydoConnect::createDefault(m_clock);
            m_link->setAbandonFlag(&m_abandon);
        },
        Qt::QueuedConnection);
}

LinkWorker::~LinkWorker()
{
    finish();
}

void LinkWorker::finish()
{
    if (m_thread.isFinished())
        return;
    m_stopping = true;
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            m_link.reset();
            m_thread.quit();
        },
        Qt::QueuedConnection);
    m_thread.wait();
}

void LinkWorker::run(Job job, Done done)
{
    if (m_stopping)
        return;
    ++m_pending;
    QMetaObject::invokeMethod(
        m_context,
        [this, job = std::move(job), done = std::move(done)]() mutable {
            QString failure;
            try {
                if (!m_stopping)
                    job();
            } catch (const std::exception &e) {
                failure = QString::fromUtf8(e.what());
            } catch (...) {
                failure = QStringLiteral("unexpected failure on the link worker");
            }
            QMetaObject::invokeMethod(
                this,
                [this, done = std::move(done), failure] {
                    --m_pending;
                    if (done)
                        done(failure);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

cHydoConnect &LinkWorker::link()
{
    Q_ASSERT(QThread::currentThread() == &m_thread);
    return *m_link;
}
