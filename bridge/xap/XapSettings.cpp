#include "xap/XapSettings.h"

#include <filesystem>
#include <system_error>

#include "base/HostName.h"
#include "base/ProcessState.h"
#include "base/ProgramFolder.h"
#include "xap/X10Words.h"

namespace fs = std::filesystem;

XapSettings::State& XapSettings::state() {
    static State s;
    return s;
}

const std::string& XapSettings::ComputerName() {
    static const std::string name = computerNameOf(hostName());
    return name;
}

void XapSettings::CreateFolders(const std::string& path) {
    const fs::path p(ProgramFolder::mapPath(path));
    if (!p.is_absolute()) return;
    fs::path sofar = p.root_path();
    const fs::path parent = p.parent_path();
    for (const auto& part : parent.relative_path()) {
        sofar /= part;
        std::error_code ec;
        if (fs::is_directory(sofar, ec)) continue;
        if (!fs::create_directory(sofar, ec) && !fs::is_directory(sofar, ec)) return;
    }
}

void XapSettings::InitXap() {
    State& s = state();
    ComputerName();
    s.programFolder = ProgramFolder::path();
    s.programFilePath = ProgramFolder::executablePath();
    CreateFolders(s.programFolder + "/Config/x");
    CreateFolders(s.programFolder + "/Data/x");
    X10Words::Words();
    X10Words::FunctionNames();
}

void XapSettings::SetAddresses(std::string interfaceAddress, std::string broadcastAddress) {
    state().interfaceAddress = std::move(interfaceAddress);
    state().broadcastAddress = std::move(broadcastAddress);
}

namespace {
const bool kXapSettingsReset =
    ProcessState::registerReset("XapSettings", [] { XapSettings::reset(); });
}  // namespace
