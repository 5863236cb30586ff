#pragma once

#include "link/error.h"

#include <utility>

// A question the user answered so that the operation stopped there. Nothing failed: the
// link never learns of it, and nothing is retried on the user's behalf.
enum class Declined {
    No,
    ClockTakeover,    // the controller's clock was not to be taken over
    FirstProgramming, // a new controller was not to be given its first programming
};

// What an operation that asks the user on its way came to: done, failed with an error of
// the link or the store, or stopped because the user declined.
struct Outcome {
    Error error;
    Declined declined = Declined::No;

    Outcome() = default;
    Outcome(Error e) : error(std::move(e)) {}
    Outcome(Declined d) : declined(d) {}
    bool ok() const { return error.ok() && declined == Declined::No; }
    bool operator==(const Outcome &) const = default;
};
