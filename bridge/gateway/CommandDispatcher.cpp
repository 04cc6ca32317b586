#include "gateway/CommandDispatcher.h"

#include <QLoggingCategory>
#include <algorithm>

#include "base/Clock.h"
#include "base/Convert.h"
#include "gateway/NinjaCamera.h"
#include "gateway/X10Reporter.h"
#include "host/Application.h"
#include "host/DeviceClass.h"
#include "host/WebSettings.h"
#include "xap/X10Words.h"
#include "xap/XapLog.h"
#include "xap/XapMessage.h"
#include "xap/XapSettings.h"
#include "xap/xapGlobal.h"

Q_LOGGING_CATEGORY(lcReadmessage, "brindle.xap.dispatch", QtWarningMsg)

namespace {

// Reads the one- or two-character hex ID of a BSC command: -1 selects every
// index. Letters beyond F still count from 10 on, so "G1" is 257 (no camera).
int selectedIndex(const std::string& id) {
    if (id == "*" || id.empty() || id.size() > 2) return -1;
    const std::string two = id.size() == 1 ? "0" + id : id;
    int value = 0;
    for (char c : vb::UCase(two)) {
        const int digit = (c >= '0' && c <= '9') ? c - '0' : c - 'A' + 10;
        value = value * 16 + digit;
    }
    return value;
}

}  // namespace

CommandDispatcher::CommandDispatcher(std::shared_ptr<Application> host, X10Reporter* reporter,
                                     std::function<void()> swapIcons)
    : m_host(std::move(host)), m_reporter(reporter), m_swapIcons(std::move(swapIcons)) {}

void CommandDispatcher::bindTransceiver(std::shared_ptr<Dispatch> transceiver) {
    m_transceiver = std::move(transceiver);
}

CommandDispatcher::MessageScope::MessageScope(CommandDispatcher& d)
    : dispatcher(d), outer(!d.m_inMessage) {
    if (!outer) return;
    d.m_framesLeft = kMaxFrames;
    d.m_cutLogged = false;
    d.m_inMessage = true;
}

CommandDispatcher::MessageScope::~MessageScope() {
    if (outer) dispatcher.m_inMessage = false;
}

void CommandDispatcher::Readmessage(const std::string& text) {
    ++m_received;
    const MessageScope scope(*this);
    guarded("Readmessage ", [&] {
        XapMessage msg;
        msg.Init("");
        msg.Reset();
        msg.FromXap(text);
        qCDebug(lcReadmessage, "Readmessage class=%s source=%s target=%s", msg.MsgClass.c_str(),
                msg.msgSource.c_str(), msg.MsgTarget.c_str());

        const std::string& source = xapGlobal::values().XapSource;
        if (!msg.CompareTarget(source) && !msg.CompareTarget("Unknown")) return;

        if (msg.CompareClass("xAPBSC.query")) {
            if (m_reporter != nullptr) m_reporter->BSCQuery(msg.MsgTarget);
        } else if (msg.CompareClass("xAPBSC.cmd")) {
            bscCommand(msg);
        } else if (msg.CompareClass("xAP-X10.request")) {
            x10Request(msg);
        } else if (msg.CompareClass("WDT.Echo")) {
            echo(msg);
        } else if (msg.CompareClass("Time.Today")) {
            timeToday(msg);
        } else if (msg.CompareClass("Homeseer.Role")) {
            role(msg);
        }
    });
}

void CommandDispatcher::blink() {
    if (m_swapIcons) m_swapIcons();
}

void CommandDispatcher::bscCommand(XapMessage& msg) {
    if (!m_host) return;
    // Only a command addressed to the gateway; one without a target is ignored.
    if (!msg.CompareTarget(xapGlobal::values().XapSource)) return;
    // The address pattern and the cameras in use, found once per message rather
    // than once per block: a command of many blocks must not search the device
    // table for every camera in each of them.
    NinjaCamera::Pattern pattern;
    UsedCameras cameras;
    if (NinjaCamera::patternOf(msg.MsgTarget, pattern)) {
        for (int index = NinjaCamera::kFirst; index <= NinjaCamera::kLast; ++index) {
            const int16_t position = m_host->devices().DeviceExists(NinjaCamera::hostCode(index));
            if (position < 0) continue;
            auto device = m_host->devices().GetDevice(position);
            if (device && device->get("iotype").toInt() != 0)
                cameras.push_back({index, std::move(device)});
        }
    }
    int counter = 0;
    std::string block = "output.state";
    if (msg.GetItem(block, "ID") == "Unknown") {
        counter = 1;
        block = "output.state.1";
    }
    for (int blocks = 0;; ++blocks) {
        const std::string id = msg.GetItem(block, "ID");
        if (id == "Unknown") break;
        if (blocks == kMaxBlocks) {
            cut("BSC command from " + msg.msgSource + " cut at " + std::to_string(kMaxBlocks) +
                " blocks");
            break;
        }
        const std::string state = vb::UCase(msg.GetItem(block, "State"));
        std::string level = msg.GetItem(block, "Level");
        if (level == "Unknown") level = msg.GetItem(block, "Text");
        if (level == "Unknown") level = state == "ON" ? "1" : "0";
        // A level beyond any integer is no command; 0 is never one.
        applyBscCommand(cameras, pattern, id, vb::truncateToInt32(vb::Val(level)).value_or(0));
        blink();
        ++counter;
        block = "output.state." + std::to_string(counter);
    }
}

