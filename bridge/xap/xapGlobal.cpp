#include "xap/xapGlobal.h"

#include "base/ProcessState.h"
#include "xap/xap.h"

namespace xapGlobal {

Values& values() {
    static Values v;
    return v;
}

void SendXap(const std::string& target, const std::string& msgClass, const std::string& section,
             const std::string& data, const std::string& subaddress, const std::string& uid) {
    Values& v = values();
    const std::string useUid = uid.empty() ? v.XapUID : uid;
    if (!v.XapReady || v.transport == nullptr) {
        v.pending.push_back({target, useUid, msgClass, section, data, subaddress});
        return;
    }
    if (!v.pending.empty()) {
        // Swap out first: a send that logs must not re-flush the same list.
        std::vector<xapQueuedMessage> held;
        held.swap(v.pending);
        for (const auto& m : held)
            v.transport->SendXap(m.MsgTarget, m.MsgClass, m.MsgSection, m.MsgData, m.MsgSubAddress,
                                 m.MsgUID);
    }
    v.transport->SendXap(target, msgClass, section, data, subaddress, useUid);
}

std::string item(std::string_view key, std::string_view value) {
    // The separators below, and a CR that a reader takes as a line end, must
    // never come from the key or the value, or a value could add items of its
    // own. LF stays: the reports build their later blocks inside one value.
    auto appendSafe = [](std::string& out, std::string_view text) {
        for (char c : text)
            out.push_back(static_cast<unsigned char>(c) < 32 && c != '\t' && c != '\n' ? ' ' : c);
    };
    std::string s;
    s.reserve(key.size() + value.size() + 2);
    appendSafe(s, key);
    s.push_back('\x01');
    appendSafe(s, value);
    s.push_back('\0');
    return s;
}

void reset() {
    values() = Values{};
}

}  // namespace xapGlobal

namespace {
const bool kXapGlobalReset = ProcessState::registerReset("xapGlobal", [] { xapGlobal::reset(); });
}  // namespace
