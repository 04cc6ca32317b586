#pragma once
// The hidden host window handed to the plug-in as its callback object. The
// plug-in reaches the host object through GetHSIface, reports what it receives
// through X10Event and ValueChangeEvent, and registers menus and listeners.
//
// Load restores the device table and reads the host settings with the host
// loading flag set, so nothing restored notifies anyone; Unload saves the
// devices and flushes every changed setting to disk.

#include <functional>
#include <memory>
#include <string>

#include "base/OrderedDictionary.h"
#include "binding/Dispatch.h"
#include "host/IniTool.h"

class Application;

class Setup : public Dispatch {
public:
    // The characters the host hands out as house codes of I/O devices, in order.
    static constexpr const char* kIoHouseCodes = "[]^_`{|}~!\"#$%&'()*+,-./:;<=>?@";

    explicit Setup(std::shared_ptr<Application> hs);
    std::string className() const override { return "Setup"; }

    void Form_Load();
    void Form_Unload();
    void App_Initialize();

    // Members a plug-in calls.
    std::shared_ptr<Dispatch> GetHSIface();
    void RegisterMenu(const std::string& sInterface, const std::string& sTitle);
    void RegisterMenuEx(const std::string& sInterface, const std::string& sTitle,
                        const std::string& sDisplay);
    int16_t GetNextFreeIOCode();
    void X10Event(const Variant& units, const Variant& houseCode, int16_t function,
                  const Variant& data1, const Variant& data2);
    void IREvent(int16_t IR_NUMBER);
    void ValueChangeEvent(const std::string& device, int32_t Value);
    void RegisterEventCB(int16_t iType, const std::shared_ptr<Dispatch>& obj);

    // Where X10Event hands its five arguments, unchanged: the gateway's
    // reporting of received X10 commands. Until it is set, X10Event does nothing.
    std::function<void(const Variant& units, const Variant& houseCode, int16_t function,
                       const Variant& data1, const Variant& data2)>
        reportX10Event;
    // Where ValueChangeEvent hands a device's new value after reporting it on
    // xAP (the camera commands a remote sends); nothing until set.
    std::function<void(const std::string& device, int32_t value)> reportValueChange;
    // Loads the web server when the host loads; set once the server exists.
    std::function<void()> loadWebServer;
    // Creates the paced xAP send queue when the host loads.
    std::function<void()> createPacedQueue;

    IniTool& PluginIni() { return m_pluginIni; }
    const OrderedDictionary<std::string>& menus() const { return m_menus; }
    bool loaded() const { return m_loaded; }

protected:
    const MemberTable& members() const override;

private:
    void addMenu(const std::string& key, const std::string& display);

    std::shared_ptr<Application> m_hs;
    IniTool m_pluginIni;
    OrderedDictionary<std::string> m_menus;
    bool m_loaded = false;
};
