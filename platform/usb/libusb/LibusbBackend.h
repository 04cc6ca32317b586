#pragma once
// The libusb backend's entry in the backend table (see usb/UsbBackend.h). This
// header is all the rest of the USB layer sees of the backend.

struct UsbBackend;

const UsbBackend& libusbBackend();
