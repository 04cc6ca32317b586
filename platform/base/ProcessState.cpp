#include "base/ProcessState.h"

#include <string_view>
#include <utility>
#include <vector>

namespace {

std::vector<std::pair<const char*, ProcessState::Reset>>& resets() {
    static std::vector<std::pair<const char*, ProcessState::Reset>> list;
    return list;
}

}  // namespace

bool ProcessState::registerReset(const char* name, Reset reset) {
    for (const auto& [known, fn] : resets())
        if (std::string_view(known) == name) return true;
    resets().emplace_back(name, reset);
    return true;
}

void ProcessState::resetAll() {
    for (const auto& [name, reset] : resets()) reset();
}

std::string ProcessState::names() {
    std::string out;
    for (const auto& [name, reset] : resets()) {
        if (!out.empty()) out += ' ';
        out += name;
    }
    return out;
}
