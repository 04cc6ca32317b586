// What the gateway does with the xAP messages it receives, and what it reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "gateway/CommandDispatcher.h"
#include "gateway/NinjaCamera.h"
#include "gateway/X10Reporter.h"
#include "host/Application.h"
#include "host/Setup.h"
#include "host/WebSettings.h"
#include "support/FakeKestrel.h"
#include "support/TempHome.h"
#include "xap/XapMessage.h"
#include "xap/XapSettings.h"
#include "xap/xap.h"
#include "xap/xapGlobal.h"

namespace {

const char* const kSource = "qix.CM19A.test";

std::string message(const std::string& msgClass, const std::string& target,
                    const std::string& blocks, const std::string& source = "acme.tester.box") {
    std::string text =
        "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=" + msgClass + "\nsource=" + source + "\n";
    if (!target.empty()) text += "target=" + target + "\n";
    return text + "}\n" + blocks;
}

// The text the transport would send for a held-back message.
std::string wire(const xapQueuedMessage& m) {
    return xap::BuildXap(kSource, m.MsgUID, m.MsgTarget, m.MsgClass, m.MsgSection, m.MsgData,
                         m.MsgSubAddress);
}

class Dispatcher : public ::testing::Test {
protected:
    void SetUp() override {
        xapGlobal::reset();
        xapGlobal::values().XapSource = kSource;
        xapGlobal::values().XapUID = "FF008700";
        hs = Application::create().shared();
        hostForm = std::make_shared<::Setup>(hs);
        hostForm->Form_Load();
        hs->setPlugin(plugin);
        reporter = std::make_unique<X10Reporter>(*hs);
        dispatcher.emplace(hs, reporter.get(), [this] { ++blinks; });
        dispatcher->bindTransceiver(transceiver);
        WebSettings::instance().NinjaIncrement = 10;
        xapGlobal::values().pending.clear();
    }
    void TearDown() override {
        reporter.reset();
        Application::release();
        xapGlobal::reset();
    }
    std::vector<xapQueuedMessage> sent(const std::string& msgClass = {}) {
        std::vector<xapQueuedMessage> out;
        for (const auto& m : xapGlobal::values().pending)
            if (msgClass.empty() || m.MsgClass == msgClass) out.push_back(m);
        return out;
    }
    void useCamera(int index, const std::string& name = {}) {
        auto dev = hs->devices().GetDeviceByCode(NinjaCamera::hostCode(index));
        ASSERT_TRUE(dev);
        dev->let("iotype", 1);
        if (!name.empty()) dev->let("name", name);
    }
    // Re-reads the messages the last call produced, feeding them back in as
    // the hub would.
    void echoBack() {
        const auto out = sent();
        xapGlobal::values().pending.clear();
        for (const auto& m : out) dispatcher->Readmessage(wire(m));
    }

