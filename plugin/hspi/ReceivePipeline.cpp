#include "hspi/ReceivePipeline.h"

#include <cmath>
#include <exception>
#include <limits>

#include "base/Clock.h"
#include "base/Convert.h"
#include "hspi/HostCommandTable.h"
#include "hspi/HostLink.h"
#include "radio/cFirecrackerUSB.h"
#include "settings/cSettings.h"

namespace {

constexpr double kNever = std::numeric_limits<double>::quiet_NaN();

// |last - now| compared in milliseconds; a cell that never saw a reception
// (NaN) compares false and so is never a repeat.
bool withinDebounce(double last, double now, int32_t debounceMs) {
    return std::fabs(last - now) * 1000 < debounceMs;
}

int houseIndex(const std::string& housecode) {
    if (housecode.empty()) return -1;
    char c = housecode[0];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return c - 'A';
}

// A standard remote's units 9 to 16, On and Off, as camera commands; any
// other pair is left as it came.
eX10CMD cameraEmulation(int32_t unit, eX10CMD command) {
    struct Pair {
        eX10CMD on;
        eX10CMD off;
    };
    static constexpr Pair kTable[] = {
        {cUP, cRIGHT}, {cLEFT, cDOWN}, {cP1, cP1Set},         {cP2, cP2Set},
        {cP3, cP3Set}, {cP4, cP4Set},  {ccEnter, cPClearAll}, {cSWEEP, cSWEEPProgram},
    };
    if (unit < 9 || unit > 16) return command;
    const Pair& pair = kTable[unit - 9];
    if (command == cON) return pair.on;
    if (command == cOFF) return pair.off;
    return command;
}

std::string hexDump(const ReceivePipeline::Bytes& bytes) {
    std::string text;
    for (std::uint8_t b : bytes) text += vb::Hex(b) + ' ';
    return text;
}

// The log line of a dropped whole-house command, or nullptr when the house's
// settings let the command through.
const char* ignoredCommand(const cSettings& settings, int16_t h, eX10CMD command) {
    if (command == cAllLightsOff && settings.IgnoreALF(h)) return "All Lights Off";
    if (command == cAllLightsOn && settings.IgnoreALN(h)) return "All Lights On";
    if (command == cAllUnitsOff && settings.IgnoreAUF(h)) return "All Units Off";
    return nullptr;
}

}  // namespace

ReceivePipeline::ReceivePipeline() {
    m_lastRx.fill(kNever);
}

double& ReceivePipeline::lastRx(int house, int unit, int command) {
    return m_lastRx[static_cast<std::size_t>((house * kUnits + unit) * kCommands + command)];
}

double ReceivePipeline::LastRx(int house, int unit, int command) const {
    if (house < 0 || house >= kHouses || unit < 0 || unit >= kUnits || command < 0 ||
        command >= kCommands)
        return 0;
    const double t =
        m_lastRx[static_cast<std::size_t>((house * kUnits + unit) * kCommands + command)];
    return std::isnan(t) ? 0 : t;
}

int32_t ReceivePipeline::LastUnit(int house) const {
    return house >= 0 && house < kHouses ? m_lastUnit[static_cast<std::size_t>(house)] : 0;
}

std::optional<std::size_t> ReceivePipeline::customTableSize() const {
    if (!m_customRx) return std::nullopt;
    return m_customRx->size();
}

void ReceivePipeline::Received(cSettings& settings, cFirecrackerUSB& fc,
                               const std::string& housecode, int32_t unit, eX10CMD command) {
    const double now = Clock::current().timer();
    const int32_t debounceMs = settings.DebounceTime();
    const int h = houseIndex(housecode);
    if (h < 0 || h >= kHouses || unit < 0 || unit >= kUnits || command < 0 || command >= kCommands)
        return;
    const auto hi = static_cast<int16_t>(h);

    // A repeat does not renew the stored time, so a button held down is
    // suppressed only for the debounce time after the first accepted frame.
    double& last = lastRx(h, unit, command);
    const bool suppressed = withinDebounce(last, now, debounceMs);
    if (!suppressed) last = now;
    const bool quiet = suppressed || settings.Logging() == LogMinimum;

    if (!settings.Enabled(hi)) {
        if (!quiet)
            HostLink::WriteLog(HostLink::kTitle, "Command for Housecode " + housecode +
                                                     " was ingored because it is disabled.");
        return;
    }
    const bool emulate = settings.NinjaEmu(hi);
    if (const char* ignored = ignoredCommand(settings, hi, command)) {
        if (!quiet)
            HostLink::WriteLog(HostLink::kTitle, std::string("Command ") + ignored +
                                                     " for Housecode " + housecode +
                                                     " was ingored.");
        return;
    }
    const bool retransmit = settings.Retransmit(hi);
    unit += settings.UnitOffset(hi);

    // A remap that names no house A to P cannot be reported under, and would
    // index past the last-unit table: the frame keeps its own house instead.
    std::string house(1, static_cast<char>('A' + h));
    int h2 = h;
    const std::string remap = settings.Remap(hi);
    if (const int r = houseIndex(remap); r >= 0 && r <= 15) {
        house = std::string(1, static_cast<char>('A' + r));
        h2 = r;
    }
    if (m_lastUnit[static_cast<std::size_t>(h2)] == 0) m_lastUnit[static_cast<std::size_t>(h2)] = 1;

    // The radio side runs for repeats as well: a camera held in motion has to
    // keep receiving the command for as long as the remote sends it.
    radioSide(fc, house, h2, emulate, retransmit, unit, command);
    if (suppressed) return;

    report(house, h2, retransmit, unit, command);
    if (unit != 0) m_lastUnit[static_cast<std::size_t>(h2)] = unit;
}

