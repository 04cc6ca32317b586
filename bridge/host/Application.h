#pragma once
// The host object "hs" that plug-ins and scripts call by member name. It offers
// every member a plug-in may call: the device, INI, event and callback members
// (delegated to the device table, the INI cache, the event list and the
// callback lists it owns), the working members that serve this gateway, and
// inert members with fixed answers, so that no plug-in fails on a missing name.
//
// One instance per run: created at the end of InitXap, released when the host
// window unloads. Every working member catches its own faults, reports them as
// an event-log message naming the member, and returns what it had.

#include <functional>
#include <memory>
#include <string>

#include "base/OrderedDictionary.h"
#include "binding/Dispatch.h"
#include "host/DeviceTable.h"
#include "host/EventCallbacks.h"
#include "host/EventList.h"
#include "host/IniCache.h"
#include "host/ScriptRunner.h"

class Application : public Dispatch {
public:
    Application();
    ~Application() override;

    // The host object, or nullptr before it is created and after it is released.
    static Application* instance();
    static std::shared_ptr<Application> shared();
    static Application& create();
    static void release();

    std::string className() const override { return "Application"; }

    // The plug-in object that ExecIO hands commands to (held while bound).
    void setPlugin(std::shared_ptr<Dispatch> plugin) { m_plugin = std::move(plugin); }
    const std::shared_ptr<Dispatch>& plugin() const { return m_plugin; }
    // Told after each command ExecIO handed to the plug-in, whoever asked for
    // it (a request, a script, a plug-in): the device as given ("A3", "A1+3")
    // and the host's command code. Empty by default.
    std::function<void(const std::string& device, int16_t command)> onCommandSent;

    IniCache& iniCache() { return m_iniCache; }
    DeviceTable& devices() { return m_devices; }
    EventList& events() { return m_events; }
    EventCallbacks& callbacks() { return m_callbacks; }
    ScriptRunner& scripts() { return m_scripts; }

    // Logging, X10 and I/O commands.
    void WriteLog(const std::string& c, const std::string& message);
    int16_t ExecX10(const std::string& device, const std::string& command, int16_t brightness = 0,
                    int16_t data = 0);
    int16_t ExecX10NoLog(const std::string& device, const std::string& command,
                         int16_t brightness = 0, int16_t data = 0);
    int16_t ExecX10ByName(const std::string& name, const std::string& command,
                          int16_t brightness = 0, int16_t data = 0);
    void SetX10Status(const std::string& device, const std::string& command, int16_t brightness,
                      int16_t data);
    void ExecIO(const std::string& code, const std::string& cmd, int16_t brightness,
                int16_t iData1);

    // Small utilities.
    int16_t InterfaceVersion() { return 2; }
    std::string Version();
    std::string GetAppPath();
    void WaitSecs(int16_t secs);
    void WaitEvents();
    int32_t Launch(const std::string& name, const std::string& params = {},
                   const std::string& direc = {});
    void Keys(const std::string& k, const std::string& title, bool Wait = false);
    std::string StringItem(const std::string& st, int32_t idx, const std::string& sep);

    // Variables.
    std::string CreateVar(const std::string& name);
    Variant GetVar(const std::string& name);
    std::string SaveVar(const std::string& name, const Variant& obj);
    void DeleteVar(const std::string& name);

    int32_t DebugMode() const { return m_debugLevel; }
    void setDebugMode(int32_t level) { m_debugLevel = level; }
    bool NoLog() const { return m_noLog; }
    void setNoLog(bool flag) { m_noLog = flag; }

    // Speech and infrared go out as xAP messages.
    void Speak(const std::string& sText, bool Wait = false);
    void SpeakEx(int16_t device, const std::string& text, bool Wait = false);
    void SpeakToFile(const std::string& txt, const std::string& voice, const std::string& filename);
    void SendIR(const std::string& ir);

    // The command table: "ON" 2, "OFF" 3, "DIM" 4, "BRIGHT" 5; 0 for other names.
    int16_t commandCode(const std::string& command) const;

protected:
    const MemberTable& members() const override;

private:
    IniCache m_iniCache;
    EventCallbacks m_callbacks;
    DeviceTable m_devices;
    EventList m_events;
    OrderedDictionary<int16_t> m_commands;
    OrderedDictionary<Variant> m_variables;
    std::shared_ptr<Dispatch> m_plugin;
    int32_t m_debugLevel = 0;
    bool m_noLog = false;
    // Last, so scripts are closed while the parts they may hold still exist.
    ScriptRunner m_scripts{*this};
};
