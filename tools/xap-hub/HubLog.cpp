#include "xap-hub/HubLog.h"

#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/RepeatedLineFilter.h"

namespace {

RepeatedLineFilter& filter() {
    static RepeatedLineFilter f;
    return f;
}

double nowSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Under systemd the journal reads a syslog priority from "<N>" at the start of
// each line; elsewhere a word says how serious the line is.
const char* levelPrefix(HubLog::Level level) {
    static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    switch (level) {
        case HubLog::Level::Info:
            return journal ? "<6>" : "info: ";
        case HubLog::Level::Warning:
            return journal ? "<4>" : "warning: ";
        case HubLog::Level::Error:
            return journal ? "<3>" : "error: ";
    }
    return "";
}

void writeLine(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

void HubLog::write(Level level, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::string line = std::string(levelPrefix(level)) + "xap.hub: " + text;
    // One line each, whatever the text held.
    for (char& c : line)
        if (c == '\n') c = ' ';
    for (const std::string& out : filter().take(line, nowSeconds())) writeLine(out);
}

void HubLog::flush() {
    for (const std::string& summary : filter().flush()) writeLine(summary);
}
