#include "host/DeviceTable.h"

#include <algorithm>
#include <array>
#include <limits>

#include "base/Convert.h"
#include "base/RuntimeError.h"
#include "xap/XapLog.h"

namespace {

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

std::string houseOf(const std::string& code) {
    return code.substr(0, 1);
}
std::string unitOf(const std::string& code) {
    return code.empty() ? code : code.substr(1);
}

int16_t position(size_t index) {
    return vb::CInt(static_cast<double>(index + 1));
}

}  // namespace

DeviceTable::DeviceTable(EventCallbacks& callbacks) : m_callbacks(callbacks), m_columns(kColumns) {}

// --- cells ---

size_t DeviceTable::cellIndex(std::string_view code) const {
    if (code.empty()) raiseError(RuntimeError::kInvalidCall, "Invalid procedure call or argument");
    // Nearly every code is a letter and a few digits, which need no general
    // number reading (spaces, "&H", fractions and rounding as Val and CInt do).
    const std::string_view number = code.substr(1);
    int row = 0;
    if (!number.empty() && number.size() <= 3 &&
        std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        for (const char c : number) row = row * 10 + (c - '0');
    } else {
        row = vb::CInt(vb::Val(number));
    }
    if (row < 0 || row >= kRows) row = 0;
    return static_cast<size_t>(kColumnOf[static_cast<unsigned char>(code.front())]) * kRows +
           static_cast<size_t>(row);
}

DeviceTable::Cell& DeviceTable::cell(std::string_view code) {
    const size_t index = cellIndex(code);
    std::unique_ptr<Cell[]>& column = m_columns[index / kRows];
    if (!column) {
        column = std::make_unique<Cell[]>(kRows);
        for (int row = 0; row < kRows; ++row) column[static_cast<size_t>(row)] = blankCell();
    }
    return column[index % kRows];
}

const DeviceTable::Cell& DeviceTable::cell(std::string_view code) const {
    const size_t index = cellIndex(code);
    const std::unique_ptr<Cell[]>& column = m_columns[index / kRows];
    return column ? column[index % kRows] : blankCell();
}

const DeviceTable::Cell& DeviceTable::blankCell() {
    static const Cell blank{0, 0, 0, {}, Variant::zeroDate()};
    return blank;
}

// --- the device list ---

void DeviceTable::rebuildCodeIndex() const {
    m_codeIndex.clear();
    m_codeIndex.reserve(m_devices.size());
    for (size_t i = 0; i < m_devices.size(); ++i)
        m_codeIndex.emplace(vb::LCase(m_devices[i]->hc + m_devices[i]->dc), i);
    m_codeIndexValid = true;
    m_codeIndexGeneration = DeviceClass::codeGeneration();
}

std::ptrdiff_t DeviceTable::indexOfCode(std::string_view code) const {
    if (!m_codeIndexValid || m_codeIndexGeneration != DeviceClass::codeGeneration())
        rebuildCodeIndex();
    const auto it = m_codeIndex.find(vb::LCase(code));
    if (it == m_codeIndex.end()) return -1;
    return static_cast<std::ptrdiff_t>(it->second);
}

const DeviceClass* DeviceTable::findByCode(std::string_view code) const {
    const std::ptrdiff_t at = indexOfCode(code);
    return at < 0 ? nullptr : m_devices[static_cast<size_t>(at)].get();
}

