#pragma once
// Waits a number of milliseconds while events keep running, one wait at a time.
// Calling Wait again while waiting (from an event that ran inside the wait)
// raises a run-time fault instead of nesting; Cancel ends a running wait early.

#include <QEventLoop>
#include <QTimer>
#include <functional>

class WaitObject {
public:
    WaitObject();

    void Wait(long waitMilliseconds);
    bool IsWaiting() const { return m_waiting; }
    void Cancel();
    // Called when a wait ends, whether it ran out or was cancelled.
    void onComplete(std::function<void()> handler) { m_onComplete = std::move(handler); }

private:
    bool m_waiting = false;
    QEventLoop* m_loop = nullptr;
    bool m_signalled = false;
    std::function<void()> m_onComplete;
};
