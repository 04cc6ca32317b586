#include "mqtt/MqttTopics.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "base/Convert.h"

namespace {

// "A".."P" followed by 1..maxUnit without leading zeros.
std::optional<std::string> houseUnit(const std::string& text, int lastHouseMaxUnit) {
    if (text.size() < 2 || text.size() > 3) return std::nullopt;
    const char house = static_cast<char>(vb::UCase(text.substr(0, 1))[0]);
    if (house < 'A' || house > 'P') return std::nullopt;
    const std::string digits = text.substr(1);
    if (digits[0] == '0' || !vb::isDigits(digits)) return std::nullopt;
    const int unit = std::stoi(digits);
    const int maxUnit = house == 'P' ? lastHouseMaxUnit : 16;
    if (unit < 1 || unit > maxUnit) return std::nullopt;
    return std::string(1, house) + digits;
}

constexpr std::array<const char*, 5> kCameraMoves{"left", "right", "up", "down", "center"};

}  // namespace

std::string MqttTopics::level(const std::string& text) {
    std::string out = text.empty() ? std::string("_") : text;
    for (char& c : out)
        if (c == '+' || c == '#' || c == '/' || static_cast<unsigned char>(c) < 0x20) c = '_';
    return out;
}

std::string MqttTopics::base(const std::string& prefix, const std::string& computer) {
    return prefix + "/" + level(computer);
}

std::optional<std::string> MqttTopics::x10Code(const std::string& text) {
    return houseUnit(text, 16);
}

std::optional<char> MqttTopics::house(const std::string& text) {
    if (text.empty() || text.size() > 3) return std::nullopt;
    const char house = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (house < 'A' || house > 'P') return std::nullopt;
    if (text.size() > 1 && !vb::isDigits(text.substr(1))) return std::nullopt;
    return house;
}

bool MqttTopics::houseWide(const std::string& payload) {
    return payload == "all_units_off" || payload == "all_lights_on" || payload == "all_lights_off";
}

std::optional<std::string> MqttTopics::ninjaCode(const std::string& text) {
    return houseUnit(text, 14);
}

int MqttTopics::cameraIndex(const std::string& code) {
    return (code[0] - 'A') * 16 + std::stoi(code.substr(1));
}

std::string MqttTopics::eventPayload(const std::string& eventName) {
    std::string out = vb::LCase(eventName);
    std::replace(out.begin(), out.end(), ' ', '_');
    return out;
}

std::optional<std::string> MqttTopics::stateOf(const std::string& payload) {
    if (payload == "on" || payload == "all_lights_on" || payload == "dim" || payload == "bright" ||
        payload == "preset_dim_1" || payload == "preset_dim_2" || payload == "status_on")
        return std::string("ON");
    if (payload == "off" || payload == "all_units_off" || payload == "all_lights_off" ||
        payload == "status_off")
        return std::string("OFF");
    return std::nullopt;
}

std::optional<MqttTopics::SetCommand> MqttTopics::parseSet(const std::string& base,
                                                           const std::string& topic,
                                                           const std::string& payload,
                                                           std::string& why) {
    const std::string head = base + "/";
    const std::string tail = "/set";
    if (topic.size() <= head.size() + tail.size() || topic.compare(0, head.size(), head) != 0 ||
        topic.compare(topic.size() - tail.size(), tail.size(), tail) != 0) {
        why = "not a set topic";
        return std::nullopt;
    }
    const std::string middle =
        topic.substr(head.size(), topic.size() - head.size() - tail.size());  // "x10/A1"
    const size_t slash = middle.find('/');
    if (slash == std::string::npos || middle.find('/', slash + 1) != std::string::npos) {
        why = "not a set topic";
        return std::nullopt;
    }
    const std::string kind = middle.substr(0, slash);
    SetCommand command;
    command.ninja = kind == "ninja";
    if (!command.ninja && kind != "x10") {
        why = "unknown device kind \"" + kind + "\"";
        return std::nullopt;
    }
    const auto code =
        command.ninja ? ninjaCode(middle.substr(slash + 1)) : x10Code(middle.substr(slash + 1));
    if (!code) {
        why = "unknown device \"" + middle.substr(slash + 1) + "\"";
        return std::nullopt;
    }
    command.code = *code;

    // One word, for dim and bright optionally followed by a count.
    const std::string text = vb::LCase(vb::Trim(payload.size() > 64 ? std::string() : payload));
    const size_t blank = text.find(' ');
    const std::string word = text.substr(0, blank);
    const std::string rest =
        blank == std::string::npos ? std::string() : vb::Trim(text.substr(blank));
    if (command.ninja) {
        if (rest.empty() &&
            std::find(kCameraMoves.begin(), kCameraMoves.end(), word) != kCameraMoves.end()) {
            command.command = word;
            return command;
        }
    } else if ((word == "on" || word == "off") && rest.empty()) {
        command.command = word;
        return command;
    } else if (word == "dim" || word == "bright") {
        if (rest.empty() || (rest.size() <= 3 && vb::isDigits(rest))) {
            command.command = word;
            command.count = rest;
            return command;
        }
    }
    why = "payload not understood";
    return std::nullopt;
}
