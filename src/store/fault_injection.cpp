#include "store/fault_injection.h"

#include <atomic>
#include <mutex>

namespace store_faults
{
namespace
{
std::atomic<bool> g_counting{false};
std::mutex g_mutex;
Plan g_plan;
bool g_armed = false;
std::int64_t g_seen[2] = {0, 0};
bool g_commitFailsAfterDone = false;

int indexOf(Point p)
{
    return p == Point::Write ? 0 : 1;
}
} // namespace

void arm(const Plan &plan)
{
    std::lock_guard lock(g_mutex);
    g_plan = plan;
    g_armed = true;
    g_seen[0] = g_seen[1] = 0;
    g_commitFailsAfterDone = false;
    g_counting.store(true);
}

void disarm()
{
    std::lock_guard lock(g_mutex);
    g_armed = false;
    g_commitFailsAfterDone = false;
}

void count()
{
    std::lock_guard lock(g_mutex);
    g_armed = false;
    g_seen[0] = g_seen[1] = 0;
    g_counting.store(true);
}

std::int64_t seen(Point point)
{
    std::lock_guard lock(g_mutex);
    return g_seen[indexOf(point)];
}

bool failsNow(Point point)
{
    if (!g_counting.load(std::memory_order_relaxed))
        return false;
    std::lock_guard lock(g_mutex);
    const std::int64_t n = ++g_seen[indexOf(point)];
    if (!g_armed || point != g_plan.point)
        return false;
    const bool hit = g_plan.repeat == Repeat::Once ? n == g_plan.nth : n >= g_plan.nth;
    if (!hit)
        return false;
    if (point == Point::Commit && g_plan.effect == Effect::AfterDone) {
        g_commitFailsAfterDone = true;
        return false;
    }
    return true;
}

bool committedAnyway()
{
    if (!g_counting.load(std::memory_order_relaxed))
        return false;
    std::lock_guard lock(g_mutex);
    const bool fail = g_commitFailsAfterDone;
    g_commitFailsAfterDone = false;
    return fail;
}

} // namespace store_faults
