#pragma once
// Notices from libusb hotplug: the arrival or departure of any USB device. No
// enumeration of the devices already present when the notices start.

#include "usb/UsbDeviceNotices.h"
#include "usb/libusb/LibusbEventSource.h"

class LibusbDeviceNotices final : public UsbDeviceNotices {
public:
    LibusbDeviceNotices();
    ~LibusbDeviceNotices() override;

    bool isWatching() const override { return m_registered; }

private:
    static int LIBUSB_CALL onHotplug(libusb_context* context, libusb_device* device,
                                     libusb_hotplug_event event, void* user);

    std::shared_ptr<LibusbEventSource> m_source;
    libusb_hotplug_callback_handle m_callback = 0;
    bool m_registered = false;
};
