#include <gtest/gtest.h>

#include "base/Timer.h"
#include "base/WaitObject.h"
#include "support/RunEvents.h"

namespace {

TEST(Timer, FiresOnlyWhenEnabledWithAnInterval) {
    Timer timer;
    int ticks = 0;
    timer.onTimer([&] { ++ticks; });
    timer.setEnabled(true);  // interval 0: never fires
    WaitObject().Wait(40);
    EXPECT_EQ(ticks, 0);
    timer.setInterval(5);
    EXPECT_TRUE(runUntil([&] { return ticks >= 2; }));  // repeats
    timer.setEnabled(false);
    const int seen = ticks;
    WaitObject().Wait(30);
    EXPECT_EQ(ticks, seen);
}

}  // namespace