    TempHome home;
    std::shared_ptr<Application> hs;
    std::shared_ptr<::Setup> hostForm;
    std::shared_ptr<FakePlugin> plugin = std::make_shared<FakePlugin>();
    std::shared_ptr<FakeTransceiver> transceiver = std::make_shared<FakeTransceiver>();
    std::unique_ptr<X10Reporter> reporter;
    std::optional<CommandDispatcher> dispatcher;
    int blinks = 0;
};

TEST_F(Dispatcher, X10RequestsGoToTheHostUntrimmed) {
    dispatcher->Readmessage(
        message("xAP-X10.request", "", "xAP-X10.request\n{\ndevice=A1,A2\ncommand=ON\n}\n"));
    ASSERT_EQ(plugin->execs.size(), 2u);
    EXPECT_EQ(plugin->execs[0][1].toString() + plugin->execs[0][2].toString(), "A1");
    EXPECT_EQ(plugin->execs[1][1].toString() + plugin->execs[1][2].toString(), "A2");
    EXPECT_EQ(plugin->execs[1][3].toInt(), 2);
    EXPECT_EQ(blinks, 1);

    dispatcher->Readmessage(
        message("xAP-X10.request", "", "xAP-X10.request\n{\ndevice=B1, B2\ncommand=off\n}\n"));
    EXPECT_EQ(plugin->execs.size(), 3u);  // " B2" starts with a blank: not a house

    dispatcher->Readmessage(
        message("xAP-X10.request", "", "xAP-X10.request\n{\ndevice=C3\ncommand=dim\n}\n"));
    ASSERT_EQ(plugin->execs.size(), 4u);
    EXPECT_EQ(plugin->execs[3][3].toInt(), 4);
    EXPECT_EQ(plugin->execs[3][4].toInt(), 0);

    dispatcher->Readmessage(message("xAP-X10.request", "",
                                    "xAP-X10.request\n{\ndevice=C3\ncommand=all_lights_on\n}\n"));
    EXPECT_EQ(plugin->execs.size(), 4u);
    EXPECT_EQ(blinks, 3);
}

// That the other routes write what the xAP message writes is the MQTT
// integration test's; here what they refuse.
TEST_F(Dispatcher, RequestsFromOtherRoutesRefuseWhatXapWould) {
    dispatcher->X10Request("C3", "explode", "", "MQTT");
    EXPECT_TRUE(plugin->execs.empty());
    // A camera not in use, or out of range, is not moved.
    for (int camera : {2, 0, 255}) dispatcher->CameraCommand(camera, "left");
    EXPECT_TRUE(transceiver->sends.empty());
    useCamera(2);
    dispatcher->CameraCommand(2, "left");
    EXPECT_EQ(transceiver->sends.size(), 10u);  // the move increment
    EXPECT_EQ(sent("xapBSC.Event").size(), 1u);
}

TEST_F(Dispatcher, OnlyMessagesForTheGatewayOrForNobodyAreHandled) {
    const std::string block = "xAP-X10.request\n{\ndevice=A1\ncommand=on\n}\n";
    dispatcher->Readmessage(message("xAP-X10.request", "other.vendor.box", block));
    dispatcher->Readmessage(message("xAP-X10.request", "qix.CM19A.other", block));
    EXPECT_TRUE(plugin->execs.empty());
    dispatcher->Readmessage(message("xAP-X10.request", "qix.*.TEST:kitchen", block));
    dispatcher->Readmessage(message("XAP-x10.REQUEST", "qix.>", block));
    EXPECT_EQ(plugin->execs.size(), 2u);
}

TEST_F(Dispatcher, BscCommandMovesEveryMatchingUsedCamera) {
    useCamera(1);
    useCamera(2);
    const std::string cmd = "output.state\n{\nID=*\nLevel=7\n}\n";
    dispatcher->Readmessage(message("xAPBSC.cmd", "", cmd));  // no target: ignored
    EXPECT_TRUE(transceiver->sends.empty());

    dispatcher->Readmessage(message("xapbsc.CMD", std::string(kSource) + ":>", cmd));
    ASSERT_EQ(transceiver->sends.size(), 20u);  // Left, ten times per camera
    EXPECT_EQ(transceiver->sends[0].house, "A");
    EXPECT_EQ(transceiver->sends[0].unit, 1);
    EXPECT_EQ(transceiver->sends[0].command, 7);
    EXPECT_EQ(transceiver->sends[19].unit, 2);
    EXPECT_EQ(hs->devices().DeviceStatus("Q2"), 8);
    EXPECT_EQ(hs->devices().DeviceString("Q2"), "Left");
    EXPECT_EQ(hs->devices().DeviceValue("Q2"), 7);

    const auto events = sent("xapBSC.Event");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].MsgUID, "FF008701");
    EXPECT_EQ(events[0].MsgSubAddress, "A1.CM19A_Ninja___A1.Ninja");
    EXPECT_EQ(wire(events[1]),
              "xap-header\n{\nv=12\nhop=1\nuid=FF008702\nclass=xapBSC.Event\n"
              "source=qix.CM19A.test:A2.CM19A_Ninja___A2.Ninja\n}\noutput.state\n{\n"
              "State=OFF\nLevel=7/20\n}\n");
    EXPECT_EQ(blinks, 1);
}

