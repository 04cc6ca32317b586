#pragma once
// The transceiver's command codes, the same on transmit (`command`) and on
// receive (`Received`). Codes 1 to 4 and 21 to 23 travel in standard X10 RF
// frames, 5 to 20 in pan/tilt camera frames. The values are a contract with the
// bridge, whose command word positions 1 to 20 are these codes, and with the
// host's command table; never renumber them.
//
// The underlying type is fixed so that any 32-bit value is a valid eX10CMD:
// `command` is a plain field and a caller may store 0 or 24.

#include <cstdint>

enum eX10CMD : std::int32_t {
    cON = 1,
    cOFF = 2,
    cDIM = 3,
    cBRIGHT = 4,
    cUP = 5,
    cDOWN = 6,
    cLEFT = 7,
    cRIGHT = 8,
    cP1 = 9,
    cP1Set = 10,
    cP2 = 11,
    cP2Set = 12,
    cP3 = 13,
    cP3Set = 14,
    cP4 = 15,
    cP4Set = 16,
    ccEnter = 17,
    cPClearAll = 18,
    cSWEEP = 19,
    cSWEEPProgram = 20,
    cAllUnitsOff = 21,
    cAllLightsOff = 22,
    cAllLightsOn = 23,
};
