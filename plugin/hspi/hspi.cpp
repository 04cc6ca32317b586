#include "hspi/hspi.h"

#include <chrono>
#include <exception>
#include <thread>

#include "base/Clock.h"
#include "base/Convert.h"
#include "base/DoEvents.h"
#include "base/ProcessState.h"
#include "base/RuntimeError.h"
#include "hspi/HostCommandTable.h"
#include "hspi/HostLink.h"

namespace {

constexpr char kFieldSeparator = '\x02';
constexpr double kSecondsPerDay = 86400;
constexpr double kAbsentDeviceWait = 3;

// The library-wide host references belong to whoever uses them: the last
// object going drops them.
int g_liveObjects = 0;

// Field 2 of an action or trigger text; a text without it raises 9.
std::string field2(const std::string& text) {
    const auto fields = vb::Split(text, kFieldSeparator);
    if (fields.size() < 3) raiseError(RuntimeError::kSubscriptOutOfRange, "Subscript out of range");
    return fields[2];
}

// Whether the first letter, upper-cased, names a house the transceiver can send on.
bool isHouse(const std::string& housecode) {
    if (housecode.empty()) return false;
    const char c = vb::UCase(housecode.substr(0, 1))[0];
    return c >= 'A' && c <= 'P';
}

// Waits on the time-of-day clock, letting events run. Elapsed time is taken
// across midnight, so a wait begun just before it still ends; a clock that
// jumps ends the wait rather than prolonging it. The short real sleep keeps
// the loop from spinning and lets a test's timer move a manual clock.
void waitOnClock(double seconds) {
    const double start = Clock::current().timer();
    for (;;) {
        double elapsed = Clock::current().timer() - start;
        if (elapsed < 0) elapsed += kSecondsPerDay;
        if (elapsed >= seconds) return;
        DoEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

hspi::hspi() {
    ++g_liveObjects;
}

hspi::~hspi() {
    if (m_FC) m_FC->events = {};
    if (--g_liveObjects == 0) HostLink::release();
}

std::string hspi::cameraValueList() {
    struct Value {
        const char* name;
        int code;
    };
    static constexpr Value kValues[] = {
        {"On", 1},      {"P1", 9},      {"P2", 11},     {"P3", 13},
        {"P4", 15},     {"Center", 17}, {"Sweep", 19},  {"P1 Set", 10},
        {"P2 Set", 12}, {"P3 Set", 14}, {"P4 Set", 16}, {"P Clear All", 18},
        {"Up", 5},      {"Down", 6},    {"Left", 7},    {"Right", 8},
    };
    std::string list;
    for (const Value& v : kValues)
        list += std::string(v.name) + '\x02' + std::to_string(v.code) + '\x01';
    return list;
}

int32_t hspi::Mode() const {
    return HostLink::mode();
}

std::string hspi::Name() const {
    return HostLink::kPluginName;
}

Variant hspi::RegisterCallback(std::shared_ptr<Dispatch> frm) {
    HostLink::registerCallback(std::move(frm));
    return {};
}

hspi::ConfigWindow& hspi::configWindow() {
    static ConfigWindow window;
    return window;
}

namespace {
const bool kConfigWindowReset =
    ProcessState::registerReset("hspi", [] { hspi::configWindow() = nullptr; });
}  // namespace

void hspi::SelectMenu(const std::string& /*menu_name*/) {
    // Held for the window's life: the host may replace FC or Settings meanwhile.
    const std::shared_ptr<cSettings> settings = Settings();
    if (const ConfigWindow& show = configWindow()) show(settings, nullptr);
}

void hspi::ConfigX10() {
    const std::shared_ptr<cSettings> settings = Settings();
    const std::shared_ptr<cFirecrackerUSB> fc = m_FC;
    if (const ConfigWindow& show = configWindow()) show(settings, fc);
}

void hspi::ConfigIO() {
    ConfigX10();
}

std::string hspi::InitX10(int32_t /*port*/) {
    setUp();
    HostLink::addMode(kModeX10);
    return {};
}

std::string hspi::InitIO(int32_t /*port*/) {
    setUp();
    HostLink::addMode(kModeIO);
    return {};
}

std::shared_ptr<cSettings> hspi::Settings() {
    if (!m_settings) m_settings = std::make_shared<cSettings>();
    return m_settings;
}

void hspi::setSettings(std::shared_ptr<cSettings> value) {
    m_settings = std::move(value);
}

void hspi::setFC(std::shared_ptr<cFirecrackerUSB> value) {
    if (value == m_FC) return;
    if (m_FC) m_FC->events = {};
    m_FC = std::move(value);
    if (!m_FC) return;
    m_FC->events.Connected = [this] { FC_Connected(); };
    m_FC->events.Disconnected = [this] { FC_Disconnected(); };
    m_FC->events.Received = [this](const std::string& housecode, int32_t devicecode,
                                   eX10CMD command) {
        FC_Received(housecode, devicecode, command);
    };
    m_FC->events.ReceivedUnknown = [this](const cFirecrackerUSB::Bytes& Bin) {
        FC_ReceivedUnknown(Bin);
    };
    // Why the radio went deaf or stopped taking frames, and when it is back.
    m_FC->events.trouble = [](const std::string& text) {
        HostLink::WriteLog(HostLink::kTitle, "CM19A USB: " + text);
    };
}

cFirecrackerUSB& hspi::requireFC() {
    if (!m_FC)
        raiseError(RuntimeError::kObjectRequired, "Object variable or With block variable not set",
                   className());
    return *m_FC;
}

void hspi::setUp() {
    if (m_setupDone) return;
    // Marked first: the wait below lets events run, and a host that calls
    // InitIO from one of them must not start a second set-up.
    m_setupDone = true;
    HostLink::callbackCall("RegisterMenu", std::string(HostLink::kPluginName),
                           std::string(kMenuTitle));
    if (!m_FC) setFC(std::make_shared<cFirecrackerUSB>());
    const std::shared_ptr<cFirecrackerUSB> fc = m_FC;
    if (!fc->Connected()) {
        HostLink::WriteLog(HostLink::kTitle, "CM19A USB Not Connected");
        // Why it did not open (no permission, no such device) tells the user what to fix.
        if (const std::string& reason = fc->lastConnectError(); !reason.empty())
            HostLink::WriteLog(HostLink::kTitle, "CM19A USB: " + reason);
        HostLink::callbackCall(
            "WriteSplash", std::string("CM19A USB Not Connected\r\nPlease connect the device..."));
        waitOnClock(kAbsentDeviceWait);
    }
    upgradeCameraDevices();
}

// Camera devices made by older releases lack their value list and type; the
// text "100" in iomisc marks one as up to date.
void hspi::upgradeCameraDevices() {
    int32_t count = 0;
    try {
        if (const auto n = HostLink::hsCall("DeviceCount")) count = n->toLong();
    } catch (const std::exception&) {
        return;
    }
    for (int32_t i = 1; i <= count; ++i) {
        // One device that cannot be read or changed does not stop the others.
        try {
            const auto found = HostLink::hsCall("GetDevice", static_cast<int16_t>(i));
            if (!found || !found->isObject()) continue;
            const std::shared_ptr<Dispatch> dv = found->toObject();
            if (!dv) continue;
            if (dv->get("interface").toString() != HostLink::kPluginName ||
                dv->get("dev_type_string").toString() != kCameraDeviceType ||
                vb::Val(dv->get("iomisc").toString()) >= 100)
                continue;
            dv->let("iomisc", std::string("100"));
            dv->let("iotype", int16_t{3});
            dv->let("Status", int16_t{19});
            // Our host has no DeviceValuesAdd: the call fails, the list is not
            // stored, and the fields set above stay set.
            std::vector<Variant> args{Variant(dv->get("HC").toString() + dv->get("DC").toString()),
                                      Variant(cameraValueList()), Variant(true)};
            HostLink::callHs("DeviceValuesAdd", args);
            HostLink::WriteLog(HostLink::kTitle,
                               "Ninja Device Updated: " + dv->get("Name").toString());
        } catch (const std::exception& e) {
            HostLink::logCaught("Updating a Ninja device", e);
        }
    }
}

void hspi::FC_Connected() {
    HostLink::WriteLog(HostLink::kTitle, "CM19A USB connected.");
}

void hspi::FC_Disconnected() {
    HostLink::WriteLog(HostLink::kTitle, "CM19A USB disconnected.");
}

void hspi::FC_Received(const std::string& housecode, int32_t devicecode, eX10CMD command) {
    // Held for the frame: a host call may let events run that replace them.
    const std::shared_ptr<cFirecrackerUSB> fc = m_FC;
    if (!fc) return;
    try {
        const std::shared_ptr<cSettings> settings = Settings();
        m_pipeline.Received(*settings, *fc, housecode, devicecode, command);
    } catch (const std::exception& e) {
        // The frame is lost, the program is not.
        HostLink::logCaught("Reporting a radio command", e);
    }
}

void hspi::FC_ReceivedUnknown(const std::vector<uint8_t>& Bin) {
    try {
        const std::shared_ptr<cSettings> settings = Settings();
        m_pipeline.ReceivedUnknown(*settings, Bin);
    } catch (const std::exception& e) {
        HostLink::logCaught("Reporting an unknown radio command", e);
    }
}

void hspi::Exec(const Variant& /*dv*/, const std::string& housecode, const std::string& devicecode,
                int16_t command, int16_t /*brightness*/, int16_t /*data1*/, int16_t /*data2*/) {
    if (!isHouse(housecode)) return;
    cFirecrackerUSB& fc = requireFC();
    fc.setHousecode(housecode);
    // Host codes other than 0 to 6 address the units and send nothing.
    const auto entry = HostCommandTable::byHostCode(command);
    // "1+3+5" addresses several units; the first one out of range ends the list.
    for (const std::string& part : vb::Split(devicecode, '+')) {
        const double unit = vb::Val(part);
        if (unit > 16 || unit < 1) return;
        fc.setDevicecode(vb::CLng(unit));
        if (entry) {
            fc.setCommand(entry->command);
            fc.SendCmd(0, 3);
        }
    }
}

Variant hspi::ExecWait(const Variant& dv, const std::string& housecode,
                       const std::string& devicecode, int16_t command, int16_t brightness,
                       int16_t data1, int16_t data2) {
    Exec(dv, housecode, devicecode, command, brightness, data1, data2);
    return {};
}

void hspi::SetIO(const Variant& /*dv*/, const std::string& housecode, const std::string& devicecode,
                 int16_t command, int16_t brightness, int16_t /*data1*/, int16_t /*data2*/) {
    if (!isHouse(housecode)) return;
    const double value = vb::Val(devicecode);
    if (value < 1 || value > 16) return;
    cFirecrackerUSB& fc = requireFC();
    const int32_t unit = vb::CLng(value);
    fc.setHousecode(housecode);
    fc.setDevicecode(unit);
    if (command == HostCommandTable::kSetValue) {
        const std::string address = housecode + devicecode;
        HostLink::hsCall("ExecX10", address, std::string("On"));
        HostLink::hsCall("WaitSecs", int16_t{1});
        std::vector<Variant> args{Variant(address), Variant(brightness)};
        HostLink::callHs("SetDeviceValue", args);
        // The wait let events run, and a reception may have retransmitted
        // through this same transceiver: address it again before sending.
        fc.setHousecode(housecode);
        fc.setDevicecode(unit);
        fc.setCommand(brightness);
        fc.SendCmd(0, 3);
    } else if (const auto entry = HostCommandTable::byHostCode(command)) {
        fc.setCommand(entry->command);
        fc.SendCmd(0, 3);
    }
}

std::string hspi::customNameList() {
    std::string list;
    const std::shared_ptr<cSettings> settings = Settings();
    for (int32_t i = 1; i <= settings->CustomCount(); ++i) list += '\t' + settings->CustomName(i);
    return list;
}

std::string hspi::ActionUI(const std::string& /*action_str*/) {
    return std::string(kActionName) + "\t1\t0\tSend Custom RF Command:\t<None>" + customNameList();
}

std::string hspi::ActionUIFormat(const std::string& action) {
    return "Custom RF Command: " + field2(action);
}

void hspi::TriggerAction(const std::string& actionstr) {
    // A code that was removed since the action was made sends nothing.
    try {
        const std::string name = field2(actionstr);
        cFirecrackerUSB& fc = requireFC();
        fc.SendRaw(Settings()->CustomRaw(Variant(name)));
    } catch (const std::exception& e) {
        HostLink::logCaught("Sending a custom RF command", e);
    }
}

std::string hspi::TriggerUI(const std::string& /*trig_str*/) {
    return std::string(kTriggerName) + "\t1\t0\tSelect Custom RF Command:" + customNameList();
}

std::string hspi::TriggerUIFormat(const std::string& trig) {
    return "Custom RF Command: " + field2(trig);
}

const MemberTable& hspi::members() const {
    using H = hspi;
    const std::vector<Variant> optionalTail{int16_t{0}, int16_t{0}, int16_t{0}};
    static const MemberTable table = MemberTable::of<H>({
        property("Mode", &H::Mode),
        method("Capabilities", &H::Capabilities),
        method("Name", &H::Name),
        method("RegisterCallback", &H::RegisterCallback),
        method("InterfaceStatus", &H::InterfaceStatus),
        method("AccessLevel", &H::AccessLevel),
        method("SelectMenu", &H::SelectMenu),
        method("InitX10", &H::InitX10),
        method("ConfigX10", &H::ConfigX10),
        method("Exec", &H::Exec, optionalTail),
        method("ExecWait", &H::ExecWait, optionalTail),
        method("InitIO", &H::InitIO),
        method("ConfigIO", &H::ConfigIO),
        method("SetIO", &H::SetIO, optionalTail),
        method("SupportsActionUI", &H::SupportsActionUI),
        method("SupportsTriggerUI", &H::SupportsTriggerUI),
        method("ActionUI", &H::ActionUI),
        method("ActionUIFormat", &H::ActionUIFormat),
        method("TriggerAction", &H::TriggerAction),
        method("TriggerUI", &H::TriggerUI),
        method("TriggerUIFormat", &H::TriggerUIFormat),
        property("Settings", &H::Settings, &H::setSettings),
        property("FC", &H::FC, &H::setFC),
    });
    return table;
}