TEST_F(Dispatcher, BscCommandBlocksIdsAndLevels) {
    useCamera(1);
    useCamera(10);
    const std::string target = std::string(kSource) + ":>";
    // .1 and .2 run, .4 after the gap does not.
    dispatcher->Readmessage(message("xAPBSC.cmd", target,
                                    "output.state.1\n{\nID=01\nState=on\n}\n"
                                    "output.state.2\n{\nID=0A\nText=5\n}\n"
                                    "output.state.4\n{\nID=*\nLevel=6\n}\n"));
    ASSERT_EQ(transceiver->sends.size(), 2u);
    EXPECT_EQ(transceiver->sends[0].command, 1);  // State ON without a level: On
    EXPECT_EQ(transceiver->sends[1].unit, 10);
    EXPECT_EQ(transceiver->sends[1].command, 5);

    // Levels beyond any integer are no command either, and convert cleanly.
    for (const char* level : {"0", "21", "abc", "99999999999", "1e400", "-1e400", "nan"})
        dispatcher->Readmessage(message(
            "xAPBSC.cmd", target, std::string("output.state\n{\nID=*\nLevel=") + level + "\n}\n"));
    dispatcher->Readmessage(message("xAPBSC.cmd", target, "output.state\n{\nID=G1\nLevel=1\n}\n"));
    EXPECT_EQ(transceiver->sends.size(), 2u);
    dispatcher->Readmessage(
        message("xAPBSC.cmd", target, "output.state\n{\nID=ABC\nLevel=3/20\n}\n"));
    EXPECT_EQ(transceiver->sends.size(), 4u);
    // A camera whose name does not match the address pattern is left alone.
    dispatcher->Readmessage(message("xAPBSC.cmd", std::string(kSource) + ":porch.>",
                                    "output.state\n{\nID=*\nLevel=1\n}\n"));
    EXPECT_EQ(transceiver->sends.size(), 4u);
}

TEST_F(Dispatcher, BscQueryIsAnsweredPerCameraAndPaced) {
    useCamera(1, "Porch Cam");
    useCamera(10, "Door:Left=1");
    dispatcher->Readmessage(message("xAPBSC.query", std::string(kSource) + ":porch_cam.>", ""));
    ASSERT_EQ(sent().size(), 1u);  // the first report leaves at once
    EXPECT_EQ(sent()[0].MsgClass, "xAPBSC.Values");
    EXPECT_EQ(sent()[0].MsgSubAddress, "Porch_Cam.CM19A_Ninja___A1.Ninja");
    reporter->BSCTimer_Timer();
    ASSERT_EQ(sent().size(), 2u);
    EXPECT_EQ(sent()[1].MsgClass, "xAPBSC.Info");
    reporter->BSCTimer_Timer();
    EXPECT_EQ(sent().size(), 2u);
    reporter->BSCTimer_Timer();  // nothing left: the timer stops

    xapGlobal::values().pending.clear();
    hs->devices().SetDeviceString("Q10", "Up");
    hs->devices().SetDeviceValue("Q10", 5);
    dispatcher->Readmessage(message("xAPBSC.query", std::string(kSource) + ":*.*.ninja", ""));
    for (int i = 0; i < 4; ++i) reporter->BSCTimer_Timer();
    const auto out = sent();
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[2].MsgSubAddress, "Door-Left-1.CM19A_Ninja__A10.Ninja");
    EXPECT_EQ(out[3].MsgUID, "FF00870A");
    const std::string values = wire(out[0]);
    EXPECT_NE(
        values.find("\nvalues.1\n{\nText=\nLevel=0/20\n}\nvalues.2\n{\nText=On\nLevel=1/20\n}\n"),
        std::string::npos)
        << values;
    EXPECT_NE(values.find("\nvalues.21\n{\nText=Sweep_Program\nLevel=20/20\n}\n"),
              std::string::npos);
    XapMessage parsed;
    parsed.FromXap(values);
    EXPECT_EQ(parsed.MsgSection().size(), 21u);
    EXPECT_EQ(wire(out[3]).substr(wire(out[3]).find("output.state")),
              "output.state\n{\nState=OFF\nDisplayText=Up\nLevel=5/20\n}\n");

    xapGlobal::values().pending.clear();
    dispatcher->Readmessage(message("xAPBSC.query", kSource, ""));  // no sub-address: no answer
    EXPECT_TRUE(sent().empty());
}

