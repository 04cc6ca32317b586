#include "host/EventList.h"

#include "base/Convert.h"
#include "xap/XapLog.h"

namespace {

// Positions and counts travel as 16-bit integers; a list longer than that
// overflows (error 6) like any other 16-bit result.
int16_t position(std::size_t n) {
    return vb::CInt(static_cast<double>(n));
}

}  // namespace

int16_t EventList::NewEvent(const std::string& name) {
    return guarded("NewEvent ", 0, [&]() -> int16_t {
        auto record = std::make_shared<EventClass>();
        record->name = name;
        m_events.push_back(std::move(record));
        return position(m_events.size());
    });
}

std::shared_ptr<EventClass> EventList::NewEventEx(const std::string& name) {
    return guarded("NewEventEx ", nullptr, [&] { return GetEvent(NewEvent(name)); });
}

void EventList::DeleteEvent(const std::string& evname) {
    guarded("DeleteEvent ", [&] {
        const int16_t index = GetEventIndex(evname);
        if (index >= 1 && static_cast<std::size_t>(index) <= m_events.size())
            m_events.erase(m_events.begin() + (index - 1));
    });
}

int16_t EventList::EventCount() const {
    return guarded("EventCount ", 0, [&] { return position(m_events.size()); });
}

bool EventList::EventExists(const std::string& eventName) const {
    return guarded("EventExists ", false, [&] { return GetEventEx(eventName) != nullptr; });
}

std::shared_ptr<EventClass> EventList::GetEvent(int16_t index) const {
    return guarded("GetEvent ", nullptr, [&]() -> std::shared_ptr<EventClass> {
        if (index < 1 || static_cast<std::size_t>(index) > m_events.size()) return nullptr;
        return m_events[static_cast<std::size_t>(index) - 1];
    });
}

int16_t EventList::GetEventIndex(const std::string& eventName) const {
    return guarded("GetEventIndex ", -1, [&]() -> int16_t {
        for (std::size_t i = 0; i < m_events.size(); ++i)
            if (vb::equalsIgnoreCase(m_events[i]->name, eventName)) return position(i + 1);
        return -1;
    });
}

std::shared_ptr<EventClass> EventList::GetEventEx(const std::string& eventName) const {
    return guarded("GetEventEx ", nullptr, [&]() -> std::shared_ptr<EventClass> {
        for (const auto& record : m_events)
            if (vb::equalsIgnoreCase(record->name, eventName)) return record;
        return nullptr;
    });
}

std::vector<Variant> EventList::GetEventList() const {
    return guarded("GetEventList ", {},
                   [&] { return std::vector<Variant>(m_events.begin(), m_events.end()); });
}

void EventList::EnableEvent(const std::string& evname) {
    setEnabled(evname, true, "EnableEvent ");
}

void EventList::DisableEvent(const std::string& evname) {
    setEnabled(evname, false, "DisableEvent ");
}

void EventList::setEnabled(const std::string& evname, bool enabled, const char* member) {
    guarded(member, [&] {
        if (auto record = GetEventEx(evname)) record->Enabled = enabled;
    });
}

std::shared_ptr<condition> EventList::NewCondition() const {
    return guarded("NewCondition ", nullptr, [] { return std::make_shared<condition>(); });
}

std::shared_ptr<devFunc> EventList::NewDevFunc() const {
    return guarded("NewDevFunc ", nullptr, [] { return std::make_shared<devFunc>(); });
}
