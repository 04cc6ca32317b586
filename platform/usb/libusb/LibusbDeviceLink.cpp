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

// Bytes a completed transfer brought into its buffer.
long received(const libusb_transfer& transfer) {
    return std::clamp(transfer.actual_length, 0, transfer.length);
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
        if (!link || link->gone()) continue;
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
        libusb_transfer* in = libusb_alloc_transfer(0);
        libusb_transfer* out = libusb_alloc_transfer(0);
        if (in == nullptr || out == nullptr) {
            error = "cannot allocate a USB transfer for " + name;
            libusb_free_transfer(in);
            libusb_free_transfer(out);
            libusb_release_interface(handle, kInterface);
            libusb_close(handle);
            return nullptr;
        }
        auto link = std::make_shared<LibusbDeviceLink>(Passkey{}, source, handle, in, out, name);
        links.push_back(link);
        error.clear();
        return link;
    }
    return nullptr;
}

LibusbDeviceLink::LibusbDeviceLink(Passkey, std::shared_ptr<LibusbEventSource> source,
                                   libusb_device_handle* handle, libusb_transfer* in,
                                   libusb_transfer* out, std::string name)
    : m_source(std::move(source)), m_handle(handle), m_name(std::move(name)) {
    m_in.transfer = in;
    m_out.transfer = out;
}

LibusbDeviceLink::~LibusbDeviceLink() {
    m_closing = true;
    m_reader = nullptr;
    m_done = nullptr;
    if (m_in.active) cancelTransfer(m_in);
    if (m_out.active) cancelTransfer(m_out);
    libusb_release_interface(m_handle, kInterface);
    libusb_close(m_handle);
    if (!m_in.active) libusb_free_transfer(m_in.transfer);
    if (!m_out.active) libusb_free_transfer(m_out.transfer);
}

// A stall is cleared before the endpoint's next transfer. The request is
// synchronous, a plain ioctl that needs no event handling, so it is safe even
// from a transfer callback; a stall is rare and the device answers control
// requests at once.
void LibusbDeviceLink::clearHalt(Pipe& pipe, unsigned char endpoint) {
    if (!pipe.halted) return;
    pipe.halted = false;
    libusb_clear_halt(m_handle, endpoint);
}

LibusbDeviceLink::SendResult LibusbDeviceLink::send(const Bytes& frame, std::string& error) {
    clearHalt(m_out, kOutEndpoint);
    m_outBuffer = frame;  // libusb takes a buffer that lives until the transfer ends
    // No time-out: a device that is slow to take a frame holds the queue, it is
    // not lost; an unplugged one ends the transfer with LIBUSB_TRANSFER_NO_DEVICE.
    libusb_fill_interrupt_transfer(m_out.transfer, m_handle, kOutEndpoint, m_outBuffer.data(),
                                   static_cast<int>(m_outBuffer.size()),
                                   &LibusbDeviceLink::onTransferDone, this, 0);
    m_out.returned = 0;
    const int r = libusb_submit_transfer(m_out.transfer);
    if (r != LIBUSB_SUCCESS) {
        if (r == LIBUSB_ERROR_NO_DEVICE) setGone();
        error = "writing to " + m_name + " failed: " + LibusbEventSource::errorText(r);
        return SendResult::Failed;
    }
    m_out.active = true;
    m_source->scheduleTimeout();
    return SendResult::Pending;
}

bool LibusbDeviceLink::startRead(const void* owner, ReadDone done, std::string& error) {
    if (gone()) {
        error = m_name + " is gone";
        return false;
    }
    if (m_reader != nullptr || m_in.active) {
        error = "a read is already outstanding on " + m_name;
        return false;
    }
    clearHalt(m_in, kInEndpoint);
    libusb_fill_interrupt_transfer(m_in.transfer, m_handle, kInEndpoint, m_inBuffer.data(),
                                   static_cast<int>(m_inBuffer.size()),
                                   &LibusbDeviceLink::onTransferDone, this, 0);
    m_in.returned = 0;
    const int r = libusb_submit_transfer(m_in.transfer);
    if (r != LIBUSB_SUCCESS) {
        if (r == LIBUSB_ERROR_NO_DEVICE) setGone();
        error = "reading from " + m_name + " failed: " + LibusbEventSource::errorText(r);
        return false;
    }
    m_in.active = true;
    m_reader = owner;
    m_done = std::move(done);
    m_source->scheduleTimeout();
    return true;
}

