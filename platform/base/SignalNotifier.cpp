#include "base/SignalNotifier.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

namespace {
int g_fds[2] = {-1, -1};

void onSignal(int sig) {
    const char byte = static_cast<char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &byte, 1);
}
}  // namespace

SignalNotifier::SignalNotifier(std::function<void(int)> handler) : m_handler(std::move(handler)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) != 0) return;
    ::fcntl(g_fds[0], F_SETFL, O_NONBLOCK);
    m_notifier = std::make_unique<QSocketNotifier>(g_fds[1], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        char byte = 0;
        if (::read(g_fds[1], &byte, 1) == 1 && m_handler) m_handler(byte);
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

SignalNotifier::~SignalNotifier() {
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    m_notifier.reset();
    for (int& fd : g_fds) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}
