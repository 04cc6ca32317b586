#include "radio/cFirecrackerUSB.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <variant>

#include "base/Clock.h"
#include "base/ProcessState.h"
#include "radio/X10FrameCodec.h"
#include "settings/cRegistry.h"
#include "usb/UsbDeviceEntry.h"
#include "usb/UsbDeviceNotices.h"

namespace {

constexpr const char* kEnumKey = "SYSTEM\\CurrentControlSet\\Services\\X10UIF\\Enum";
constexpr const char* kEnumValue = "0";

// A write that fails right after a successful reopen means the device answers
// the open but takes no frames (a wedged transceiver, a virtual one that hangs
// up). Reopening after every such failure would go on for good, so a frame
// whose writes failed this often is given up.
constexpr int kMaxFailedWritesInARow = 3;

// Library-wide state, shared by every transceiver object of the loaded library.
struct Library {
    // The object created last; reads, decoding, events and notices act on it.
    cFirecrackerUSB* active = nullptr;
    // The device's read pipe, opened by the last successful Connect.
    std::unique_ptr<UsbPort> readPort;
    // Arrival and removal notices of the bus the device entry names, made when
    // the first object is created (and again when the entry moves to another bus).
    std::unique_ptr<UsbDeviceNotices> notices;
    std::string noticesBus;
    // Set while ArmRead's quiet reopen runs, so a read pipe that keeps refusing
    // reopens once per failure instead of ArmRead and Connect calling each other.
    bool reopening = false;
    bool cleanupRegistered = false;

    // The read loop's recovery: one timer that either arms the read again or
    // reopens the device.
    std::unique_ptr<QTimer> readTimer;
    bool readTimerReopens = false;
    int readFailures = 0;     // reads in a row that brought nothing
    int reopenDelayMs = 0;    // the last reopen's pause; 0 before the first
    bool readOutage = false;  // told, and not yet over
    std::string readTrouble;  // why the reads stopped, for that line
    QElapsedTimer readArmed;

    std::unique_ptr<QTimer> arrivalTimer;
    int arrivalTriesLeft = 0;

