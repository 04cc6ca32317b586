#include "radio/X10FrameCodec.h"

#include <array>
#include <cmath>

#include "base/RuntimeError.h"

namespace {

// Indexed by house index A..P. The bytes are a permutation of the 16 high
// nibbles, so every byte received maps back to exactly one letter.
constexpr std::array<std::uint8_t, 16> kHouseBytes = {
    0x60, 0x70, 0x40, 0x50, 0x80, 0x90, 0xA0, 0xB0, 0xE0, 0xF0, 0xC0, 0xD0, 0x00, 0x10, 0x20, 0x30};

constexpr std::uint8_t kStandardLead = 0x20;
constexpr std::uint8_t kCameraLead = 0x14;
constexpr std::uint8_t kCameraBase = 0x60;
// Set in the house byte (cleared in its complement) for units 9 to 16.
constexpr std::uint8_t kHighUnitBit = 0x04;
constexpr std::uint8_t kOffBit = 0x20;
// The lone byte the device sends now and then; it carries nothing.
constexpr std::uint8_t kIdleByte = 0xFF;

// Camera command codes cUP..cSWEEPProgram by their low nibble on the air: the
// first four are not in code order (left and right come first).
constexpr std::array<eX10CMD, 16> kCameraCommands = {
    cLEFT, cRIGHT, cUP, cDOWN,  cP1,     cP1Set,     cP2,    cP2Set,
    cP3,   cP3Set, cP4, cP4Set, ccEnter, cPClearAll, cSWEEP, cSWEEPProgram};

std::uint8_t cameraCommandByte(eX10CMD command) {
    for (std::size_t k = 0; k < kCameraCommands.size(); ++k)
        if (kCameraCommands[k] == command) return static_cast<std::uint8_t>(kCameraBase + k);
    return 0x00;
}

// The unit's three low bits are scattered over the command byte; the fourth
// rides in the house byte.
std::uint8_t unitBits(int devicecode) {
    const int u = devicecode - 1;
    std::uint8_t bits = 0;
    if (u & 1) bits |= 0x10;
    if (u & 2) bits |= 0x08;
    if (u & 4) bits |= 0x40;
    return bits;
}

std::uint8_t cameraCheckByte(std::uint8_t commandByte, std::uint8_t houseByte) {
    return static_cast<std::uint8_t>((commandByte & 0x0F) + 5 + (houseByte & 0xF0) + 0x30);
}

std::string houseLetter(std::size_t index) {
    return std::string(1, static_cast<char>('A' + index));
}

// Later rules overwrite earlier ones; the order is part of the contract, since
// a command byte that no transmitter sends still has to decode the same way.
eX10CMD standardCommand(std::uint8_t c) {
    eX10CMD command = cON;
    if ((c & 0xA0) == 0) command = cON;
    if ((c & 0x20) == 0x20 && (c & 0x80) == 0) command = cOFF;
    if ((c & 0x80) == 0x80 && (c & 0x38) == 0) command = cAllUnitsOff;
    if ((c & 0xA0) == 0xA0 && (c & 0x18) == 0) command = cAllLightsOff;
    if ((c & 0x90) == 0x90 && (c & 0x08) == 0) command = cAllLightsOn;
    if ((c & 0x98) == 0x98) command = cDIM;
    if ((c & 0x88) == 0x88 && (c & 0x10) == 0) command = cBRIGHT;
    return command;
}

X10FrameCodec::Decoded decodeStandard(std::span<const std::uint8_t> b) {
    if (b[4] != static_cast<std::uint8_t>(0xFF - b[3]) ||
        b[2] != static_cast<std::uint8_t>(0xFF - b[1]))
        return std::monostate{};

    const std::uint8_t c = b[3];
    // The high unit bit is read from the complement byte; both agree once the
    // complement has been checked.
    const int u = ((c & 0x10) ? 1 : 0) + ((c & 0x08) ? 2 : 0) + ((c & 0x40) ? 4 : 0) +
                  ((b[2] & kHighUnitBit) == 0 ? 8 : 0);
    const eX10CMD command = standardCommand(c);
    // Only on and off address a unit; the others report unit 0.
    const int unit = (command == cON || command == cOFF) ? u + 1 : 0;

    std::size_t house = 0;
    while (kHouseBytes[house] != (b[1] & 0xF0)) ++house;
    return X10FrameCodec::Received{houseLetter(house), unit, command};
}

X10FrameCodec::Decoded decodeCamera(std::span<const std::uint8_t> b) {
    if (b[1] != cameraCheckByte(b[2], b[3])) return std::monostate{};

    // The check byte covers only the nibbles it adds up, so the command byte's
    // high nibble and the house byte's low nibble still have to be proved.
    if ((b[2] & 0xF0) != kCameraBase) return X10FrameCodec::ReceivedUnknown{{b.begin(), b.end()}};
    for (std::size_t house = 0; house < kHouseBytes.size(); ++house)
        if (kHouseBytes[house] == b[3])
            return X10FrameCodec::Received{houseLetter(house), 0, kCameraCommands[b[2] & 0x0F]};
    return X10FrameCodec::ReceivedUnknown{{b.begin(), b.end()}};
}

}  // namespace

