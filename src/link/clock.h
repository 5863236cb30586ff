#pragma once

#include <QtGlobal>

#include <memory>

// Time source for everything that waits. The protocol never reads the system clock
// directly, so tests can run a 6-second deadline in virtual time.
class Clock
{
public:
    virtual ~Clock() = default;
    // Milliseconds on a monotonic scale; only differences are meaningful.
    virtual qint64 nowMs() = 0;
    virtual void sleepMs(int ms) = 0;
    // A fresh random number in [0, 1).
    virtual double random() = 0;
};

// Wall-clock time, real sleeps, and a generator seeded from the clock.
class RealClock : public Clock
{
public:
    RealClock();
    qint64 nowMs() override;
    void sleepMs(int ms) override;
    double random() override;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

// Time that only moves when somebody sleeps. Random numbers come from a fixed seed so a
// test run is repeatable.
class VirtualClock : public Clock
{
public:
    explicit VirtualClock(quint32 seed = 1);
    qint64 nowMs() override { return m_now; }
    void sleepMs(int ms) override;
    double random() override;
    void advance(qint64 ms) { m_now += ms; }

private:
    qint64 m_now = 0;
    quint64 m_state;
};
