#include "usb/libusb/LibusbEventSource.h"

#include <poll.h>

namespace {
std::weak_ptr<LibusbEventSource>& current() {
    static std::weak_ptr<LibusbEventSource> source;
    return source;
}
}  // namespace

std::shared_ptr<LibusbEventSource> LibusbEventSource::acquire(std::string& error) {
    if (auto source = current().lock()) return source;
    libusb_context* context = nullptr;
    const int r = libusb_init(&context);
    if (r != LIBUSB_SUCCESS) {
        error = "libusb could not start: " + errorText(r);
        return nullptr;
    }
    auto source = std::make_shared<LibusbEventSource>(Passkey{}, context);
    current() = source;
    return source;
}

std::string LibusbEventSource::errorText(int code) {
    return std::string(libusb_error_name(code)) + " (" +
           libusb_strerror(static_cast<libusb_error>(code)) + ")";
}

LibusbEventSource::LibusbEventSource(Passkey, libusb_context* context) : m_context(context) {
    m_timeout.setSingleShot(true);
    QObject::connect(&m_timeout, &QTimer::timeout, &m_notifierParent, [this] { handleEvents(); });
    // Notifiers first, then the descriptors libusb already has: one opened in
    // between is reported to both, and watch() takes it once.
    libusb_set_pollfd_notifiers(m_context, &LibusbEventSource::onPollfdAdded,
                                &LibusbEventSource::onPollfdRemoved, this);
    if (const libusb_pollfd** fds = libusb_get_pollfds(m_context)) {
        for (const libusb_pollfd** p = fds; *p != nullptr; ++p) watch((*p)->fd, (*p)->events);
        libusb_free_pollfds(fds);
    }
    scheduleTimeout();
}

LibusbEventSource::~LibusbEventSource() {
    libusb_set_pollfd_notifiers(m_context, nullptr, nullptr, nullptr);
    m_timeout.stop();
    for (auto& [fd, notifiers] : m_notifiers)
        for (QSocketNotifier* n : notifiers) n->setEnabled(false);
    libusb_exit(m_context);
}

void LibusbEventSource::onPollfdAdded(int fd, short events, void* user) {
    static_cast<LibusbEventSource*>(user)->watch(fd, events);
}

void LibusbEventSource::onPollfdRemoved(int fd, void* user) {
    static_cast<LibusbEventSource*>(user)->unwatch(fd);
}

void LibusbEventSource::watch(int fd, short events) {
    unwatch(fd);
    auto& notifiers = m_notifiers[fd];
    auto add = [&](QSocketNotifier::Type type) {
        // Parented, so the source's end deletes whatever is left.
        auto* n = new QSocketNotifier(fd, type, &m_notifierParent);
        QObject::connect(n, &QSocketNotifier::activated, &m_notifierParent,
                         [this] { handleEvents(); });
        notifiers.push_back(n);
    };
    if (events & POLLIN) add(QSocketNotifier::Read);
    // Linux usbfs reports reaped transfers as writable.
    if (events & POLLOUT) add(QSocketNotifier::Write);
}

void LibusbEventSource::unwatch(int fd) {
    const auto it = m_notifiers.find(fd);
    if (it == m_notifiers.end()) return;
    // libusb may drop a descriptor while handling events that this very
    // notifier started, so the notifier is only switched off here.
    for (QSocketNotifier* n : it->second) {
        n->setEnabled(false);
        n->deleteLater();
    }
    m_notifiers.erase(it);
}

void LibusbEventSource::handleEvents() {
    timeval zero{0, 0};
    libusb_handle_events_timeout_completed(m_context, &zero, nullptr);
    scheduleTimeout();
}

void LibusbEventSource::scheduleTimeout() {
    if (libusb_pollfds_handle_timeouts(m_context)) return;
    timeval next{};
    if (libusb_get_next_timeout(m_context, &next) == 1) {
        const long long ms =
            static_cast<long long>(next.tv_sec) * 1000 + (next.tv_usec + 999) / 1000;
        m_timeout.start(static_cast<int>(ms > 0x7fffffff ? 0x7fffffff : ms));
    } else {
        m_timeout.stop();
    }
}
