#include "app/BrindleForm.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include "base/AtomicFile.h"
#include "base/DoEvents.h"
#include "base/Err.h"
#include "base/HeapTrim.h"
#include "base/ProgramFolder.h"
#include "base/RuntimeError.h"
#include "binding/CreateObject.h"
#include "gateway/GatewayDevices.h"
#include "gateway/X10Reporter.h"
#include "host/Application.h"
#include "host/IniTool.h"
#include "host/MqttSettings.h"
#include "host/Setup.h"
#include "host/WebSettings.h"
#include "mqtt/MqttLink.h"
#include "web/TCPServer.h"
#include "xap/ErrorLogFile.h"
#include "xap/XapLog.h"
#include "xap/XapSettings.h"
#include "xap/xap.h"
#include "xap/xapGlobal.h"

Q_LOGGING_CATEGORY(lcBrindle, "brindle")

BrindleForm::BrindleForm() {
    // Headless there is no desktop: no tray, menu or windows.
    if (const Desktop::Factory make = Desktop::factory()) m_desktop = make();
    m_timer1.onTimer([this] { Timer1_Timer(); });
    m_exitRetry.onTimer([this] {
        if (!m_startingUp) requestExit();
    });
    m_mqttRetry.onTimer([this] {
        m_mqttRetry.setEnabled(false);
        startMqtt();
    });
    if (m_desktop) m_desktop->setMenu(menuEntries());

    quit = [] { QCoreApplication::exit(0); };
    openUrl = [this](const std::string& url) {
        if (m_desktop) m_desktop->openUrl(url);
    };
}

BrindleForm::~BrindleForm() = default;

bool BrindleForm::Form_Load() {
    m_startingUp = true;
    try {
        startUp();
    } catch (...) {
        Err::capture();
        LogError("brindlehub", "Main Load");
    }
    m_startingUp = false;
    if (m_exitPending && !m_initFailed) requestExit();
    return !m_initFailed;
}

void BrindleForm::requestExit() {
    if (m_exited) return;
    if (m_startingUp || m_busy || nestedEventDepth() > 0) {
        m_exitPending = true;
        m_exitRetry.setInterval(50);
        m_exitRetry.setEnabled(true);
        return;
    }
    m_exitRetry.setEnabled(false);
    Exit();
}

void BrindleForm::startUp() {
    // 1. Shared settings, vocabulary and the host object.
    XapSettings::InitXap();
    // A save cut short by a kill leaves its temporary file behind.
    for (const char* folder : {"Config", "Data"})
        removeStaleTemporaryFiles(XapSettings::ProgramFolder() + "/" + folder);
    {
        IniTool ini;
        ini.Load(
            ProgramFolder::resolveIgnoringCase(XapSettings::ProgramFolder(), "config/qixXap.ini")
                .string());
        XapSettings::SetAddresses(ini.Read("Interface", "InterfaceAddress", "Default"),
                                  ini.Read("Interface", "BroadcastAddress", "Default"));
    }
    Application::create();
    // What the gateway does with the messages it hears exists before it hears any.
    m_reporter = std::make_unique<X10Reporter>(*Application::instance());
    m_reporter->onX10Event = [this](const std::string& devices, const std::string& event) {
        HeapTrim::soon();
        if (m_mqtt) m_mqtt->x10Event(devices, event);
    };
    m_reporter->onX10Command = [this](const std::string& devices, const std::string& event) {
        HeapTrim::soon();
        if (m_mqtt) m_mqtt->x10Command(devices, event);
    };
    Application::instance()->onCommandSent = [this](const std::string& device, int16_t command) {
        if (m_reporter) m_reporter->CommandSent(device, command);
    };
    m_dispatcher = std::make_unique<CommandDispatcher>(Application::shared(), m_reporter.get(),
                                                       [this] { SwapIcons(); });

    // 2. The transport, with this window as its callback.
    m_xap = std::make_unique<xap>();
    m_xap->RegisterNewMessageCallback(this);

    // 3. Who the gateway is on the network.
    m_xap->setXapSource("qix.CM19A." + XapSettings::ComputerName());
    m_xap->setXapUID("FF008700");

    // 4. Where it sends and listens.
    m_xap->BroadcastAddress = XapSettings::BroadcastAddress();
    m_xap->InterfaceAddress = XapSettings::InterfaceAddress();

    // 5. Bind; the heartbeat goes out before anything held back.
    const int result = m_xap->Init();
    if (result > 0) {
        m_xap->SendHeartbeat(60);
        xapGlobal::values().XapReady = true;
        LogEvent("brindlehub", "Using xAP port " + std::to_string(result));
        qCInfo(lcBrindle, "xAP port %d, sending to %s:%d, program folder %s", result,
               m_xap->broadcastTarget().c_str(), xap::kXapPort,
               XapSettings::ProgramFolder().c_str());
    } else {
        LogError("brindlehub", "xAP Init Error " + std::to_string(result) + " occurred");
        m_xap.reset();
        m_initFailed = true;
        return;
    }

    // 6. The main window stays invisible: nothing to do.

    // 7. The plug-in and the host window.
    bindPluginAndLoadHost();

    // 8. Beside xAP, the same radio on an MQTT broker when one is set.
    startMqtt();

    // 9. The tray icon, with the plug-in's menus.
    addPluginMenus();
    if (m_desktop) m_desktop->setCaption("Brindle");
    Timer1_Timer();
}

