#pragma once
// The host's event list: an ordered store of EventClass records, positions
// counted from 1, that plug-ins and scripts fill and read through the host
// object's event members. Events live in memory only; nothing saves,
// schedules or fires them.
//
// Each member is named as the host member it serves and takes its arguments as
// the late-bound table passes them, so the host object can list it with
// method("Name", &EventList::Name). Names are compared ignoring case; the
// first record of a name wins. Every member catches its own faults, writes
// them to the event log ("brindlehub", the member's name and a space) and
// returns what it had: 0 or -1, an empty pointer (Nothing), false.
//
// Not a Dispatch object itself, so a class that also derives from Dispatch can
// take these members in. One thread, no locks; records are shared with callers.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "binding/Variant.h"
#include "host/EventClass.h"
#include "host/condition.h"
#include "host/devFunc.h"

class EventList {
public:
    // Appends a record named `name`; the result is its position (the count).
    int16_t NewEvent(const std::string& name);
    // NewEvent, then the record at the position it returned.
    std::shared_ptr<EventClass> NewEventEx(const std::string& name);
    // Removes the first record of that name; an unknown name removes nothing.
    void DeleteEvent(const std::string& evname);
    int16_t EventCount() const;
    // The write side of EventCount: the count follows the records, so ignored.
    void setEventCount(int16_t) {}
    bool EventExists(const std::string& eventName) const;
    // The record at `index` (1 to the count), or nothing.
    std::shared_ptr<EventClass> GetEvent(int16_t index) const;
    // The position of the first record of that name, or -1.
    int16_t GetEventIndex(const std::string& eventName) const;
    std::shared_ptr<EventClass> GetEventEx(const std::string& eventName) const;
    // The records in order, as an array of objects. The records are shared, so
    // changing one through the array changes the list's record; adding to or
    // removing from the array does not change the list.
    std::vector<Variant> GetEventList() const;
    // Set Enabled of the first record of that name; an unknown name does nothing.
    void EnableEvent(const std::string& evname);
    void DisableEvent(const std::string& evname);
    // Fresh records for plug-ins to fill and attach to an event; not kept here.
    std::shared_ptr<condition> NewCondition() const;
    std::shared_ptr<devFunc> NewDevFunc() const;

    // Releases every record (the host window's unload).
    void clearEvents() { m_events.clear(); }

private:
    void setEnabled(const std::string& evname, bool enabled, const char* member);

    std::vector<std::shared_ptr<EventClass>> m_events;
};
