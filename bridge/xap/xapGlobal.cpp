#include "xap/xapGlobal.h"

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
    std::string s;
    s.reserve(key.size() + value.size() + 2);
    s.append(key);
    s.push_back('\x01');
    s.append(value);
    s.push_back('\0');
    return s;
}

void reset() {
    values() = Values{};
}

}  // namespace xapGlobal
