#pragma once
// The table of device backends. Each kind of device entry (UsbDeviceEntry::Kind)
// has exactly one backend, which opens links to its devices and watches its bus
// for arrivals and removals. UsbDeviceLink::open and UsbDeviceNotices::create
// look the entry's backend up here; nothing above this folder names a backend.
//
// A backend's functions follow the contracts of UsbDeviceLink::open (null with
// `error` set when the device cannot be reached) and UsbDeviceNotices::create
// (never null; a bus without notices is a silent object).

#include <memory>
#include <string>

#include "usb/UsbDeviceEntry.h"

class UsbDeviceLink;
class UsbDeviceNotices;

struct UsbBackend {
    UsbDeviceEntry::Kind kind;
    const char* name;
    std::shared_ptr<UsbDeviceLink> (*open)(const UsbDeviceEntry& entry, std::string& error);
    std::unique_ptr<UsbDeviceNotices> (*watch)(const UsbDeviceEntry& entry);

    // The backend for the entry's kind.
    static const UsbBackend& forEntry(const UsbDeviceEntry& entry);
};