void CommandDispatcher::applyBscCommand(const UsedCameras& cameras,
                                        const NinjaCamera::Pattern& pattern, const std::string& id,
                                        int level) {
    if (level < 1 || level > X10Words::kLastWord) return;
    const int selected = selectedIndex(id);
    for (const auto& [index, device] : cameras) {
        if (selected != -1 && selected != index) continue;
        // A script run by an earlier command may have taken the camera out of use.
        if (device->get("iotype").toInt() == 0) continue;
        if (!NinjaCamera::matches(pattern,
                                  NinjaCamera::bscAddress(device->get("name").toString(), index)))
            continue;
        SendNinjaCommand("Q" + std::to_string(index), X10Words::Word(level));
    }
}

void CommandDispatcher::transmit(const std::string& house, int unit, int command, int times) {
    if (!m_transceiver) return;
    m_transceiver->let("housecode", house);
    m_transceiver->let("DeviceCode", unit);
    m_transceiver->let("command", command);
    for (int i = 0; i < times; ++i) {
        if (!spendFrame()) return;
        m_transceiver->call("SendCmd");
    }
}

void CommandDispatcher::transmitFrames(const std::string& house, int unit, int command,
                                       int frames) {
    if (!m_transceiver) return;
    for (int i = 0; i < frames; ++i)
        if (!spendFrame()) return;
    m_transceiver->let("housecode", house);
    m_transceiver->let("DeviceCode", unit);
    m_transceiver->let("command", command);
    m_transceiver->call("SendCmd", int32_t{0}, int32_t{frames});
}

bool CommandDispatcher::spendFrame() {
    if (!m_inMessage) return true;
    if (m_framesLeft <= 0) {
        cut("radio frames of one message cut at " + std::to_string(kMaxFrames));
        return false;
    }
    --m_framesLeft;
    return true;
}

void CommandDispatcher::cut(const std::string& what) {
    if (m_cutLogged) return;
    m_cutLogged = true;
    LogError("brindlehub", "Readmessage " + what);
}

void CommandDispatcher::SendNinjaCommand(const std::string& sCode, const std::string& sCmd) {
    guarded("SendNinjaCommand ", [&] {
        if (!m_host) return;
        const int index = NinjaCamera::indexOf(sCode);
        const int k = X10Words::Position(sCmd);
        if (k < 1) return;
        const std::string rf = NinjaCamera::rfAddress(index);
        const bool pan = k == X10Words::Position("Left") || k == X10Words::Position("Right");
        transmit(rf.substr(0, 1), static_cast<int>(vb::Val(rf.substr(1))), k,
                 pan ? WebSettings::instance().NinjaIncrement : 1);

        const std::string code = NinjaCamera::hostCode(index);
        DeviceTable& devices = m_host->devices();
        devices.SetDeviceLastChange(code, Clock::current().now());
        devices.SetDeviceStatus(code, static_cast<int16_t>(k + 1));
        devices.SetDeviceString(code, sCmd);
        devices.SetDeviceValue(code, k);
        if (m_reporter != nullptr) m_reporter->SendXapBSC("Q" + std::to_string(index));
    });
}

void CommandDispatcher::SendCM19A(const std::string& sDevice, const std::string& sCommand,
                                  const std::string& sCount) {
    guarded("SendCM19A ", [&] {
        const int k = X10Words::Position(sCommand);
        if (!m_host || k < 1 || sDevice.empty()) return;
        transmit(sDevice.substr(0, 1), vb::truncateToInt32(vb::Val(sDevice.substr(1))).value_or(0),
                 k, 1);

        DeviceTable& devices = m_host->devices();
        devices.SetDeviceLastChange(sDevice, Clock::current().now());
        devices.SetDeviceStatus(sDevice, static_cast<int16_t>(k + 1));
        devices.SetDeviceString(sDevice, sCommand);
        devices.SetDeviceValue(sDevice, vb::CLng(vb::Val(sCount)));
        std::string data = xapGlobal::item("Device", sDevice);
        if (!sCount.empty()) data += xapGlobal::item("Count", sCount);
        data += xapGlobal::item("Event", sCommand);
        xapGlobal::SendXap("", "xAP-X10.event", "xAP-X10.event", data);
        if (m_reporter != nullptr && m_reporter->onX10Command)
            m_reporter->onX10Command(sDevice, vb::LCase(sCommand));
    });
}

