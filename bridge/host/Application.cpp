#include "host/Application.h"

#include <QProcess>

#include "base/Clock.h"
#include "base/Convert.h"
#include "base/DoEvents.h"
#include "base/ProcessState.h"
#include "base/ProgramFolder.h"
#include "base/RuntimeError.h"
#include "base/WaitObject.h"
#include "xap/XapLog.h"
#include "xap/XapSettings.h"
#include "xap/xapGlobal.h"

namespace {

std::shared_ptr<Application> g_host;

std::string nowText() {
    return vb::dateTimeText(Clock::current().now());
}

// Tells one listener, ignoring its failure as every notification does.
void tell(const std::shared_ptr<Dispatch>& listener, const std::vector<std::string>& elements) {
    try {
        std::vector<Variant> list(elements.begin(), elements.end());
        std::vector<Variant> args{Variant(std::move(list))};
        listener->Invoke("HSEvent", args);
    } catch (...) {
    }
}

void sendSpeech(const std::string& say, const std::string& device) {
    xapGlobal::SendXap("", "xap-tts.speak", "tts.speak",
                       xapGlobal::item("Say", say) + xapGlobal::item("Device", device));
}

}  // namespace

Application::Application() : m_devices(m_callbacks) {
    m_commands.Add("ON", 2);
    m_commands.Add("OFF", 3);
    m_commands.Add("DIM", 4);
    m_commands.Add("BRIGHT", 5);
    m_callbacks.scriptRunner = [this](const std::string& script, const std::string& func,
                                      const std::vector<Variant>& params) {
        return m_scripts.runCallback(script, func, params);
    };
}

Application::~Application() = default;

Application* Application::instance() {
    return g_host.get();
}
std::shared_ptr<Application> Application::shared() {
    return g_host;
}

Application& Application::create() {
    if (!g_host) g_host = std::make_shared<Application>();
    return *g_host;
}

void Application::release() {
    g_host.reset();
}

// --- Logging and commands ------------------------------------------------

void Application::WriteLog(const std::string& c, const std::string& message) {
    guarded("WriteLog ", [&] {
        const std::string time = nowText();
        m_callbacks.notify(1, {"2", time, c, message});
        xapGlobal::SendXap("", "Homeseer.Event", "Event.Log",
                           xapGlobal::item("Time", time) + xapGlobal::item("Type", c) +
                               xapGlobal::item("Data", message));
    });
}

int16_t Application::commandCode(const std::string& command) const {
    const int16_t* code = m_commands.find(command);
    return code == nullptr ? 0 : *code;
}

static bool isX10House(const std::string& code) {
    if (code.empty()) return false;
    const char house = vb::UCase(code.substr(0, 1))[0];
    return house >= 'A' && house <= 'P';
}

int16_t Application::ExecX10(const std::string& device, const std::string& command,
                             int16_t brightness, int16_t data) {
    guarded("ExecX10 ", [&] {
        if (isX10House(device)) ExecIO(device, command, brightness, data);
    });
    return 0;
}

int16_t Application::ExecX10NoLog(const std::string& device, const std::string& command,
                                  int16_t brightness, int16_t data) {
    guarded("ExecX10NoLog ", [&] {
        if (isX10House(device)) ExecIO(device, command, brightness, data);
        SetX10Status(device, command, brightness, data);
    });
    return 0;
}

int16_t Application::ExecX10ByName(const std::string& name, const std::string& command,
                                   int16_t brightness, int16_t data) {
    guarded("ExecX10ByName ",
            [&] { ExecX10NoLog(m_devices.GetDeviceCode(name), command, brightness, data); });
    return 0;
}

void Application::ExecIO(const std::string& code, const std::string& cmd, int16_t brightness,
                         int16_t iData1) {
    guarded("ExecIO ", [&] {
        if (!m_plugin)
            raiseError(RuntimeError::kObjectRequired,
                       "Object variable or With block variable not set");
        std::vector<Variant> args{Variant(nullptr),
                                  Variant(code.substr(0, 1)),
                                  Variant(code.size() > 1 ? code.substr(1) : std::string()),
                                  Variant(commandCode(cmd)),
                                  Variant(brightness),
                                  Variant(iData1),
                                  Variant(int16_t{0})};
        m_plugin->Invoke("Exec", args);
        if (onCommandSent) onCommandSent(code, commandCode(cmd));
    });
}

