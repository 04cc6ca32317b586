#pragma once
// The two logs of the program: the error log file Data/brindlehub.txt below the
// program folder, and the event log that goes out as "Homeseer.Event" xAP
// messages. Both read the pending run-time fault (Err) into their text and
// clear it, and both also write each line to standard error (an error, or an
// information line) for the journal. Neither ever raises.

#include <string>

void LogError(const std::string& label, const std::string& text);
void LogEvent(const std::string& type, const std::string& text);

// For catch blocks at an operation's boundary: records the fault being handled
// and sends the event-log message of type "brindlehub" with the given text,
// which by convention starts with the operation's name.
void LogFault(const std::string& text);
