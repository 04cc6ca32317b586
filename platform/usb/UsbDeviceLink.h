#pragma once
// One connection of this process to one transceiver, shared by every UsbPort
// open on it (see UsbPort for the contract the ports give their owners). A
// backend keeps its open links so that opening the same device again joins the
// live link; a link whose device is gone is never joined again, and closes when
// its last port lets go.
//
// The link holds the device's one write queue. A backend only sends single
// frames (send): at once, or later with sendFinished() once the device took
// the frame or refused it; one send is in progress at a time. Backends call
// sendFinished(), setGone() and a read's ReadDone from their own event handling
// (a libusb callback, a socket notice); what reaches the ports from there only
// records the result, and UsbPort passes it on to its owner from the event loop.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "usb/UsbDeviceEntry.h"
#include "usb/UsbPort.h"

class UsbDeviceLink : public std::enable_shared_from_this<UsbDeviceLink> {
public:
    using Bytes = UsbPort::Bytes;
    using ReadStatus = UsbPort::ReadStatus;
    using ReadDone = std::function<void(ReadStatus, Bytes)>;
    using WriteJob = UsbPort::WriteJob;
    using WriteResult = UsbPort::WriteResult;
    // Called once for a job that could not be written, from inside the link.
    using WriteFailed = std::function<void(WriteJob job, const std::string& error)>;

    // Joins the live link to the entry's device or opens a new one; null with
    // `error` set when the device cannot be reached.
    static std::shared_ptr<UsbDeviceLink> open(const UsbDeviceEntry& entry, std::string& error);

    virtual ~UsbDeviceLink() = default;

    // Queues `job` for `writer` (see UsbPort::write). On Failed `job` holds its
    // counts and `error` says why; onFailed is kept for a later failure.
    WriteResult write(std::uint64_t writer, WriteJob& job, WriteFailed onFailed,
                      std::string& error);
    // The writer's jobs stay queued; their failures are no longer reported.
    void forgetWriter(std::uint64_t writer);
    std::size_t writesWaiting() const { return m_queue.size(); }
    bool gone() const { return m_gone; }

    // Starts the device's one read for `owner`; false with `error` when a read is
    // already outstanding or the device refuses.
    virtual bool startRead(const void* owner, ReadDone done, std::string& error) = 0;
    // Ends `owner`'s outstanding read, if any, before returning; its ReadDone is
    // not called. Another owner's read is left alone.
    virtual void cancelRead(const void* owner) = 0;
    // Bytes the device sent for a read that ended before its owner took them
    // (the read was cancelled after the device had answered, or its port
    // closed before the completion was handed on): a radio frame, kept for
    // the next read on the device, which completes with them at once.
    void keepRead(Bytes bytes) { m_heldRead = std::move(bytes); }
    std::optional<Bytes> takeHeldRead() { return std::exchange(m_heldRead, std::nullopt); }

protected:
    enum class SendResult { Sent, Pending, Failed };
    // Sends one frame. Pending: the backend calls sendFinished() later, and no
    // other send starts meanwhile. Failed: `error` says why (setGone() first
    // when the device is gone).
    virtual SendResult send(const Bytes& frame, std::string& error) = 0;
    void sendFinished(bool sent, const std::string& error);
    // The device is gone: every queued job fails (a send in progress must still
    // finish), and so does every later write.
    void setGone();
    // For the failure texts: "USB device 0bc7:0002", "the virtual transceiver at ...".
    virtual std::string name() const = 0;

private:
    struct Queued {
        std::uint64_t id;
        std::uint64_t writer;
        WriteJob job;
        WriteFailed onFailed;
    };

    void pump();
    void pumpLater();
    void fail(const std::string& error, bool headWriteFailed);
    void report(Queued& queued, const std::string& error);

    std::deque<Queued> m_queue;
    std::uint64_t m_nextId = 1;
    bool m_gone = false;
    bool m_pumping = false;
    bool m_pumpPosted = false;
    // The job whose send is in progress; 0 when none. A job taken off the queue
    // meanwhile (the device went) leaves the id behind, so its result is dropped.
    std::uint64_t m_sending = 0;
    bool m_sendInProgress = false;
    // write() runs the queue itself when it was idle; a failure of its own job
    // then comes back to the caller instead of to the job's handler.
    std::uint64_t m_direct = 0;
    std::optional<std::pair<WriteJob, std::string>> m_directFailure;
    std::optional<Bytes> m_heldRead;
};
