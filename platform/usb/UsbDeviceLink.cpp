#include "usb/UsbDeviceLink.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <utility>

#include "usb/UsbBackend.h"

namespace {

// A device that takes frames as fast as they come (the virtual transceiver's
// socket buffer) must not keep the event loop in here for the whole of a long
// repeated send: after this many writes the queue lets other work run first.
constexpr int kWritesPerTurn = 32;

}  // namespace

std::shared_ptr<UsbDeviceLink> UsbDeviceLink::open(const UsbDeviceEntry& entry,
                                                   std::string& error) {
    return UsbBackend::forEntry(entry).open(entry, error);
}

UsbDeviceLink::WriteResult UsbDeviceLink::write(std::uint64_t writer, WriteJob& job,
                                                WriteFailed onFailed, std::string& error) {
    if (m_gone) {
        ++job.failures;
        error = name() + " is gone";
        return WriteResult::Failed;
    }
    if (m_queue.size() >= UsbPort::kWriteQueueLimit) {
        error =
            name() + " is not taking frames: " + std::to_string(m_queue.size()) + " are waiting";
        return WriteResult::Full;
    }
    const bool idle = m_queue.empty() && !m_sendInProgress && !m_pumping;
    const std::uint64_t id = m_nextId++;
    m_queue.push_back({id, writer, job, std::move(onFailed)});
    if (!idle) return WriteResult::Queued;

    m_direct = id;
    pump();
    m_direct = 0;
    if (m_directFailure) {
        job = std::move(m_directFailure->first);
        error = std::move(m_directFailure->second);
        m_directFailure.reset();
        return WriteResult::Failed;
    }
    if (!m_queue.empty() && m_queue.front().id == id) return WriteResult::Queued;
    return WriteResult::Written;
}

void UsbDeviceLink::forgetWriter(std::uint64_t writer) {
    for (Queued& queued : m_queue)
        if (queued.writer == writer) queued.onFailed = nullptr;
}

void UsbDeviceLink::pump() {
    if (m_pumping) return;
    m_pumping = true;
    int budget = kWritesPerTurn;
    while (!m_queue.empty() && !m_sendInProgress) {
        if (m_gone) {
            fail(name() + " is gone", false);
            continue;
        }
        Queued& head = m_queue.front();
        const bool more = head.job.again ? head.job.again(head.job.written) : head.job.written == 0;
        if (!more) {
            m_queue.pop_front();
            continue;
        }
        if (budget-- == 0) {
            pumpLater();
            break;
        }
        std::string error;
        switch (send(head.job.frame, error)) {
            case SendResult::Sent:
                ++head.job.written;
                break;
            case SendResult::Pending:
                m_sending = head.id;
                m_sendInProgress = true;
                break;
            case SendResult::Failed:
                fail(error, true);
                break;
        }
    }
    m_pumping = false;
}

void UsbDeviceLink::pumpLater() {
    if (m_pumpPosted) return;
    m_pumpPosted = true;
    std::weak_ptr<UsbDeviceLink> weak = weak_from_this();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weak] {
            if (auto self = weak.lock()) {
                self->m_pumpPosted = false;
                self->pump();
            }
        },
        Qt::QueuedConnection);
}

void UsbDeviceLink::sendFinished(bool sent, const std::string& error) {
    m_sendInProgress = false;
    const std::uint64_t id = std::exchange(m_sending, 0);
    if (!m_queue.empty() && m_queue.front().id == id) {
        if (sent)
            ++m_queue.front().job.written;
        else
            fail(error, true);
    }
    pump();
}

void UsbDeviceLink::setGone() {
    m_gone = true;
    // The running pump, or the end of the send in progress, fails what is queued.
    if (m_pumping || m_sendInProgress) return;
    if (!m_queue.empty()) fail(name() + " is gone", false);
}

// Fails the job at the head. The writer's later jobs come off the queue with
// it, so that none of them overtakes it when the writer queues them again;
// a device that is gone takes every job with it. Only a job whose own write
// failed counts the failure: the owner bounds its retries by that count.
void UsbDeviceLink::fail(const std::string& error, bool headWriteFailed) {
    Queued failed = std::move(m_queue.front());
    m_queue.pop_front();
    if (headWriteFailed) ++failed.job.failures;
    const std::uint64_t writer = failed.writer;
    report(failed, error);
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (!m_gone && it->writer != writer) {
            ++it;
            continue;
        }
        Queued queued = std::move(*it);
        it = m_queue.erase(it);
        report(queued, error);
    }
}

void UsbDeviceLink::report(Queued& queued, const std::string& error) {
    if (queued.id == m_direct) {
        m_directFailure.emplace(std::move(queued.job), error);
        return;
    }
    if (queued.onFailed) queued.onFailed(std::move(queued.job), error);
}
