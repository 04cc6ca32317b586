#pragma once
// A repeating timer with the window timer's rules: it fires every Interval
// milliseconds while Enabled; an Interval of 0 never fires; assigning Interval or
// enabling a disabled timer starts the count afresh. Fires on the event loop of
// the thread that created it.

#include <QTimer>
#include <functional>

class Timer {
public:
    Timer();

    void setInterval(int ms);
    int interval() const { return m_interval; }
    void setEnabled(bool enabled);
    bool enabled() const { return m_enabled; }
    void onTimer(std::function<void()> handler) { m_handler = std::move(handler); }

private:
    void restart();

    QTimer m_timer;
    int m_interval = 0;
    bool m_enabled = false;
    std::function<void()> m_handler;
};
