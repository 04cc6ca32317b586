#include "UsbDeviceLink.h"

#include "LibusbDeviceLink.h"
#include "VirtualDeviceLink.h"

std::shared_ptr<UsbDeviceLink> UsbDeviceLink::open(const UsbDeviceEntry& entry,
                                                   std::string& error) {
    if (entry.kind == UsbDeviceEntry::Kind::Virtual)
        return VirtualDeviceLink::open(entry.socketPath(), error);
    return LibusbDeviceLink::open(entry.vendorId, entry.productId, error);
}
