#pragma once
// The process-wide xAP values and the one path by which the program sends xAP
// messages. Until the transport is bound (XapReady), messages are held back in
// order; the first message sent afterwards flushes them ahead of itself.
//
// Message data travels as one string of items: key, code 1, value, code 0, ...

#include <string>
#include <string_view>
#include <vector>

#include "xap/xapQueuedMessage.h"

class xap;

namespace xapGlobal {

struct Values {
    std::string XapSource;
    std::string XapTarget;
    std::string XapUID;
    std::string XapClass;
    bool XapReady = false;
    std::vector<xapQueuedMessage> pending;
    xap* transport = nullptr;  // not owned; set while the transport is loaded
};

Values& values();

void SendXap(const std::string& target, const std::string& msgClass, const std::string& section,
             const std::string& data, const std::string& subaddress = {},
             const std::string& uid = {});

// One item of the data argument: key, code 1, value, code 0. Control bytes in
// the key or value other than tab and LF are written as blanks; callers that
// pass outside text with LF in it blank it first.
std::string item(std::string_view key, std::string_view value);

// Back to the state before start-up (no transport, nothing pending); for tests.
void reset();

}  // namespace xapGlobal
