#include "link/clock.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>

struct RealClock::State {
    QElapsedTimer timer;
    QRandomGenerator rng{QRandomGenerator::securelySeeded()};
};

RealClock::RealClock() : m_state(std::make_shared<State>())
{
    m_state->timer.start();
}

qint64 RealClock::nowMs()
{
    return m_state->timer.elapsed();
}

void RealClock::sleepMs(int ms)
{
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

double RealClock::random()
{
    return m_state->rng.generateDouble();
}

VirtualClock::VirtualClock(quint32 seed) : m_state(seed ? seed : 1)
{
}

void VirtualClock::sleepMs(int ms)
{
    if (ms > 0)
        m_now += ms;
}

double VirtualClock::random()
{
    // xorshift64*: small, repeatable, good enough for pause lengths.
    m_state ^= m_state >> 12;
    m_state ^= m_state << 25;
    m_state ^= m_state >> 27;
    const quint64 r = m_state * 2685821657736338717ULL;
    return static_cast<double>(r >> 11) / static_cast<double>(1ULL << 53);
}
