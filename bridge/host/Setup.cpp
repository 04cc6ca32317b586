#include "host/Setup.h"

#include <cstring>

#include "base/Clock.h"
#include "base/Convert.h"
#include "base/ProgramFolder.h"
#include "base/RuntimeError.h"
#include "host/Application.h"
#include "host/DeviceTableFile.h"
#include "host/WebSettings.h"
#include "xap/XapLog.h"
#include "xap/xapGlobal.h"

Setup::Setup(std::shared_ptr<Application> hs) : m_hs(std::move(hs)) {}

void Setup::Form_Load() {
    EventCallbacks& callbacks = m_hs->callbacks();
    callbacks.setLoading(true);
    guarded("Setup Load ", [&] {
        m_pluginIni.Load(ProgramFolder::path() + "/Config/YonderHost.ini");
        App_Initialize();
    });
    // Cleared even when the load failed part-way, or the host would stay mute.
    callbacks.setLoading(false);
    m_loaded = true;
}

void Setup::App_Initialize() {
    guarded("App_Initialize", [&] {
        if (createPacedQueue) createPacedQueue();
        DeviceTableFile::InitDevices(m_hs->devices(), m_hs->iniCache());
        if (loadWebServer) loadWebServer();
        WebSettings::instance().load(*m_hs);
    });
}

void Setup::Form_Unload() {
    if (!m_loaded) return;
    m_loaded = false;
    // Devices first, then the flush that takes them (and every changed
    // setting) to disk.
    guarded("SaveDevices ",
            [&] { DeviceTableFile::SaveDevices(m_hs->devices(), m_hs->iniCache()); });
    guarded("FlushIniCache ", [&] { m_hs->iniCache().FlushIniCache(); });
    m_hs->callbacks().clear();
    m_hs->setPlugin(nullptr);
    m_menus.RemoveAll();
}

std::shared_ptr<Dispatch> Setup::GetHSIface() {
    return m_hs;
}

void Setup::addMenu(const std::string& key, const std::string& display) {
    guarded("RegisterMenu ", [&] {
        m_menus.Add(key, display);  // a key that exists keeps its first text
        if (m_hs->DebugMode() == 1) LogEvent("brindlehub Debug", "Accepting Callback " + key);
    });
}

void Setup::RegisterMenu(const std::string& sInterface, const std::string& sTitle) {
    addMenu(sInterface + "~" + sTitle, sInterface);
}

void Setup::RegisterMenuEx(const std::string& sInterface, const std::string& sTitle,
                           const std::string& sDisplay) {
    addMenu(sInterface + "~" + sTitle, sDisplay);
}

int16_t Setup::GetNextFreeIOCode() {
    DeviceTable& devices = m_hs->devices();
    const int16_t count = devices.DeviceCount();
    for (const char* c = kIoHouseCodes; *c != '\0'; ++c) {
        const std::string code(1, *c);
        bool used = false;
        for (int16_t i = 1; i <= count && !used; ++i) {
            const auto device = devices.GetDevice(i);
            used = device && device->get("hc").toString() == code;
        }
        if (!used) return static_cast<int16_t>(static_cast<unsigned char>(*c));
    }
    return -1;
}

void Setup::X10Event(const Variant& units, const Variant& houseCode, int16_t function,
                     const Variant& data1, const Variant& data2) {
    if (reportX10Event) reportX10Event(units, houseCode, function, data1, data2);
}

void Setup::IREvent(int16_t IR_NUMBER) {
    if (IR_NUMBER == 0) return;
    xapGlobal::SendXap("", "Homeseer.IR", "IR.Match",
                       xapGlobal::item("Match", std::to_string(IR_NUMBER)));
}

void Setup::ValueChangeEvent(const std::string& device, int32_t Value) {
    xapGlobal::SendXap(
        "", "Homeseer.IO", "Value.Receive",
        xapGlobal::item("Devicecode", device) + xapGlobal::item("Value", std::to_string(Value)));
    m_hs->devices().SetDeviceValueNoReport(device, Value, 3);
    if (reportValueChange) reportValueChange(device, Value);
}

void Setup::RegisterEventCB(int16_t iType, const std::shared_ptr<Dispatch>& obj) {
    if (!obj)
        raiseError(RuntimeError::kObjectRequired, "Object variable or With block variable not set");
    // Naming the listener comes first: an object without a name is refused
    // before it reaches any list.
    const std::string name = obj->get("name").toString();
    xapGlobal::SendXap("", "Homeseer.Event", "Event.Log",
                       xapGlobal::item("Time", vb::dateTimeText(Clock::current().now())) +
                           xapGlobal::item("Type", "callback from " + name) +
                           xapGlobal::item("Data", "Type=" + std::to_string(iType)));
    m_hs->callbacks().RegisterEventCB(iType, obj);
}

const MemberTable& Setup::members() const {
    using Args = std::vector<Variant>;
    auto nothing = [](Setup&, Args&) {};
    static const MemberTable table = MemberTable::of<Setup>({
        method("GetHSIface", &Setup::GetHSIface),
        method("RegisterMenu", &Setup::RegisterMenu),
        method("RegisterMenuEx", &Setup::RegisterMenuEx),
        method("GetNextFreeIOCode", &Setup::GetNextFreeIOCode),
        method("X10Event", &Setup::X10Event, {Variant(), Variant()}),
        method("IREvent", &Setup::IREvent),
        method("ValueChangeEvent", &Setup::ValueChangeEvent),
        method("RegisterEventCB", &Setup::RegisterEventCB),
        // accepted, doing nothing
        method("UnRegisterAllMenus", nothing),
        method("ForceFront", nothing),
        method("CheckTrigger", nothing),
        method("WriteSplash", nothing),
        method("DisplayEvDTMF", nothing),
        method("RegisterProxySpeakPlug", nothing),
        method("UnRegisterProxySpeakPlug", nothing),
        method("GetSelectedPlugins", nothing),
    });
    return table;
}
