#pragma once
// Text as it stands between the quotes of a registry file's "name"="value" line.

#include <string>

inline std::string regString(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}
