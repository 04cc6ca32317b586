#include "host/DeviceTable.h"

#include <array>
#include <limits>

#include "base/Convert.h"
#include "base/RuntimeError.h"
#include "xap/XapLog.h"

namespace {

const std::string kSection = "PluginDevices";

constexpr int kRows = 100;
constexpr int kColumns = 69;  // "!" to "~" without the 26 lower-case letters, plus the shared one

// Column of each first character: 0 is the column every character outside "!"
// to "~" shares; a lower-case letter has its capital's column.
constexpr std::array<uint8_t, 256> kColumnOf = [] {
    std::array<uint8_t, 256> map{};
    uint8_t next = 1;
    for (int c = '!'; c <= '~'; ++c) {
        if (c >= 'a' && c <= 'z') continue;
        map[c] = next++;
    }
    for (int c = 'a'; c <= 'z'; ++c) map[c] = map[c - 'a' + 'A'];
    return map;
}();
static_assert(kColumnOf['~'] == kColumns - 1);

// IniTool refuses to save a whole file that holds a longer key, so one odd
// device must not get that far.
constexpr size_t kMaxKeyLength = 65;

std::string houseOf(const std::string& code) {
    return code.substr(0, 1);
}
std::string unitOf(const std::string& code) {
    return code.empty() ? code : code.substr(1);
}

bool hasCode(const DeviceClass& device, std::string_view code) {
    const size_t n = device.hc.size();
    return n + device.dc.size() == code.size() &&
           vb::equalsIgnoreCase(device.hc, code.substr(0, n)) &&
           vb::equalsIgnoreCase(device.dc, code.substr(n));
}

// Text concatenation reads Null as nothing; anything else as its text.
std::string locationText(const Variant& location) {
    return location.isNull() ? std::string() : location.toString();
}

int16_t position(size_t index) {
    return vb::CInt(static_cast<double>(index + 1));
}

// A line break or NUL would split the saved line (the INI reader goes by
// lines, GetINISection by NULs), so none may reach the file.
char lineSafe(char c) {
    return c == '\r' || c == '\n' || c == '\0' ? ' ' : c;
}

// The fields before the string: also no ";", which would shift every field
// after it on the way back.
std::string headField(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = c == ';' ? ',' : lineSafe(c);
    return out;
}

// The string is the last field and is read back as everything after the tenth
// ";", so it keeps its own.
std::string tailField(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lineSafe(c);
    return out;
}

// Whether the INI file reads this key back as itself: the reader trims lines,
// takes ";" at the start for a comment, splits at the first "=", and
// InitDevices drops every double quote and entries with a one-character code.
bool keyFitsIni(std::string_view key) {
    if (key.size() < 2 || key.size() > kMaxKeyLength) return false;
    if (key.front() == ';' || key.front() == ' ') return false;
    return key.find_first_of(std::string_view("=\"\r\n\0", 5)) == std::string_view::npos;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        if (at == std::string_view::npos) break;
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

}  // namespace

DeviceTable::DeviceTable(EventCallbacks& callbacks)
    : m_callbacks(callbacks),
      m_cells(static_cast<size_t>(kColumns) * kRows, Cell{0, 0, 0, {}, Variant::zeroDate()}) {}

// --- cells ---

size_t DeviceTable::cellIndex(std::string_view code) const {
    if (code.empty()) raiseError(RuntimeError::kInvalidCall, "Invalid procedure call or argument");
    int row = vb::CInt(vb::Val(code.substr(1)));
    if (row < 0 || row >= kRows) row = 0;
    return static_cast<size_t>(kColumnOf[static_cast<unsigned char>(code.front())]) * kRows +
           static_cast<size_t>(row);
}

DeviceTable::Cell& DeviceTable::cell(std::string_view code) {
    return m_cells[cellIndex(code)];
}

const DeviceTable::Cell& DeviceTable::cell(std::string_view code) const {
    return m_cells[cellIndex(code)];
}

// --- the device list ---

std::ptrdiff_t DeviceTable::indexOfCode(std::string_view code) const {
    for (size_t i = 0; i < m_devices.size(); ++i)
        if (hasCode(*m_devices[i], code)) return static_cast<std::ptrdiff_t>(i);
    return -1;
}

std::ptrdiff_t DeviceTable::indexOfName(std::string_view deviceName) const {
    for (size_t i = 0; i < m_devices.size(); ++i) {
        const DeviceClass& device = *m_devices[i];
        if (vb::equalsIgnoreCase(locationText(device.location) + " " + device.name, deviceName))
            return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

int16_t DeviceTable::NewDevice(const std::string& name) {
    try {
        if (m_lastRef == std::numeric_limits<int32_t>::max())
            raiseError(RuntimeError::kOverflow, "Overflow");
        ++m_lastRef;
        auto device = std::make_shared<DeviceClass>();
        device->ref = m_lastRef;
        device->name = name;
        // Filled, not assigned from literals: g++ 12 at -O3 misreads a short
        // literal assignment as an overlapping copy (-Wrestrict).
        device->hc.assign(1, 'A');
        device->dc.assign(1, '1');
        m_devices.push_back(std::move(device));
        return position(m_devices.size() - 1);
    } catch (...) {
        LogFault("NewDevice ");
        return 0;
    }
}

std::shared_ptr<DeviceClass> DeviceTable::NewDeviceEx(const std::string& name) {
    return GetDevice(NewDevice(name));
}

bool DeviceTable::DeleteDevice(int32_t ref) {
    try {
        for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
            if ((*it)->ref != ref) continue;
            m_devices.erase(it);
            break;
        }
    } catch (...) {
        LogFault("DeleteDevice ");
    }
    return false;
}

int16_t DeviceTable::DeviceCount() const {
    try {
        return vb::CInt(static_cast<double>(m_devices.size()));
    } catch (...) {
        LogFault("DeviceCount ");
        return 0;
    }
}

int16_t DeviceTable::DeviceExists(const std::string& device) const {
    try {
        const std::ptrdiff_t i = indexOfCode(device);
        return i < 0 ? int16_t{-1} : position(static_cast<size_t>(i));
    } catch (...) {
        LogFault("DeviceExists ");
        return -1;
    }
}

std::shared_ptr<DeviceClass> DeviceTable::GetDevice(int16_t index) const {
    if (index < 1 || static_cast<size_t>(index) > m_devices.size()) return nullptr;
    return m_devices[static_cast<size_t>(index) - 1];
}

std::shared_ptr<DeviceClass> DeviceTable::GetDeviceByRef(int32_t ref) const {
    for (const auto& device : m_devices)
        if (device->ref == ref) return device;
    return nullptr;
}

std::shared_ptr<DeviceClass> DeviceTable::GetDeviceByCode(const std::string& device) const {
    const std::ptrdiff_t i = indexOfCode(device);
    return i < 0 ? nullptr : m_devices[static_cast<size_t>(i)];
}

std::shared_ptr<DeviceClass> DeviceTable::GetDeviceEx(const std::string& deviceName) const {
    try {
        const std::ptrdiff_t i = indexOfName(deviceName);
        return i < 0 ? nullptr : m_devices[static_cast<size_t>(i)];
    } catch (...) {
        LogFault("GetDeviceEx ");
        return nullptr;
    }
}

std::string DeviceTable::GetDeviceCode(const std::string& name) const {
    try {
        const std::ptrdiff_t i = indexOfName(name);
        if (i < 0) return {};
        const DeviceClass& device = *m_devices[static_cast<size_t>(i)];
        return device.hc + device.dc;
    } catch (...) {
        LogFault("GetDeviceCode ");
        return {};
    }
}

int32_t DeviceTable::GetDeviceRef(const std::string& sAddress) const {
    const auto device = GetDeviceByCode(sAddress);
    return device ? device->ref : -1;
}

int32_t DeviceTable::GetDeviceRefByName(const std::string& deviceName) const {
    try {
        const std::ptrdiff_t i = indexOfName(deviceName);
        return i < 0 ? -1 : m_devices[static_cast<size_t>(i)]->ref;
    } catch (...) {
        LogFault("GetDeviceRefByName ");
        return -1;
    }
}

std::vector<Variant> DeviceTable::GetDeviceList() const {
    return std::vector<Variant>(m_devices.begin(), m_devices.end());
}

// --- reading cells ---

int16_t DeviceTable::DeviceStatus(const std::string& dev) const {
    try {
        return cell(dev).status;
    } catch (...) {
        LogFault("DeviceStatus ");
        return 0;
    }
}

int32_t DeviceTable::DeviceValue(const std::string& dev) const {
    try {
        return cell(dev).value;
    } catch (...) {
        LogFault("DeviceValue ");
        return 0;
    }
}

std::string DeviceTable::DeviceString(const std::string& dev) const {
    try {
        return cell(dev).text;
    } catch (...) {
        LogFault("DeviceString ");
        return {};
    }
}

QDateTime DeviceTable::DeviceLastChange(const std::string& dev) const {
    try {
        return cell(dev).lastChange;
    } catch (...) {
        LogFault("DeviceLastChange ");
        return Variant::zeroDate();
    }
}

int32_t DeviceTable::DeviceTime(const std::string& dev) const {
    try {
        return cell(dev).time;
    } catch (...) {
        LogFault("DeviceTime ");
        return 0;
    }
}

std::string DeviceTable::DeviceStringByName(const std::string& name) const {
    return DeviceString(GetDeviceCode(name));
}

int32_t DeviceTable::DeviceTimeByName(const std::string& name) const {
    return DeviceTime(GetDeviceCode(name));
}

int32_t DeviceTable::DeviceValueByName(const std::string& name) const {
    return DeviceValue(GetDeviceCode(name));
}

bool DeviceTable::isOn(const std::string& device) const {
    try {
        return cell(device).status == 2;
    } catch (...) {
        LogFault("isOn ");
        return false;
    }
}

bool DeviceTable::isOff(const std::string& device) const {
    try {
        return cell(device).status == 3;
    } catch (...) {
        LogFault("isOff ");
        return false;
    }
}

bool DeviceTable::isOnByName(const std::string& deviceName) const {
    return isOn(GetDeviceCode(deviceName));
}

bool DeviceTable::isOffByName(const std::string& deviceName) const {
    return isOff(GetDeviceCode(deviceName));
}

// --- changing cells ---

// Listeners hear of a change before it is stored, so that they can still read
// the old value; the cell reference survives their nested calls because the
// cells never move.
void DeviceTable::changeStatus(const std::string& dev, int16_t status, bool report,
                               const char* member) {
    Cell& target = cell(dev);
    if (target.status == status) return;
    if (!m_callbacks.loading()) {
        if (!m_callbacks.statusChangeCallbacks().empty()) {
            if (const auto device = GetDeviceByCode(dev)) {
                // A broken script must cost neither the listeners their notice
                // nor the device its new status.
                try {
                    m_callbacks.statusChanged(houseOf(dev), unitOf(dev), status, device->ref);
                } catch (...) {
                    LogFault(member);
                }
            }
        }
        if (report) m_callbacks.notify(2, {"4", unitOf(dev), houseOf(dev), std::to_string(status)});
    }
    target.status = status;
}

void DeviceTable::SetDeviceStatus(const std::string& dev, int16_t Status) {
    try {
        changeStatus(dev, Status, true, "SetDeviceStatus ");
    } catch (...) {
        LogFault("SetDeviceStatus ");
    }
}

void DeviceTable::SetDeviceStatusNoReport(const std::string& dev, int16_t Status, int16_t iReport) {
    try {
        changeStatus(dev, Status, (iReport & 2) == 0, "SetDeviceStatusNoReport ");
    } catch (...) {
        LogFault("SetDeviceStatusNoReport ");
    }
}

void DeviceTable::SetDeviceValue(const std::string& dev, int32_t Value) {
    try {
        Cell& target = cell(dev);
        if (target.value != Value && !m_callbacks.loading())
            m_callbacks.notify(2, {"4", unitOf(dev), houseOf(dev), std::to_string(Value)});
        target.value = Value;
    } catch (...) {
        LogFault("SetDeviceValue ");
    }
}

void DeviceTable::SetDeviceValueNoReport(const std::string& dev, int32_t Value, int16_t) {
    try {
        cell(dev).value = Value;
    } catch (...) {
        LogFault("SetDeviceValueNoReport ");
    }
}

void DeviceTable::SetDeviceString(const std::string& dev, const std::string& str, bool) {
    try {
        Cell& target = cell(dev);
        if (target.text != str && !m_callbacks.loading()) m_callbacks.notify(6, {"64", dev, str});
        target.text = str;
    } catch (...) {
        LogFault("SetDeviceString ");
    }
}

void DeviceTable::SetDeviceLastChange(const std::string& dev, const QDateTime& lastChange) {
    try {
        cell(dev).lastChange = lastChange;
    } catch (...) {
        LogFault("SetDeviceLastChange ");
    }
}

void DeviceTable::SetDeviceTime(const std::string& dev, int32_t time) {
    try {
        cell(dev).time = time;
    } catch (...) {
        LogFault("SetDeviceTime ");
    }
}

void DeviceTable::SetDeviceStringByName(const std::string& name, const std::string& str) {
    SetDeviceString(GetDeviceCode(name), str);
}

void DeviceTable::SetDeviceValueByName(const std::string& name, int32_t Value) {
    SetDeviceValue(GetDeviceCode(name), Value);
}

// --- persistence ---

void DeviceTable::SaveDevices(IniCache& ini) {
    try {
        ini.ClearIniSection(kSection);
    } catch (...) {
        LogFault("SaveDevices ");
    }
    for (const auto& device : m_devices) {
        std::string code;
        try {
            code = device->hc + device->dc;
            const std::string key = vb::UCase(code);
            if (!keyFitsIni(key))
                raiseError(RuntimeError::kInvalidCall, "Device code cannot be saved as a key");
            const Cell& state = cell(code);
            std::string line = headField(locationText(device->location));
            line += ';' + headField(device->name);
            line += ';' + headField(device->interface);
            line += ';' + std::to_string(device->iotype);
            line += ';' + headField(device->iomisc);
            line += ';' + std::to_string(device->misc);
            line += ';' + headField(device->dev_type_string);
            line += ';' + std::to_string(state.status);
            line += ';' + std::to_string(state.value);
            line += ';' + vb::dateTimeText(state.lastChange);
            line += ';' + tailField(state.text);
            // A line that begins with "[" and ends with "]" reads back as a
            // section header, which would carry every later line of the file
            // into that section; the string's closing brackets give way.
            if (key.front() == '[') {
                for (size_t end = line.find_last_not_of(' ');
                     end != std::string::npos && line[end] == ']'; end = line.find_last_not_of(' '))
                    line[end] = ' ';
            }
            ini.SaveINISetting(kSection, key, line);
        } catch (...) {
            LogFault("SaveDevices " + code);
        }
    }
}

void DeviceTable::restoreEntry(std::string_view entry) {
    const size_t eq = entry.find('=');
    if (eq == std::string_view::npos || eq < 2) return;
    const std::string code = vb::UCase(entry.substr(0, eq));
    const std::string_view data = entry.substr(eq + 1);
    if (data.empty()) return;

    // Each step stands alone: a short line costs the steps that need its
    // missing fields, and the others still run.
    const std::vector<std::string_view> fields = split(data, ';');
    const auto field = [&](size_t i) {
        if (i >= fields.size())
            raiseError(RuntimeError::kSubscriptOutOfRange, "Subscript out of range");
        return std::string(fields[i]);
    };
    const auto step = [&](auto&& action) {
        try {
            action();
        } catch (...) {
            LogFault("InitDevices " + code);
        }
    };
    std::shared_ptr<DeviceClass> device;
    const auto record = [&]() -> DeviceClass& {
        if (!device)
            raiseError(RuntimeError::kObjectRequired,
                       "Object variable or With block variable not set");
        return *device;
    };

    step([&] { device = NewDeviceEx(field(1)); });
    step([&] { record().interface = field(2); });
    step([&] { record().location = Variant(field(0)); });
    step([&] { record().name = field(1); });
    step([&] { record().dev_type_string = field(6); });
    step([&] { record().hc = code.substr(0, 1); });
    step([&] { record().dc = code.substr(1); });
    step([&] { record().iotype = vb::CInt(vb::Val(field(3))); });
    step([&] { record().misc = vb::CLng(vb::Val(field(5))); });
    step([&] { record().iomisc = field(4); });
    step([&] { SetDeviceStatus(code, vb::CInt(vb::Val(field(7)))); });
    step([&] { SetDeviceValue(code, vb::CLng(vb::Val(field(8)))); });
    step([&] {
        const auto when = vb::parseDateTime(field(9));
        if (!when) raiseError(RuntimeError::kTypeMismatch, "Type mismatch");
        SetDeviceLastChange(code, *when);
    });
    step([&] {
        std::string text = field(10);
        for (size_t i = 11; i < fields.size(); ++i) text += ';' + std::string(fields[i]);
        SetDeviceString(code, text);
    });
}

void DeviceTable::createDefault(const std::string& code, const std::string& address) {
    try {
        const auto device = NewDeviceEx(address);
        if (!device)
            raiseError(RuntimeError::kObjectRequired,
                       "Object variable or With block variable not set");
        device->name = address;
        device->hc = code.substr(0, 1);
        device->dc = code.substr(1);
        device->iotype = 0;
    } catch (...) {
        LogFault("InitDevices " + code);
    }
}

bool DeviceTable::InitDevices(IniCache& ini) {
    bool restored = false;
    try {
        std::string text = ini.GetINISection(kSection);
        std::erase(text, '"');
        restored = !text.empty();
        if (restored) {
            for (const std::string_view entry : split(text, '\0')) {
                try {
                    restoreEntry(entry);
                } catch (...) {
                    LogFault("InitDevices " + vb::UCase(entry.substr(0, entry.find('='))));
                }
            }
        }

        // The bridge's camera devices Q1..T63, named after the X10 address they
        // stand for (A1..P15), then every X10 address A1..P16.
        for (int i = 0; i <= 254; ++i) {
            const std::string code = static_cast<char>('Q' + i / 64) + std::to_string(i % 64 + 1);
            const std::string address =
                static_cast<char>('A' + i / 16) + std::to_string(i % 16 + 1);
            if (DeviceExists(code) == -1) createDefault(code, address);
        }
        for (char house = 'A'; house <= 'P'; ++house) {
            for (int unit = 1; unit <= 16; ++unit) {
                const std::string address = house + std::to_string(unit);
                if (DeviceExists(address) == -1) createDefault(address, address);
            }
        }
    } catch (...) {
        LogFault("InitDevices ");
    }
    return restored;
}
