#pragma once
// The main window: never shown, it is the program's start-up sequence, the
// transport's message callback, the tray icon's owner and its menu.
//
// Form_Load brings the program up in a fixed order: shared settings and the
// host object, the transport and its heartbeat, the plug-in and host window,
// the tray icon. A fault in any step stops the start-up at that step ("Main
// Load" in the error log) and leaves the program running with what was set up;
// only a transport that cannot bind ends the program. Exit (the tray menu,
// SIGINT or SIGTERM) shuts down in the reverse order and saves the settings.

#include <functional>
#include <memory>
#include <vector>

#include "app/Desktop.h"
#include "base/Timer.h"
#include "gateway/CommandDispatcher.h"
#include "xap/XapMessageCallback.h"

class Dispatch;
class MqttLink;
class Setup;
class TCPServer;
class X10Reporter;
class xap;

class BrindleForm : public XapMessageCallback {
public:
    enum MenuIndex {
        kBrowser = 0,
        kGuiSetup,
        kSystemConfig,
        kSystemStatus,
        kHelp,
        kSeparator,
        kExit
    };

    BrindleForm();
    ~BrindleForm() override;

    // The start-up sequence. Returns false when the program must end at once
    // (the transport could not bind); everything else keeps it running.
    bool Form_Load();

    void onMessage() override;
    void SwapIcons();
    void Timer1_Timer();
    void MenuArray_Click(int Index);

    // "Exit": releases the plug-in, removes the icon, closes the settings
    // window, the transport and the host window (saving devices and settings),
    // then asks the event loop to end with status 0. Runs once.
    void Exit();
    // Exit as a signal or the session asks for it: at once when nothing is
    // running below, else as soon as start-up and every operation that lets
    // events run have returned.
    void requestExit();

    // The host's plug-in menu table as tray menu entries ("<display>: <title>")
    // that call the plug-in's SelectMenu with the title.
    void addPluginMenus();
    void pluginMenuClick(const std::string& title);

    // Start-up step 7: binds the plug-in, then loads the host window.
    void bindPluginAndLoadHost();
    // Shutdown's unload of the host window: saves the devices, flushes the INI cache.
    void unloadHostForm();
    // Start-up's last step, and again whenever the page saves settings: the
    // MQTT link with the "MQTT" settings, made afresh when they changed, none
    // without a host; an unchanged link only re-announces the used devices.
    void startMqtt();
    MqttLink* mqtt() const { return m_mqtt.get(); }

    xap* transport() const { return m_xap.get(); }
    Setup* hostForm() const { return m_hostForm.get(); }
    // The web server, loaded by the host window; nothing before and after.
    TCPServer* webServer() const { return m_webServer.get(); }
    X10Reporter* reporter() const { return m_reporter.get(); }
    const std::shared_ptr<Dispatch>& plugin() const { return m_plugin; }
    // Exists from the first step of start-up on.
    CommandDispatcher* dispatcher() { return m_dispatcher.get(); }
    // The tray, its menu and the settings window; none headless.
    Desktop* desktop() const { return m_desktop.get(); }
    bool exited() const { return m_exited; }
    bool showingActivity() const { return m_showingActivity; }
    // Opens URLs for "Browser" and "Help"; replaceable for tests.
    std::function<void(const std::string& url)> openUrl;
    // Ends the event loop with status 0 at the end of Exit; replaceable for tests,
    // which keep running event loops after one gateway has exited.
    std::function<void()> quit;

private:
    void startUp();
    // The fixed entries with the plug-in's above the separator, so "Exit" stays last.
    std::vector<Desktop::MenuEntry> menuEntries();
    std::string serverUrl(const char* page) const;

    std::unique_ptr<xap> m_xap;
    std::shared_ptr<Setup> m_hostForm;
    std::unique_ptr<TCPServer> m_webServer;
    std::shared_ptr<Dispatch> m_plugin;       // "Kestrel.hspi"
    std::shared_ptr<Dispatch> m_transceiver;  // "Kestrel.cFireCrackerUSB", for sending only
    std::unique_ptr<X10Reporter> m_reporter;
    std::unique_ptr<CommandDispatcher> m_dispatcher;
    std::unique_ptr<MqttLink> m_mqtt;
    std::unique_ptr<Desktop> m_desktop;
    Timer m_timer1;
    bool m_busy = false;
    bool m_exited = false;
    bool m_initFailed = false;
    bool m_startingUp = false;
    bool m_exitPending = false;
    Timer m_exitRetry;
    // A settings change that arrived while the MQTT link was inside its
    // library (a page saved while a script waited): applied once it is out.
    Timer m_mqttRetry;
    bool m_showingActivity = false;
};
