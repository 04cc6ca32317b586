#include "usb/UsbBackend.h"

#include <array>

#include "usb/libusb/LibusbBackend.h"
#include "usb/virtual/VirtualBackend.h"

const UsbBackend& UsbBackend::forEntry(const UsbDeviceEntry& entry) {
    static const std::array<const UsbBackend*, 2> backends{&libusbBackend(), &virtualBackend()};
    for (const UsbBackend* backend : backends)
        if (backend->kind == entry.kind) return *backend;
    return *backends.front();
}
