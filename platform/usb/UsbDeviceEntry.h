#pragma once
// The transceiver's device entry, as the driver's enumeration value names it,
// turned into what a backend needs to find the device.
//
//   USB\Vid_0bc7&Pid_0002\<anything>  the USB device with that vendor and product,
//                                     reached through libusb
//   VIRTUAL\<folder>/<name>           the virtual transceiver: <folder> is the
//                                     virtual bus, <name> a SOCK_SEQPACKET UNIX
//                                     socket in it
//
// Prefixes and the Vid_/Pid_ tags compare ignoring case, as device ids are
// written either way. An entry that is missing or cannot be understood names
// the CM19A (0bc7:0002) on USB, so a machine without the driver's registry
// value still finds a plugged-in transceiver. In a virtual entry "\" counts as "/", a
// relative folder lies below the program folder, and a missing name is "cm19a".

#include <cstdint>
#include <string>
#include <string_view>

struct UsbDeviceEntry {
    enum class Kind { Usb, Virtual };

    static constexpr std::uint16_t kCm19aVendor = 0x0bc7;
    static constexpr std::uint16_t kCm19aProduct = 0x0002;
    static constexpr const char* kDefaultSocketName = "cm19a";

    Kind kind = Kind::Usb;
    std::uint16_t vendorId = kCm19aVendor;
    std::uint16_t productId = kCm19aProduct;
    std::string busFolder;   // virtual only, without a trailing "/"
    std::string socketName;  // virtual only

    static UsbDeviceEntry parse(std::string_view entry);

    // busFolder + "/" + socketName.
    std::string socketPath() const;
    // For log lines: "USB device 0bc7:0002" or "virtual transceiver <path>".
    std::string describe() const;
};