    // Frames refused because too many wait on the device, since the first one.
    bool writesOverflowing = false;
    std::size_t writesDropped = 0;
};

Library& library() {
    static Library lib;
    return lib;
}

// The ports, notices and timers hold socket notifiers, libusb watches and
// timer ids that must go before the application object does, not at static
// destruction after it.
void releaseLibraryDevices() {
    Library& lib = library();
    lib.readPort.reset();
    lib.notices.reset();
    lib.noticesBus.clear();
    lib.readTimer.reset();
    lib.arrivalTimer.reset();
    lib.cleanupRegistered = false;
}

// A single-shot timer of the library, made on first use.
QTimer& libraryTimer(std::unique_ptr<QTimer>& slot, void (*onTimeout)()) {
    if (!slot) {
        slot = std::make_unique<QTimer>();
        slot->setSingleShot(true);
        QObject::connect(slot.get(), &QTimer::timeout, onTimeout);
    }
    return *slot;
}

std::string readDeviceEntry() {
    cRegistry reg;
    reg.ClassKey(Registry::HKEY_LOCAL_MACHINE);
    reg.SectionKey(kEnumKey);
    reg.ValueKey(kEnumValue);
    reg.Default(std::string());
    return reg.Value().toString();
}

std::string busOf(const std::string& deviceEntry) {
    const UsbDeviceEntry entry = UsbDeviceEntry::parse(deviceEntry);
    return entry.kind == UsbDeviceEntry::Kind::Virtual ? "virtual " + entry.busFolder : "usb";
}

// Device trouble concerns the one device every object shares, so it goes
// where the library's other notices go: to the ActiveTransceiver.
void reportTrouble(const std::string& text) {
    cFirecrackerUSB* active = library().active;
    if (active == nullptr) return;
    if (auto handler = active->events.trouble) handler(text);
}

void ArmRead();
void readFailed(const std::string& reason, bool reopen);

void onReadTimer() {
    Library& lib = library();
    cFirecrackerUSB* active = lib.active;
    if (active == nullptr || !active->Connected()) return;
    if (!lib.readTimerReopens) {
        ArmRead();
        return;
    }
    // Told when the reopen is due rather than when the read failed: a device
    // that was unplugged has its removal notice by then, which says it all.
    if (!lib.readOutage) {
        lib.readOutage = true;
        reportTrouble("reading stopped (" + lib.readTrouble +
                      "); reopening the device until it reads again");
    }
    // Still not there: the next reopen waits longer.
    if (!active->Reopen()) readFailed(active->lastConnectError(), true);
}

void startReadTimer(int ms, bool reopen) {
    Library& lib = library();
    lib.readTimerReopens = reopen;
    libraryTimer(lib.readTimer, &onReadTimer).start(ms);
}

void stopReadRecovery() {
    Library& lib = library();
    if (lib.readTimer) lib.readTimer->stop();
    lib.readFailures = 0;
}

// A read that brought nothing, failed or was refused. A few are armed again
// after a short pause; after that, or at once when the device went away, the
// device is reopened with a pause that grows while it keeps failing.
void readFailed(const std::string& reason, bool reopen) {
    Library& lib = library();
    const cFirecrackerUSB::Recovery& r = cFirecrackerUSB::recovery();
    // A read that stayed outstanding a while was a working one: a new run.
    if (lib.readArmed.isValid() && lib.readArmed.elapsed() >= r.healthyReadMs) {
        lib.readFailures = 0;
        lib.reopenDelayMs = 0;
    }
    lib.readArmed.invalidate();
    if (!reopen && ++lib.readFailures <= r.readRetries) {
        startReadTimer(r.readRetryMs, false);
        return;
    }
    if (!lib.readOutage) lib.readTrouble = reason;
    lib.reopenDelayMs =
        lib.reopenDelayMs == 0 ? r.firstReopenMs : std::min(lib.reopenDelayMs * 2, r.maxReopenMs);
    startReadTimer(lib.reopenDelayMs, true);
}

void readWorks() {
    Library& lib = library();
    lib.readFailures = 0;
    lib.reopenDelayMs = 0;
    if (!lib.readOutage) return;
    lib.readOutage = false;
    reportTrouble("reading again");
}

std::string describe(UsbPort::ReadStatus status) {
    switch (status) {
        case UsbPort::ReadStatus::Completed:
            return "a read brought no bytes";
        case UsbPort::ReadStatus::DeviceGone:
            return "the device went away";
        case UsbPort::ReadStatus::Cancelled:
            return "a read was cancelled";
        case UsbPort::ReadStatus::Error:
            break;
    }
    return "a read failed";
}

void OnReadComplete(UsbPort::ReadStatus status, const UsbPort::Bytes& bytes) {
    if (status != UsbPort::ReadStatus::Completed || bytes.empty()) {
        readFailed(describe(status), status == UsbPort::ReadStatus::DeviceGone);
        return;
    }
    readWorks();
    if (cFirecrackerUSB* active = library().active) active->DecodeFrame(bytes);
    ArmRead();
}

void ArmRead() {
    Library& lib = library();
    cFirecrackerUSB* active = lib.active;
    if (active == nullptr || !active->Connected()) return;
    // A Received handler that sends and reopens the device has already armed
    // the fresh pipe; a second read would only be refused.
    if (lib.readPort && lib.readPort->readPending()) return;
    if (lib.readPort && lib.readPort->armRead(&OnReadComplete)) {
        lib.readArmed.start();
        return;
    }
    const std::string reason = lib.readPort ? lib.readPort->lastError() : "no read pipe";
    if (lib.reopening) {
        readFailed(reason, true);
        return;
    }
    lib.reopening = true;
    active->Connect(true);
    lib.reopening = false;
}

// An arrival notice may come before the device takes connections (the virtual
// transceiver makes its socket file before it listens; a USB device needs a
// moment after the kernel announces it), so a refused open is tried again.
void openAfterArrival() {
    Library& lib = library();
    cFirecrackerUSB* active = lib.active;
    if (active == nullptr || active->Connect(false)) return;
    if (lib.arrivalTriesLeft-- <= 0) return;
    libraryTimer(lib.arrivalTimer, &openAfterArrival)
        .start(cFirecrackerUSB::recovery().arrivalRetryMs);
}

void framesTaken() {
    Library& lib = library();
    if (!lib.writesOverflowing) return;
    lib.writesOverflowing = false;
    reportTrouble("the device takes frames again; " + std::to_string(lib.writesDropped) +
                  " were dropped");
    lib.writesDropped = 0;
}

void frameDropped(const std::string& why) {
    Library& lib = library();
    ++lib.writesDropped;
    if (lib.writesOverflowing) return;
    lib.writesOverflowing = true;
    reportTrouble(why + "; new frames are dropped until it takes them again");
}

void ensureNotices(const std::string& deviceEntry) {
    Library& lib = library();
    const std::string bus = busOf(deviceEntry);
    if (lib.notices && lib.noticesBus == bus) return;
    lib.notices = UsbDeviceNotices::create(deviceEntry);
    lib.noticesBus = bus;
    // As on a real bus the notices concern every device, not only the
    // transceiver: an arrival reopens, a removal closes.
    lib.notices->onArrival([] {
        library().arrivalTriesLeft = cFirecrackerUSB::recovery().arrivalRetries;
        openAfterArrival();
    });
    lib.notices->onRemoval([] {
        if (cFirecrackerUSB* active = library().active) active->SetConnected(false);
    });
    if (!lib.cleanupRegistered) {
        qAddPostRoutine(&releaseLibraryDevices);
        lib.cleanupRegistered = true;
    }
}

}  // namespace

