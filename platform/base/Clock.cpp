#include "base/Clock.h"
#include "base/ProcessState.h"

namespace {
SystemClock g_systemClock;
Clock* g_installed = nullptr;
}  // namespace

double Clock::timer() const {
    const QTime t = now().time();
    return t.msecsSinceStartOfDay() / 1000.0;
}

Clock& Clock::current() {
    return g_installed != nullptr ? *g_installed : g_systemClock;
}

void Clock::install(Clock* clock) {
    g_installed = clock;
}

namespace {
const bool kClockReset = ProcessState::registerReset("Clock", [] { Clock::install(nullptr); });
}  // namespace
