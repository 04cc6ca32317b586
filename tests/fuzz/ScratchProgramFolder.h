#pragma once
// What every fuzz target sets up once, before its first input.
//
// Log lines are switched off: millions of them on standard error would bury a
// finding and slow the run. The error log file still gets written, into a
// throw-away program folder whose log file is /dev/null, so that path runs
// without filling a disk. The folder has a fixed name per target, so a run
// that ends in a finding leaves nothing new behind and two runs of the same
// target may share it.

#include <QLoggingCategory>
#include <QString>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

inline void silenceLogs() {
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
}

inline void useScratchProgramFolder(const std::string& name) {
    namespace fs = std::filesystem;
    silenceLogs();
    std::error_code ec;
    const fs::path home = fs::temp_directory_path(ec) / ("brindle-" + name);
    fs::create_directories(home / "Data", ec);
    fs::create_symlink("/dev/null", home / "Data" / "brindlehub.txt", ec);
    setenv("BRINDLE_HOME", home.c_str(), 1);
}
