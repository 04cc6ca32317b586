#include "gateway/NinjaCamera.h"

#include <cstdio>

#include "base/Convert.h"

std::string NinjaCamera::hostCode(int index) {
    const int d = index - 1;
    return std::string(1, static_cast<char>('Q' + d / 64)) + std::to_string(d % 64 + 1);
}

std::string NinjaCamera::rfAddress(int index) {
    const int d = index - 1;
    return std::string(1, static_cast<char>('A' + d / 16)) + std::to_string(d % 16 + 1);
}

std::string NinjaCamera::uid(const std::string& gatewayUid, int index) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", index > 255 ? 255 : (index < 0 ? 0 : index));
    return gatewayUid.substr(0, 6) + hex;
}

NinjaCamera::Pattern NinjaCamera::bscAddress(const std::string& deviceName, int index) {
    std::string first = deviceName;
    for (char& c : first) {
        if (c == ' ')
            c = '_';
        else if (c == '=' || c == ':')
            c = '-';
    }
    const std::string padded = "_____" + rfAddress(index);
    return {first, "CM19A_Ninja" + padded.substr(padded.size() - 5), "Ninja"};
}

std::string NinjaCamera::subAddress(const std::string& deviceName, int index) {
    const Pattern p = bscAddress(deviceName, index);
    return p[0] + "." + p[1] + "." + p[2];
}

bool NinjaCamera::patternOf(const std::string& target, Pattern& pattern) {
    pattern = {"*", "*", "*"};
    const size_t colon = target.find(':');
    if (colon == std::string::npos) return false;
    const std::string address = target.substr(colon + 1);
    if (address.empty()) return true;
    size_t start = 0;
    for (size_t i = 0; i < 3; ++i) {
        const size_t dot = address.find('.', start);
        const std::string part = vb::LCase(
            address.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (part == ">") break;
        pattern[i] = part;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return true;
}

bool NinjaCamera::matches(const Pattern& pattern, const Pattern& address) {
    for (size_t i = 0; i < 3; ++i)
        if (pattern[i] != "*" && !vb::equalsIgnoreCase(pattern[i], address[i])) return false;
    return true;
}

int NinjaCamera::indexOf(std::string_view code) {
    if (code.size() < 2) return 0;
    return static_cast<int>(vb::Val(code.substr(1)));
}
