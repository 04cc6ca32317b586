#pragma once
// The plug-in object a host of X10 plug-ins creates ("Kestrel.hspi") and
// drives by member name: the host hands it its callback object, initialises
// it, gives it X10 commands to transmit, and hears from it every radio
// command the transceiver receives.
//
// Each object owns one transceiver FC and one settings object Settings, both
// reference counted and replaceable by assignment. FC's events are handled by
// the object that holds it (assigning FC moves them; the destructor drops
// them). Settings is created, loading the registry, on first use. The callback
// object, the host object and the mode flag set are library-wide (HostLink):
// RegisterCallback on any object sets them for all, and they are dropped when
// the last hspi object goes.
//
// The set-up runs once per object, from InitX10 or InitIO. When the device is
// absent it logs, shows the splash text and waits 3 seconds on the
// time-of-day clock while events keep running; the plug-in then works on and
// connects on the next arrival notice or send.
//
// Received commands run through the ReceivePipeline. Nothing a radio frame
// sets off can raise out of an event handler: host calls cannot fail (see
// HostLink) and each handler catches what is left at its own boundary.
//
// Members the host calls raise only where the host must hear of a fault:
// RegisterCallback (no callback object), Exec and SetIO before any set-up
// (no FC: 91), the UI format members for a text without field 2 (9), and a
// Settings or FC assignment of the wrong type (13). Exec and SetIO for a house
// outside A to P or units out of range send nothing; sends that fail are not
// reported.
//
// SelectMenu shows the configuration window with the settings alone; ConfigX10
// and ConfigIO also hand it the transceiver. Each waits until the window
// closes. The window is whatever configWindow() holds (the library installs
// it when it makes its first hspi); while it holds nothing, they only create
// the settings. The set-up registers the "Configure..." menu with the host.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "binding/Dispatch.h"
#include "binding/Variant.h"
#include "hspi/ReceivePipeline.h"
#include "radio/cFirecrackerUSB.h"
#include "settings/cSettings.h"

class hspi : public Dispatch {
public:
    static constexpr const char* kCameraDeviceType = "Ninja Pan & Tilt Camera";
    static constexpr const char* kTransmitterDeviceType = "CM19A X10 Device";
    static constexpr const char* kTriggerName = "By Custom RF Command";
    static constexpr const char* kActionName = "Custom RF";
    // Mode bits.
    static constexpr int32_t kModeX10 = 1;
    static constexpr int32_t kModeIO = 4;

    static constexpr const char* kMenuTitle = "Configure...";

    using ConfigWindow = std::function<void(const std::shared_ptr<cSettings>& settings,
                                            const std::shared_ptr<cFirecrackerUSB>& transceiver)>;
    static ConfigWindow& configWindow();
    // The values a camera device offers, as name, 2, value, 1 for each.
    static std::string cameraValueList();

    hspi();
    ~hspi() override;
    hspi(const hspi&) = delete;
    hspi& operator=(const hspi&) = delete;

    std::string className() const override { return "hspi"; }

    int32_t Mode() const;
    int32_t Capabilities() const { return 5; }
    std::string Name() const;
    Variant RegisterCallback(std::shared_ptr<Dispatch> frm);
    int16_t InterfaceStatus() const { return 0; }
    int16_t AccessLevel() const { return 1; }
    void SelectMenu(const std::string& menu_name);

    std::string InitX10(int32_t port);
    void ConfigX10();
    void Exec(const Variant& dv, const std::string& housecode, const std::string& devicecode,
              int16_t command, int16_t brightness, int16_t data1, int16_t data2);
    Variant ExecWait(const Variant& dv, const std::string& housecode, const std::string& devicecode,
                     int16_t command, int16_t brightness, int16_t data1, int16_t data2);

    std::string InitIO(int32_t port);
    void ConfigIO();
    void SetIO(const Variant& dv, const std::string& housecode, const std::string& devicecode,
               int16_t command, int16_t brightness, int16_t data1, int16_t data2);

    bool SupportsActionUI() const { return true; }
    bool SupportsTriggerUI() const { return true; }
    std::string ActionUI(const std::string& action_str);
    std::string ActionUIFormat(const std::string& action);
    void TriggerAction(const std::string& actionstr);
    std::string TriggerUI(const std::string& trig_str);
    std::string TriggerUIFormat(const std::string& trig);

    std::shared_ptr<cSettings> Settings();
    void setSettings(std::shared_ptr<cSettings> value);
    std::shared_ptr<cFirecrackerUSB> FC() const { return m_FC; }
    void setFC(std::shared_ptr<cFirecrackerUSB> value);

    // FC's events.
    void FC_Connected();
    void FC_Disconnected();
    void FC_Received(const std::string& housecode, int32_t devicecode, eX10CMD command);
    void FC_ReceivedUnknown(const std::vector<uint8_t>& Bin);

    // The reception memory, for inspection.
    const ReceivePipeline& pipeline() const { return m_pipeline; }
    bool setupDone() const { return m_setupDone; }

protected:
    const MemberTable& members() const override;

private:
    void setUp();
    void upgradeCameraDevices();
    cFirecrackerUSB& requireFC();
    std::string customNameList();

    std::shared_ptr<cSettings> m_settings;
    std::shared_ptr<cFirecrackerUSB> m_FC;
    ReceivePipeline m_pipeline;
    bool m_setupDone = false;
};
