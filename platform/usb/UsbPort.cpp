#include "usb/UsbPort.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <optional>

#include "usb/UsbDeviceLink.h"

// What a pending read needs after the port may be gone: the owner's handler and
// a generation, so that a completion posted before close() or a re-arm finds
// itself stale and is dropped.
struct UsbPort::ReadState {
    std::uint64_t generation = 0;
    bool pending = false;
    ReadHandler handler;
    // The bytes of a completion posted and not yet handed on; close() gives
    // them back to the device for the next read.
    std::optional<Bytes> undelivered;
};

// The owner's failure handler and the failed jobs not yet handed to it. The
// writer id names this port's jobs on the device's queue for one open; 0 while
// closed, so failures of an earlier open go nowhere.
struct UsbPort::WriteState {
    std::uint64_t writer = 0;
    WriteFailureHandler handler;
    std::vector<WriteJob> failed;
    std::string error;
    bool posted = false;
};

namespace {

// Hands a completion to the owner as an event of its own. The backends report
// from inside libusb's event handling or a socket notice, where the owner must
// not run: it may write, close the device or destroy the port.
template <typename State>
void deliverLater(std::weak_ptr<State> weak, std::uint64_t generation, UsbPort::ReadStatus status,
                  UsbPort::Bytes bytes) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weak = std::move(weak), generation, status, bytes = std::move(bytes)] {
            auto state = weak.lock();
            if (!state || !state->pending || state->generation != generation) return;
            state->pending = false;
            state->undelivered.reset();
            // Moved out first: the handler may re-arm, close or destroy the port.
            UsbPort::ReadHandler handler = std::move(state->handler);
            state->handler = nullptr;
            state.reset();
            if (handler) handler(status, bytes);
        },
        Qt::QueuedConnection);
}

// One delivery for all the jobs that failed in one go (a device gone fails the
// whole queue), so the owner reopens once and queues them again in order.
template <typename State>
void deliverFailuresLater(std::weak_ptr<State> weak) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weak = std::move(weak)] {
            auto state = weak.lock();
            if (!state) return;
            state->posted = false;
            if (state->failed.empty()) return;
            std::vector<UsbPort::WriteJob> jobs = std::move(state->failed);
            state->failed.clear();
            const std::string error = state->error;
            // A copy: the handler may close or destroy the port.
            UsbPort::WriteFailureHandler handler = state->handler;
            state.reset();
            if (handler) handler(std::move(jobs), error);
        },
        Qt::QueuedConnection);
}

std::uint64_t nextWriterId() {
    static std::uint64_t last = 0;
    return ++last;
}

}  // namespace

std::unique_ptr<UsbPort> UsbPort::create(const std::string& deviceEntry) {
    return std::make_unique<UsbPort>(UsbDeviceEntry::parse(deviceEntry));
}

UsbPort::UsbPort(UsbDeviceEntry entry)
    : m_entry(std::move(entry)),
      m_read(std::make_shared<ReadState>()),
      m_writes(std::make_shared<WriteState>()) {}

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
    m_writes->writer = nextWriterId();
    m_lastError.clear();
    return true;
}

void UsbPort::close() {
    if (m_read->pending && m_link) m_link->cancelRead(this);
    if (m_read->undelivered && m_link) m_link->keepRead(std::move(*m_read->undelivered));
    m_read->undelivered.reset();
    m_read->pending = false;
    m_read->handler = nullptr;
    ++m_read->generation;
    if (m_link) m_link->forgetWriter(m_writes->writer);
    m_writes->writer = 0;
    m_writes->failed.clear();
    m_link.reset();
}

UsbPort::WriteResult UsbPort::write(WriteJob& job) {
    if (!m_link) {
        ++job.failures;
        m_lastError = m_entry.describe() + " is not open";
        return WriteResult::Failed;
    }
    const std::uint64_t writer = m_writes->writer;
    std::weak_ptr<WriteState> weak = m_writes;
    auto onFailed = [weak, writer](WriteJob failed, const std::string& error) {
        auto state = weak.lock();
        if (!state || state->writer != writer) return;
        state->failed.push_back(std::move(failed));
        state->error = error;
        if (state->posted) return;
        state->posted = true;
        deliverFailuresLater(weak);
    };
    std::string error;
    const WriteResult result = m_link->write(writer, job, std::move(onFailed), error);
    if (result == WriteResult::Full || result == WriteResult::Failed) m_lastError = error;
    return result;
}

UsbPort::WriteResult UsbPort::write(const Bytes& frame) {
    WriteJob job{frame, nullptr};
    return write(job);
}

void UsbPort::onWriteFailure(WriteFailureHandler handler) {
    m_writes->handler = std::move(handler);
}

std::size_t UsbPort::writesWaiting() const {
    return m_link ? m_link->writesWaiting() : 0;
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
    if (std::optional<Bytes> held = m_link->takeHeldRead()) {
        m_read->undelivered = held;
        deliverLater(weak, generation, ReadStatus::Completed, std::move(*held));
    } else {
        std::string error;
        const bool started = m_link->startRead(
            this,
            [weak, generation](ReadStatus status, Bytes bytes) {
                auto state = weak.lock();
                if (state && state->generation == generation && status == ReadStatus::Completed &&
                    !bytes.empty())
                    state->undelivered = bytes;
                deliverLater(weak, generation, status, std::move(bytes));
            },
            error);
        if (!started) {
            m_lastError = error;
            return false;
        }
    }
    m_read->pending = true;
    m_read->handler = std::move(onComplete);
    return true;
}

bool UsbPort::readPending() const {
    return m_read->pending;
}
