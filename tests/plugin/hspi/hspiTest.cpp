// The plug-in object as the host drives it by name.
#include <gtest/gtest.h>
#include <QTimer>

#include "base/RuntimeError.h"
#include "radio/X10FrameCodec.h"
#include "support/PluginUnderTest.h"

namespace {

using hspiTest = PluginTest;

TEST_F(hspiTest, DecodedFramesReachThePipelineThroughTheTransceiver) {
    fc->DecodeFrame(X10FrameCodec::BuildFrame("K", 12, cOFF));
    EXPECT_EQ(x10Events(), Lines{"K12|K|3||"});
}

// --- custom codes ---------------------------------------------------------

TEST_F(hspiTest, ActionsAndTriggersListAndSendTheCustomCodes) {
    settings->CustomAdd("Garage", {0x5D, 0x20});
    settings->CustomAdd("12", {0x01});
    EXPECT_EQ(plugin->ActionUI(""), "Custom RF\t1\t0\tSend Custom RF Command:\t<None>\tGarage\t12");
    EXPECT_EQ(plugin->TriggerUI(""),
              "By Custom RF Command\t1\t0\tSelect Custom RF Command:\tGarage\t12");
    const std::string sep(1, '\x02');  // between the parts of an action or trigger
    EXPECT_EQ(plugin->TriggerUIFormat("a" + sep + "b" + sep + "Garage"),
              "Custom RF Command: Garage");
    EXPECT_THROW(plugin->ActionUIFormat("a" + sep + "b"), RuntimeError);

    const size_t logged = logs().size();
    plugin->TriggerAction("Custom RF" + sep + "x" + sep + "Garage");
    plugin->TriggerAction("Custom RF" + sep + "x" + sep + "Gone");  // removed since: nothing
    plugin->TriggerAction("Custom RF" + sep + "x" + sep + "Gone");
    plugin->TriggerAction("Custom RF" + sep + "x" + sep + "12");  // a numeric name is no name
    plugin->TriggerAction("Custom RF");
    EXPECT_EQ(fc->raws, std::vector<Bytes>{Bytes({0x5D, 0x20})});
    // What was caught is logged, each fault once.
    const Lines all = logs();
    const Lines caught(all.begin() + static_cast<std::ptrdiff_t>(logged), all.end());
    EXPECT_EQ(
        caught,
        (Lines{"Quillon|Sending a custom RF command failed: Invalid procedure call or argument",
               "Quillon|Sending a custom RF command failed: Subscript out of range"}));
}

// --- transmitting for the host ----------------------------------------------

TEST_F(hspiTest, ExecSendsEachUnitOfTheListUntilOneIsOutOfRange) {
    // As the host calls it: by name, house and units split, the host code.
    Args args{Variant(nullptr), "a", "2+20+3", int16_t{2}, int16_t{0}, int16_t{0}, int16_t{0}};
    plugin->Invoke("Exec", args);
    EXPECT_EQ(fc->sends, Lines{"A 2 1 x3"});

    fc->sends.clear();
    plugin->Exec({}, "P", "16+1", 6, 0, 0, 0);
    plugin->Exec({}, "Q", "1", 2, 0, 0, 0);  // beyond P
    plugin->Exec({}, "@", "1", 2, 0, 0, 0);  // before A
    plugin->Exec({}, "B", "0+1", 2, 0, 0, 0);
    plugin->Exec({}, "B", "4", 7, 0, 0, 0);  // no such host code
    EXPECT_EQ(fc->sends, (Lines{"P 16 22 x3", "P 1 22 x3"}));
}

TEST_F(hspiTest, SetIOWithCode19SwitchesOnSetsTheValueAndSendsTheCameraCommand) {
    plugin->SetIO({}, "B", "3", 19, cP2, 0, 0);
    EXPECT_EQ(hs->memberNames(), (Lines{"ExecX10", "WaitSecs", "SetDeviceValue"}));
    EXPECT_EQ(hs->callsTo("ExecX10"), Lines{"B3|On"});
    EXPECT_EQ(hs->callsTo("WaitSecs"), Lines{"1"});
    EXPECT_EQ(hs->callsTo("SetDeviceValue"), Lines{"B3|11"});
    EXPECT_EQ(fc->sends, Lines{"B 3 11 x3"});

    plugin->SetIO({}, "c", "4", 3, 0, 0, 0);
    plugin->SetIO({}, "C", "17", 2, 0, 0, 0);
    plugin->SetIO({}, "[", "1", 19, 5, 0, 0);
    EXPECT_EQ(fc->sends, (Lines{"B 3 11 x3", "C 4 2 x3"}));
}

// --- set-up and the object ---------------------------------------------------

TEST_F(hspiTest, SetUpWithTheDeviceAbsentLogsSplashesAndWaitsThreeClockSeconds) {
    fc->SetConnected(false);  // absent even where a transceiver is plugged in
    hs->calls.clear();
    callback->handlers["RegisterMenu"] = [](Args&) { return Variant(); };
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [this] { advance(250); });
    tick.start(1);
    const QDateTime start = clock.now();
    EXPECT_EQ(plugin->InitX10(0), "");
    tick.stop();
    EXPECT_GE(start.msecsTo(clock.now()), 3000);
    EXPECT_LT(start.msecsTo(clock.now()), 3500);
    EXPECT_EQ(logs().front(), "Quillon|CM19A USB Not Connected");
    EXPECT_EQ(callback->callsTo("WriteSplash"),
              Lines{"CM19A USB Not Connected\r\nPlease connect the device..."});
    EXPECT_EQ(plugin->Mode() & hspi::kModeX10, hspi::kModeX10);

