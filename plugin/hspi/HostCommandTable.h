#pragma once
// The two vocabularies the plug-in translates between: the host's X10 command
// codes (0 All Units Off ... 6 All Lights Off, with the names ExecX10 takes)
// and the transceiver's eX10CMD codes, plus the names of the camera commands
// as the log and the camera devices' values show them. Both directions use
// the same table, so a transmitted and a received command can never disagree.

#include <array>
#include <cstdint>
#include <optional>

#include "radio/eX10CMD.h"

class HostCommandTable {
public:
    struct Entry {
        int16_t hostCode;
        const char* name;  // as ExecX10 takes it
        eX10CMD command;
    };

    // Host code 19 in SetIO: set the device's value (camera devices).
    static constexpr int16_t kSetValue = 19;

    // The transceiver command for host codes 0 to 6; nothing for any other code.
    static std::optional<Entry> byHostCode(int32_t hostCode) {
        for (const Entry& e : kEntries)
            if (e.hostCode == hostCode) return e;
        return std::nullopt;
    }
    // The host code and name of a standard received command (1 to 4, 21 to 23).
    static std::optional<Entry> byCommand(int32_t command) {
        for (const Entry& e : kEntries)
            if (e.command == command) return e;
        return std::nullopt;
    }
    // The name of a camera command (5 to 20), or nullptr.
    static const char* cameraName(int32_t command) {
        if (command < cUP || command > cSWEEPProgram) return nullptr;
        return kCameraNames[static_cast<std::size_t>(command - cUP)];
    }

private:
    static constexpr std::array<Entry, 7> kEntries{{
        {0, "All Units Off", cAllUnitsOff},
        {1, "All Lights On", cAllLightsOn},
        {2, "On", cON},
        {3, "Off", cOFF},
        {4, "Dim", cDIM},
        {5, "Bright", cBRIGHT},
        {6, "All Lights Off", cAllLightsOff},
    }};
    static constexpr std::array<const char*, 16> kCameraNames{
        "Up", "Down",   "Left", "Right",  "P1",     "P1 Set",      "P2",    "P2 Set",
        "P3", "P3 Set", "P4",   "P4 Set", "Center", "P Clear All", "Sweep", "SweepProgram",
    };
};
