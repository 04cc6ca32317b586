// The plug-in object against a fake host: a callback object and an "hs" that
// record every call, a transceiver that records its sends instead of writing,
// settings on a temporary registry and a manual clock.
#include <gtest/gtest.h>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/RuntimeError.h"
#include "host/DeviceClass.h"
#include "hspi/hspi.h"
#include "registry/Registry.h"
#include "settings/cSettings.h"
#include "usb/X10FrameCodec.h"

namespace {

using Args = std::vector<Variant>;
using Bytes = std::vector<uint8_t>;

// Answers the members it was given and records each call with its arguments;
// any other name raises 438, as an object of the real host does.
class FakeObject : public Dispatch {
public:
    struct Call {
        std::string member;
        Args args;
    };
    std::map<std::string, std::function<Variant(Args&)>> handlers;
    std::vector<Call> calls;

    Variant Invoke(std::string_view name, Args& args, CallKind) override {
        auto it = handlers.find(std::string(name));
        if (it == handlers.end()) memberNotFound(name);
        calls.push_back({std::string(name), args});
        return it->second(args);
    }
    // Each call to `member`, its arguments as texts joined by "|".
    std::vector<std::string> callsTo(const std::string& member) const {
        std::vector<std::string> out;
        for (const Call& c : calls) {
            if (c.member != member) continue;
            std::string line;
            for (size_t i = 0; i < c.args.size(); ++i)
                line += (i ? "|" : "") + c.args[i].toString();
            out.push_back(line);
        }
        return out;
    }
    std::vector<std::string> memberNames() const {
        std::vector<std::string> out;
        for (const Call& c : calls) out.push_back(c.member);
        return out;
    }
};

class RecordingFC : public cFirecrackerUSB {
public:
    std::vector<std::string> sends;  // "house unit command repeats"
    std::vector<Bytes> raws;
    bool SendCmd(int32_t /*lngDuration*/, int32_t lngRepeats) override {
        sends.push_back(housecode() + " " + std::to_string(devicecode()) + " " +
                        std::to_string(command()) + " x" + std::to_string(lngRepeats));
        return true;
    }
    bool SendRaw(const Bytes& Bin) override {
        raws.push_back(Bin);
        return true;
    }
};

using Lines = std::vector<std::string>;

class hspiTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Registry registry{std::filesystem::path(dir.path().toStdString()) / "registry.reg"};
    std::shared_ptr<cSettings> settings = std::make_shared<cSettings>(registry);
    ManualClock clock{QDateTime(QDate(2024, 5, 1), QTime(12, 0, 0))};
    std::shared_ptr<FakeObject> hs = std::make_shared<FakeObject>();
    std::shared_ptr<FakeObject> callback = std::make_shared<FakeObject>();
    std::shared_ptr<RecordingFC> fc;
    std::shared_ptr<hspi> plugin = std::make_shared<hspi>();
    std::map<std::string, int32_t> refs;  // what GetDeviceRef knows
    std::vector<std::shared_ptr<DeviceClass>> devices;
    int16_t interfaceVersion = 2;

    void SetUp() override {
        Clock::install(&clock);
        for (const char* m : {"WriteLog", "ExecX10", "WaitSecs", "SetDeviceValue"})
            hs->handlers[m] = [](Args&) { return Variant(); };
        hs->handlers["InterfaceVersion"] = [this](Args&) { return Variant(interfaceVersion); };
        hs->handlers["GetDeviceRef"] = [this](Args& a) {
            auto it = refs.find(a[0].toString());
            return Variant(it == refs.end() ? int32_t{-1} : it->second);
        };
        hs->handlers["GetDeviceByRef"] = [this](Args& a) {
            for (const auto& d : devices)
                if (d->ref == a[0].toLong()) return Variant(d);
            return Variant(nullptr);
        };
        hs->handlers["DeviceCount"] = [this](Args&) {
            return Variant(static_cast<int16_t>(devices.size()));
        };
        hs->handlers["GetDevice"] = [this](Args& a) {
            return Variant(devices.at(static_cast<size_t>(a[0].toLong() - 1)));
        };
        callback->handlers["GetHSIface"] = [this](Args&) { return Variant(hs); };
        for (const char* m : {"X10Event", "ValueChangeEvent", "WriteSplash", "CheckTrigger"})
            callback->handlers[m] = [](Args&) { return Variant(); };

        plugin->RegisterCallback(callback);
        fc = std::make_shared<RecordingFC>();
        plugin->setFC(fc);
        plugin->setSettings(settings);
    }
    void TearDown() override { Clock::install(nullptr); }

