#include "host/DeviceTableFile.h"

#include "base/Convert.h"
#include "base/RuntimeError.h"
#include "xap/XapLog.h"

namespace {

const std::string kSection = "PluginDevices";

// IniTool refuses to save a whole file that holds a longer key, so one odd
// device must not get that far.
constexpr size_t kMaxKeyLength = 65;

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

std::string savedLine(const DeviceClass& device, const std::string& key,
                      const DeviceTable::Cell& state) {
    std::string line = headField(device.locationText());
    line += ';' + headField(device.name);
    line += ';' + headField(device.interface);
    line += ';' + std::to_string(device.iotype);
    line += ';' + headField(device.iomisc);
    line += ';' + std::to_string(device.misc);
    line += ';' + headField(device.dev_type_string);
    line += ';' + std::to_string(state.status);
    line += ';' + std::to_string(state.value);
    line += ';' + vb::dateTimeText(state.lastChange);
    line += ';' + tailField(state.text);
    // A line that begins with "[" and ends with "]" reads back as a section
    // header, which would carry every later line of the file into that
    // section; the string's closing brackets give way.
    if (key.front() == '[') {
        for (size_t end = line.find_last_not_of(' '); end != std::string::npos && line[end] == ']';
             end = line.find_last_not_of(' '))
            line[end] = ' ';
    }
    return line;
}

[[noreturn]] void raiseNoObject() {
    raiseError(RuntimeError::kObjectRequired, "Object variable or With block variable not set");
}

void restoreEntry(DeviceTable& table, std::string_view entry) {
    const size_t eq = entry.find('=');
    if (eq == std::string_view::npos || eq < 2) return;
    const std::string code = vb::UCase(entry.substr(0, eq));
    const std::string_view data = entry.substr(eq + 1);
    if (data.empty()) return;

    // Each step stands alone: a short line costs the steps that need its
    // missing fields, and the others still run.
    const std::vector<std::string> fields = vb::Split(data, ';');
    const auto field = [&](size_t i) {
        if (i >= fields.size())
            raiseError(RuntimeError::kSubscriptOutOfRange, "Subscript out of range");
        return fields[i];
    };
    const std::string source = "InitDevices " + code;
    const auto step = [&](auto&& action) { guarded(source, action); };
    std::shared_ptr<DeviceClass> device;
    const auto record = [&]() -> DeviceClass& {
        if (!device) raiseNoObject();
        return *device;
    };

    step([&] { device = table.NewDeviceEx(field(1)); });
    step([&] { record().interface = field(2); });
    step([&] { record().location = Variant(field(0)); });
    step([&] { record().name = field(1); });
    step([&] { record().dev_type_string = field(6); });
    step([&] { record().setCode(code.substr(0, 1), record().dc); });
    step([&] { record().setCode(record().hc, code.substr(1)); });
    step([&] { record().iotype = vb::CInt(vb::Val(field(3))); });
    step([&] { record().misc = vb::CLng(vb::Val(field(5))); });
    step([&] { record().iomisc = field(4); });
    step([&] { table.SetDeviceStatus(code, vb::CInt(vb::Val(field(7)))); });
    step([&] { table.SetDeviceValue(code, vb::CLng(vb::Val(field(8)))); });
    step([&] {
        const auto when = vb::parseDateTime(field(9));
        if (!when) raiseError(RuntimeError::kTypeMismatch, "Type mismatch");
        table.SetDeviceLastChange(code, *when);
    });
    step([&] {
        std::string text = field(10);
        for (size_t i = 11; i < fields.size(); ++i) text += ';' + fields[i];
        table.SetDeviceString(code, text);
    });
}

void createDefault(DeviceTable& table, const std::string& code, const std::string& address) {
    guarded("InitDevices " + code, [&] {
        const auto device = table.NewDeviceEx(address);
        if (!device) raiseNoObject();
        device->name = address;
        device->setCode(code.substr(0, 1), code.substr(1));
        device->iotype = 0;
    });
}

}  // namespace

void DeviceTableFile::SaveDevices(const DeviceTable& table, IniCache& ini) {
    guarded("SaveDevices ", [&] { ini.ClearIniSection(kSection); });
    for (const auto& device : table.devices()) {
        const std::string code = device->hc + device->dc;
        guarded("SaveDevices " + code, [&] {
            const std::string key = vb::UCase(code);
            if (!keyFitsIni(key))
                raiseError(RuntimeError::kInvalidCall, "Device code cannot be saved as a key");
            ini.SaveINISetting(kSection, key, savedLine(*device, key, table.cell(code)));
        });
    }
}

bool DeviceTableFile::InitDevices(DeviceTable& table, IniCache& ini) {
    bool restored = false;
    guarded("InitDevices ", [&] {
        std::string text = ini.GetINISection(kSection);
        std::erase(text, '"');
        restored = !text.empty();
        if (restored) {
            for (const std::string& entry : vb::Split(text, '\0'))
                guarded("InitDevices " + vb::UCase(entry.substr(0, entry.find('='))),
                        [&] { restoreEntry(table, entry); });
        }

        // The bridge's camera devices Q1..T63, named after the X10 address they
        // stand for (A1..P15), then every X10 address A1..P16.
        for (int i = 0; i <= 254; ++i) {
            const std::string code = static_cast<char>('Q' + i / 64) + std::to_string(i % 64 + 1);
            const std::string address =
                static_cast<char>('A' + i / 16) + std::to_string(i % 16 + 1);
            if (table.DeviceExists(code) == -1) createDefault(table, code, address);
        }
        for (char house = 'A'; house <= 'P'; ++house) {
            for (int unit = 1; unit <= 16; ++unit) {
                const std::string address = house + std::to_string(unit);
                if (table.DeviceExists(address) == -1) createDefault(table, address, address);
            }
        }
    });
    return restored;
}
