#pragma once
// The byte logic of the CM19A transceiver, kept apart from device access so it
// can be tested without a device. Every member is static and keeps no state:
// `cFirecrackerUSB` owns the transmit properties, the pipes and the events and
// calls in here.
//
// Contract:
// - CheckHouseCode / CheckDeviceCode are the property setters' checks. They
//   raise RuntimeError 1 or 2 (source "cFirecrackerUSB") with the texts the
//   caller sees; the setter then keeps its old value.
// - BuildFrame turns house, unit and command into the bytes of one write:
//   5 bytes for the standard commands (1-4, 21-23), 4 bytes of the camera
//   layout for every other code. It never fails for a checked house code.
// - InitialisationFrame is written once after every open of the device.
// - DecodeFrame turns the bytes of one completed read into at most one event.
//   Frames whose complements or check byte are wrong, and the lone 0xFF the
//   device sends, give no event and no log line; anything else that is not a
//   valid standard or camera frame is returned whole as ReceivedUnknown.
// - WritePlan and WritesDone hold SendCmd's rule for when to stop writing, so
//   the loop that owns the write handle only has to feed it the clock.
// SendRaw writes the caller's byte array unchanged, so it needs nothing here.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "radio/eX10CMD.h"

class X10FrameCodec {
public:
    using Bytes = std::vector<std::uint8_t>;

    // One decoded standard or camera frame, as `Received` reports it.
    struct Received {
        std::string housecode;        // one upper-case letter A to P
        std::int32_t devicecode = 0;  // 1 to 16; 0 for camera, dim, bright and whole-house commands
        eX10CMD command = cON;
        friend bool operator==(const Received&, const Received&) = default;
    };
    // Any other completed read, as a copy of all its bytes.
    struct ReceivedUnknown {
        Bytes Bin;
        friend bool operator==(const ReceivedUnknown&, const ReceivedUnknown&) = default;
    };
    // std::monostate: the read is dropped silently.
    using Decoded = std::variant<std::monostate, Received, ReceivedUnknown>;

    static constexpr const char* kErrorSource = "cFirecrackerUSB";
    static constexpr int kInvalidHouseCode = 1;
    static constexpr int kInvalidDeviceCode = 2;
    static constexpr const char* kInvalidHouseCodeText =
        "Invalid House Code, Only Values A-P are allowed.";
    static constexpr const char* kInvalidDeviceCodeText =
        "Invalid Device Code, Only values 1-16 are allowed.";

    // The first character, upper-cased, as index 0 (A) to 15 (P); anything else,
    // the empty text included, raises error 1.
    static int HouseIndex(std::string_view housecode);
    // The letter the `housecode` setter stores ("c" gives "C"), or error 1.
    static std::string CheckHouseCode(std::string_view housecode);
    // The value the `devicecode` setter stores, or error 2 outside 1 to 16.
    static std::uint8_t CheckDeviceCode(int devicecode);

    // Whether a command travels in the 5-byte standard layout (1-4, 21-23).
    static bool IsStandardCommand(eX10CMD command);
    // The house code byte (high nibble only) of house index 0 to 15.
    static std::uint8_t HouseByte(int houseIndex);

    // The frame for the current transmit state. The house code is checked as
    // the setter does (error 1); devicecode is expected to be 1 to 16 and is
    // ignored by the camera layout. Codes outside 1 to 23 give a camera frame
    // with command byte 0x00.
    static Bytes BuildFrame(std::string_view housecode, int devicecode, eX10CMD command);
    static const Bytes& InitialisationFrame();

    // Decodes the bytes of one completed read (all of them, not just a prefix).
    // An empty read is not a frame and gives no event, as a 0-byte completion
    // is never decoded.
    static Decoded DecodeFrame(std::span<const std::uint8_t> bytes);

    // SendCmd's write loop: write, count the successful writes, and stop when
    // WritesDone says so. The start is the time-of-day in seconds (with the
    // fraction) at the first check, rounded by WriteStart to a whole second.
    static constexpr std::int32_t kMaxDurationMs = 10000;
    static constexpr std::int32_t kDefaultRepeats = 3;
    struct WritePlan {
        std::int32_t durationMs = 0;             // at most kMaxDurationMs; not bounded below
        std::int32_t repeats = kDefaultRepeats;  // not bounded
        friend bool operator==(const WritePlan&, const WritePlan&) = default;
    };
    static WritePlan PlanWrites(std::int32_t lngDuration = 0,
                                std::int32_t lngRepeats = kDefaultRepeats);
    static double WriteStart(double timeOfDaySeconds);
    static bool WritesDone(const WritePlan& plan, double startSeconds, double nowSeconds,
                           std::int32_t successfulWrites);
};