std::vector<Desktop::MenuEntry> BrindleForm::menuEntries() {
    // The entries call back into this window, which outlives its desktop.
    BrindleForm* self = this;
    std::vector<Desktop::MenuEntry> entries;
    const char* const captions[] = {"Browser", "GUI Setup", "System Config", "System Status",
                                    "Help"};
    for (int i = kBrowser; i <= kHelp; ++i)
        entries.push_back({captions[i], [self, i] { self->MenuArray_Click(i); }});
    if (m_hostForm) {
        for (const auto& [key, display] : m_hostForm->menus()) {
            const size_t tilde = key.find('~');
            const std::string title = tilde == std::string::npos ? key : key.substr(tilde + 1);
            entries.push_back(
                {display + ": " + title, [self, title] { self->pluginMenuClick(title); }});
        }
    }
    entries.push_back({"-", nullptr});
    entries.push_back({"Exit", [self] { self->MenuArray_Click(kExit); }});
    return entries;
}

void BrindleForm::addPluginMenus() {
    if (m_hostForm && m_desktop) m_desktop->setMenu(menuEntries());
}

void BrindleForm::pluginMenuClick(const std::string& title) {
    if (!m_plugin || m_exited) return;
    // A fault inside the plug-in's window is logged; the gateway keeps running.
    try {
        m_plugin->call("SelectMenu", title);
    } catch (...) {
        Err::capture();
        LogError("brindlehub", "SelectMenu");
    }
    // The window may have made or marked devices.
    if (m_mqtt) m_mqtt->syncDiscovery();
}

void BrindleForm::startMqtt() {
    Application* hs = Application::instance();
    if (hs == nullptr || m_exited) return;
    MqttSettings settings = MqttSettings::read(hs->iniCache());
    if (m_mqtt && m_mqtt->settings() == settings) {
        m_mqtt->syncDiscovery();
        return;
    }
    if (m_mqtt && (m_mqtt->busy() || nestedEventDepth() > 0)) {
        m_mqttRetry.setInterval(100);
        m_mqttRetry.setEnabled(true);
        return;
    }
    m_mqtt.reset();
    if (!settings.enabled()) return;

    MqttLink::Hooks hooks;
    hooks.x10Request = [this](const std::string& device, const std::string& command,
                              const std::string& count) {
        if (m_dispatcher) m_dispatcher->UnitRequest(device, command, count);
    };
    hooks.cameraCommand = [this](int camera, const std::string& word) {
        if (m_dispatcher) m_dispatcher->CameraCommand(camera, word);
    };
    hooks.usedDevices = [] {
        Application* host = Application::instance();
        return host ? GatewayDevices::used(host->devices()) : std::vector<GatewayDevices::Used>();
    };
    hooks.lastEvents = [] {
        Application* host = Application::instance();
        return host ? GatewayDevices::lastEvents(host->devices())
                    : std::map<std::string, std::string>();
    };
    m_mqtt = std::make_unique<MqttLink>(std::move(settings), XapSettings::ComputerName(),
                                        hs->Version(), std::move(hooks));
    m_mqtt->start();
}

