#include "usb/virtual/VirtualBackend.h"

#include "usb/UsbBackend.h"
#include "usb/virtual/VirtualDeviceLink.h"
#include "usb/virtual/VirtualDeviceNotices.h"

const UsbBackend& virtualBackend() {
    static const UsbBackend backend{
        UsbDeviceEntry::Kind::Virtual, "virtual",
        [](const UsbDeviceEntry& entry, std::string& error) -> std::shared_ptr<UsbDeviceLink> {
            return VirtualDeviceLink::open(entry.socketPath(), error);
        },
        [](const UsbDeviceEntry& entry) -> std::unique_ptr<UsbDeviceNotices> {
            return std::make_unique<VirtualDeviceNotices>(entry.busFolder);
        }};
    return backend;
}
