#pragma once
// Turns SIGINT and SIGTERM into a call on the event loop, so the program can
// run its orderly shutdown instead of dying where the signal caught it. Only
// one instance may exist; the handler itself only writes a byte to a pipe.

#include <QSocketNotifier>
#include <functional>
#include <memory>

class SignalNotifier {
public:
    explicit SignalNotifier(std::function<void(int signal)> handler);
    ~SignalNotifier();
    SignalNotifier(const SignalNotifier&) = delete;
    SignalNotifier& operator=(const SignalNotifier&) = delete;

private:
    std::function<void(int)> m_handler;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
