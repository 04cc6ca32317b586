#include "usb/libusb/LibusbDeviceLink.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

// A device that does not give a cancelled transfer back within this time is
// treated as gone; its transfer is then never freed under libusb.
constexpr auto kCancelWait = std::chrono::seconds(2);

std::vector<std::weak_ptr<LibusbDeviceLink>>& openLinks() {
    static std::vector<std::weak_ptr<LibusbDeviceLink>> links;
    return links;
}

std::string deviceName(std::uint16_t vendorId, std::uint16_t productId) {
    char text[32];
    std::snprintf(text, sizeof text, "USB device %04x:%04x", vendorId, productId);
    return text;
}

std::string where(libusb_device* device) {
    char text[48];
    std::snprintf(text, sizeof text, " (bus %u, address %u)", libusb_get_bus_number(device),
                  libusb_get_device_address(device));
    return text;
}

struct DeviceList {
    libusb_device** devices = nullptr;
    ssize_t count = 0;
    ~DeviceList() {
        if (devices) libusb_free_device_list(devices, 1);
    }
};

}  // namespace

std::shared_ptr<UsbDeviceLink> LibusbDeviceLink::open(std::uint16_t vendorId,
                                                      std::uint16_t productId, std::string& error) {
    const std::string name = deviceName(vendorId, productId);
    auto source = LibusbEventSource::acquire(error);
    if (!source) return nullptr;

    DeviceList list;
    list.count = libusb_get_device_list(source->context(), &list.devices);
    if (list.count < 0) {
        error = "cannot list the USB devices: " +
                LibusbEventSource::errorText(static_cast<int>(list.count));
        return nullptr;
    }
    std::vector<libusb_device*> matches;
    for (ssize_t i = 0; i < list.count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list.devices[i], &descriptor) == LIBUSB_SUCCESS &&
            descriptor.idVendor == vendorId && descriptor.idProduct == productId)
            matches.push_back(list.devices[i]);
    }

    auto& links = openLinks();
    std::erase_if(links, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : links) {
        auto link = weak.lock();
        if (!link || link->m_gone) continue;
        // Still in the list means still attached: an unplugged device gets a new
        // libusb_device when it comes back.
        if (std::find(matches.begin(), matches.end(), libusb_get_device(link->m_handle)) !=
            matches.end())
            return link;
    }

    if (matches.empty()) {
        error = "no " + name + " is present";
        return nullptr;
    }
    error.clear();
    for (libusb_device* device : matches) {
        libusb_device_handle* handle = nullptr;
        int r = libusb_open(device, &handle);
        if (r != LIBUSB_SUCCESS) {
            if (error.empty())
                error = "cannot open " + name + where(device) + ": " +
                        LibusbEventSource::errorText(r) +
                        (r == LIBUSB_ERROR_ACCESS
                             ? "; a udev rule must give this user access to the device"
                             : "");
            continue;
        }
        // Where detaching is not supported the claim below says what is wrong.
        libusb_set_auto_detach_kernel_driver(handle, 1);
        r = libusb_claim_interface(handle, kInterface);
        if (r != LIBUSB_SUCCESS) {
            if (error.empty())
                error = "cannot claim interface 0 of " + name + where(device) + ": " +
                        LibusbEventSource::errorText(r);
            libusb_close(handle);
            continue;
        }
        libusb_transfer* transfer = libusb_alloc_transfer(0);
        if (transfer == nullptr) {
            error = "cannot allocate a USB transfer for " + name;
            libusb_release_interface(handle, kInterface);
            libusb_close(handle);
            return nullptr;
        }
        auto link = std::make_shared<LibusbDeviceLink>(Passkey{}, source, handle, transfer, name);
        links.push_back(link);
        error.clear();
        return link;
    }
    return nullptr;
}

LibusbDeviceLink::LibusbDeviceLink(Passkey, std::shared_ptr<LibusbEventSource> source,
                                   libusb_device_handle* handle, libusb_transfer* transfer,
                                   std::string name)
    : m_source(std::move(source)),
      m_handle(handle),
      m_transfer(transfer),
      m_name(std::move(name)) {}

