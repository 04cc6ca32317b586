#include "xap/X10Words.h"

#include "base/Convert.h"

namespace {
const std::string kEmpty;
}

const std::array<std::string, X10Words::kLastWord + 1>& X10Words::Words() {
    static const std::array<std::string, kLastWord + 1> words = {
        "",       "On",    "Off",    "Dim",    "Bright", "Up",     "Down",
        "Left",   "Right", "P1",     "P1_Set", "P2",     "P2_Set", "P3",
        "P3_Set", "P4",    "P4_Set", "Center", "Clear",  "Sweep",  "Sweep_Program"};
    return words;
}

const std::array<std::string, X10Words::kLastFunction + 1>& X10Words::FunctionNames() {
    static const std::array<std::string, kLastFunction + 1> names = {
        "all_units_off", "all_lights_on",  "on",        "off",          "dim",
        "bright",        "all_lights_off", "extended",  "hail_request", "hail_ack",
        "preset_dim_1",  "preset_dim_2",   "data_xfer", "status_on",    "status_off",
        "status_request"};
    return names;
}

const std::string& X10Words::Word(int position) {
    if (position < 0 || position > kLastWord) return kEmpty;
    return Words()[static_cast<size_t>(position)];
}

const std::string& X10Words::FunctionName(int code) {
    if (code < 0 || code > kLastFunction) return kEmpty;
    return FunctionNames()[static_cast<size_t>(code)];
}

int X10Words::Position(std::string_view word) {
    for (int i = 1; i <= kLastWord; ++i)
        if (vb::equalsIgnoreCase(Words()[static_cast<size_t>(i)], word)) return i;
    return -1;
}
