#include "usb/cFirecrackerUSB.h"

#include <QCoreApplication>
#include <variant>

#include "base/Clock.h"
#include "settings/cRegistry.h"
#include "usb/UsbDeviceEntry.h"
#include "usb/UsbDeviceNotices.h"
#include "usb/UsbPort.h"
#include "usb/X10FrameCodec.h"

namespace {

constexpr const char* kEnumKey = "SYSTEM\\CurrentControlSet\\Services\\X10UIF\\Enum";
constexpr const char* kEnumValue = "0";

// A write that fails right after a successful reopen means the device answers
// the open but takes no frames (a wedged transceiver, a virtual one that stopped
// reading). Reopening after every such failure would hold the one thread in
// SendCmd for good, so after this many failures in a row the send gives up.
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
};

Library& library() {
    static Library lib;
    return lib;
}

// The ports and notices hold socket notifiers and libusb watches that must go
// before the application object does, not at static destruction after it.
void releaseLibraryDevices() {
    Library& lib = library();
    lib.readPort.reset();
    lib.notices.reset();
    lib.noticesBus.clear();
    lib.cleanupRegistered = false;
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

void ArmRead();

void OnReadComplete(UsbPort::ReadStatus /*status*/, const UsbPort::Bytes& bytes) {
    // The status is not examined: a read that brought no bytes (an empty read,
    // a device gone, an error) ends the read loop until the next Connect.
    if (bytes.empty()) return;
    if (cFirecrackerUSB* active = library().active) active->DecodeFrame(bytes);
    ArmRead();
}

void ArmRead() {
    Library& lib = library();
    cFirecrackerUSB* active = lib.active;
    if (active == nullptr || !active->Connected()) return;
    if (!lib.readPort || !lib.readPort->isOpen()) return;
    // A Received handler that sends and reopens the device has already armed
    // the fresh pipe; a second read would only be refused.
    if (lib.readPort->readPending()) return;
    if (lib.readPort->armRead(&OnReadComplete)) return;
    if (lib.reopening) return;
    lib.reopening = true;
    active->Connect(true);
    lib.reopening = false;
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
        if (cFirecrackerUSB* active = library().active) active->Connect(false);
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

void cFirecrackerUSB::Connect(bool quiet) {
    const std::string entry = readDeviceEntry();
    // The fresh port is opened while the old one still holds the device, so it
    // joins the live connection instead of dropping and remaking it.
    auto port = UsbPort::create(entry);
    if (!port->open()) {
        m_lastConnectError = port->lastError();
        return;
    }
    m_lastConnectError.clear();
    m_write = std::move(port);

    if (quiet)
        m_connected = true;
    else
        SetConnected(true);

    Library& lib = library();
    auto read = UsbPort::create(entry);
    read->open();
    // Replacing the old read pipe cancels its read, so the new one can be armed.
    lib.readPort = std::move(read);
    ArmRead();

    // The device is told to listen after every open; whether it took the frame
    // shows on the first real send.
    m_write->write(X10FrameCodec::InitialisationFrame());
}

void cFirecrackerUSB::SetConnected(bool value) {
    m_connected = value;
    if (value) {
        raiseConnected();
        return;
    }
    if (m_write) m_write->close();
    if (auto& read = library().readPort) read->close();
    raiseDisconnected();
}

bool cFirecrackerUSB::EnsureConnected() {
    if (!m_connected) Connect(false);
    return m_connected;
}

bool cFirecrackerUSB::SendCmd(int32_t lngDuration, int32_t lngRepeats) {
    const X10FrameCodec::WritePlan plan = X10FrameCodec::PlanWrites(lngDuration, lngRepeats);
    if (!EnsureConnected()) return false;
    const Bytes frame =
        X10FrameCodec::BuildFrame(m_housecode, m_devicecode, static_cast<eX10CMD>(m_command));
    const double start = X10FrameCodec::WriteStart(Clock::current().timer());
    int32_t written = 0;
    int failedInARow = 0;
    while (!X10FrameCodec::WritesDone(plan, start, Clock::current().timer(), written)) {
        if (m_write && m_write->write(frame)) {
            ++written;
            failedInARow = 0;
            continue;
        }
        // A failed write is a lost device: close, then try one reopen; the
        // failed write is not counted.
        SetConnected(false);
        if (++failedInARow >= kMaxFailedWritesInARow) return false;
        if (!EnsureConnected()) return false;
    }
    return true;
}

bool cFirecrackerUSB::SendRaw(const Bytes& Bin) {
    if (!EnsureConnected()) return false;
    if (m_write && m_write->write(Bin)) return true;
    SetConnected(false);
    return false;
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
