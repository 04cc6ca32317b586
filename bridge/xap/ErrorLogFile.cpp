#include "xap/ErrorLogFile.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/Clock.h"
#include "base/ProcessState.h"
#include "base/ProgramFolder.h"

namespace fs = std::filesystem;

ErrorLogFile& ErrorLogFile::instance() {
    static ErrorLogFile log;
    return log;
}

void ErrorLogFile::write(const std::string& line) {
    // A run of repeats belongs to one file: another program folder starts afresh.
    const std::string folder = ProgramFolder::path();
    if (folder != m_folder) {
        m_filter = RepeatedLineFilter();
        m_folder = folder;
    }
    const double now = static_cast<double>(Clock::current().epochMs()) / 1000.0;
    for (const std::string& out : m_filter.take(line, now)) append(out);
}

void ErrorLogFile::flush() {
    for (const std::string& summary : m_filter.flush()) append(summary);
}

void ErrorLogFile::append(const std::string& line) {
    try {
        const fs::path path = fs::path(ProgramFolder::path()) / "Data" / kName;
        std::error_code ec;
        const std::uintmax_t size = fs::file_size(path, ec);
        if (!ec && size + line.size() + 1 > kMaxBytes) {
            fs::path older = path;
            older += ".1";
            fs::rename(path, older, ec);
        }
        std::ofstream out(path, std::ios::app | std::ios::binary);
        if (out) out << line << "\n";
    } catch (...) {
        // The error log is the last resort; nothing is left to report to.
    }
}

namespace {
const bool kErrorLogReset =
    ProcessState::registerReset("ErrorLogFile", [] { ErrorLogFile::instance() = ErrorLogFile(); });
}  // namespace
