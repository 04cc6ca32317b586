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
    int16_t result = 0;
    try {
        auto record = std::make_shared<EventClass>();
        record->name = name;
        m_events.push_back(std::move(record));
        result = position(m_events.size());
    } catch (...) {
        LogFault("NewEvent ");
    }
    return result;
}

std::shared_ptr<EventClass> EventList::NewEventEx(const std::string& name) {
    std::shared_ptr<EventClass> result;
    try {
        result = GetEvent(NewEvent(name));
    } catch (...) {
        LogFault("NewEventEx ");
    }
    return result;
}

void EventList::DeleteEvent(const std::string& evname) {
    try {
        const int16_t index = GetEventIndex(evname);
        if (index >= 1 && static_cast<std::size_t>(index) <= m_events.size())
            m_events.erase(m_events.begin() + (index - 1));
    } catch (...) {
        LogFault("DeleteEvent ");
    }
}

int16_t EventList::EventCount() const {
    int16_t result = 0;
    try {
        result = position(m_events.size());
    } catch (...) {
        LogFault("EventCount ");
    }
    return result;
}

bool EventList::EventExists(const std::string& eventName) const {
    bool result = false;
    try {
        result = GetEventEx(eventName) != nullptr;
    } catch (...) {
        LogFault("EventExists ");
    }
    return result;
}

std::shared_ptr<EventClass> EventList::GetEvent(int16_t index) const {
    std::shared_ptr<EventClass> result;
    try {
        if (index >= 1 && static_cast<std::size_t>(index) <= m_events.size())
            result = m_events[static_cast<std::size_t>(index) - 1];
    } catch (...) {
        LogFault("GetEvent ");
    }
    return result;
}

int16_t EventList::GetEventIndex(const std::string& eventName) const {
    int16_t result = -1;
    try {
        for (std::size_t i = 0; i < m_events.size(); ++i) {
            if (vb::equalsIgnoreCase(m_events[i]->name, eventName)) {
                result = position(i + 1);
                break;
            }
        }
    } catch (...) {
        LogFault("GetEventIndex ");
    }
    return result;
}

std::shared_ptr<EventClass> EventList::GetEventEx(const std::string& eventName) const {
    std::shared_ptr<EventClass> result;
    try {
        for (const auto& record : m_events) {
            if (vb::equalsIgnoreCase(record->name, eventName)) {
                result = record;
                break;
            }
        }
    } catch (...) {
        LogFault("GetEventEx ");
    }
    return result;
}

std::vector<Variant> EventList::GetEventList() const {
    std::vector<Variant> result;
    try {
        result.reserve(m_events.size());
        for (const auto& record : m_events) result.emplace_back(record);
    } catch (...) {
        LogFault("GetEventList ");
    }
    return result;
}

void EventList::EnableEvent(const std::string& evname) {
    setEnabled(evname, true, "EnableEvent ");
}

void EventList::DisableEvent(const std::string& evname) {
    setEnabled(evname, false, "DisableEvent ");
}

void EventList::setEnabled(const std::string& evname, bool enabled, const char* member) {
    try {
        if (auto record = GetEventEx(evname)) record->Enabled = enabled;
    } catch (...) {
        LogFault(member);
    }
}

std::shared_ptr<condition> EventList::NewCondition() const {
    std::shared_ptr<condition> result;
    try {
        result = std::make_shared<condition>();
    } catch (...) {
        LogFault("NewCondition ");
    }
    return result;
}

std::shared_ptr<devFunc> EventList::NewDevFunc() const {
    std::shared_ptr<devFunc> result;
    try {
        result = std::make_shared<devFunc>();
    } catch (...) {
        LogFault("NewDevFunc ");
    }
    return result;
}
