#pragma once
// The CM19A (or whichever vendor and product the entry names) opened through
// libusb: interface 0 claimed, the kernel driver that holds it (ati_remote for
// this id) detached while we hold it and given back when we let go. Each write
// is one asynchronous transfer on interrupt OUT endpoint 0x02, the read one on
// interrupt IN endpoint 0x81; a stalled endpoint is cleared before its next
// transfer.
//
// Opening joins a live link on a device that is still attached; a link whose
// device was unplugged is never joined, and a replugged transceiver is opened
// afresh. Cancelling a read waits (briefly) until libusb has handed the
// transfer back, so the device can be closed and reopened at once; a read that
// had already brought bytes by then keeps them for the next read (keepRead).

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "usb/UsbDeviceLink.h"
#include "usb/UsbPort.h"
#include "usb/libusb/LibusbEventSource.h"

class LibusbDeviceLink final : public UsbDeviceLink {
    struct Passkey {};

public:
    static constexpr unsigned char kOutEndpoint = 0x02;
    static constexpr unsigned char kInEndpoint = 0x81;
    static constexpr int kInterface = 0;

    static std::shared_ptr<UsbDeviceLink> open(std::uint16_t vendorId, std::uint16_t productId,
                                               std::string& error);

    LibusbDeviceLink(Passkey, std::shared_ptr<LibusbEventSource> source,
                     libusb_device_handle* handle, libusb_transfer* in, libusb_transfer* out,
                     std::string name);
    ~LibusbDeviceLink() override;
    LibusbDeviceLink(const LibusbDeviceLink&) = delete;
    LibusbDeviceLink& operator=(const LibusbDeviceLink&) = delete;

    bool startRead(const void* owner, ReadDone done, std::string& error) override;
    void cancelRead(const void* owner) override;

protected:
    SendResult send(const Bytes& frame, std::string& error) override;
    std::string name() const override { return m_name; }

private:
    // One endpoint's transfer, reused for every read (or write) on it.
    struct Pipe {
        libusb_transfer* transfer = nullptr;
        bool active = false;
        int returned = 0;
        bool cancelling = false;
        bool halted = false;  // stalled; cleared before the next transfer
    };

    static void LIBUSB_CALL onTransferDone(libusb_transfer* transfer);
    static std::string statusText(int status);
    void readDone();
    void writeDone();
    void clearHalt(Pipe& pipe, unsigned char endpoint);
    // Cancels the transfer and drives libusb until it is handed back.
    void cancelTransfer(Pipe& pipe);

    std::shared_ptr<LibusbEventSource> m_source;  // first, so it outlives the handle
    libusb_device_handle* m_handle;
    std::string m_name;
    Pipe m_in;
    Pipe m_out;
    std::array<unsigned char, UsbPort::kReadSize> m_inBuffer{};
    Bytes m_outBuffer;
    bool m_closing = false;
    const void* m_reader = nullptr;
    ReadDone m_done;
};
