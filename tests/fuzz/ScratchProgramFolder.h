#pragma once
// Error-log lines of a fuzz target go to a throw-away program folder whose log
// file is /dev/null, so the write path runs without filling a disk. Call once,
// from the first input.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

inline void useScratchProgramFolder(const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path home = fs::temp_directory_path(ec) / (name + "-" + std::to_string(getpid()));
    fs::create_directories(home / "Data", ec);
    fs::create_symlink("/dev/null", home / "Data" / "brindlehub.txt", ec);
    setenv("BRINDLE_HOME", home.c_str(), 1);
}
