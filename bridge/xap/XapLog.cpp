#include "xap/XapLog.h"

#include <QLoggingCategory>

#include "base/Clock.h"
#include "base/Convert.h"
#include "base/Err.h"
#include "xap/ErrorLogFile.h"
#include "xap/xapGlobal.h"

// Both logs also go to standard error, where the journal keeps them.
Q_LOGGING_CATEGORY(lcErrorLog, "brindle.errorlog", QtInfoMsg)
Q_LOGGING_CATEGORY(lcEventLog, "brindle.eventlog", QtInfoMsg)

std::string LogText(const std::string& text) {
    if (text.size() <= kMaxLoggedText) return text;
    return text.substr(0, kMaxLoggedText) + "... (" + std::to_string(text.size()) + " bytes)";
}

void LogError(const std::string& label, const std::string& text) {
    try {
        const std::string line = label + ' ' + LogText(text) + ' ' + std::to_string(Err::Erl()) +
                                 ' ' + LogText(Err::Description());
        ErrorLogFile::instance().write(line);
        qCCritical(lcErrorLog, "%s", line.c_str());
    } catch (...) {
        // The error log is the last resort; nothing is left to report to.
    }
    Err::Clear();
}

void LogEvent(const std::string& type, const std::string& text) {
    std::string note;
    if (Err::pending()) {
        note = " Line " + std::to_string(Err::Erl()) + " " + Err::Description();
        Err::Clear();
    }
    try {
        // The journal's copy is cut; the message on xAP keeps the whole text.
        qCInfo(lcEventLog, "%s: %s", type.c_str(), LogText(text + note).c_str());
        std::string data = xapGlobal::item("Time", vb::dateTimeText(Clock::current().now()));
        data += xapGlobal::item("Type", type);
        data += xapGlobal::item("Data", text + note);
        xapGlobal::SendXap("", "Homeseer.Event", "Event.Log", data, "", xapGlobal::values().XapUID);
    } catch (...) {
        // A log that cannot be sent is dropped; logging never fails its caller.
    }
}

void LogFault(const std::string& text) {
    Err::capture();
    LogEvent("brindlehub", text);
}
