#include "host/MqttSettings.h"

#include "base/Convert.h"
#include "host/IniCache.h"

namespace {

std::string trimmed(const std::string& text) {
    return vb::Trim(vb::withoutQuotes(text));
}

}  // namespace

int MqttSettings::portOf(const std::string& text, int fallback) {
    const std::string s = trimmed(text);
    if (s.size() > 5 || !vb::isDigits(s)) return fallback;
    const int port = std::stoi(s);
    return port >= 1 && port <= 65535 ? port : fallback;
}

std::string MqttSettings::prefixOf(const std::string& text, const std::string& fallback) {
    std::string s = trimmed(text);
    const size_t first = s.find_first_not_of('/');
    if (first == std::string::npos) return fallback;
    s = s.substr(first, s.find_last_not_of('/') - first + 1);
    // A wildcard or a control byte in a topic the gateway publishes on is
    // refused by every broker; an overlong prefix only wastes every message.
    if (s.size() > 200) return fallback;
    for (char c : s)
        if (c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20) return fallback;
    return s;
}

bool MqttSettings::flagOf(const std::string& text, bool fallback) {
    const std::string s = vb::LCase(trimmed(text));
    if (s == "true" || s == "1" || s == "yes" || s == "on") return true;
    if (s == "false" || s == "0" || s == "no" || s == "off") return false;
    return fallback;
}

MqttSettings MqttSettings::read(IniCache& ini) {
    const MqttSettings d;
    auto get = [&](const char* key, const std::string& fallback) {
        return ini.GetINISetting(kSection, key, fallback, kIniFile);
    };
    MqttSettings s;
    s.Host = trimmed(get("Host", ""));
    s.Port = portOf(get("Port", std::to_string(d.Port)), d.Port);
    s.User = get("User", "");
    s.Password = get("Password", "");
    s.TLS = flagOf(get("TLS", vb::CStr(d.TLS)), d.TLS);
    s.CAFile = trimmed(get("CAFile", ""));
    s.Prefix = prefixOf(get("Prefix", d.Prefix), d.Prefix);
    s.Discovery = flagOf(get("Discovery", vb::CStr(d.Discovery)), d.Discovery);
    s.DiscoveryPrefix = prefixOf(get("DiscoveryPrefix", d.DiscoveryPrefix), d.DiscoveryPrefix);
    return s;
}

void MqttSettings::write(IniCache& ini) const {
    auto put = [&](const char* key, const std::string& value) {
        ini.SaveINISetting(kSection, key, value, kIniFile);
    };
    put("Host", Host);
    put("Port", std::to_string(Port));
    put("User", User);
    put("Password", Password);
    put("TLS", vb::CStr(TLS));
    put("CAFile", CAFile);
    put("Prefix", Prefix);
    put("Discovery", vb::CStr(Discovery));
    put("DiscoveryPrefix", DiscoveryPrefix);
}
