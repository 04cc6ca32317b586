#include "base/Timer.h"

Timer::Timer() {
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        if (m_handler) m_handler();
    });
}

void Timer::setInterval(int ms) {
    m_interval = ms < 0 ? 0 : ms;
    restart();
}

void Timer::setEnabled(bool enabled) {
    if (enabled == m_enabled) return;
    m_enabled = enabled;
    restart();
}

void Timer::restart() {
    if (m_enabled && m_interval > 0)
        m_timer.start(m_interval);
    else
        m_timer.stop();
}