TEST_F(Dispatcher, EchoAndRoleAreAnsweredOnceAndNeverAnswerThemselves) {
    dispatcher->Readmessage(message("WDT.Echo", "", "Echo.Query\n{\nQuery=Ping\n}\n"));
    ASSERT_EQ(sent("WDT.Echo").size(), 1u);
    EXPECT_EQ(sent()[0].MsgTarget, "acme.tester.box");
    EXPECT_EQ(sent()[0].MsgData, xapGlobal::item("Response", "ping"));
    echoBack();  // the hub relays the gateway's own answer back to it
    EXPECT_TRUE(sent().empty());

    // A query that names the gateway itself as its source is handled too,
    // and its answer does not start a loop.
    dispatcher->Readmessage(message("WDT.Echo", kSource, "Echo.Query\n{\nQuery=x\n}\n", kSource));
    EXPECT_EQ(sent().size(), 1u);
    for (int i = 0; i < 3; ++i) echoBack();
    EXPECT_TRUE(sent().empty());

    dispatcher->Readmessage(message("Homeseer.Role", "", "Role.Query\n{\nRole=plugin\n}\n"));
    EXPECT_TRUE(sent().empty());
    XapSettings::InitXap();
    dispatcher->Readmessage(message("Homeseer.Role", "", "Role.Query\n{\nRole=ANY\n}\n"));
    ASSERT_EQ(sent("Homeseer.Role").size(), 1u);
    const std::string answer = wire(sent()[0]);
    // The path of the executable that runs, wherever the program folder is.
    EXPECT_NE(answer.find("Role.Notification\n{\nRole=Application\nPath=" +
                          std::filesystem::read_symlink("/proc/self/exe").string() + "\n"),
              std::string::npos)
        << answer;
    EXPECT_NE(answer.find("\nPort=8012\nForm=SetupForm\n}\n"), std::string::npos) << answer;
    echoBack();
    EXPECT_TRUE(sent().empty());
}

TEST_F(Dispatcher, SunTimesAreKept) {
    dispatcher->Readmessage(message("Time.Today", "", "Time.Today\n{\nSunrise=07:41\n}\n"));
    EXPECT_EQ(WebSettings::instance().Sunrise, "07:41");
    EXPECT_EQ(WebSettings::instance().Sunset, "Unknown");
}

