#include "usb/UsbPort.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "usb/UsbDeviceLink.h"

// What a pending read needs after the port may be gone: the owner's handler and
// a generation, so that a completion posted before close() or a re-arm finds
// itself stale and is dropped.
struct UsbPort::ReadState {
    std::uint64_t generation = 0;
    bool pending = false;
    ReadHandler handler;
};

namespace {

// Hands a completion to the owner as an event of its own. The backends report
// from inside libusb's event handling or a socket notice, where the owner must
// not run: it may write synchronously, close the device or destroy the port.
template <typename State>
void deliverLater(std::weak_ptr<State> weak, std::uint64_t generation, UsbPort::ReadStatus status,
                  UsbPort::Bytes bytes) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weak = std::move(weak), generation, status, bytes = std::move(bytes)] {
            auto state = weak.lock();
            if (!state || !state->pending || state->generation != generation) return;
            state->pending = false;
            // Moved out first: the handler may re-arm, close or destroy the port.
            UsbPort::ReadHandler handler = std::move(state->handler);
            state->handler = nullptr;
            state.reset();
            if (handler) handler(status, bytes);
        },
        Qt::QueuedConnection);
}

}  // namespace

std::unique_ptr<UsbPort> UsbPort::create(const std::string& deviceEntry) {
    return std::make_unique<UsbPort>(UsbDeviceEntry::parse(deviceEntry));
}

UsbPort::UsbPort(UsbDeviceEntry entry)
    : m_entry(std::move(entry)), m_read(std::make_shared<ReadState>()) {}

UsbPort::~UsbPort() {
    close();
}

bool UsbPort::open() {
    close();
    std::string error;
    m_link = UsbDeviceLink::open(m_entry, error);
    if (!m_link) {
        m_lastError = error;
        return false;
    }
    m_lastError.clear();
    return true;
}

void UsbPort::close() {
    if (m_read->pending && m_link) m_link->cancelRead(this);
    m_read->pending = false;
    m_read->handler = nullptr;
    ++m_read->generation;
    m_link.reset();
}

bool UsbPort::write(const Bytes& frame) {
    if (!m_link) {
        m_lastError = m_entry.describe() + " is not open";
        return false;
    }
    std::string error;
    if (m_link->write(frame, error)) return true;
    m_lastError = error;
    return false;
}

bool UsbPort::armRead(ReadHandler onComplete) {
    if (!m_link) {
        m_lastError = m_entry.describe() + " is not open";
        return false;
    }
    if (m_read->pending) {
        m_lastError = "a read is already outstanding on " + m_entry.describe();
        return false;
    }
    const std::uint64_t generation = ++m_read->generation;
    std::weak_ptr<ReadState> weak = m_read;
    std::string error;
    const bool started = m_link->startRead(
        this,
        [weak, generation](ReadStatus status, Bytes bytes) {
            deliverLater(weak, generation, status, std::move(bytes));
        },
        error);
    if (!started) {
        m_lastError = error;
        return false;
    }
    m_read->pending = true;
    m_read->handler = std::move(onComplete);
    return true;
}

bool UsbPort::readPending() const {
    return m_read->pending;
}
