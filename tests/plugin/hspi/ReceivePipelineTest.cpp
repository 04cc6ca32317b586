// What the plug-in does with the radio commands its transceiver hears, through
// the plug-in object as the transceiver's events reach it.
#include <gtest/gtest.h>

#include "base/RuntimeError.h"
#include "support/PluginUnderTest.h"

namespace {

using ReceivePipelineTest = PluginTest;

TEST_F(ReceivePipelineTest, RepeatsWithinTheDebounceAreReportedOnceAndDoNotRenewTheWindow) {
    settings->DebounceTime(500);
    settings->Retransmit(0, true);
    for (int i = 0; i < 3; ++i, advance(100)) receive("A", 1, cON);
    EXPECT_EQ(x10Events(), Lines{"A1|A|2||"});
    EXPECT_EQ(hs->callsTo("ExecX10"), Lines{"A1|On"});
    EXPECT_TRUE(fc->sends.empty());  // standard commands go back out through the host

    // 500 ms after the first accepted frame, not after the last repeat.
    advance(200);
    receive("A", 1, cON);
    EXPECT_EQ(x10Events().size(), 2u);
    // The window is per command: Off right after On is no repeat.
    receive("A", 1, cOFF);
    EXPECT_EQ(x10Events().back(), "A1|A|3||");
}

TEST_F(ReceivePipelineTest, CameraRepeatsAreEachRetransmittedButReportedOnce) {
    settings->DebounceTime(500);
    settings->Retransmit(0, true);
    for (int i = 0; i < 3; ++i, advance(100)) receive("A", 0, cUP);
    EXPECT_EQ(fc->sends, Lines(3, "A 1 5 x1"));
    EXPECT_EQ(logs(), Lines{"Ninja Command Received|A1 (?) Up"});
    EXPECT_EQ(callback->callsTo("ValueChangeEvent"), Lines{"A1|5"});
    EXPECT_TRUE(hs->callsTo("ExecX10").empty());
}

TEST_F(ReceivePipelineTest, ADisabledHouseReportsNothingAndLogsOnlyFreshFramesOutsideLogMinimum) {
    settings->Enabled(1, false);
    receive("B", 2, cON);
    advance(100);
    receive("B", 2, cON);
    EXPECT_TRUE(x10Events().empty());
    EXPECT_EQ(logs(), Lines{"Quillon|Command for Housecode B was ingored because it is disabled."});

    settings->Logging(LogMinimum);
    advance(1000);
    receive("B", 2, cON);
    EXPECT_EQ(logs().size(), 1u);
}

TEST_F(ReceivePipelineTest, IgnoreFlagsDropOnlyTheirWholeHouseCommand) {
    settings->IgnoreALF(1, true);
    settings->IgnoreALN(1, true);
    settings->IgnoreAUF(1, true);
    receive("B", 0, cAllLightsOff);
    receive("B", 0, cAllLightsOn);
    receive("B", 0, cAllUnitsOff);
    receive("B", 3, cON);
    receive("C", 0, cAllLightsOff);
    EXPECT_EQ(logs(), (Lines{"Quillon|Command All Lights Off for Housecode B was ingored.",
                             "Quillon|Command All Lights On for Housecode B was ingored.",
                             "Quillon|Command All Units Off for Housecode B was ingored."}));
    EXPECT_EQ(x10Events(), (Lines{"B3|B|2||", "C0|C|6||"}));
}

TEST_F(ReceivePipelineTest, WholeHouseDimAndBrightTakeTheirUnitsFromTheLastAddressed) {
    receive("C", 0, cAllUnitsOff);
    receive("A", 1, cON);
    receive("A", 0, cBRIGHT);
    advance(1000);
    receive("A", 0, cDIM);
    EXPECT_EQ(x10Events(), (Lines{"C0|C|0||", "A1|A|2||", "A1|A|5||", "A1|A|4||"}));
    EXPECT_EQ(plugin->pipeline().LastUnit(0), 1);
    EXPECT_EQ(plugin->pipeline().LastUnit(2), 1);  // set on the first reception, kept by unit 0
}

TEST_F(ReceivePipelineTest, RemapAndUnitOffsetChangeTheReportedAddress) {
    settings->Remap(5, "g");
    settings->UnitOffset(4, 4);
    receive("F", 2, cON);
    receive("E", 1, cON);
    EXPECT_EQ(x10Events(), (Lines{"G2|G|2||", "E5|E|2||"}));
    EXPECT_EQ(plugin->pipeline().LastUnit(6), 2);  // kept under the remapped house
    EXPECT_EQ(plugin->pipeline().LastUnit(5), 0);

    // A remap that names no house A to P is no remap.
    const char* invalid[] = {"Z", "Q", "", "1"};
    for (const char* r : invalid) {
        callback->calls.clear();
        settings->Remap(7, r);
        advance(1000);
        receive("H", 3, cON);
        EXPECT_EQ(x10Events(), Lines{"H3|H|2||"}) << "remap '" << r << "'";
    }
}

TEST_F(ReceivePipelineTest, CameraEmulationTurnsHighUnitsIntoCameraCommands) {
    settings->NinjaEmu(3, true);
    auto cam = std::make_shared<DeviceClass>();
    cam->ref = 7;
    cam->location = "Porch";
    cam->name = "Cam";
    devices.push_back(cam);
    receive("D", 9, cON);
    advance(1000);
    refs["D1"] = 7;
    receive("D", 10, cOFF);
    receive("D", 3, cON);  // below 9: a plain command
    EXPECT_EQ(fc->sends, (Lines{"D 1 5 x1", "D 1 6 x1"}));
    EXPECT_EQ(logs(), (Lines{"Ninja Command Received|D1 (?) Up",
                             "Ninja Command Received|D1 (Porch Cam) Down"}));
    EXPECT_EQ(callback->callsTo("ValueChangeEvent"), (Lines{"D1|5", "D1|6"}));
    EXPECT_EQ(x10Events(), Lines{"D3|D|2||"});
}

TEST_F(ReceivePipelineTest, AFailingSendOrHostCallCostsOnlyItsOwnStep) {
    // An offset pushes the last unit out of 1 to 16: the camera retransmission
    // cannot address it, the report still goes out.
    settings->Retransmit(7, true);
    settings->UnitOffset(7, 10);
    receive("H", 9, cON);
    EXPECT_EQ(x10Events(), Lines{"H19|H|2||"});
    receive("H", 0, cLEFT);
    EXPECT_TRUE(fc->sends.empty());
    EXPECT_EQ(logs().back(), "Ninja Command Received|H19 (?) Left");

    // A host member that faults, or one the host lacks, ends that call only.
    callback->handlers["X10Event"] = [](Args&) -> Variant { raiseError(5, "boom"); };
    callback->handlers.erase("ValueChangeEvent");
    receive("A", 4, cON);
    receive("A", 0, cUP);
    EXPECT_EQ(hs->callsTo("ExecX10"), Lines{"H19|On"});
    EXPECT_EQ(plugin->pipeline().LastUnit(0), 4);
    EXPECT_EQ(logs().back(), "Ninja Command Received|A4 (?) Up");
}

TEST_F(ReceivePipelineTest, AFirstReceptionJustAfterMidnightIsNoRepeat) {
    clock.set(QDateTime(QDate(2024, 5, 2), QTime(0, 0, 0, 200)));
    receive("A", 1, cON);
    EXPECT_EQ(x10Events().size(), 1u);
}

TEST_F(ReceivePipelineTest, CustomCodesTriggerOncePerDebounceWindow) {
    settings->CustomAdd("Garage", {0x5D, 0x20});
    settings->Logging(LogDebug);
    const Bytes garage{0x5D, 0x20};
    fc->events.ReceivedUnknown(garage);
    advance(100);
    fc->events.ReceivedUnknown(garage);
    EXPECT_EQ(callback->callsTo("CheckTrigger"), Lines{"X10 CM19A FireCracker USB\x02"
                                                       "By Custom RF Command\x02"
                                                       "Garage"});
    EXPECT_EQ(logs(),
              (Lines{"Quillon|Unknown wireless command: 5D 20 ", "Custom Command Received|Garage",
                     "Quillon|Unknown wireless command: 5D 20 "}));

    // A code added later grows the table; an older host gets no trigger.
    hs->calls.clear();
    settings->CustomAdd("Door", {0x05, 0x1A});
    interfaceVersion = 1;
    fc->events.ReceivedUnknown({0x05, 0x1A});
    fc->events.ReceivedUnknown({0x05, 0x1A, 0x00});  // same start, longer: no match
    EXPECT_EQ(logs(),
              (Lines{"Quillon|Unknown wireless command: 5 1A ", "Quillon|Redim: 2",
                     "Custom Command Received|Door", "Quillon|Unknown wireless command: 5 1A 0 "}));
    EXPECT_EQ(callback->callsTo("CheckTrigger").size(), 1u);
}

}  // namespace
