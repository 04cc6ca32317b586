#pragma once
// The two logs of the program: the error log file Data/brindlehub.txt below the
// program folder, and the event log that goes out as "Homeseer.Event" xAP
// messages. Both read the pending run-time fault (Err) into their text and
// clear it, and both also write each line to standard error (an error, or an
// information line) for the journal. Neither ever raises.

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

// The error log's texts and standard error's copies of both logs are cut to
// kMaxLoggedText bytes (see LogText): much of what is logged quotes a peer,
// whose text may be of any length.
constexpr std::size_t kMaxLoggedText = 300;
// `text` as a log carries it: cut after kMaxLoggedText bytes, with a note of
// its full length ("... (60000 bytes)").
std::string LogText(const std::string& text);

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
