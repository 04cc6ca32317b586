#pragma once
// The error log file Data/brindlehub.txt below the program folder, bounded on
// disk: repeated lines, also in turn with others, are written once a minute
// and otherwise summarised with their count (RepeatedLineFilter), and when the file would grow past
// kMaxBytes it is renamed to brindlehub.txt.1 (replacing the older one) and a new file begun, so
// the log never takes more than about twice kMaxBytes. Writing never raises; a line that cannot be
// written is dropped, as there is nothing left to report to.

#include <cstdint>
#include <string>

#include "base/RepeatedLineFilter.h"

class ErrorLogFile {
public:
    static constexpr std::uintmax_t kMaxBytes = 1024 * 1024;
    static constexpr const char* kName = "brindlehub.txt";

    static ErrorLogFile& instance();

    // Appends one line (without its line end).
    void write(const std::string& line);
    // Writes the count of repeats not yet reported; called at shutdown.
    void flush();

private:
    void append(const std::string& line);

    RepeatedLineFilter m_filter;
    std::string m_folder;
};
