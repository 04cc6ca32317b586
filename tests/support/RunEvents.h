#pragma once
// Runs events until a condition holds or a time limit passes, so tests wait for
// what they expect instead of sleeping a fixed time.

#include <QElapsedTimer>
#include <functional>

#include "base/DoEvents.h"

inline bool runUntil(const std::function<bool()>& done, int limitMs = 2000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs) DoEvents();
    return done();
}

inline void runFor(int ms) {
    runUntil([] { return false; }, ms);
}
