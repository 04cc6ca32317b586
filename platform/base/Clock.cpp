#include "base/Clock.h"

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
