#pragma once
// The MQTT link's settings, section "MQTT" of "qixBrindle.ini". The link is
// off while Host is empty. Read when the host window loads and whenever the
// status page saves them; what a read finds unusable falls back to the
// default, so a hand-edited file can never stop the gateway:
//   Host             broker name or address; empty = no MQTT
//   Port             1 to 65535 (1883)
//   User, Password   sent only when User is not empty
//   TLS, CAFile      True/False (False); the CA file, or the system's
//                    certificates when empty
//   Prefix           first topic level(s) ("brindle")
//   Discovery        True/False (True): announce used devices to hubs
//   DiscoveryPrefix  where hubs look for announcements ("homeassistant")
// Prefixes lose leading and trailing "/" and may not hold the wildcards "+"
// and "#"; such a prefix gives its default.

#include <string>

class IniCache;

class MqttSettings {
public:
    static constexpr const char* kSection = "MQTT";
    static constexpr const char* kIniFile = "qixBrindle.ini";
    static constexpr int kDefaultPort = 1883;

    std::string Host;
    int Port = kDefaultPort;
    std::string User;
    std::string Password;
    bool TLS = false;
    std::string CAFile;
    std::string Prefix = "brindle";
    bool Discovery = true;
    std::string DiscoveryPrefix = "homeassistant";

    bool enabled() const { return !Host.empty(); }

    static MqttSettings read(IniCache& ini);
    // Writes every key through the cache (flushed with the other settings).
    void write(IniCache& ini) const;

    // The rules above, for values from a file or a form.
    static int portOf(const std::string& text, int fallback);
    static std::string prefixOf(const std::string& text, const std::string& fallback);
    static bool flagOf(const std::string& text, bool fallback);

    bool operator==(const MqttSettings&) const = default;
};