cFirecrackerUSB::Recovery& cFirecrackerUSB::recovery() {
    static Recovery times;
    return times;
}

namespace {
const bool kRecoveryReset = ProcessState::registerReset(
    "cFirecrackerUSB", [] { cFirecrackerUSB::recovery() = cFirecrackerUSB::Recovery(); });
}  // namespace

cFirecrackerUSB::cFirecrackerUSB() {
    // First of all, so the notices and the first open already act on this object.
    library().active = this;
    ensureNotices(readDeviceEntry());
    Connect(false);
}

cFirecrackerUSB::~cFirecrackerUSB() {
    Library& lib = library();
    // The shared read pipe serves the active object; an older object going away
    // must not stop the reads of the one that replaced it.
    if (lib.active == this) {
        lib.active = nullptr;
        lib.readPort.reset();
        stopReadRecovery();
        if (lib.arrivalTimer) lib.arrivalTimer->stop();
    }
}

cFirecrackerUSB* cFirecrackerUSB::ActiveTransceiver() {
    return library().active;
}

void cFirecrackerUSB::setHousecode(const std::string& value) {
    m_housecode = X10FrameCodec::CheckHouseCode(value);
}

void cFirecrackerUSB::setDevicecode(int32_t value) {
    m_devicecode = X10FrameCodec::CheckDeviceCode(value);
}

bool cFirecrackerUSB::Connect(bool quiet) {
    const std::string entry = readDeviceEntry();
    // The fresh port is opened while the old one still holds the device, so it
    // joins the live connection instead of dropping and remaking it, and the
    // frames still waiting on the device go out before the initialisation frame.
    auto port = UsbPort::create(entry);
    if (!port->open()) {
        m_lastConnectError = port->lastError();
        return false;
    }
    m_lastConnectError.clear();
    port->onWriteFailure([this](std::vector<UsbPort::WriteJob> jobs, const std::string& error) {
        writesFailed(std::move(jobs), error);
    });
    m_write = std::move(port);

    if (quiet)
        m_connected = true;
    else
        SetConnected(true);

    Library& lib = library();
    if (isActive()) {
        // A fresh read below replaces whatever recovery was under way; the
        // reopen that is running now has started a fresh run itself. Open,
        // the device needs no more tries after an arrival either.
        if (lib.readTimer) lib.readTimer->stop();
        lib.readFailures = 0;
        if (lib.arrivalTimer) lib.arrivalTimer->stop();
    }
    auto read = UsbPort::create(entry);
    read->open();
    // Replacing the old read pipe cancels its read, so the new one can be armed.
    lib.readPort = std::move(read);
    ArmRead();

    // The device is told to listen after every open; whether it took the frame
    // shows on the first real send.
    m_write->write(X10FrameCodec::InitialisationFrame());
    return true;
}

bool cFirecrackerUSB::Reopen() {
    if (m_write) m_write->close();
    if (isActive()) library().readPort.reset();
    return Connect(true);
}

void cFirecrackerUSB::SetConnected(bool value) {
    m_connected = value;
    if (value) {
        raiseConnected();
        return;
    }
    if (m_write) m_write->close();
    // The read pipe serves the ActiveTransceiver: another object losing its
    // write pipe (the bridge's own transceiver) must not leave it deaf.
    if (isActive()) {
        if (auto& read = library().readPort) read->close();
        // Disconnected says it all; a later outage is told afresh.
        stopReadRecovery();
        library().readOutage = false;
    }
    raiseDisconnected();
}