int X10FrameCodec::HouseIndex(std::string_view housecode) {
    if (!housecode.empty()) {
        char letter = housecode.front();
        if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
        if (letter >= 'A' && letter <= 'P') return letter - 'A';
    }
    raiseError(kInvalidHouseCode, kInvalidHouseCodeText, kErrorSource);
}

std::string X10FrameCodec::CheckHouseCode(std::string_view housecode) {
    return houseLetter(static_cast<std::size_t>(HouseIndex(housecode)));
}

std::uint8_t X10FrameCodec::CheckDeviceCode(int devicecode) {
    if (devicecode < 1 || devicecode > 16)
        raiseError(kInvalidDeviceCode, kInvalidDeviceCodeText, kErrorSource);
    return static_cast<std::uint8_t>(devicecode);
}

bool X10FrameCodec::IsStandardCommand(eX10CMD command) {
    return (command >= cON && command <= cBRIGHT) ||
           (command >= cAllUnitsOff && command <= cAllLightsOn);
}

std::uint8_t X10FrameCodec::HouseByte(int houseIndex) {
    return kHouseBytes.at(static_cast<std::size_t>(houseIndex));
}

X10FrameCodec::Bytes X10FrameCodec::BuildFrame(std::string_view housecode, int devicecode,
                                               eX10CMD command) {
    const std::uint8_t houseByte = HouseByte(HouseIndex(housecode));

    if (!IsStandardCommand(command)) {
        const std::uint8_t commandByte = cameraCommandByte(command);
        return {kCameraLead, cameraCheckByte(commandByte, houseByte), commandByte, houseByte};
    }

    // The dim, bright and whole-house commands replace the unit bits but still
    // carry the unit's high bit in the house byte.
    std::uint8_t b1 = houseByte;
    if (devicecode >= 9 && devicecode <= 16) b1 |= kHighUnitBit;
    std::uint8_t b3 = unitBits(devicecode);
    switch (command) {
        case cOFF:
            b3 |= kOffBit;
            break;
        case cBRIGHT:
            b3 = 0x88;
            break;
        case cDIM:
            b3 = 0x98;
            break;
        case cAllUnitsOff:
            b3 = 0x80;
            break;
        case cAllLightsOff:
            b3 = 0xA0;
            break;
        case cAllLightsOn:
            b3 = 0x90;
            break;
        default:
            break;
    }
    return {kStandardLead, b1, static_cast<std::uint8_t>(0xFF - b1), b3,
            static_cast<std::uint8_t>(0xFF - b3)};
}

const X10FrameCodec::Bytes& X10FrameCodec::InitialisationFrame() {
    static const Bytes frame = {0x80, 0x01, 0x00, 0x20, 0x14, 0x24, 0x20, 0x20};
    return frame;
}

X10FrameCodec::Decoded X10FrameCodec::DecodeFrame(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return std::monostate{};
    if (bytes.size() == 5 && bytes[0] == kStandardLead) return decodeStandard(bytes);
    if (bytes.size() == 4 && bytes[0] == kCameraLead) return decodeCamera(bytes);
    if (bytes.size() == 1 && bytes[0] == kIdleByte) return std::monostate{};
    return ReceivedUnknown{{bytes.begin(), bytes.end()}};
}

X10FrameCodec::WritePlan X10FrameCodec::PlanWrites(std::int32_t lngDuration,
                                                   std::int32_t lngRepeats) {
    return {lngDuration > kMaxDurationMs ? kMaxDurationMs : lngDuration, lngRepeats};
}

double X10FrameCodec::WriteStart(double timeOfDaySeconds) {
    return std::round(timeOfDaySeconds);
}

bool X10FrameCodec::WritesDone(const WritePlan& plan, double startSeconds, double nowSeconds,
                               std::int32_t successfulWrites) {
    // "At least the duration" rather than "more than": with a duration of 0 a
    // clock that reads exactly the rounded start (a frozen test clock, or a
    // coarse one) would otherwise keep the loop writing past the repeat count.
    const double elapsedMs = std::fabs(startSeconds - nowSeconds) * 1000.0;
    return elapsedMs >= plan.durationMs && successfulWrites >= plan.repeats;
}
