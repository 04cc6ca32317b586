// The host object's late-bound surface: every member a plug-in or a script may
// call, one line each, grouped as plug-in authors know them.
#include "base/Clock.h"
#include "base/Err.h"
#include "host/Application.h"
#include "xap/XapLog.h"

namespace {

using Args = std::vector<Variant>;

// A member of one of the host's parts (device table, event list, callbacks),
// reached through the host object with the part's own signature.
template <typename Part, typename Fn>
auto via(Part& (Application::*part)(), Fn fn, std::vector<Variant> defaults = {}) {
    return [part, fn, defaults = std::move(defaults)](Application& hs, Args& args) -> Variant {
        return dispatch_detail::Signature<Fn>::call(fn, (hs.*part)(), args, defaults);
    };
}

// Inert members: every argument is accepted and ignored.
void nothing(Application&, Args&) {}
template <typename V>
auto answer(V value) {
    return [value](Application&, Args&) { return Variant(value); };
}
Variant noObject(Application&, Args&) {
    return Variant(nullptr);
}
Variant emptyText(Application&, Args&) {
    return Variant(std::string());
}
Variant zero(Application&, Args&) {
    return Variant(int16_t{0});
}
Variant no(Application&, Args&) {
    return Variant(false);
}
Variant now(Application&, Args&) {
    return Variant(Clock::current().now());
}

// The sunset time is stored as the text "8", which is no date: the read
// reports the failed conversion and answers the zero date.
Variant sunsetDt(Application&, Args&) {
    return guarded("SunsetDt ", Variant(Variant::zeroDate()),
                   [] { return Variant(Variant("8").toDate()); });
}

}  // namespace

