#pragma once
// The host's notification side: the seven event-callback lists (one per bit of
// a registration type), the status-change script callbacks, and the host
// loading flag that silences both while the host window loads.
//
// Listeners are called synchronously, in registration order, through their
// late-bound member HSEvent with one argument, an array of texts; a listener
// that fails is skipped. A listener that calls back into the host runs nested.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "binding/Dispatch.h"

class EventCallbacks {
public:
    static constexpr int kLists = 7;

    // True from the start of the host window's load to its end: no
    // notifications, no script callbacks, no status-change registrations.
    bool loading() const { return m_loading; }
    void setLoading(bool loading) { m_loading = loading; }

    // Appends obj to the list of every bit 0 to 6 set in evtype; higher bits
    // are ignored. The same object may stand in several lists, and repeatedly.
    void RegisterEventCB(int32_t evtype, const std::shared_ptr<Dispatch>& obj);
    // Calls HSEvent(elements) on every object of list `list` unless loading.
    void notify(int list, const std::vector<std::string>& elements);
    size_t listenerCount(int list) const;
    // The objects of one list, in registration order (empty for other numbers).
    std::vector<std::shared_ptr<Dispatch>> listeners(int list) const {
        if (list < 0 || list >= kLists) return {};
        return m_lists[list];
    }

    // Appends Script + NUL + func, except while loading (then it is dropped).
    Variant RegisterStatusChangeCB(const std::string& Script, const std::string& func);
    // Runs every status-change script callback with the four values, unless
    // loading. Faults of the runner reach the caller (the device member logs them).
    void statusChanged(const std::string& houseCode, const std::string& unit, int16_t status,
                       int32_t ref);
    const std::vector<std::string>& statusChangeCallbacks() const { return m_statusCallbacks; }

    // Runs a script function (the host's RunEx); set once the script runner
    // exists. Without it, status-change callbacks do nothing.
    std::function<Variant(const std::string& script, const std::string& func,
                          const std::vector<Variant>& params)>
        scriptRunner;

    // Releases every list (the host window's unload).
    void clear();

private:
    bool m_loading = false;
    std::vector<std::shared_ptr<Dispatch>> m_lists[kLists];
    std::vector<std::string> m_statusCallbacks;
};