bool cFirecrackerUSB::EnsureConnected() {
    if (!m_connected) Connect(false);
    return m_connected;
}

bool cFirecrackerUSB::SendCmd(int32_t lngDuration, int32_t lngRepeats) {
    const X10FrameCodec::WritePlan plan = X10FrameCodec::PlanWrites(lngDuration, lngRepeats);
    if (!EnsureConnected()) return false;
    UsbPort::WriteJob job;
    job.frame =
        X10FrameCodec::BuildFrame(m_housecode, m_devicecode, static_cast<eX10CMD>(m_command));
    const double start = X10FrameCodec::WriteStart(Clock::current().timer());
    job.again = [plan, start](int32_t written) {
        return !X10FrameCodec::WritesDone(plan, start, Clock::current().timer(), written);
    };
    return queueWrite(job, true);
}

bool cFirecrackerUSB::SendRaw(const Bytes& Bin) {
    if (!EnsureConnected()) return false;
    UsbPort::WriteJob job{Bin, nullptr};
    return queueWrite(job, false);
}

bool cFirecrackerUSB::queueWrite(UsbPort::WriteJob& job, bool retry) {
    for (;;) {
        if (!m_write) return false;
        switch (m_write->write(job)) {
            case UsbPort::WriteResult::Written:
            case UsbPort::WriteResult::Queued:
                framesTaken();
                return true;
            case UsbPort::WriteResult::Full:
                // A slow device is not a lost one: no reopen.
                frameDropped(m_write->lastError());
                return false;
            case UsbPort::WriteResult::Failed:
                break;
        }
        // A failed write is a lost device: close, then try one reopen; the
        // failed write is not counted.
        SetConnected(false);
        if (!retry || job.failures >= kMaxFailedWritesInARow) return false;
        if (!EnsureConnected()) return false;
    }
}

// Frames that were queued (their sends said true) and then could not be
// written: as for a failed write in a send, close and reopen, and queue them
// again behind the fresh initialisation frame.
void cFirecrackerUSB::writesFailed(std::vector<UsbPort::WriteJob> jobs, const std::string& error) {
    SetConnected(false);
    std::size_t sent = 0;
    if (EnsureConnected()) {
        for (UsbPort::WriteJob& job : jobs) {
            if (job.failures >= kMaxFailedWritesInARow || !queueWrite(job, true)) break;
            ++sent;
        }
    }
    if (sent < jobs.size())
        reportTrouble(std::to_string(jobs.size() - sent) +
                      " waiting frames were not sent: " + error);
}

// Handlers are called through copies: a handler may replace or clear `events`
// (its owner letting go of this object) while it runs.
void cFirecrackerUSB::DecodeFrame(const Bytes& bytes) {
    if (!isActive()) return;
    const X10FrameCodec::Decoded decoded = X10FrameCodec::DecodeFrame(bytes);
    if (const auto* r = std::get_if<X10FrameCodec::Received>(&decoded)) {
        if (auto handler = events.Received) handler(r->housecode, r->devicecode, r->command);
    } else if (const auto* u = std::get_if<X10FrameCodec::ReceivedUnknown>(&decoded)) {
        if (auto handler = events.ReceivedUnknown) handler(u->Bin);
    }
}

bool cFirecrackerUSB::isActive() const {
    return library().active == this;
}

void cFirecrackerUSB::raiseConnected() {
    if (!isActive()) return;
    if (auto handler = events.Connected) handler();
}

void cFirecrackerUSB::raiseDisconnected() {
    if (!isActive()) return;
    if (auto handler = events.Disconnected) handler();
}

const MemberTable& cFirecrackerUSB::members() const {
    static const MemberTable table = MemberTable::of<cFirecrackerUSB>({
        property("housecode", &cFirecrackerUSB::housecode, &cFirecrackerUSB::setHousecode),
        property("devicecode", &cFirecrackerUSB::devicecode, &cFirecrackerUSB::setDevicecode),
        property("command", &cFirecrackerUSB::command, &cFirecrackerUSB::setCommand),
        method("SendCmd", &cFirecrackerUSB::SendCmd, {0, 3}),
        method("SendRaw", &cFirecrackerUSB::SendRaw),
        property("Connected", &cFirecrackerUSB::Connected),
    });
    return table;
}