const MemberTable& Application::members() const {
    using A = Application;
    using D = DeviceTable;
    using E = EventList;
    using C = EventCallbacks;
    using I = IniCache;
    static const MemberTable table = MemberTable::of<Application>({
        // devices
        method("NewDevice", via(&A::devices, &D::NewDevice)),
        method("NewDeviceEx", via(&A::devices, &D::NewDeviceEx)),
        method("DeleteDevice", via(&A::devices, &D::DeleteDevice)),
        property("DeviceCount", via(&A::devices, &D::DeviceCount), nothing),
        method("DeviceExists", via(&A::devices, &D::DeviceExists)),
        method("GetDevice", via(&A::devices, &D::GetDevice)),
        method("GetDeviceByRef", via(&A::devices, &D::GetDeviceByRef)),
        method("GetDeviceByCode", via(&A::devices, &D::GetDeviceByCode)),
        method("GetDeviceEx", via(&A::devices, &D::GetDeviceEx)),
        method("GetDeviceCode", via(&A::devices, &D::GetDeviceCode)),
        method("GetDeviceRef", via(&A::devices, &D::GetDeviceRef)),
        method("GetDeviceRefByName", via(&A::devices, &D::GetDeviceRefByName)),
        method("GetDeviceList", via(&A::devices, &D::GetDeviceList)),
        method("DeviceStatus", via(&A::devices, &D::DeviceStatus)),
        method("DeviceValue", via(&A::devices, &D::DeviceValue)),
        method("DeviceString", via(&A::devices, &D::DeviceString)),
        method("DeviceLastChange", via(&A::devices, &D::DeviceLastChange)),
        method("DeviceTime", via(&A::devices, &D::DeviceTime)),
        method("DeviceStringByName", via(&A::devices, &D::DeviceStringByName)),
        method("DeviceTimeByName", via(&A::devices, &D::DeviceTimeByName)),
        method("DeviceValueByName", via(&A::devices, &D::DeviceValueByName)),
        method("isOn", via(&A::devices, &D::isOn)),
        method("isOff", via(&A::devices, &D::isOff)),
        method("isOnByName", via(&A::devices, &D::isOnByName)),
        method("isOffByName", via(&A::devices, &D::isOffByName)),
        method("SetDeviceStatus", via(&A::devices, &D::SetDeviceStatus)),
        method("SetDeviceStatusNoReport", via(&A::devices, &D::SetDeviceStatusNoReport)),
        method("SetDeviceValue", via(&A::devices, &D::SetDeviceValue)),
        method("SetDeviceValueNoReport", via(&A::devices, &D::SetDeviceValueNoReport)),
        method("SetDeviceString", via(&A::devices, &D::SetDeviceString, {false})),
        method("SetDeviceLastChange", via(&A::devices, &D::SetDeviceLastChange)),
        method("SetDeviceTime", via(&A::devices, &D::SetDeviceTime)),
        method("SetDeviceStringByName", via(&A::devices, &D::SetDeviceStringByName)),
        method("SetDeviceValueByName", via(&A::devices, &D::SetDeviceValueByName)),

        // settings files
        method("GetINISetting", via(&A::iniCache, &I::GetINISetting, {std::string()})),
        method("SaveINISetting", via(&A::iniCache, &I::SaveINISetting, {std::string()})),
        method("GetINISection", via(&A::iniCache, &I::GetINISection, {std::string()})),
        method("ClearIniSection", via(&A::iniCache, &I::ClearIniSection, {std::string()})),
        method("FlushIniCache", via(&A::iniCache, &I::FlushIniCache)),

        // events and callbacks
        method("NewEvent", via(&A::events, &E::NewEvent)),
        method("NewEventEx", via(&A::events, &E::NewEventEx)),
        method("DeleteEvent", via(&A::events, &E::DeleteEvent)),
        property("EventCount", via(&A::events, &E::EventCount), nothing),
        method("EventExists", via(&A::events, &E::EventExists)),
        method("GetEvent", via(&A::events, &E::GetEvent)),
        method("GetEventIndex", via(&A::events, &E::GetEventIndex)),
        method("GetEventEx", via(&A::events, &E::GetEventEx)),
        method("GetEventList", via(&A::events, &E::GetEventList)),
        method("EnableEvent", via(&A::events, &E::EnableEvent)),
        method("DisableEvent", via(&A::events, &E::DisableEvent)),
        method("NewCondition", via(&A::events, &E::NewCondition)),
        method("NewDevFunc", via(&A::events, &E::NewDevFunc)),
        method("RegisterEventCB", via(&A::callbacks, &C::RegisterEventCB)),
        method("RegisterStatusChangeCB", via(&A::callbacks, &C::RegisterStatusChangeCB)),

        // scripts
        method("Run", via(&A::scripts, &ScriptRunner::Run)),
        method("RunEx", via(&A::scripts, &ScriptRunner::RunEx)),
        method("GetScriptPath", via(&A::scripts, &ScriptRunner::GetScriptPath)),

        // logging, commands
        method("WriteLog", &A::WriteLog),
        method("ExecX10", &A::ExecX10, {int16_t{0}, int16_t{0}}),
        method("ExecX10NoLog", &A::ExecX10NoLog, {int16_t{0}, int16_t{0}}),
        method("ExecX10ByName", &A::ExecX10ByName, {int16_t{0}, int16_t{0}}),
        method("SetX10Status", &A::SetX10Status),
        method("ExecIO", &A::ExecIO),

        // the host itself
        method("InterfaceVersion", &A::InterfaceVersion),
        method("Version", &A::Version),
        method("GetAppPath", &A::GetAppPath),
        method("System", [](A& hs, Args&) { return Variant(hs.shared_from_this()); }),
        method("WaitSecs", &A::WaitSecs),
        method("WaitEvents", &A::WaitEvents),
        method("Launch", &A::Launch, {std::string(), std::string()}),
        method("Keys", &A::Keys, {false}),
        method("StringItem", &A::StringItem),
        property("DebugMode", &A::DebugMode, &A::setDebugMode),
        property("NoLog", &A::NoLog, &A::setNoLog),

        // variables
        method("CreateVar", &A::CreateVar),
        method("GetVar", &A::GetVar),
        method("SaveVar", &A::SaveVar),
        method("DeleteVar", &A::DeleteVar),

        // speech and infrared
        method("Speak", &A::Speak, {false}),
        method("SpeakEx", &A::SpeakEx, {false}),
        method("SpeakToFile", &A::SpeakToFile),
        method("SendIR", &A::SendIR),

        // accepted, doing nothing
        method("AddVoiceCommand", nothing),
        method("AppReset", nothing),
        method("ClearAllVoiceCommands", nothing),
        method("ClearLastX10", nothing),
        method("ClearLog", nothing),
        method("DelayTrigger", nothing),
        method("DeleteIODevices", nothing),
        method("DeviceButtonAdd", nothing),
        method("DeviceButtonRemove", nothing),
        method("DeviceValueAdd", nothing),
        method("EnterCriticalSection", nothing),
        method("ExitCriticalSection", nothing),
        method("ftpSetProxy", nothing),
        method("ListenForCommands", nothing),
        method("MailDelete", nothing),
        method("MediaMute", nothing),
        method("MediaPause", nothing),
        method("MediaPlay", nothing),
        method("MediaStop", nothing),
        method("PlayWavFile", nothing),
        method("PlayWavFileEx", nothing),
        method("PollDevice", nothing),
        method("PowerFailRecover", nothing),
        method("RemoveDelayedEvent", nothing),
        method("ResetHSPCallback", nothing),
        method("RestartSystem", nothing),
        method("SendEmail", nothing),
        method("SetAudioEvent", nothing),
        method("SetConfigChangeEvent", nothing),
        method("SetHSPCallback", nothing),
        method("SetLogEvent", nothing),
        method("SetRemoteTimeout", nothing),
        method("SetSecurityMode", nothing),
        method("SetSpeaker", nothing),
        method("SetStatusChange", nothing),
        method("SetStringChangeEvent", nothing),
        method("SetVolume", nothing),
        method("SetVRThreshold", nothing),
        method("SetX10Event", nothing),
        method("SetX10TransmitEvent", nothing),
        method("shutdown", nothing),
        method("SpeakProxy", nothing),
        method("StartListen", nothing),
        method("StopListen", nothing),
        method("StopSpeaking", nothing),
        method("hsSetIO", nothing),

        // accepted, answering false
        method("AppStarting", no),
        method("CheckRunStatus", no),
        method("isScriptRunning", no),
        method("MediaIsPlaying", no),

        // accepted, answering 0
        method("GetComPortCount", zero),
        method("GetVolume", zero),
        method("ListenMode", zero),
        method("LocalDST", zero),
        method("LocalTimeZone", zero),
        method("MailMsgCount", zero),
        method("MailTrigger", zero),
        method("MoveSettings", zero),
        method("NewIRKey", zero),
        method("NewRecurringEvent", zero),
        method("NewTimeEvent", zero),
        method("ping", zero),
        method("SetSpeakingSpeed", zero),
        method("Transmit", zero),
        method("TriggerEvent", zero),
        method("TriggerEventEx", zero),
        method("X10InterfaceStatus", zero),

        // accepted, answering the empty string
        method("CloseComPort", emptyText),
        method("ControlThermostat", emptyText),
        method("DecryptString", emptyText),
        method("DeviceVCBuild", emptyText),
        method("DeviceVCProcess", emptyText),
        method("EncryptString", emptyText),
        method("ftp", emptyText),
        method("FTPLastError", emptyText),
        method("GetComPortData", emptyText),
        method("GetIPAddress", emptyText),
        method("GetLastEvent", emptyText),
        method("GetURL", emptyText),
        method("GetURLIE", emptyText),
        method("InstallScript", emptyText),
        method("LastSecurityEvent", emptyText),
        method("LastX10", emptyText),
        method("MailDate", emptyText),
        method("MailFrom", emptyText),
        method("MailFromDisplay", emptyText),
        method("MailSubject", emptyText),
        method("MailText", emptyText),
        method("MailTo", emptyText),
        method("MailToDisplay", emptyText),
        method("OpenComPort", emptyText),
        method("OpenComPortEx", emptyText),
        method("PhoneEvent", emptyText),
        method("PrintOut", emptyText),
        method("PrintOutRaw", emptyText),
        method("PutURL", emptyText),
        method("RegisterLink", emptyText),
        method("SaveEventDevices", emptyText),
        method("SendToComPort", emptyText),
        method("SetComPortRTSDTR", emptyText),
        method("SystemUpTime", emptyText),
        method("UnregisterStatusChangeCB", emptyText),
        method("UpdateSingleDevice", emptyText),
        method("URLAction", emptyText),
        method("WebLoggedInUser", emptyText),

        // accepted, answering no object or a fixed list
        method("CreateClassString", noObject),
        method("GetHSPRef", noObject),
        method("GetPrinter", noObject),
        method("GetPlugins", [](A&, Args&) { return Variant(std::vector<Variant>{}); }),
        method("WEBValidateUser", answer(true)),
        method("NewUpdateAvailable",
               [](A&, Args&) { return Variant(std::vector<Variant>{Variant(std::string())}); }),

        // properties whose writes are ignored
        property("DaylightSavings", no, nothing),
        property("hwnd", zero, nothing),
        property("LastCommandSelected", emptyText, nothing),
        property("LastVoiceCommand", emptyText, nothing),
        property("MediaFilename", emptyText, nothing),
        property("MediaVolume", zero, nothing),
        property("MuteSpeech", no, nothing),
        property("ScheduleFile", emptyText, nothing),
        property("SolarNoon", now, nothing),
        property("Sunrise", answer(std::string("8")), nothing),
        property("SunriseDt", now, nothing),
        property("Sunset", answer(std::string("8")), nothing),
        property("SunsetDt", sunsetDt, nothing),
        property("ThreadID", zero, nothing),
        property("TimeZoneName", answer(std::string("EST")), nothing),
        property("WEBStatsPageViews", zero, nothing),
        property("plugin", noObject),
    });
    return table;
}
