#include "usb/UsbDeviceEntry.h"

#include <cctype>
#include <cstdio>
#include <optional>

#include "base/ProgramFolder.h"

namespace {

std::string upper(std::string_view s) {
    std::string u(s);
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

// The four hex digits that follow `tag` ("VID_") anywhere in the id.
std::optional<std::uint16_t> hexAfter(const std::string& upperId, std::string_view tag) {
    const auto at = upperId.find(tag);
    if (at == std::string::npos) return std::nullopt;
    const auto start = at + tag.size();
    if (upperId.size() < start + 4) return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = start; i < start + 4; ++i) {
        const char c = upperId[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * 16 + digit;
    }
    // A fifth hex digit would make it a different, malformed id.
    if (upperId.size() > start + 4 && std::isxdigit(static_cast<unsigned char>(upperId[start + 4])))
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

UsbDeviceEntry UsbDeviceEntry::parse(std::string_view entry) {
    UsbDeviceEntry result;
    const std::string id = upper(entry);

    constexpr std::string_view kVirtual = "VIRTUAL\\";
    if (id.starts_with(kVirtual)) {
        std::string rest = ProgramFolder::mapPath(entry.substr(kVirtual.size()));
        result.kind = Kind::Virtual;
        const auto slash = rest.rfind('/');
        std::string folder = slash == std::string::npos ? std::string() : rest.substr(0, slash);
        result.socketName = slash == std::string::npos ? rest : rest.substr(slash + 1);
        if (result.socketName.empty()) result.socketName = kDefaultSocketName;
        const bool absolute = slash == 0 || (!folder.empty() && folder.front() == '/');
        if (slash == 0)
            folder = "/";
        else if (!absolute)
            folder = folder.empty() ? ProgramFolder::path() : ProgramFolder::path() + "/" + folder;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        result.busFolder = folder;
        return result;
    }

    if (id.starts_with("USB\\")) {
        const auto vid = hexAfter(id, "VID_");
        const auto pid = hexAfter(id, "PID_");
        if (vid && pid) {
            result.vendorId = *vid;
            result.productId = *pid;
        }
    }
    return result;
}

std::string UsbDeviceEntry::socketPath() const {
    if (busFolder == "/") return "/" + socketName;
    return busFolder + "/" + socketName;
}

std::string UsbDeviceEntry::describe() const {
    if (kind == Kind::Virtual) return "virtual transceiver " + socketPath();
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", vendorId, productId);
    return std::string("USB device ") + ids;
}
