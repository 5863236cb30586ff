#pragma once

// Planned failures of database writes and commits, for the tests that prove the archive
// neither loses nor doubles a record whichever write fails. Disarmed it costs one atomic
// load per write; nothing in the programs arms it.

#include <cstdint>

namespace store_faults
{

enum class Point {
    Write,  // a statement that changes rows
    Commit, // the end of a transaction
};

enum class Repeat {
    Once,   // only the nth operation fails
    FromOn, // the nth and every later one fail, until disarmed
};

enum class Effect {
    Refused,   // the operation fails and changes nothing
    AfterDone, // a commit takes effect, then reports failure (a connection lost at the end)
};

struct Plan {
    Point point = Point::Write;
    std::int64_t nth = 1; // counted from 1 since arming
    Repeat repeat = Repeat::Once;
    Effect effect = Effect::Refused;
};

// Starts counting from zero with the plan in force.
void arm(const Plan &plan);
// Stops failing; the counts stay readable.
void disarm();
// Operations of that kind seen since the last arm() (or count()), failed ones included.
std::int64_t seen(Point point);
// Starts counting from zero without failing anything: the way to learn how many writes and
// commits an operation makes.
void count();

// Called by the store before each write and commit: whether this one is to fail. A commit
// with Effect::AfterDone is told through committedAnyway() instead.
bool failsNow(Point point);
// After a commit that went through: whether to report it failed all the same.
bool committedAnyway();

} // namespace store_faults
