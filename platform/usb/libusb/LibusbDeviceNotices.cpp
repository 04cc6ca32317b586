#include "usb/libusb/LibusbDeviceNotices.h"

LibusbDeviceNotices::LibusbDeviceNotices() {
    m_source = LibusbEventSource::acquire(m_lastError);
    if (!m_source) return;
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        m_lastError = "this system's libusb gives no hotplug notices";
        return;
    }
    const int r = libusb_hotplug_register_callback(
        m_source->context(), LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
        LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
        LIBUSB_HOTPLUG_MATCH_ANY, &LibusbDeviceNotices::onHotplug, this, &m_callback);
    if (r != LIBUSB_SUCCESS) {
        m_lastError = "cannot watch for USB devices: " + LibusbEventSource::errorText(r);
        return;
    }
    m_registered = true;
}

LibusbDeviceNotices::~LibusbDeviceNotices() {
    if (m_registered) libusb_hotplug_deregister_callback(m_source->context(), m_callback);
}

int LibusbDeviceNotices::onHotplug(libusb_context*, libusb_device*, libusb_hotplug_event event,
                                   void* user) {
    // Called inside libusb's event handling, where the transceiver must not
    // open or write: the notice is only queued.
    auto* self = static_cast<LibusbDeviceNotices*>(user);
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED)
        self->notifyArrival();
    else if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT)
        self->notifyRemoval();
    return 0;  // stay registered
}