    // Through the transceiver's event, as a decoded frame arrives.
    void receive(const std::string& house, int unit, eX10CMD command) {
        fc->events.Received(house, unit, command);
    }
    void advance(int ms) { clock.advanceMs(ms); }
    Lines logs() const { return hs->callsTo("WriteLog"); }
    Lines x10Events() const { return callback->callsTo("X10Event"); }
};

// --- receive pipeline ------------------------------------------------------

TEST_F(hspiTest, RepeatsWithinTheDebounceAreReportedOnceAndDoNotRenewTheWindow) {
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

TEST_F(hspiTest, CameraRepeatsAreEachRetransmittedButReportedOnce) {
    settings->DebounceTime(500);
    settings->Retransmit(0, true);
    for (int i = 0; i < 3; ++i, advance(100)) receive("A", 0, cUP);
    EXPECT_EQ(fc->sends, Lines(3, "A 1 5 x1"));
    EXPECT_EQ(logs(), Lines{"Ninja Command Received|A1 (?) Up"});
    EXPECT_EQ(callback->callsTo("ValueChangeEvent"), Lines{"A1|5"});
    EXPECT_TRUE(hs->callsTo("ExecX10").empty());
}

TEST_F(hspiTest, ADisabledHouseReportsNothingAndLogsOnlyFreshFramesOutsideLogMinimum) {
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

TEST_F(hspiTest, IgnoreFlagsDropOnlyTheirWholeHouseCommand) {
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

TEST_F(hspiTest, WholeHouseDimAndBrightTakeTheirUnitsFromTheLastAddressed) {
    receive("C", 0, cAllUnitsOff);
    receive("A", 1, cON);
    receive("A", 0, cBRIGHT);
    advance(1000);
    receive("A", 0, cDIM);
    EXPECT_EQ(x10Events(), (Lines{"C0|C|0||", "A1|A|2||", "A1|A|5||", "A1|A|4||"}));
    EXPECT_EQ(plugin->pipeline().LastUnit(0), 1);
    EXPECT_EQ(plugin->pipeline().LastUnit(2), 1);  // set on the first reception, kept by unit 0
}

TEST_F(hspiTest, RemapAndUnitOffsetChangeTheReportedAddress) {
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

TEST_F(hspiTest, CameraEmulationTurnsHighUnitsIntoCameraCommands) {
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

TEST_F(hspiTest, AFailingSendOrHostCallCostsOnlyItsOwnStep) {
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

TEST_F(hspiTest, AFirstReceptionJustAfterMidnightIsNoRepeat) {
    clock.set(QDateTime(QDate(2024, 5, 2), QTime(0, 0, 0, 200)));
    receive("A", 1, cON);
    EXPECT_EQ(x10Events().size(), 1u);
}

TEST_F(hspiTest, DecodedFramesReachThePipelineThroughTheTransceiver) {
    fc->DecodeFrame(X10FrameCodec::BuildFrame("K", 12, cOFF));
    EXPECT_EQ(x10Events(), Lines{"K12|K|3||"});
}

// --- custom codes ---------------------------------------------------------

TEST_F(hspiTest, CustomCodesTriggerOncePerDebounceWindow) {
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

TEST_F(hspiTest, ActionsAndTriggersListAndSendTheCustomCodes) {
    settings->CustomAdd("Garage", {0x5D, 0x20});
    settings->CustomAdd("12", {0x01});
    EXPECT_EQ(plugin->ActionUI(""), "Custom RF\t1\t0\tSend Custom RF Command:\t<None>\tGarage\t12");
    EXPECT_EQ(plugin->TriggerUI(""),
              "By Custom RF Command\t1\t0\tSelect Custom RF Command:\tGarage\t12");
    EXPECT_EQ(plugin->TriggerUIFormat("a\x02"
                                      "b\x02"
                                      "Garage"),
              "Custom RF Command: Garage");
    EXPECT_THROW(plugin->ActionUIFormat("a\x02"
                                        "b"),
                 RuntimeError);

    plugin->TriggerAction(
        "Custom RF\x02"
        "x\x02"
        "Garage");
    plugin->TriggerAction(
        "Custom RF\x02"
        "x\x02"
        "Gone");  // removed since: nothing, no error
    plugin->TriggerAction(
        "Custom RF\x02"
        "x\x02"
        "12");  // a numeric name is no name
    plugin->TriggerAction("Custom RF");
    EXPECT_EQ(fc->raws, std::vector<Bytes>{Bytes({0x5D, 0x20})});
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
    EXPECT_EQ(plugin->call("name").toString(), "X10 CM19A FireCracker USB");
    EXPECT_EQ(plugin->call("Capabilities").toLong(), 5);
    EXPECT_EQ(plugin->get("InterfaceStatus").toLong(), 0);
    EXPECT_EQ(plugin->get("AccessLevel").toLong(), 1);
    EXPECT_TRUE(plugin->call("SupportsTriggerUI").toBool());
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
