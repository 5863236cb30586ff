#pragma once

// The decisions of limit monitoring, free of controllers and clocks: when a crossing
// counts (hold time), when it ends (hysteresis), and when a change may be mailed (repeat
// interval). Times are milliseconds of a monotonic clock.

#include "store/alarm_quality.h"

#include <QtGlobal>

#include <array>
#include <optional>
#include <vector>

class AlarmGate
{
public:
    enum class Side { Lower, Upper };
    struct Limit {
        Side side;
        float value;
    };
    // A regulation has four: lower and upper warning, lower and upper alarm.
    static constexpr int kLimits = 4;
    using Limits = std::array<Limit, kLimits>;
    using States = std::array<bool, kLimits>;
    struct Notice {
        int limit;   // index into the limits
        bool raised; // crossed (true) or back inside (false)
        bool operator==(const Notice &) const = default;
    };

    void setQuality(const AlarmQuality &quality) { m_quality = quality; }
    const AlarmQuality &quality() const { return m_quality; }

    // Compares `value` with each limit (equality is a crossing), updates `active` and
    // returns the changes to mail now, in limit order. A change not mailed because the
    // repeat interval has not passed is mailed later if it still holds then; a crossing
    // and its return within the interval cancel out.
    std::vector<Notice> evaluate(qint64 nowMs, float value, const Limits &limits, States &active);
    // Crossings still within their hold time start again (the regulation was switched off).
    void forgetPending();

private:
    AlarmQuality m_quality;
    std::array<std::optional<qint64>, kLimits> m_crossedSince;
    States m_mailed{}; // the state each limit's last mail told
    std::optional<qint64> m_lastMailMs;
};

// Whether a controller has delivered data lately. The watch starts with the first update.
class StaleWatch
{
public:
    enum class Change { None, Stale, Back };

    // `answered`: a download ended well now. `timeoutMs` 0 or less: the watch is off, and a
    // stale state ends without a notice.
    Change update(qint64 nowMs, bool answered, qint64 timeoutMs);
    bool stale() const { return m_stale; }

private:
    std::optional<qint64> m_lastAnswerMs;
    bool m_stale = false;
};