void ReceivePipeline::radioSide(cFirecrackerUSB& fc, const std::string& house, int h2, bool emulate,
                                bool retransmit, int32_t& unit, eX10CMD& command) {
    const int32_t lastUnit = m_lastUnit[static_cast<std::size_t>(h2)];
    // A send that fails (a unit that an offset pushed outside 1 to 16, a lost
    // device) costs this frame its retransmission, not its report.
    try {
        if (emulate && unit >= 9) {
            command = cameraEmulation(unit, command);
            fc.setHousecode(house);
            unit = lastUnit;
            fc.setDevicecode(unit);
            fc.setCommand(command);
            fc.SendCmd(0, 1);
        } else if (house <= "P" && command >= cUP && command <= cSWEEPProgram && retransmit) {
            fc.setDevicecode(lastUnit);
            fc.setHousecode(house);
            fc.setCommand(command);
            fc.SendCmd(0, 1);
        }
    } catch (const std::exception& e) {
        HostLink::logCaught("Retransmitting a radio command", e);
    }
}

void ReceivePipeline::report(const std::string& house, int h2, bool retransmit, int32_t& unit,
                             eX10CMD command) {
    const int32_t lastUnit = m_lastUnit[static_cast<std::size_t>(h2)];
    if (const auto entry = HostCommandTable::byCommand(command)) {
        // Dim and Bright carry no unit on the air: they act on the unit last addressed.
        if (command == cDIM || command == cBRIGHT) unit = lastUnit;
        const std::string address = house + std::to_string(unit);
        std::vector<Variant> args{Variant(address), Variant(house), Variant(entry->hostCode),
                                  Variant(std::string()), Variant(std::string())};
        HostLink::callCallback("X10Event", args);
        // The host's primary X10 interface puts the command on the power line.
        if (retransmit) HostLink::hsCall("ExecX10", address, std::string(entry->name));
    } else if (const char* name = HostCommandTable::cameraName(command)) {
        const std::string key = house + std::to_string(lastUnit);
        std::string desc = "(?)";
        // Our host answers -1, not 0, for a code it does not know.
        const auto ref = HostLink::hsCall("GetDeviceRef", key);
        try {
            const int32_t number = ref ? ref->toLong() : 0;
            if (number > 0) {
                const auto device = HostLink::hsCall("GetDeviceByRef", number);
                if (device && device->isObject() && device->toObject()) {
                    const auto dv = device->toObject();
                    desc = "(" + dv->get("location").toString() + " " + dv->get("Name").toString() +
                           ")";
                }
            }
        } catch (const std::exception&) {
            desc = "(?)";
        }
        HostLink::WriteLog("Ninja Command Received", key + " " + desc + " " + name);
        std::vector<Variant> args{Variant(key), Variant(int32_t{command})};
        HostLink::callCallback("ValueChangeEvent", args);
    } else {
        HostLink::WriteLog(HostLink::kTitle,
                           house + std::to_string(unit) + " " + std::to_string(int32_t{command}));
    }
}

void ReceivePipeline::ReceivedUnknown(cSettings& settings, const Bytes& Bin) {
    const double now = Clock::current().timer();
    if (settings.Logging() == LogDebug)
        HostLink::WriteLog(HostLink::kTitle, "Unknown wireless command: " + hexDump(Bin));

    const int32_t count = settings.CustomCount();
    int32_t found = 0;
    for (int32_t i = 1; i <= count && found == 0; ++i)
        if (settings.CustomRaw(Variant(i)) == Bin) found = i;
    if (found == 0) return;

    const auto cells = static_cast<std::size_t>(count);
    if (!m_customRx) {
        m_customRx.emplace(cells, kNever);
    } else if (m_customRx->size() < cells) {
        m_customRx->resize(cells, kNever);
        HostLink::WriteLog(HostLink::kTitle, "Redim: " + std::to_string(count));
    }
    const auto at = static_cast<std::size_t>(found - 1);
    if (withinDebounce((*m_customRx)[at], now, settings.DebounceTime())) return;

    const std::string name = settings.CustomName(found);
    HostLink::WriteLog("Custom Command Received", name);
    const auto version = HostLink::hsCall("InterfaceVersion");
    bool triggers = false;
    try {
        triggers = version && version->toLong() >= 2;
    } catch (const std::exception& e) {
        HostLink::logCaught("Reading the host's interface version", e);
    }
    if (triggers)
        HostLink::callbackCall("CheckTrigger", std::string(HostLink::kPluginName) + '\x02' +
                                                   "By Custom RF Command" + '\x02' + name);
    // Taken after the host's calls: the debounce runs from the end of the report.
    (*m_customRx)[at] = Clock::current().timer();
}
