#include <gtest/gtest.h>
#include <QElapsedTimer>

#include "base/HeapTrim.h"
#include "base/RuntimeError.h"
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

// A burst of work trims the heap once, when it is over, and an idle program
// is never woken for it again.
TEST(HeapTrim, TrimsOnceAfterABurstAndNotWhileIdle) {
    HeapTrim::setQuietMs(200);
    for (int i = 0; i < 5; ++i) {
        HeapTrim::soon();
        runFor(5);
    }
    EXPECT_EQ(HeapTrim::trims(), 0);
    EXPECT_TRUE(runUntil([] { return HeapTrim::trims() == 1; }));
    runFor(300);
    EXPECT_EQ(HeapTrim::trims(), 1);
}

TEST(WaitObject, RefusesToNestAndCanBeCancelled) {
    WaitObject waiter;
    int completions = 0;
    waiter.onComplete([&] { ++completions; });
    Timer inner;
    int nestedError = 0;
    inner.setInterval(5);
    inner.onTimer([&] {
        inner.setEnabled(false);
        try {
            waiter.Wait(10);
        } catch (const RuntimeError& e) {
            nestedError = e.number();
            EXPECT_EQ(e.source(), "CWaitNDispatch");
            EXPECT_NE(e.description().find("not reentrant"), std::string::npos);
        }
        waiter.Cancel();
    });
    inner.setEnabled(true);
    QElapsedTimer t;
    t.start();
    waiter.Wait(10000);
    EXPECT_LT(t.elapsed(), 5000);  // cancelled long before the end
    EXPECT_NE(nestedError, 0);
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(waiter.IsWaiting());
}

TEST(WaitObject, ZeroReturnsAtOnceAndEventsRunDuringAWait) {
    WaitObject waiter;
    waiter.Wait(0);
    Timer timer;
    bool ran = false;
    timer.setInterval(1);
    timer.onTimer([&] { ran = true; });
    timer.setEnabled(true);
    waiter.Wait(50);
    EXPECT_TRUE(ran);
}

}  // namespace
