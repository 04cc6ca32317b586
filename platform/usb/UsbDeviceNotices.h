#pragma once
// Arrival and removal notices of the bus the transceiver's device entry names,
// standing in for the device-change messages of the transceiver's window. As
// on a real bus they concern any device, not only the transceiver: every USB
// device plugged in or out (libusb hotplug), or every file appearing in or
// disappearing from the virtual bus folder.
//
// Handlers run from the event loop, one call per notice, in the order the
// notices came; never from inside create() or a setter. A handler may replace
// the handlers or destroy this object; destroying it drops the notices still
// queued.
// When the bus gives no notices (libusb without hotplug support, a folder that
// cannot be watched) the object is silent, isWatching() is false and
// lastError() says why.
//
// Needs a QCoreApplication; everything runs on its thread.

#include <functional>
#include <memory>
#include <string>

class UsbDeviceNotices {
public:
    using Handler = std::function<void()>;

    // Never null.
    static std::unique_ptr<UsbDeviceNotices> create(const std::string& deviceEntry);

    virtual ~UsbDeviceNotices();
    UsbDeviceNotices(const UsbDeviceNotices&) = delete;
    UsbDeviceNotices& operator=(const UsbDeviceNotices&) = delete;

    void onArrival(Handler handler);
    void onRemoval(Handler handler);

    virtual bool isWatching() const = 0;
    std::string lastError() const { return m_lastError; }

protected:
    UsbDeviceNotices();
    // Queue one notice; safe from inside a backend's own event handling.
    void notifyArrival();
    void notifyRemoval();

    std::string m_lastError;

private:
    struct Handlers;
    void post(bool arrival);

    std::shared_ptr<Handlers> m_handlers;
};