LibusbDeviceLink::~LibusbDeviceLink() {
    m_reader = nullptr;
    m_done = nullptr;
    if (m_transferActive) cancelTransfer();
    libusb_release_interface(m_handle, kInterface);
    libusb_close(m_handle);
    if (!m_transferActive) libusb_free_transfer(m_transfer);
}

bool LibusbDeviceLink::write(const Bytes& frame, std::string& error) {
    if (m_gone) {
        error = m_name + " is gone";
        return false;
    }
    Bytes data = frame;  // libusb takes a mutable buffer
    int transferred = 0;
    const int r = libusb_interrupt_transfer(m_handle, kOutEndpoint, data.data(),
                                            static_cast<int>(data.size()), &transferred,
                                            UsbPort::kWriteTimeoutMs);
    if (r == LIBUSB_SUCCESS && transferred == static_cast<int>(data.size())) return true;
    if (r == LIBUSB_ERROR_NO_DEVICE) m_gone = true;
    if (r != LIBUSB_SUCCESS)
        error = "writing to " + m_name + " failed: " + LibusbEventSource::errorText(r);
    else
        error = "writing to " + m_name + " sent " + std::to_string(transferred) + " of " +
                std::to_string(data.size()) + " bytes";
    return false;
}

bool LibusbDeviceLink::startRead(const void* owner, ReadDone done, std::string& error) {
    if (m_gone) {
        error = m_name + " is gone";
        return false;
    }
    if (m_reader != nullptr || m_transferActive) {
        error = "a read is already outstanding on " + m_name;
        return false;
    }
    libusb_fill_interrupt_transfer(m_transfer, m_handle, kInEndpoint, m_buffer.data(),
                                   static_cast<int>(m_buffer.size()),
                                   &LibusbDeviceLink::onTransferDone, this, 0);
    m_transferReturned = 0;
    const int r = libusb_submit_transfer(m_transfer);
    if (r != LIBUSB_SUCCESS) {
        if (r == LIBUSB_ERROR_NO_DEVICE) m_gone = true;
        error = "reading from " + m_name + " failed: " + LibusbEventSource::errorText(r);
        return false;
    }
    m_transferActive = true;
    m_reader = owner;
    m_done = std::move(done);
    m_source->scheduleTimeout();
    return true;
}

void LibusbDeviceLink::cancelRead(const void* owner) {
    if (owner == nullptr || m_reader != owner) return;
    m_reader = nullptr;
    m_done = nullptr;
    if (m_transferActive) cancelTransfer();
}

void LibusbDeviceLink::cancelTransfer() {
    m_cancelling = true;
    libusb_cancel_transfer(m_transfer);
    // Not from inside libusb's event handling: transfer callbacks only record
    // and post, so nothing of ours is on the stack below here.
    const auto deadline = std::chrono::steady_clock::now() + kCancelWait;
    while (m_transferActive && std::chrono::steady_clock::now() < deadline) {
        timeval slice{0, 100 * 1000};
        libusb_handle_events_timeout_completed(m_source->context(), &slice, &m_transferReturned);
    }
    m_cancelling = false;
    if (m_transferActive) m_gone = true;
}

void LibusbDeviceLink::onTransferDone(libusb_transfer* transfer) {
    static_cast<LibusbDeviceLink*>(transfer->user_data)->transferDone();
}

void LibusbDeviceLink::transferDone() {
    m_transferActive = false;
    m_transferReturned = 1;
    if (m_cancelling) return;

    ReadStatus status = ReadStatus::Error;
    Bytes bytes;
    switch (m_transfer->status) {
        case LIBUSB_TRANSFER_COMPLETED:
            status = ReadStatus::Completed;
            bytes.assign(m_buffer.begin(),
                         m_buffer.begin() + std::clamp(m_transfer->actual_length, 0,
                                                       static_cast<int>(m_buffer.size())));
            break;
        case LIBUSB_TRANSFER_NO_DEVICE:
            m_gone = true;
            status = ReadStatus::DeviceGone;
            break;
        case LIBUSB_TRANSFER_CANCELLED:
            status = ReadStatus::Cancelled;
            break;
        default:
            status = ReadStatus::Error;
            break;
    }
    m_reader = nullptr;
    ReadDone done = std::move(m_done);
    m_done = nullptr;
    if (done) done(status, std::move(bytes));
}
