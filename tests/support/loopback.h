#pragma once

// Waiting on other processes: emulators, servers and pollers the tests start.

#include <QDeadlineTimer>
#include <QThread>

#include <functional>

// Checks `done` every `sliceMs` until it holds; false when it still fails after `ms`. The
// bound is a ceiling against a hang, not a measurement.
inline bool pollUntil(const std::function<bool()> &done, int ms = 20000, int sliceMs = 50)
{
    for (QDeadlineTimer deadline(ms);; QThread::msleep(static_cast<unsigned long>(sliceMs))) {
        if (done())
            return true;
        if (deadline.hasExpired())
            return false;
    }
}

// A port on 127.0.0.1 that nothing listens on (it was free a moment ago): for a server the
// test starts, or for a controller that does not answer.
quint16 closedLocalPort();