std::ptrdiff_t DeviceTable::indexOfName(std::string_view deviceName) const {
    for (size_t i = 0; i < m_devices.size(); ++i) {
        const DeviceClass& device = *m_devices[i];
        if (vb::equalsIgnoreCase(device.locationText() + " " + device.name, deviceName))
            return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

int16_t DeviceTable::NewDevice(const std::string& name) {
    return guarded("NewDevice ", 0, [&] {
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
        m_codeIndexValid = false;
        return position(m_devices.size() - 1);
    });
}

std::shared_ptr<DeviceClass> DeviceTable::NewDeviceEx(const std::string& name) {
    return GetDevice(NewDevice(name));
}

bool DeviceTable::DeleteDevice(int32_t ref) {
    guarded("DeleteDevice ", [&] {
        for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
            if ((*it)->ref != ref) continue;
            m_devices.erase(it);
            m_codeIndexValid = false;
            break;
        }
    });
    return false;
}

int16_t DeviceTable::DeviceCount() const {
    return guarded("DeviceCount ", 0,
                   [&] { return vb::CInt(static_cast<double>(m_devices.size())); });
}

int16_t DeviceTable::DeviceExists(const std::string& device) const {
    return guarded("DeviceExists ", -1, [&] {
        const std::ptrdiff_t i = indexOfCode(device);
        return i < 0 ? int16_t{-1} : position(static_cast<size_t>(i));
    });
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
    return guarded("GetDeviceEx ", nullptr, [&] {
        const std::ptrdiff_t i = indexOfName(deviceName);
        return i < 0 ? nullptr : m_devices[static_cast<size_t>(i)];
    });
}

std::string DeviceTable::GetDeviceCode(const std::string& name) const {
    return guarded("GetDeviceCode ", {}, [&]() -> std::string {
        const std::ptrdiff_t i = indexOfName(name);
        if (i < 0) return {};
        const DeviceClass& device = *m_devices[static_cast<size_t>(i)];
        return device.hc + device.dc;
    });
}

int32_t DeviceTable::GetDeviceRef(const std::string& sAddress) const {
    const auto device = GetDeviceByCode(sAddress);
    return device ? device->ref : -1;
}

int32_t DeviceTable::GetDeviceRefByName(const std::string& deviceName) const {
    return guarded("GetDeviceRefByName ", -1, [&] {
        const std::ptrdiff_t i = indexOfName(deviceName);
        return i < 0 ? -1 : m_devices[static_cast<size_t>(i)]->ref;
    });
}

std::vector<Variant> DeviceTable::GetDeviceList() const {
    return std::vector<Variant>(m_devices.begin(), m_devices.end());
}

// --- reading cells ---

int16_t DeviceTable::DeviceStatus(const std::string& dev) const {
    return guarded("DeviceStatus ", 0, [&] { return cell(dev).status; });
}

int32_t DeviceTable::DeviceValue(const std::string& dev) const {
    return guarded("DeviceValue ", 0, [&] { return cell(dev).value; });
}

std::string DeviceTable::DeviceString(const std::string& dev) const {
    return guarded("DeviceString ", {}, [&] { return cell(dev).text; });
}

QDateTime DeviceTable::DeviceLastChange(const std::string& dev) const {
    return guarded("DeviceLastChange ", Variant::zeroDate(), [&] { return cell(dev).lastChange; });
}

int32_t DeviceTable::DeviceTime(const std::string& dev) const {
    return guarded("DeviceTime ", 0, [&] { return cell(dev).time; });
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
    return guarded("isOn ", false, [&] { return cell(device).status == 2; });
}

bool DeviceTable::isOff(const std::string& device) const {
    return guarded("isOff ", false, [&] { return cell(device).status == 3; });
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
                guarded(member, [&] {
                    m_callbacks.statusChanged(houseOf(dev), unitOf(dev), status, device->ref);
                });
            }
        }
        if (report) m_callbacks.notify(2, {"4", unitOf(dev), houseOf(dev), std::to_string(status)});
    }
    target.status = status;
}

void DeviceTable::SetDeviceStatus(const std::string& dev, int16_t Status) {
    guarded("SetDeviceStatus ", [&] { changeStatus(dev, Status, true, "SetDeviceStatus "); });
}

void DeviceTable::SetDeviceStatusNoReport(const std::string& dev, int16_t Status, int16_t iReport) {
    guarded("SetDeviceStatusNoReport ",
            [&] { changeStatus(dev, Status, (iReport & 2) == 0, "SetDeviceStatusNoReport "); });
}

void DeviceTable::SetDeviceValue(const std::string& dev, int32_t Value) {
    guarded("SetDeviceValue ", [&] {
        Cell& target = cell(dev);
        if (target.value != Value && !m_callbacks.loading())
            m_callbacks.notify(2, {"4", unitOf(dev), houseOf(dev), std::to_string(Value)});
        target.value = Value;
    });
}

void DeviceTable::SetDeviceValueNoReport(const std::string& dev, int32_t Value, int16_t) {
    guarded("SetDeviceValueNoReport ", [&] { cell(dev).value = Value; });
}

void DeviceTable::SetDeviceString(const std::string& dev, const std::string& str, bool) {
    guarded("SetDeviceString ", [&] {
        Cell& target = cell(dev);
        if (target.text != str && !m_callbacks.loading()) m_callbacks.notify(6, {"64", dev, str});
        target.text = str;
    });
}

void DeviceTable::SetDeviceLastChange(const std::string& dev, const QDateTime& lastChange) {
    guarded("SetDeviceLastChange ", [&] { cell(dev).lastChange = lastChange; });
}

void DeviceTable::SetDeviceTime(const std::string& dev, int32_t time) {
    guarded("SetDeviceTime ", [&] { cell(dev).time = time; });
}

void DeviceTable::SetDeviceStringByName(const std::string& name, const std::string& str) {
    SetDeviceString(GetDeviceCode(name), str);
}

void DeviceTable::SetDeviceValueByName(const std::string& name, int32_t Value) {
    SetDeviceValue(GetDeviceCode(name), Value);
}
