#include "base/WaitObject.h"

#include <algorithm>

#include "base/DoEvents.h"
#include "base/RuntimeError.h"

WaitObject::WaitObject() = default;

void WaitObject::Wait(long waitMilliseconds) {
    if (m_waiting)
        raiseError(RuntimeError::kInvalidCall,
                   "This function is not reentrant. If you want to wait for a second period "
                   "use a new object",
                   "CWaitNDispatch");
    if (waitMilliseconds <= 0) return;

    m_waiting = true;
    m_signalled = false;
    // A local loop sleeps until an event arrives, runs it, and goes back to
    // sleep; the deadline timer or Cancel set the signal by quitting the loop.
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(static_cast<int>(std::min<long>(waitMilliseconds, 0x7fffffffL)));
    m_loop = &loop;
    if (!m_signalled) {
        NestedEventScope nested;
        loop.exec();
    }
    m_loop = nullptr;
    m_waiting = false;
    if (m_onComplete) m_onComplete();
}

void WaitObject::Cancel() {
    m_signalled = true;
    if (m_loop != nullptr) m_loop->quit();
}