TEST_F(Dispatcher, ReceivedX10UpdatesDevicesAndAlwaysReports) {
    reporter->ReportX10Event("A1+2+3", "A", 2);
    ASSERT_EQ(sent("xAP-X10.event").size(), 1u);
    EXPECT_EQ(sent()[0].MsgData,
              xapGlobal::item("Device", "A1,A2,A3") + xapGlobal::item("Event", "on"));
    EXPECT_TRUE(sent()[0].MsgSubAddress.empty());
    for (const char* code : {"A1", "A2", "A3"}) {
        EXPECT_EQ(hs->devices().DeviceStatus(code), 2);
        EXPECT_EQ(hs->devices().DeviceString(code), "On");
    }
    hs->devices().SetDeviceString("A2", "kept");
    reporter->ReportX10Event("2", "A", 2);  // unchanged status: no update, still an event
    EXPECT_EQ(hs->devices().DeviceString("A2"), "kept");
    EXPECT_EQ(sent("xAP-X10.event").size(), 2u);

    reporter->ReportX10Event("C0", "C", 0);
    EXPECT_EQ(sent().back().MsgData,
              xapGlobal::item("Device", "C0") + xapGlobal::item("Event", "all_units_off"));

    std::vector<std::string> told;
    reporter->onX10Event = [&](const std::string& d, const std::string& e) {
        told.push_back("event " + d + " " + e);
    };
    reporter->onX10Command = [&](const std::string& d, const std::string& e) {
        told.push_back("command " + d + " " + e);
    };
    dispatcher->SendCM19A("B3", "dim", "5");
    EXPECT_EQ(told, std::vector<std::string>{"command B3 dim"});  // the page is no remote
    EXPECT_EQ(transceiver->sends.back().command, 3);
    EXPECT_EQ(hs->devices().DeviceValue("B3"), 5);
    EXPECT_EQ(sent().back().MsgData, xapGlobal::item("Device", "B3") +
                                         xapGlobal::item("Count", "5") +
                                         xapGlobal::item("Event", "dim"));
}

TEST_F(Dispatcher, EveryTransmittedCommandIsToldAndDimAddressesItsUnitFirst) {
    std::vector<std::string> told;
    reporter->onX10Command = [&](const std::string& d, const std::string& e) {
        told.push_back(d + " " + e);
    };
    hs->onCommandSent = [&](const std::string& d, int16_t c) { reporter->CommandSent(d, c); };
    // Whoever asks the host: a request, a script, the plug-in.
    dispatcher->UnitRequest("A3", "on", "");
    hs->ExecX10("B1+3", "off");
    hs->ExecX10("C2", "no such command");  // the host sends it as All Units Off
    EXPECT_EQ(told, (std::vector<std::string>{"A3 on", "B1,B3 off", "C2 all_units_off"}));

    told.clear();
    transceiver->sends.clear();
    dispatcher->UnitRequest("D7", "dim", "3");
    ASSERT_EQ(transceiver->sends.size(), 2u);
    EXPECT_EQ(transceiver->sends[0].command, 1);  // D7 On: the unit addressed
    EXPECT_EQ(transceiver->sends[0].unit, 7);
    EXPECT_EQ(transceiver->sends[1].command, 3);
    EXPECT_EQ(transceiver->sends[1].frames, 3);
    EXPECT_EQ(told, std::vector<std::string>{"D7 dim"});
    EXPECT_TRUE(plugin->execs.size() == 3u);  // not through the host's one-dim Exec

    // The count is bounded both ways.
    for (const char* count : {"", "0", "999", "-4"}) dispatcher->UnitRequest("D7", "bright", count);
    std::vector<int> frames;
    for (size_t i = 3; i < transceiver->sends.size(); i += 2)
        frames.push_back(transceiver->sends[i].frames);
    EXPECT_EQ(frames, (std::vector<int>{1, 1, CommandDispatcher::kMaxDimSteps, 1}));
}

TEST_F(Dispatcher, HostileMessagesAreDroppedQuietly) {
    for (const std::string& text :
         {std::string(), std::string(70000, 'x'), std::string("xap-header\n}\n}\n}"),
          message("xAP-X10.request", "",
                  "xAP-X10.request\n{\ndevice=,,,\ncommand=dim\ncount=99999999\n}\n"),
          std::string("xap-header\n{\nclass=WDT.Echo\n}\nEcho.Query\n{\nQuery\n}\n")})
        dispatcher->Readmessage(text);
    EXPECT_EQ(dispatcher->received(), 5u);
    EXPECT_TRUE(transceiver->sends.empty());
}

