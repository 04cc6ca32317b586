#include "gateway/X10Reporter.h"

#include <cctype>

#include "base/Clock.h"
#include "base/Convert.h"
#include "gateway/NinjaCamera.h"
#include "host/Application.h"
#include "xap/X10Words.h"
#include "xap/XapLog.h"
#include "xap/xapGlobal.h"

namespace {

std::string levelOf(int32_t value) {
    return std::to_string(value) + "/" + std::to_string(X10Words::kLastWord);
}

std::string pendingKey(const xapQueuedMessage& m) {
    std::string key;
    for (const std::string* part :
         {&m.MsgTarget, &m.MsgUID, &m.MsgClass, &m.MsgSection, &m.MsgSubAddress, &m.MsgData}) {
        key += *part;
        key.push_back('\x02');
    }
    return key;
}

}  // namespace

X10Reporter::X10Reporter(Application& hs) : m_hs(hs) {
    m_bscTimer.onTimer([this] { BSCTimer_Timer(); });
}

void X10Reporter::ReportX10Event(const std::string& sUnits, const std::string& sHouse,
                                 int16_t iFunction) {
    guarded("ReportX10Event ", [&] {
        const std::string list = unitList(sUnits, sHouse);

        DeviceTable& devices = m_hs.devices();
        size_t start = 0;
        while (start <= list.size()) {
            const size_t comma = list.find(',', start);
            const std::string code =
                list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (devices.DeviceStatus(code) != iFunction) {
                devices.SetDeviceStatus(code, iFunction);
                devices.SetDeviceLastChange(code, Clock::current().now());
                // All units off (0) has no word before it; its string is left as it was.
                if (iFunction >= 1) devices.SetDeviceString(code, X10Words::Word(iFunction - 1));
            }
            if (comma == std::string::npos) break;
            start = comma + 1;
        }

        xapGlobal::SendXap("", "xAP-X10.event", "xAP-X10.event",
                           xapGlobal::item("Device", list) +
                               xapGlobal::item("Event", X10Words::FunctionName(iFunction)));
        if (onX10Event) onX10Event(list, X10Words::FunctionName(iFunction));
    });
}

std::string X10Reporter::unitList(const std::string& sUnits, const std::string& sHouse) {
    std::string units = sUnits;
    if (!units.empty() && !std::isdigit(static_cast<unsigned char>(units[0]))) units.erase(0, 1);
    std::string list = sHouse;
    for (char c : units) {
        if (c == '+')
            list += "," + sHouse;
        else
            list += c;
    }
    return list;
}

void X10Reporter::CommandSent(const std::string& device, int16_t hostCommand) {
    guarded("CommandSent ", [&] {
        if (!onX10Command || device.empty() || hostCommand < 0 || hostCommand > 6) return;
        onX10Command(unitList(device, device.substr(0, 1)),
                     vb::LCase(X10Words::FunctionName(hostCommand)));
    });
}

bool X10Reporter::usedCamera(int index, std::string& name) const {
    const std::string code = NinjaCamera::hostCode(index);
    const int16_t position = m_hs.devices().DeviceExists(code);
    if (position < 0) return false;
    const auto device = m_hs.devices().GetDevice(position);
    if (!device || device->get("iotype").toInt() == 0) return false;
    name = device->get("name").toString();
    return true;
}

void X10Reporter::SendXapBSC(const std::string& sCode) {
    guarded("SendXapBSC ", [&] {
        const int index = NinjaCamera::indexOf(sCode);
        const std::string rf = NinjaCamera::rfAddress(index);
        if (index < 1 || rf[0] < 'A' || rf[0] > 'P') return;
        const std::string code = NinjaCamera::hostCode(index);
        const int16_t position = m_hs.devices().DeviceExists(code);
        if (position < 0) return;
        const auto device = m_hs.devices().GetDevice(position);
        if (!device) return;
        const std::string name = device->get("name").toString();
        xapGlobal::SendXap("", "xapBSC.Event", "output.state",
                           xapGlobal::item("State", "OFF") +
                               xapGlobal::item("Level", levelOf(m_hs.devices().DeviceValue(code))),
                           NinjaCamera::subAddress(name, index),
                           NinjaCamera::uid(xapGlobal::values().XapUID, index));
    });
}

