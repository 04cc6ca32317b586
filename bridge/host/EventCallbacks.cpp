#include "host/EventCallbacks.h"

void EventCallbacks::RegisterEventCB(int32_t evtype, const std::shared_ptr<Dispatch>& obj) {
    for (int bit = 0; bit < kLists; ++bit) {
        if ((evtype >> bit) & 1) m_lists[bit].push_back(obj);
    }
}

void EventCallbacks::notify(int list, const std::vector<std::string>& elements) {
    if (m_loading || list < 0 || list >= kLists) return;
    // A listener may register, clear or release listeners while it runs: walk a
    // snapshot, which also keeps every listener alive until its call returns.
    const std::vector<std::shared_ptr<Dispatch>> listeners = m_lists[list];
    std::vector<Variant> texts(elements.begin(), elements.end());
    for (const auto& listener : listeners) {
        if (!listener) continue;
        // A fresh argument per call: HSEvent takes it by reference and may change it.
        std::vector<Variant> args{Variant(texts)};
        try {
            listener->Invoke("HSEvent", args);
        } catch (...) {
            // One failing listener must not keep the others from hearing.
        }
    }
}

size_t EventCallbacks::listenerCount(int list) const {
    return list >= 0 && list < kLists ? m_lists[list].size() : 0;
}

Variant EventCallbacks::RegisterStatusChangeCB(const std::string& Script, const std::string& func) {
    if (!m_loading) m_statusCallbacks.push_back(Script + '\0' + func);
    return {};
}

void EventCallbacks::statusChanged(const std::string& houseCode, const std::string& unit,
                                   int16_t status, int32_t ref) {
    if (m_loading || !scriptRunner) return;
    // Copies, because a script may register callbacks or replace the runner.
    const auto runner = scriptRunner;
    const std::vector<std::string> entries = m_statusCallbacks;
    for (const std::string& entry : entries) {
        const std::size_t nul = entry.find('\0');
        const std::string script = entry.substr(0, nul);
        const std::string func = nul == std::string::npos ? std::string() : entry.substr(nul + 1);
        runner(script, func, {Variant(houseCode), Variant(unit), Variant(status), Variant(ref)});
    }
}

void EventCallbacks::clear() {
    for (auto& list : m_lists) list.clear();
    m_statusCallbacks.clear();
}