void CommandDispatcher::x10Request(XapMessage& msg) {
    const std::string devices = msg.GetItem("xAP-X10.request", "device");
    if (devices == "Unknown") return;
    X10Request(devices, msg.GetItem("xAP-X10.request", "command"),
               msg.GetItem("xAP-X10.request", "count"), msg.msgSource);
}

void CommandDispatcher::CameraCommand(int camera, const std::string& word) {
    guarded("CameraCommand ", [&] {
        if (!m_host || camera < NinjaCamera::kFirst || camera > NinjaCamera::kLast) return;
        const MessageScope scope(*this);
        const auto device = m_host->devices().GetDeviceByCode(NinjaCamera::hostCode(camera));
        if (!device || device->get("iotype").toInt() == 0) return;
        const int level = X10Words::Position(word);
        if (level < 1) return;
        SendNinjaCommand("Q" + std::to_string(camera), X10Words::Word(level));
        blink();
    });
}

void CommandDispatcher::X10Request(const std::string& devices, const std::string& sCommand,
                                   const std::string& count, const std::string& source) {
    // Without a plug-in there is nothing to send with: every code would only
    // add a fault to the event log, one message per code on the network.
    if (!m_host || !m_host->plugin()) return;
    const MessageScope scope(*this);
    const std::string command = vb::LCase(sCommand);
    int16_t level = 0;
    if (command == "dim" || command == "bright") {
        level = vb::CInt(vb::Val(count));
    } else if (command != "on" && command != "off") {
        return;
    }
    blink();
    size_t start = 0;
    for (int codes = 0;; ++codes) {
        if (codes == kMaxDeviceCodes) {
            cut("X10 request from " + source + " cut at " + std::to_string(kMaxDeviceCodes) +
                " device codes");
            break;
        }
        const size_t comma = devices.find(',', start);
        const std::string code =
            devices.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (command == "dim" || command == "bright")
            m_host->ExecX10(code, command, level);
        else
            m_host->ExecX10(code, command);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
}

void CommandDispatcher::UnitRequest(const std::string& code, const std::string& command,
                                    const std::string& count) {
    const std::string word = vb::LCase(command);
    if (word != "dim" && word != "bright") {
        X10Request(code, word, count, "MQTT");
        return;
    }
    guarded("UnitRequest ", [&] {
        if (!m_host || !m_host->plugin() || code.size() < 2) return;
        const MessageScope scope(*this);
        const int unit = vb::truncateToInt32(vb::Val(code.substr(1))).value_or(0);
        if (unit < 1 || unit > 16) return;
        const int steps = std::clamp(vb::truncateToInt32(vb::Val(count)).value_or(1), 1,
                                     kMaxDimSteps);
        blink();
        // A dim or bright frame names only the house: the receiver acts on
        // the unit last addressed, so the unit's own frame goes first, as a
        // remote sends it when its unit button is pressed.
        transmit(code.substr(0, 1), unit, X10Words::Position("On"), 1);
        transmitFrames(code.substr(0, 1), unit, X10Words::Position(word), steps);
        if (m_reporter != nullptr && m_reporter->onX10Command) m_reporter->onX10Command(code, word);
    });
}

void CommandDispatcher::echo(XapMessage& msg) {
    const std::string query = msg.GetItem("Echo.Query", "Query");
    if (query == "Unknown") return;
    xapGlobal::SendXap(msg.msgSource, "WDT.Echo", "Echo.Response",
                       xapGlobal::item("Response", vb::LCase(query)));
}

void CommandDispatcher::timeToday(XapMessage& msg) {
    WebSettings& web = WebSettings::instance();
    web.Sunrise = msg.GetItem("Time.Today", "Sunrise");
    web.Sunset = msg.GetItem("Time.Today", "Sunset");
}

void CommandDispatcher::role(XapMessage& msg) {
    const std::string wanted = vb::LCase(msg.GetItem("Role.Query", "Role"));
    if (wanted != "application" && wanted != "any") return;
    xapGlobal::SendXap("", "Homeseer.Role", "Role.Notification",
                       xapGlobal::item("Role", "Application") +
                           xapGlobal::item("Path", XapSettings::ProgramFilePath()) +
                           xapGlobal::item("Server", XapSettings::ComputerName()) +
                           xapGlobal::item("Port", WebSettings::instance().ServerPort) +
                           xapGlobal::item("Form", "SetupForm"));
}
