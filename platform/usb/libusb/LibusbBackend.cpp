#include "usb/libusb/LibusbBackend.h"

#include "usb/UsbBackend.h"
#include "usb/libusb/LibusbDeviceLink.h"
#include "usb/libusb/LibusbDeviceNotices.h"

const UsbBackend& libusbBackend() {
    static const UsbBackend backend{
        UsbDeviceEntry::Kind::Usb, "libusb",
        [](const UsbDeviceEntry& entry, std::string& error) -> std::shared_ptr<UsbDeviceLink> {
            return LibusbDeviceLink::open(entry.vendorId, entry.productId, error);
        },
        [](const UsbDeviceEntry&) -> std::unique_ptr<UsbDeviceNotices> {
            return std::make_unique<LibusbDeviceNotices>();
        }};
    return backend;
}
