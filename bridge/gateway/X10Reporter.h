#pragma once
// Turns what happens on the radio side into xAP messages: received X10
// commands become "xAP-X10.event" (after the host's device states are
// updated), camera commands become "xapBSC.Event", and BSC queries are answered
// with a value list and an info report per camera, paced one report every
// 200 ms (the first at once) so a query for many cameras does not flood the hub.
// The queue holds at most kMaxPending reports, two for each possible camera: a
// report already waiting is not queued twice, and beyond the bound reports are
// dropped, with one error-log line until the queue has drained.

#include <deque>
#include <functional>
#include <string>
#include <unordered_set>

#include "base/Timer.h"
#include "binding/Variant.h"
#include "xap/xapQueuedMessage.h"

class Application;

class X10Reporter {
public:
    static constexpr int kPaceMs = 200;
    static constexpr std::size_t kMaxPending = 2 * 254;

    explicit X10Reporter(Application& hs);

    // sUnits such as "A1+2+3" (or "1+2+3"), the house letter, the X10 function
    // code 0 to 15; the two further values are not used.
    void ReportX10Event(const std::string& sUnits, const std::string& sHouse, int16_t iFunction);
    // After a camera command: the camera's state as an unpaced BSC event.
    void SendXapBSC(const std::string& sCode);
    // Answers a BSC query for every used camera its target addresses.
    void BSCQuery(const std::string& sTarget);
    void BSCTimer_Timer();

    // Told of every X10 event reported, with its Device and Event items, after
    // it went out on xAP (a house-wide event names unit 0: "B0").
    std::function<void(const std::string& devices, const std::string& event)> onX10Event;
    // Told of every command the gateway transmits to units, whatever asked
    // for it, in the same form ("A1,A3", "on"; "B1", "all_units_off"). Not an
    // event: nobody pressed a remote.
    std::function<void(const std::string& devices, const std::string& event)> onX10Command;
    // A command the host handed to the plug-in: the device as given ("A3",
    // "A1+3") and the host's command code, which numbers as the X10 function
    // codes do (0 All Units Off ... 6 All Lights Off).
    void CommandSent(const std::string& device, int16_t hostCommand);
    // "A1+2+3" (or "1+2+3") of house "A" as "A1,A2,A3".
    static std::string unitList(const std::string& units, const std::string& house);

    // Empties the pacing queue (the host's start creates it afresh).
    void reset();
    size_t pendingReports() const { return m_pending.size(); }

private:
    void sendPaced(const std::string& msgClass, const std::string& section, const std::string& data,
                   const std::string& subAddress, const std::string& uid);
    bool usedCamera(int index, std::string& name) const;

    Application& m_hs;
    Timer m_bscTimer;
    std::deque<xapQueuedMessage> m_pending;
    // The reports in m_pending, as keys, to find one already waiting.
    std::unordered_multiset<std::string> m_pendingKeys;
    bool m_overflowLogged = false;
};
