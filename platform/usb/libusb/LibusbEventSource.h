#pragma once
// The process's libusb context, driven by the Qt event loop: every file
// descriptor libusb wants watched gets a QSocketNotifier, libusb's next timeout
// (when its descriptors do not cover timeouts themselves) a single-shot QTimer,
// and either one runs libusb's event handling with a zero timeout. Transfer and
// hotplug callbacks therefore run on the event loop's thread, between other
// work; those callbacks only record and post, never call back into their
// owners directly.
//
// One context per process at a time: acquire() starts it on first use and it
// ends (libusb_exit) when its last holder, a device link or a notices object,
// lets go. Needs a QCoreApplication.

#include <libusb.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>
#include <string>
#include <vector>

class LibusbEventSource {
    struct Passkey {};

public:
    // Null with `error` set when libusb cannot start.
    static std::shared_ptr<LibusbEventSource> acquire(std::string& error);
    // "LIBUSB_ERROR_ACCESS (Access denied (insufficient permissions))".
    static std::string errorText(int code);

    LibusbEventSource(Passkey, libusb_context* context);
    ~LibusbEventSource();
    LibusbEventSource(const LibusbEventSource&) = delete;
    LibusbEventSource& operator=(const LibusbEventSource&) = delete;

    libusb_context* context() const { return m_context; }
    // Call after submitting a transfer: libusb may now have an earlier deadline.
    void scheduleTimeout();

private:
    static void LIBUSB_CALL onPollfdAdded(int fd, short events, void* user);
    static void LIBUSB_CALL onPollfdRemoved(int fd, void* user);
    void watch(int fd, short events);
    void unwatch(int fd);
    void handleEvents();

    libusb_context* m_context;
    QObject m_notifierParent;
    std::map<int, std::vector<QSocketNotifier*>> m_notifiers;
    QTimer m_timeout;
};
