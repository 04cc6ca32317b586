#pragma once
// What the program wrote to the event log while no transport was up: the Data
// texts of the held-back event-log messages, oldest first, of one type
// ("brindlehub" for the faults members catch) or of every type. takeLoggedTexts
// also empties the queue, so the next call sees only what came after.

#include <string>
#include <vector>

#include "xap/xapGlobal.h"

inline std::vector<std::string> loggedTexts(const std::string& type = {}) {
    std::vector<std::string> out;
    for (const auto& m : xapGlobal::values().pending) {
        const size_t at = m.MsgData.find("Data\x01");
        if (at == std::string::npos) continue;
        if (!type.empty() && m.MsgData.find(xapGlobal::item("Type", type)) == std::string::npos)
            continue;
        out.push_back(m.MsgData.substr(at + 5, m.MsgData.find('\0', at) - at - 5));
    }
    return out;
}

inline std::vector<std::string> takeLoggedTexts() {
    std::vector<std::string> texts = loggedTexts();
    xapGlobal::values().pending.clear();
    return texts;
}