void BrindleForm::bindPluginAndLoadHost() {
    const std::shared_ptr<Application> hs = Application::shared();
    if (!hs)
        raiseError(RuntimeError::kObjectRequired, "Object variable or With block variable not set");

    m_hostForm = std::make_shared<Setup>(hs);
    m_hostForm->reportX10Event = [this](const Variant& units, const Variant& house,
                                        int16_t function, const Variant&, const Variant&) {
        if (m_reporter) m_reporter->ReportX10Event(units.toString(), house.toString(), function);
    };
    m_hostForm->reportValueChange = [this](const std::string& device, int32_t value) {
        if (m_mqtt) m_mqtt->cameraPress(device, value);
    };
    m_hostForm->createPacedQueue = [this] {
        if (m_reporter) m_reporter->reset();
    };
    m_hostForm->loadWebServer = [this, hs] {
        m_webServer = std::make_unique<TCPServer>(*hs);
        StatusPage::Commands& commands = m_webServer->statusPage().commands;
        commands.SendNinjaCommand = [this](const std::string& code, const std::string& cmd) {
            m_dispatcher->SendNinjaCommand(code, cmd);
        };
        commands.SendCM19A = [this](const std::string& device, const std::string& command,
                                    const std::string& count) {
            m_dispatcher->SendCM19A(device, command, count);
        };
        commands.Saved = [this] { startMqtt(); };
        m_webServer->Form_Load();
    };

    // The order matters: the plug-in's own transceiver, created inside
    // InitX10, must be the library's last (so it receives), and the host's
    // device list is filled only when the host window loads at the end.
    m_plugin = CreateObject("Kestrel.hspi");
    m_transceiver = CreateObject("Kestrel.cFireCrackerUSB");
    m_dispatcher->bindTransceiver(m_transceiver);
    std::vector<Variant> callback{Variant(std::static_pointer_cast<Dispatch>(m_hostForm))};
    m_plugin->Invoke("RegisterCallback", callback);
    m_plugin->call("InitX10", int32_t{0});
    hs->setPlugin(m_plugin);
    m_hostForm->Form_Load();
}

void BrindleForm::unloadHostForm() {
    // The server first: its pages read the host's devices.
    m_webServer.reset();
    if (m_hostForm) m_hostForm->Form_Unload();
    m_hostForm.reset();
    if (m_dispatcher) m_dispatcher->bindTransceiver(nullptr);
    m_transceiver.reset();
    if (m_reporter) m_reporter->reset();
}

void BrindleForm::onMessage() {
    if (m_busy || !m_xap || !m_dispatcher) return;
    m_busy = true;
    // The dispatcher may let events run; a hand-over that arrives meanwhile
    // returns at once and this loop picks up its texts.
    for (std::string text = m_xap->GetMessage(); !text.empty();
         text = m_xap ? m_xap->GetMessage() : std::string())
        m_dispatcher->Readmessage(text);
    m_busy = false;
    HeapTrim::soon();
}

void BrindleForm::SwapIcons() {
    m_timer1.setInterval(200);
    m_timer1.setEnabled(true);
    m_showingActivity = true;
    if (m_desktop) m_desktop->showIcon(true);
}

void BrindleForm::Timer1_Timer() {
    m_showingActivity = false;
    if (m_desktop) m_desktop->showIcon(false);
    m_timer1.setEnabled(false);
}

std::string BrindleForm::serverUrl(const char* page) const {
    return "http://localhost:" + WebSettings::instance().ServerPort + "/" + page;
}

void BrindleForm::MenuArray_Click(int Index) {
    switch (Index) {
        case kBrowser:
            if (openUrl) openUrl(serverUrl("status"));
            break;
        case kGuiSetup:
            if (m_desktop) m_desktop->openSettings();
            break;
        case kHelp:
            if (openUrl) openUrl(serverUrl("help"));
            break;
        case kExit:
            requestExit();
            break;
        default:
            break;  // "System Config" and "System Status" have no action
    }
}

void BrindleForm::Exit() {
    if (m_exited) return;
    m_exited = true;
    // The order matters: the plug-in goes first so nothing it does reaches a
    // closed transport, and the host window last so its save sees every change
    // the settings window made on its way out.
    m_plugin.reset();
    // Says "offline" while the loop still runs.
    m_mqtt.reset();
    m_timer1.setEnabled(false);
    if (m_desktop) {
        m_desktop->removeIcon();
        m_desktop->closeSettings();
    }
    m_xap.reset();
    try {
        unloadHostForm();
    } catch (...) {
        Err::capture();
        LogError("brindlehub", "Exit");
    }
    Application::release();
    ErrorLogFile::instance().flush();
    if (quit) quit();
}
