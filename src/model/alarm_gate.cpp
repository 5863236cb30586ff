#include "model/alarm_gate.h"

namespace
{

// A time stamp later than now means the clock went back; waiting starts again from now,
// so that it neither ends at once nor lasts longer than configured.
qint64 elapsedSince(std::optional<qint64> &since, qint64 nowMs)
{
    if (!since || nowMs < *since)
        since = nowMs;
    return nowMs - *since;
}

} // namespace

std::vector<AlarmGate::Notice> AlarmGate::evaluate(qint64 nowMs, float value, const Limits &limits,
                                                   States &active)
{
    const qint64 holdMs = qint64(m_quality.holdSeconds) * 1000;
    for (int i = 0; i < kLimits; ++i) {
        const Limit &limit = limits[size_t(i)];
        const bool lower = limit.side == Side::Lower;
        bool &on = active[size_t(i)];
        if (!on) {
            const bool crossed = lower ? value <= limit.value : value >= limit.value;
            if (!crossed) {
                m_crossedSince[size_t(i)].reset();
                continue;
            }
            if (elapsedSince(m_crossedSince[size_t(i)], nowMs) >= holdMs) {
                on = true;
                m_crossedSince[size_t(i)].reset();
            }
            continue;
        }
        // Back inside by the hysteresis at least; without one, strictly inside. The bound is
        // rounded to the values' own precision, so that 7.0 + 0.1 is met by a reading of 7.1.
        const double h = m_quality.hysteresis;
        if (lower) {
            const float bound = static_cast<float>(double(limit.value) + h);
            on = !(value > limit.value && value >= bound);
        } else {
            const float bound = static_cast<float>(double(limit.value) - h);
            on = !(value < limit.value && value <= bound);
        }
    }

    std::vector<Notice> due;
    for (int i = 0; i < kLimits; ++i)
        if (active[size_t(i)] != m_mailed[size_t(i)])
            due.push_back({i, active[size_t(i)]});
    if (due.empty())
        return due;
    // Changes found in one evaluation go out together, however short the interval.
    if (m_lastMailMs && elapsedSince(m_lastMailMs, nowMs) < qint64(m_quality.repeatSeconds) * 1000)
        return {};
    for (const Notice &n : due)
        m_mailed[size_t(n.limit)] = n.raised;
    m_lastMailMs = nowMs;
    return due;
}

void AlarmGate::forgetPending()
{
    for (auto &since : m_crossedSince)
        since.reset();
}

StaleWatch::Change StaleWatch::update(qint64 nowMs, bool answered, qint64 timeoutMs)
{
    if (answered || !m_lastAnswerMs || nowMs < *m_lastAnswerMs)
        m_lastAnswerMs = nowMs;
    if (answered) {
        const bool was = m_stale;
        m_stale = false;
        return was ? Change::Back : Change::None;
    }
    if (timeoutMs <= 0) {
        m_stale = false;
        return Change::None;
    }
    if (!m_stale && nowMs - *m_lastAnswerMs >= timeoutMs) {
        m_stale = true;
        return Change::Stale;
    }
    return Change::None;
}