    // Once per object: InitIO only adds its mode bit.
    const size_t logged = logs().size();
    EXPECT_EQ(plugin->InitIO(0), "");
    EXPECT_EQ(logs().size(), logged);
    EXPECT_EQ(plugin->Mode() & hspi::kModeIO, hspi::kModeIO);
    EXPECT_EQ(callback->callsTo("RegisterMenu"), Lines{"X10 CM19A FireCracker USB|Configure..."});
}

TEST_F(hspiTest, SetUpUpgradesOldCameraDevicesEvenWithoutDeviceValuesAdd) {
    auto device = [this](const char* iface, const char* type, const char* iomisc) {
        auto d = std::make_shared<DeviceClass>();
        d->interface = iface;
        d->dev_type_string = type;
        d->iomisc = iomisc;
        d->hc = "Q";
        d->dc = std::to_string(devices.size() + 1);
        d->name = "Cam" + d->dc;
        devices.push_back(d);
        return d;
    };
    auto old = device("X10 CM19A FireCracker USB", "Ninja Pan & Tilt Camera", "");
    auto current = device("X10 CM19A FireCracker USB", "Ninja Pan & Tilt Camera", "100");
    auto other = device("Other", "Ninja Pan & Tilt Camera", "5");
    fc->SetConnected(true);  // present: no wait

    plugin->InitX10(0);
    EXPECT_EQ(old->iomisc, "100");
    EXPECT_EQ(old->iotype, 3);
    EXPECT_EQ(old->Status, 19);
    EXPECT_EQ(current->iotype, 0);
    EXPECT_EQ(other->iomisc, "5");
    EXPECT_EQ(logs(),
              (Lines{"Quillon|CM19A USB connected.", "Quillon|Ninja Device Updated: Cam1"}));
    EXPECT_TRUE(callback->callsTo("WriteSplash").empty());
}

TEST_F(hspiTest, TheObjectAnswersByNameAndOwnsItsParts) {
    settings->Enabled(2, false);
    const auto byName = plugin->get("Settings").toObject();
    EXPECT_FALSE(byName->get("Enabled", int16_t{2}).toBool());
    byName->let("Logging", 2);
    EXPECT_EQ(settings->Logging(), LogDebug);
    EXPECT_THROW(plugin->let("FC", std::static_pointer_cast<Dispatch>(settings)), RuntimeError);

    // Replacing the transceiver moves its events; the old one goes quiet.
    auto next = std::make_shared<RecordingFC>();
    plugin->let("FC", next);
    EXPECT_FALSE(fc->events.Received);
    next->events.Received("A", 1, cON);
    EXPECT_EQ(x10Events().size(), 1u);
    // The transceiver's trouble goes to the host log.
    next->events.trouble("reading again");
    EXPECT_EQ(logs().back(), "Quillon|CM19A USB: reading again");

    // The last plug-in object lets go of the host.
    const long held = hs.use_count();
    plugin.reset();
    EXPECT_EQ(hs.use_count(), held - 1);
    EXPECT_FALSE(next->events.Received);
}

}  // namespace