void LibusbDeviceLink::cancelRead(const void* owner) {
    if (owner == nullptr || m_reader != owner) return;
    m_reader = nullptr;
    m_done = nullptr;
    if (m_in.active) cancelTransfer(m_in);
}

void LibusbDeviceLink::cancelTransfer(Pipe& pipe) {
    pipe.cancelling = true;
    libusb_cancel_transfer(pipe.transfer);
    // Not from inside libusb's event handling: transfer callbacks only record
    // and post, so nothing of ours is on the stack below here.
    const auto deadline = std::chrono::steady_clock::now() + kCancelWait;
    while (pipe.active && std::chrono::steady_clock::now() < deadline) {
        timeval slice{0, 100 * 1000};
        libusb_handle_events_timeout_completed(m_source->context(), &slice, &pipe.returned);
    }
    pipe.cancelling = false;
    if (pipe.active) setGone();
}

void LibusbDeviceLink::onTransferDone(libusb_transfer* transfer) {
    auto* link = static_cast<LibusbDeviceLink*>(transfer->user_data);
    if (transfer == link->m_out.transfer)
        link->writeDone();
    else
        link->readDone();
}

std::string LibusbDeviceLink::statusText(int status) {
    switch (status) {
        case LIBUSB_TRANSFER_TIMED_OUT:
            return "timed out";
        case LIBUSB_TRANSFER_STALL:
            return "the endpoint stalled";
        case LIBUSB_TRANSFER_OVERFLOW:
            return "the device sent more than asked";
        case LIBUSB_TRANSFER_CANCELLED:
            return "cancelled";
        case LIBUSB_TRANSFER_NO_DEVICE:
            return "the device is gone";
        default:
            return "transfer error";
    }
}

// Runs inside libusb's event handling: the next frame may be submitted from
// here, but the ports only hear of a failure through a posted event.
void LibusbDeviceLink::writeDone() {
    m_out.active = false;
    m_out.returned = 1;
    if (m_closing || m_out.cancelling) return;
    const libusb_transfer& t = *m_out.transfer;
    if (t.status == LIBUSB_TRANSFER_COMPLETED && t.actual_length == t.length) {
        sendFinished(true, {});
        return;
    }
    std::string error;
    if (t.status == LIBUSB_TRANSFER_COMPLETED) {
        error = "writing to " + m_name + " sent " + std::to_string(t.actual_length) + " of " +
                std::to_string(t.length) + " bytes";
    } else {
        if (t.status == LIBUSB_TRANSFER_NO_DEVICE) setGone();
        if (t.status == LIBUSB_TRANSFER_STALL) m_out.halted = true;
        error = "writing to " + m_name + " failed: " + statusText(t.status);
    }
    sendFinished(false, error);
}

void LibusbDeviceLink::readDone() {
    m_in.active = false;
    m_in.returned = 1;
    if (m_closing) return;
    const libusb_transfer& t = *m_in.transfer;
    // The device had sent these before the cancel reached it: a frame from the
    // radio that the next read hands on (a reopen or an arrival replaces the
    // read). libusb reports such a transfer as cancelled, with its bytes.
    if (m_in.cancelling) {
        if ((t.status == LIBUSB_TRANSFER_COMPLETED || t.status == LIBUSB_TRANSFER_CANCELLED) &&
            t.actual_length > 0)
            keepRead(Bytes(m_inBuffer.begin(), m_inBuffer.begin() + received(t)));
        return;
    }

    ReadStatus status = ReadStatus::Error;
    Bytes bytes;
    switch (t.status) {
        case LIBUSB_TRANSFER_COMPLETED:
            status = ReadStatus::Completed;
            bytes.assign(m_inBuffer.begin(), m_inBuffer.begin() + received(t));
            break;
        case LIBUSB_TRANSFER_NO_DEVICE:
            setGone();
            status = ReadStatus::DeviceGone;
            break;
        case LIBUSB_TRANSFER_CANCELLED:
            status = ReadStatus::Cancelled;
            break;
        case LIBUSB_TRANSFER_STALL:
            m_in.halted = true;
            status = ReadStatus::Error;
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
