#pragma once
// What the plug-in does with each radio command its transceiver hears: the
// per-house rules of the settings applied in a fixed order (debounce, enable,
// ignore, unit offset, remap, camera emulation and retransmission on the radio
// side, then the report to the host), and the matching of unknown frames
// against the learnt custom codes.
//
// One pipeline per hspi object; it keeps that object's memory of receptions:
// the time of the last accepted reception per house, unit and command, the
// last unit addressed per house, and the custom codes' debounce table. Times
// are time-of-day seconds from Clock::current(). A cell that never saw a
// reception counts as "long ago", so a first reception is never taken for a
// repeat, even in the first moments after midnight.
//
// Host calls go through HostLink and cannot raise; transceiver faults (a unit
// pushed out of 1 to 16 by an offset) only cancel that frame's radio side.
// Received frames come from the decoder, so house, unit and command lie in
// the tables; anything outside them is dropped without a word.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "radio/eX10CMD.h"

class cSettings;
class cFirecrackerUSB;

class ReceivePipeline {
public:
    using Bytes = std::vector<std::uint8_t>;

    static constexpr int kHouses = 17;    // house index 0 to 16
    static constexpr int kUnits = 17;     // unit 0 to 16
    static constexpr int kCommands = 24;  // every code the decoder reports, 1 to 23

    ReceivePipeline();

    // One decoded standard or camera frame. fc carries the retransmissions.
    void Received(cSettings& settings, cFirecrackerUSB& fc, const std::string& housecode,
                  int32_t unit, eX10CMD command);
    // Any other frame.
    void ReceivedUnknown(cSettings& settings, const Bytes& Bin);

    // Time of the last accepted reception; 0 when there was none.
    double LastRx(int house, int unit, int command) const;
    // Last unit addressed on a house (after remapping); 0 means never.
    int32_t LastUnit(int house) const;
    // Cells of the custom debounce table; nothing until a custom code matched.
    std::optional<std::size_t> customTableSize() const;

private:
    double& lastRx(int house, int unit, int command);
    // Retransmission and camera emulation; may change unit and command.
    void radioSide(cFirecrackerUSB& fc, const std::string& house, int h2, bool emulate,
                   bool retransmit, int32_t& unit, eX10CMD& command);
    void report(const std::string& house, int h2, bool retransmit, int32_t& unit, eX10CMD command);

    std::array<double, static_cast<std::size_t>(kHouses* kUnits* kCommands)> m_lastRx;
    std::array<int32_t, kHouses> m_lastUnit{};
    std::optional<std::vector<double>> m_customRx;
};
