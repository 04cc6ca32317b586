#include "usb/UsbDeviceLink.h"

#include "usb/UsbBackend.h"

std::shared_ptr<UsbDeviceLink> UsbDeviceLink::open(const UsbDeviceEntry& entry,
                                                   std::string& error) {
    return UsbBackend::forEntry(entry).open(entry, error);
}
