#pragma once
// One connection of this process to one transceiver, shared by every UsbPort
// open on it (see UsbPort for the contract the ports give their owners). A
// backend keeps its open links so that opening the same device again joins the
// live link; a link whose device is gone is never joined again, and closes when
// its last port lets go.
//
// The backends call a read's ReadDone from their own event handling (a libusb
// callback, a socket notice); it must only record the result and return. UsbPort
// passes it on to its owner from the event loop.

#include <functional>
#include <memory>
#include <string>

#include "usb/UsbDeviceEntry.h"
#include "usb/UsbPort.h"

class UsbDeviceLink {
public:
    using Bytes = UsbPort::Bytes;
    using ReadStatus = UsbPort::ReadStatus;
    using ReadDone = std::function<void(ReadStatus, Bytes)>;

    // Joins the live link to the entry's device or opens a new one; null with
    // `error` set when the device cannot be reached.
    static std::shared_ptr<UsbDeviceLink> open(const UsbDeviceEntry& entry, std::string& error);

    virtual ~UsbDeviceLink() = default;

    virtual bool write(const Bytes& frame, std::string& error) = 0;
    // Starts the device's one read for `owner`; false with `error` when a read is
    // already outstanding or the device refuses.
    virtual bool startRead(const void* owner, ReadDone done, std::string& error) = 0;
    // Ends `owner`'s outstanding read, if any, before returning; its ReadDone is
    // not called. Another owner's read is left alone.
    virtual void cancelRead(const void* owner) = 0;
};