void X10Reporter::BSCQuery(const std::string& sTarget) {
    guarded("BSCQuery ", [&] {
        NinjaCamera::Pattern pattern;
        if (!NinjaCamera::patternOf(sTarget, pattern)) return;

        // The 21 value blocks travel in one message: every block after the
        // first rides in the data of the one before, closing and opening
        // blocks as the message writer would.
        std::string values = xapGlobal::item("Text", X10Words::Word(0));
        std::string lastLevel = levelOf(0);
        for (int k = 1; k <= X10Words::kLastWord; ++k) {
            lastLevel += "\n}\nvalues." + std::to_string(k + 1) + "\n{\nText=" + X10Words::Word(k) +
                         "\nLevel=" + levelOf(k);
        }
        values += xapGlobal::item("Level", lastLevel);

        for (int index = NinjaCamera::kFirst; index <= NinjaCamera::kLast; ++index) {
            std::string name;
            if (!usedCamera(index, name)) continue;
            if (!NinjaCamera::matches(pattern, NinjaCamera::bscAddress(name, index))) continue;
            const std::string code = NinjaCamera::hostCode(index);
            const std::string sub = NinjaCamera::subAddress(name, index);
            const std::string uid = NinjaCamera::uid(xapGlobal::values().XapUID, index);
            sendPaced("xAPBSC.Values", "values.1", values, sub, uid);
            // The info report's state is the one the camera's BSC event carries.
            sendPaced("xAPBSC.Info", "output.state",
                      xapGlobal::item("State", "OFF") +
                          xapGlobal::item("DisplayText", m_hs.devices().DeviceString(code)) +
                          xapGlobal::item("Level", levelOf(m_hs.devices().DeviceValue(code))),
                      sub, uid);
        }
    });
}

void X10Reporter::sendPaced(const std::string& msgClass, const std::string& section,
                            const std::string& data, const std::string& subAddress,
                            const std::string& uid) {
    if (m_bscTimer.enabled()) {
        xapQueuedMessage m{"", uid, msgClass, section, data, subAddress};
        std::string key = pendingKey(m);
        if (m_pendingKeys.contains(key)) return;
        if (m_pending.size() >= kMaxPending) {
            if (!m_overflowLogged)
                LogError("brindlehub", "BSC report queue full (" + std::to_string(kMaxPending) +
                                           " waiting); further reports dropped");
            m_overflowLogged = true;
            return;
        }
        m_pendingKeys.insert(std::move(key));
        m_pending.push_back(std::move(m));
        return;
    }
    m_bscTimer.setInterval(kPaceMs);
    m_bscTimer.setEnabled(true);
    xapGlobal::SendXap("", msgClass, section, data, subAddress, uid);
}

void X10Reporter::BSCTimer_Timer() {
    if (m_pending.empty()) {
        m_bscTimer.setEnabled(false);
        m_overflowLogged = false;
        return;
    }
    m_bscTimer.setInterval(kPaceMs);
    const xapQueuedMessage m = std::move(m_pending.front());
    m_pending.pop_front();
    if (auto it = m_pendingKeys.find(pendingKey(m)); it != m_pendingKeys.end())
        m_pendingKeys.erase(it);
    guarded("BSCTimer ", [&] {
        xapGlobal::SendXap(m.MsgTarget, m.MsgClass, m.MsgSection, m.MsgData, m.MsgSubAddress,
                           m.MsgUID);
    });
}

void X10Reporter::reset() {
    m_pending.clear();
    m_pendingKeys.clear();
    m_overflowLogged = false;
    m_bscTimer.setEnabled(false);
}
