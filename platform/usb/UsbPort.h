#pragma once
// The transceiver's two pipes: pipe "\1" (interrupt OUT, endpoint 0x02) takes
// whole frames, pipe "\0" (interrupt IN, endpoint 0x81) delivers what the
// device sends through one asynchronous read at a time.
//
// Made by create() from the device entry (see UsbDeviceEntry): a USB entry is
// reached through libusb, a VIRTUAL entry through the virtual transceiver's
// socket. Either way the port behaves the same:
//
// - open() connects to the device. It fails, as for an absent device, when the
//   device is not there, cannot be opened (permissions, another program holds
//   it) or nobody plays the virtual device; lastError() then says why, for one
//   log line. open() on an open port closes it first and opens again.
// - Ports opened on the same device share one connection to it, like two
//   handles on one device: each writes through it, and one read at a time is
//   outstanding on the device. So the plug-in's transceiver and the bridge's own
//   camera transceiver can both write to one CM19A.
// - write() never waits for the device. Frames of every port on the device
//   form one queue, written in the order given as fast as the device takes
//   them. When nothing waits, write() starts at once: Written when the device
//   took every write of the job on the spot, Failed when it refused; otherwise
//   the job waits (Queued) and is written from the event loop (a USB write is
//   always Queued, its transfer ends later). With kWriteQueueLimit jobs waiting
//   the job is refused (Full) and the device is left alone: it is slow, not
//   lost. After the device is gone every write fails.
//   A queued job that cannot be written goes to the failure handler, from the
//   event loop, together with this port's jobs queued behind it, which are
//   taken off the queue: the owner may reopen the device and queue them again.
//   Jobs still queued when their port closes are written all the same while
//   the device stays open through another port (a fresh port opened before
//   the old one closes keeps it open); their failures are then not reported.
// - armRead() starts the one read of up to kReadSize bytes. It is refused (false)
//   while this port's read is outstanding or another port holds the device's
//   read, and when the port is closed. The handler is called once, later, from
//   the event loop, never from inside armRead(), write() or any other call on the
//   port; the owner arms again when it wants the next read.
//   Completed: the device sent bytes (possibly none). DeviceGone: the device was
//   unplugged or the virtual device hung up. Cancelled or Error: the read ended
//   without data for another reason (a stalled endpoint is cleared before the
//   next read). The port stays open in every case.
// - close() cancels the outstanding read, whose handler is then never called,
//   and lets go of the device. It is safe twice, and safe from inside the read
//   or write failure handler; the port may even be destroyed there.
//
// Needs a QCoreApplication; everything runs on its thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "usb/UsbDeviceEntry.h"

class UsbDeviceLink;

class UsbPort {
public:
    using Bytes = std::vector<std::uint8_t>;
    enum class ReadStatus { Completed, Cancelled, DeviceGone, Error };
    using ReadHandler = std::function<void(ReadStatus status, const Bytes& bytes)>;

    // One frame to write, possibly several times over.
    struct WriteJob {
        Bytes frame;
        // Asked before every write with the writes done so far: true writes the
        // frame (again). Without it the frame is written once.
        std::function<bool(std::int32_t written)> again;
        std::int32_t written = 0;
        // Writes of this job that failed; the failed writes are not counted above.
        std::int32_t failures = 0;
    };
    enum class WriteResult { Written, Queued, Full, Failed };
    using WriteFailureHandler =
        std::function<void(std::vector<WriteJob> jobs, const std::string& error)>;

    static constexpr std::size_t kReadSize = 256;
    static constexpr std::size_t kWriteQueueLimit = 256;

    // Never null; nothing is opened yet.
    static std::unique_ptr<UsbPort> create(const std::string& deviceEntry);
    explicit UsbPort(UsbDeviceEntry entry);
    ~UsbPort();
    UsbPort(const UsbPort&) = delete;
    UsbPort& operator=(const UsbPort&) = delete;

    bool open();
    void close();
    // True from a successful open() until close(), even after the device went
    // away: the owner learns that from a failed write or a DeviceGone read.
    bool isOpen() const { return m_link != nullptr; }

    // On Failed, `job` comes back with its counts, for a retry after a reopen.
    WriteResult write(WriteJob& job);
    WriteResult write(const Bytes& frame);
    // Kept across open() and close().
    void onWriteFailure(WriteFailureHandler handler);
    // Jobs waiting on the device, of every port; 0 when closed.
    std::size_t writesWaiting() const;

    bool armRead(ReadHandler onComplete);
    bool readPending() const;

    // Why the last open(), write() or armRead() failed; empty after a successful open().
    std::string lastError() const { return m_lastError; }
    const UsbDeviceEntry& entry() const { return m_entry; }

private:
    struct ReadState;
    struct WriteState;

    UsbDeviceEntry m_entry;
    std::shared_ptr<UsbDeviceLink> m_link;
    std::shared_ptr<ReadState> m_read;
    std::shared_ptr<WriteState> m_writes;
    std::string m_lastError;
};