void Application::SetX10Status(const std::string& device, const std::string& command,
                               int16_t brightness, int16_t data) {
    guarded("SetX10Status ", [&] {
        int16_t status = commandCode(command);
        if (status < 2 || status > 5) status = 17;
        const int16_t old = m_devices.DeviceStatus(device);
        const std::string type = status != old ? "20" : "16";
        m_callbacks.notify(
            4, {type, device.size() > 1 ? device.substr(1) : std::string(), device.substr(0, 1),
                command, std::to_string(brightness), std::to_string(data)});
        m_devices.SetDeviceStatusNoReport(device, status, old);
    });
}

// --- Utilities -------------------------------------------------------------

std::string Application::Version() {
    return std::to_string(BRINDLE_VERSION_MAJOR) + "." + std::to_string(BRINDLE_VERSION_MINOR) +
           "." + std::to_string(BRINDLE_VERSION_PATCH);
}

std::string Application::GetAppPath() {
    return ProgramFolder::path();
}

void Application::WaitSecs(int16_t secs) {
    guarded("WaitSecs ", [&] {
        // A wait object per call: a plug-in may wait again from inside a wait.
        WaitObject waiter;
        waiter.Wait(static_cast<long>(secs) * 1000L);
    });
}

void Application::WaitEvents() {
    DoEvents();
}

int32_t Application::Launch(const std::string& name, const std::string& params,
                            const std::string& /*direc*/) {
    return guarded("Launch ", 0, [&]() -> int32_t {
        QStringList arguments = QProcess::splitCommand(QString::fromLatin1(params.c_str()));
        qint64 pid = 0;
        if (!QProcess::startDetached(QString::fromLatin1(name.c_str()), arguments, QString(), &pid))
            return 0;
        return static_cast<int32_t>(pid);
    });
}

void Application::Keys(const std::string& /*k*/, const std::string& /*title*/, bool /*Wait*/) {
    // Sending keystrokes to another program's window has no portable
    // equivalent on this desktop; the call is accepted and does nothing.
}

std::string Application::StringItem(const std::string& st, int32_t idx, const std::string& sep) {
    return guarded("StringItem ", {}, [&]() -> std::string {
        if (idx < 1) return {};
        if (sep.empty()) return idx == 1 ? st : std::string();
        size_t start = 0;
        for (int32_t i = 1;; ++i) {
            const size_t end = st.find(sep, start);
            if (i == idx)
                return st.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (end == std::string::npos) return {};
            start = end + sep.size();
        }
    });
}

std::string Application::CreateVar(const std::string& name) {
    if (m_variables.Exists(name)) return "Variable Already Exists";
    m_variables.Add(name, Variant());
    return {};
}

Variant Application::GetVar(const std::string& name) {
    const Variant* v = m_variables.find(name);
    return v == nullptr ? Variant("Name Not Found") : *v;
}

std::string Application::SaveVar(const std::string& name, const Variant& obj) {
    m_variables.Set(name, obj);
    return {};
}

void Application::DeleteVar(const std::string& name) {
    m_variables.Remove(name);
}

// --- Speech and infrared ---------------------------------------------------

void Application::Speak(const std::string& sText, bool /*Wait*/) {
    guarded("Speak ", [&] {
        if (m_callbacks.loading()) {
            sendSpeech(sText, "0");
            return;
        }
        for (const auto& listener : m_callbacks.listeners(3)) {
            if (m_callbacks.loading()) break;
            tell(listener, {"8", "1", "0"});
            sendSpeech(sText, "0");
            tell(listener, {"8", "0", "0"});
        }
    });
}

void Application::SpeakEx(int16_t device, const std::string& text, bool /*Wait*/) {
    guarded("SpeakEx ", [&] { sendSpeech(text, std::to_string(device)); });
}

void Application::SpeakToFile(const std::string& txt, const std::string& voice,
                              const std::string& filename) {
    guarded("SpeakToFile ", [&] {
        xapGlobal::SendXap("", "xap-tts.speak", "tts.speak",
                           xapGlobal::item("Say", txt) + xapGlobal::item("Device", filename) +
                               xapGlobal::item("Voice", voice));
    });
}

void Application::SendIR(const std::string& ir) {
    guarded("SendIR ", [&] {
        // Labelled codes (with a comma) would need an infrared table that
        // nothing here fills, so only plain numbers are sent.
        if (ir.find(',') != std::string::npos || !vb::IsNumeric(ir)) return;
        xapGlobal::SendXap("", "Homeseer.IR", "IR.Transmit", xapGlobal::item("Location", ir));
    });
}

namespace {
const bool kApplicationReset =
    ProcessState::registerReset("Application", [] { Application::release(); });
}  // namespace
