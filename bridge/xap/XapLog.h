#pragma once
// The two logs of the program: the error log file Data/brindlehub.txt below the
// program folder, and the event log that goes out as "Homeseer.Event" xAP
// messages. Both read the pending run-time fault (Err) into their text and
// clear it, and both also write each line to standard error (an error, or an
// information line) for the journal. Neither ever raises.

#include <string>
#include <string_view>
#include <type_traits>

void LogError(const std::string& label, const std::string& text);
void LogEvent(const std::string& type, const std::string& text);

// For catch blocks at an operation's boundary: records the fault being handled
// and sends the event-log message of type "brindlehub" with the given text,
// which by convention starts with the operation's name.
void LogFault(const std::string& text);

// The fault boundary of a host member: runs body and returns its result; a
// fault body raises is logged by LogFault(source) and the member returns
// fallback instead. source is the member's name and a space, as the log wants.
template <typename Body>
std::invoke_result_t<Body&> guarded(std::string_view source, std::invoke_result_t<Body&> fallback,
                                    Body&& body) {
    try {
        return body();
    } catch (...) {
        LogFault(std::string(source));
        return fallback;
    }
}

// The same for a member that returns nothing.
template <typename Body>
void guarded(std::string_view source, Body&& body) {
    try {
        body();
    } catch (...) {
        LogFault(std::string(source));
    }
}