TEST_F(Dispatcher, RepeatedBscQueriesCannotGrowThePacedQueue) {
    for (int index = 1; index <= 254; ++index) useCamera(index);
    const std::string query = message("xAPBSC.query", std::string(kSource) + ":>", "");
    dispatcher->Readmessage(query);
    const std::size_t afterOne = reporter->pendingReports();
    EXPECT_EQ(afterOne, 2u * 254 - 1);  // the first report left at once
    // Only the report that already left is queued again; the rest are waiting.
    for (int i = 0; i < 50; ++i) dispatcher->Readmessage(query);
    EXPECT_EQ(reporter->pendingReports(), afterOne + 1);
    // Different reports beyond the bound are dropped with one error-log line.
    hs->devices().SetDeviceString(NinjaCamera::hostCode(7), "Up");
    for (int i = 0; i < 5; ++i) {
        hs->devices().SetDeviceValue(NinjaCamera::hostCode(7), i);
        dispatcher->Readmessage(query);
    }
    EXPECT_LE(reporter->pendingReports(), X10Reporter::kMaxPending);
    const std::string log = home.read("Data/brindlehub.txt");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find("BSC report queue full"), std::string::npos);
}

TEST_F(Dispatcher, ControlBytesInAnEchoCannotAddItems) {
    const std::string query =
        std::string("Echo.Query\n{\nQuery=x") + '\0' + "injected=yes" + '\x01' + "b\r" + "c\n}\n";
    dispatcher->Readmessage(message("WDT.Echo", "", query));
    ASSERT_EQ(sent("WDT.Echo").size(), 1u);
    const std::string answer = wire(sent()[0]);
    EXPECT_NE(answer.find("\nResponse=x injected=yes b c\n}\n"), std::string::npos) << answer;
    XapMessage parsed;
    parsed.FromXap(answer);
    EXPECT_EQ(parsed.GetItem("Echo.Response", "injected"), "Unknown");
}

TEST_F(Dispatcher, OneMessageCanCostOnlySoMuch) {
    const std::string target = std::string(kSource) + ":>";
    useCamera(1);
    std::string blocks;
    for (int i = 1; i <= 1900; ++i)
        blocks += "output.state." + std::to_string(i) + "\n{\nID=01\nLevel=1\n}\n";
    dispatcher->Readmessage(message("xAPBSC.cmd", target, blocks));
    EXPECT_EQ(transceiver->sends.size(), std::size_t{CommandDispatcher::kMaxBlocks});

    // Every camera moved left ten times by a dozen blocks: the frames are capped.
    for (int index = 2; index <= 254; ++index) useCamera(index);
    transceiver->sends.clear();
    std::string left;
    for (int i = 1; i <= 12; ++i)
        left += "output.state." + std::to_string(i) + "\n{\nID=*\nLevel=7\n}\n";
    dispatcher->Readmessage(message("xAPBSC.cmd", target, left));
    EXPECT_EQ(transceiver->sends.size(), std::size_t{CommandDispatcher::kMaxFrames});
    // The next message has its own budget.
    transceiver->sends.clear();
    dispatcher->Readmessage(message("xAPBSC.cmd", target, "output.state\n{\nID=02\nLevel=1\n}\n"));
    EXPECT_EQ(transceiver->sends.size(), 1u);

    std::string codes = "A1";
    for (int i = 0; i < 2000; ++i) codes += ",A1";
    dispatcher->Readmessage(message("xAP-X10.request", "",
                                    "xAP-X10.request\n{\ndevice=" + codes + "\ncommand=on\n}\n"));
    EXPECT_EQ(plugin->execs.size(), std::size_t{CommandDispatcher::kMaxDeviceCodes});

    // One error-log line for each message that was cut.
    const std::string log = home.read("Data/brindlehub.txt");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
    EXPECT_NE(log.find("cut at 256 blocks"), std::string::npos);
    EXPECT_NE(log.find("radio frames of one message cut at 1024"), std::string::npos);
    EXPECT_NE(log.find("cut at 256 device codes"), std::string::npos);
}

}  // namespace
