#pragma once
// Who a pan/tilt camera is. Cameras are numbered 1 to 254; from the index the
// gateway derives the host device code (Q1 ... T62), the radio address
// (A1 ... P14), the xAP UID (the gateway's UID with the index as its last two
// hex digits) and the three-part BSC address under which xAP peers find it.

#include <array>
#include <string>
#include <string_view>

class NinjaCamera {
public:
    static constexpr int kFirst = 1;
    static constexpr int kLast = 254;

    using Pattern = std::array<std::string, 3>;

    // "Q" + (index-1)/64 ... followed by ((index-1) mod 64) + 1.
    static std::string hostCode(int index);
    // House letter "A" + (index-1)/16 followed by ((index-1) mod 16) + 1.
    static std::string rfAddress(int index);
    // The first six characters of the gateway UID and the index as two hex digits.
    static std::string uid(const std::string& gatewayUid, int index);
    // name (" " to "_", "=" and ":" to "-"), "CM19A_Ninja" + last five of
    // "_____" + RF address, "Ninja".
    static Pattern bscAddress(const std::string& deviceName, int index);
    static std::string subAddress(const std::string& deviceName, int index);

    // The pattern after the first ":" of an address: three lower-cased parts,
    // "*" where missing, a ">" part leaving itself and the rest as "*".
    // No ":" gives no pattern (false).
    static bool patternOf(const std::string& target, Pattern& pattern);
    static bool matches(const Pattern& pattern, const Pattern& address);

    // The index after the first character of a code such as "Q12"; 0 when none.
    static int indexOf(std::string_view code);
};
