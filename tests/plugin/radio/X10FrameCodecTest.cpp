#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "base/RuntimeError.h"
#include "radio/X10FrameCodec.h"
#include "support/RaisedError.h"

using Codec = X10FrameCodec;
using Bytes = Codec::Bytes;
using Received = Codec::Received;
using Unknown = Codec::ReceivedUnknown;

void PrintTo(const Codec::Decoded& d, std::ostream* os) {
    if (auto* r = std::get_if<Received>(&d))
        *os << "Received(" << r->housecode << ", " << r->devicecode << ", " << r->command << ")";
    else if (auto* u = std::get_if<Unknown>(&d))
        *os << "ReceivedUnknown(" << ::testing::PrintToString(u->Bin) << ")";
    else
        *os << "nothing";
}

namespace {

// Frames built from the transmit state, and what the same bytes give when the
// device reads them back; plain on/off frames are covered by the tables below.
struct WorkedFrame {
    const char* house;
    int unit;
    eX10CMD command;
    Bytes frame;
    Codec::Decoded decoded;
};

const WorkedFrame kWorkedFrames[] = {
    // Dim keeps the unit's high bit in the house byte but reports no unit.
    {"A", 9, cDIM, {0x20, 0x64, 0x9B, 0x98, 0x67}, Received{"A", 0, cDIM}},
    {"a", 1, cUP, {0x14, 0x97, 0x62, 0x60}, Received{"A", 0, cUP}},
    {"P", 1, cSWEEP, {0x14, 0x73, 0x6E, 0x30}, Received{"P", 0, cSWEEP}},
    // Check byte sums above 255 wrap: always on I, J and L, on K from P4 Set up.
    {"J", 1, cP4Set, {0x14, 0x30, 0x6B, 0xF0}, Received{"J", 0, cP4Set}},
    {"J", 1, cLEFT, {0x14, 0x25, 0x60, 0xF0}, Received{"J", 0, cLEFT}},
    {"I", 1, cUP, {0x14, 0x17, 0x62, 0xE0}, Received{"I", 0, cUP}},
    {"L", 1, cLEFT, {0x14, 0x05, 0x60, 0xD0}, Received{"L", 0, cLEFT}},
    {"L", 16, cSWEEPProgram, {0x14, 0x14, 0x6F, 0xD0}, Received{"L", 0, cSWEEPProgram}},
    {"K", 1, cSWEEPProgram, {0x14, 0x04, 0x6F, 0xC0}, Received{"K", 0, cSWEEPProgram}},
    // Codes outside the table go out as a camera frame nobody can read back.
    {"A", 1, eX10CMD{0}, {0x14, 0x95, 0x00, 0x60}, Unknown{{0x14, 0x95, 0x00, 0x60}}},
    {"A", 1, eX10CMD{24}, {0x14, 0x95, 0x00, 0x60}, Unknown{{0x14, 0x95, 0x00, 0x60}}},
};

TEST(X10FrameCodec, WorkedFramesBuildAndDecode) {
    for (const auto& w : kWorkedFrames) {
        SCOPED_TRACE(std::string(w.house) + std::to_string(w.unit) + " command " +
                     std::to_string(w.command));
        EXPECT_EQ(Codec::BuildFrame(w.house, w.unit, w.command), w.frame);
        EXPECT_EQ(Codec::DecodeFrame(w.frame), w.decoded);
    }
}

// The command byte each code puts on the air (standard byte 3 at unit 1, camera byte 2).
const std::pair<eX10CMD, std::uint8_t> kCommandBytes[] = {
    {cON, 0x00},          {cOFF, 0x20},          {cDIM, 0x98},        {cBRIGHT, 0x88},
    {cUP, 0x62},          {cDOWN, 0x63},         {cLEFT, 0x60},       {cRIGHT, 0x61},
    {cP1, 0x64},          {cP1Set, 0x65},        {cP2, 0x66},         {cP2Set, 0x67},
    {cP3, 0x68},          {cP3Set, 0x69},        {cP4, 0x6A},         {cP4Set, 0x6B},
    {ccEnter, 0x6C},      {cPClearAll, 0x6D},    {cSWEEP, 0x6E},      {cSWEEPProgram, 0x6F},
    {cAllUnitsOff, 0x80}, {cAllLightsOff, 0xA0}, {cAllLightsOn, 0x90}};

TEST(X10FrameCodec, EveryCommandOnEveryAddressRoundTrips) {
    for (const auto& [command, byte] : kCommandBytes) {
        const Bytes a1 = Codec::BuildFrame("A", 1, command);
        EXPECT_EQ(Codec::IsStandardCommand(command) ? a1.at(3) : a1.at(2), byte) << command;
        const bool addressed = command == cON || command == cOFF;
        for (char house = 'A'; house <= 'P'; ++house)
            for (int unit = 1; unit <= 16; ++unit) {
                const std::string h(1, house);
                EXPECT_EQ(Codec::DecodeFrame(Codec::BuildFrame(h, unit, command)),
                          Codec::Decoded(Received{h, addressed ? unit : 0, command}))
                    << h << unit << " command " << command;
            }
    }
}

TEST(X10FrameCodec, HouseAndUnitBitsOfStandardFrames) {
    const std::uint8_t houseBytes[16] = {0x60, 0x70, 0x40, 0x50, 0x80, 0x90, 0xA0, 0xB0,
                                         0xE0, 0xF0, 0xC0, 0xD0, 0x00, 0x10, 0x20, 0x30};
    const std::uint8_t unitBits[8] = {0x00, 0x10, 0x08, 0x18, 0x40, 0x50, 0x48, 0x58};
    for (int h = 0; h < 16; ++h)
        for (int unit = 1; unit <= 16; ++unit) {
            const auto b1 = static_cast<std::uint8_t>(houseBytes[h] | (unit > 8 ? 0x04 : 0));
            const auto b3 = static_cast<std::uint8_t>(unitBits[(unit - 1) % 8] | 0x20);
            const Bytes expected = {0x20, b1, static_cast<std::uint8_t>(~b1), b3,
                                    static_cast<std::uint8_t>(~b3)};
            EXPECT_EQ(Codec::BuildFrame(std::string(1, char('A' + h)), unit, cOFF), expected)
                << char('A' + h) << unit;
        }
}

TEST(X10FrameCodec, ReadsDroppedSilently) {
    const std::pair<const char*, Bytes> reads[] = {
        {"bad command complement", {0x20, 0x60, 0x9F, 0x00, 0xFE}},
        {"bad house complement", {0x20, 0x60, 0x9E, 0x00, 0xFF}},
        {"bad camera check byte", {0x14, 0x98, 0x62, 0x60}},
        {"lone idle byte", {0xFF}},
        {"empty read", {}},
    };
    for (const auto& [why, read] : reads)
        EXPECT_EQ(Codec::DecodeFrame(read), Codec::Decoded{}) << why;
}

TEST(X10FrameCodec, ReadsReportedAsUnknownWithAllTheirBytes) {
    const std::pair<const char*, Bytes> reads[] = {
        {"camera command byte outside 0x60-0x6F", {0x14, 0x95, 0x70, 0x60}},
        {"camera house byte with a low nibble", {0x14, 0x97, 0x62, 0x61}},
        {"3 bytes", {0x20, 0x60, 0x9F}},
        {"6 bytes", {0x20, 0x60, 0x9F, 0x00, 0xFF, 0x00}},
        {"two idle bytes", {0xFF, 0xFF}},
        {"one other byte", {0x00}},
        {"standard length, camera lead", {0x14, 0x60, 0x9F, 0x00, 0xFF}},
        {"camera length, standard lead", {0x20, 0x97, 0x62, 0x60}},
        {"whole read buffer", Bytes(256, 0x20)},
    };
    for (const auto& [why, read] : reads)
        EXPECT_EQ(Codec::DecodeFrame(read), Codec::Decoded(Unknown{read})) << why;
}

// Bytes no transmitter of ours sends, but other remotes may.
TEST(X10FrameCodec, StandardFramesDecodeOnlyTheBitsThatMatter) {
    const std::pair<Bytes, Received> reads[] = {
        {{0x20, 0x61, 0x9E, 0x00, 0xFF}, {"A", 1, cON}},           // house low bits
        {{0x20, 0x60, 0x9F, 0xC0, 0x3F}, {"A", 0, cAllUnitsOff}},  // unit bit with 0x80
        {{0x20, 0x60, 0x9F, 0xB0, 0x4F}, {"A", 0, cAllLightsOn}},
        {{0x20, 0x60, 0x9F, 0xA8, 0x57}, {"A", 0, cBRIGHT}},
    };
    for (const auto& [read, received] : reads)
        EXPECT_EQ(Codec::DecodeFrame(read), Codec::Decoded(received));
}

TEST(X10FrameCodec, AddressChecksNormaliseOrRaiseTheirErrors) {
    const std::pair<const char*, const char*> accepted[] = {
        {"c", "C"}, {"A", "A"}, {"p", "P"}, {"jx", "J"}};
    for (const auto& [in, stored] : accepted) EXPECT_EQ(Codec::CheckHouseCode(in), stored);
    EXPECT_EQ(Codec::CheckDeviceCode(1), 1);
    EXPECT_EQ(Codec::CheckDeviceCode(16), 16);

    const auto raised = [](const std::function<void()>& check, int number, const char* text) {
        const RuntimeError e = errorOf(check);
        EXPECT_EQ(e.number(), number);
        EXPECT_EQ(e.description(), text);
        EXPECT_EQ(e.source(), "cFirecrackerUSB");
    };
    for (const char* in : {"Q", "q", "1", "@", ""})
        raised([&] { Codec::CheckHouseCode(in); }, 1,
               "Invalid House Code, Only Values A-P are allowed.");
    for (int in : {0, 17, -1, 255})
        raised([&] { Codec::CheckDeviceCode(in); }, 2,
               "Invalid Device Code, Only values 1-16 are allowed.");
}

// When SendCmd stops writing, for a clock that may stand still.
TEST(X10FrameCodec, WriteLoopStopsAfterDurationAndRepeats) {
    struct Case {
        const char* why;
        std::int32_t duration, repeats;
        double start, now;
        std::int32_t written;
        bool done;
    };
    const Case cases[] = {
        {"defaults, two written", 0, 3, 100.0, 100.0, 2, false},
        {"defaults, three written", 0, 3, 100.0, 100.0, 3, true},
        {"capped at 10 s, 9.9 s in", 20000, 1, 100.2, 109.9, 50, false},
        {"capped at 10 s, 10 s in", 20000, 1, 100.2, 110.0, 50, true},
        {"time is up, no write yet", 20000, 1, 100.2, 115.0, 0, false},
        {"start rounds to 101", 1000, 1, 100.6, 101.9, 1, false},
        {"negative duration", -5, 2, 100.0, 100.0, 2, true},
        {"clock passed midnight", 5000, 1, 86399.7, 0.3, 1, true},
    };
    for (const auto& c : cases) {
        const Codec::WritePlan plan = Codec::PlanWrites(c.duration, c.repeats);
        EXPECT_EQ(Codec::WritesDone(plan, Codec::WriteStart(c.start), c.now, c.written), c.done)
            << c.why;
    }
}

}  // namespace
