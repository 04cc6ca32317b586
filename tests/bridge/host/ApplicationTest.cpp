// The host object as a plug-in sees it: every call goes by member name.
#include <gtest/gtest.h>

#include "host/Application.h"
#include "host/Setup.h"
#include "support/EventLog.h"
#include "support/TempHome.h"
#include "xap/xapGlobal.h"

namespace {

// Records what the host hands to a plug-in's Exec and a listener's HSEvent.
class Recorder : public Dispatch {
public:
    std::vector<std::vector<Variant>> execs;
    std::vector<std::vector<std::string>> events;
    std::string className() const override { return "Recorder"; }

protected:
    const MemberTable& members() const override {
        static const MemberTable table = MemberTable::of<Recorder>({
            method("Exec", [](Recorder& r, std::vector<Variant>& a) { r.execs.push_back(a); }),
            method("HSEvent",
                   [](Recorder& r, std::vector<Variant>& a) {
                       std::vector<std::string> texts;
                       for (const Variant& v : a.at(0).toArray()) texts.push_back(v.toString());
                       r.events.push_back(texts);
                   }),
            property("name", [](Recorder&, std::vector<Variant>&) { return std::string("rec"); }),
        });
        return table;
    }
};

class Host : public ::testing::Test {
protected:
    void SetUp() override {
        xapGlobal::reset();
        hs = Application::shared();
        if (!hs) hs = Application::create().shared();
        setup = std::make_shared<::Setup>(Application::shared());
        setup->Form_Load();
        plugin = std::make_shared<Recorder>();
        listener = std::make_shared<Recorder>();
        Application::instance()->setPlugin(plugin);
        xapGlobal::values().pending.clear();
    }
    void TearDown() override {
        Application::release();
        xapGlobal::reset();
    }
    // The messages held back for the (absent) transport, by class.
    std::vector<xapQueuedMessage> sent(const std::string& msgClass) {
        std::vector<xapQueuedMessage> out;
        for (const auto& m : xapGlobal::values().pending)
            if (m.MsgClass == msgClass) out.push_back(m);
        return out;
    }

    TempHome home;
    std::shared_ptr<Application> hs;
    std::shared_ptr<::Setup> setup;
    std::shared_ptr<Recorder> plugin;
    std::shared_ptr<Recorder> listener;
};

TEST_F(Host, WriteLogSendsOneMessageAndReachesLogListenersOnce) {
    hs->call("RegisterEventCB", 127, listener);
    hs->call("WriteLog", "X", "Y");
    const auto logs = sent("Homeseer.Event");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].MsgSection, "Event.Log");
    EXPECT_NE(logs[0].MsgData.find(xapGlobal::item("Type", "X") + xapGlobal::item("Data", "Y")),
              std::string::npos);
    ASSERT_EQ(listener->events.size(), 1u);
    EXPECT_EQ(listener->events[0][0], "2");
    EXPECT_EQ(listener->events[0][2], "X");
    EXPECT_EQ(listener->events[0][3], "Y");
}

TEST_F(Host, ExecX10PassesOnlyX10HousesToThePlugin) {
    hs->call("ExecX10", "q3", "on");
    EXPECT_TRUE(plugin->execs.empty());
    hs->call("ExecX10", "a3", "oN", 0, 0);
    ASSERT_EQ(plugin->execs.size(), 1u);
    const auto& a = plugin->execs[0];
    ASSERT_EQ(a.size(), 7u);
    EXPECT_EQ(a[1].toString(), "a");
    EXPECT_EQ(a[2].toString(), "3");
    EXPECT_EQ(a[3].toInt(), 2);
    EXPECT_EQ(a[6].toInt(), 0);
    EXPECT_EQ(hs->call("DeviceStatus", "A3").toInt(), 0);  // no status change
}

TEST_F(Host, SetX10StatusNotifiesWithTheChangeType) {
    hs->call("RegisterEventCB", 16, listener);
    hs->call("SetX10Status", "B2", "Flash", 0, 0);
    EXPECT_EQ(hs->call("DeviceStatus", "B2").toInt(), 17);
    hs->call("ExecX10NoLog", "b2", "OFF", 0, 0);
    hs->call("SetX10Status", "B2", "off", 1, 2);
    ASSERT_EQ(listener->events.size(), 3u);
    EXPECT_EQ(listener->events[0], (std::vector<std::string>{"20", "2", "B", "Flash", "0", "0"}));
    EXPECT_EQ(listener->events[1][0], "20");
    EXPECT_EQ(listener->events[2], (std::vector<std::string>{"16", "2", "B", "off", "1", "2"}));
    EXPECT_EQ(plugin->execs.size(), 1u);
    EXPECT_TRUE(hs->call("isOff", "B2").toBool());
}

TEST_F(Host, StringItemAndVariables) {
    EXPECT_EQ(hs->call("StringItem", "a,b,c", 3, ",").toString(), "c");
    EXPECT_EQ(hs->call("StringItem", "a,b,c", 4, ",").toString(), "");
    EXPECT_EQ(hs->call("StringItem", "a,b,c", 0, ",").toString(), "");
    EXPECT_EQ(hs->call("StringItem", "a::b", 2, "::").toString(), "b");
    EXPECT_EQ(hs->call("CreateVar", "v").toString(), "");
    EXPECT_EQ(hs->call("CreateVar", "V").toString(), "Variable Already Exists");
    hs->call("SaveVar", "V", 42);
    EXPECT_EQ(hs->call("GetVar", "v").toLong(), 42);
    hs->call("DeleteVar", "v");
    EXPECT_EQ(hs->call("GetVar", "v").toString(), "Name Not Found");
}

TEST_F(Host, AFailingReadAnswersItsFallback) {
    EXPECT_EQ(hs->call("GetAppPath").toString(), home.path());
    EXPECT_EQ(hs->get("SunsetDt").toDate(), Variant::zeroDate());
    EXPECT_EQ(loggedTexts("brindlehub"),
              std::vector<std::string>{"SunsetDt  Line 0 Type mismatch"});
}

TEST_F(Host, SpeechAndInfraredGoOutAsMessages) {
    hs->call("SendIR", "12");
    hs->call("SendIR", "tv,power");
    hs->call("SendIR", "abc");
    ASSERT_EQ(sent("Homeseer.IR").size(), 1u);
    EXPECT_EQ(sent("Homeseer.IR")[0].MsgData, xapGlobal::item("Location", "12"));

    hs->call("Speak", "hello");  // nobody listens on the speech list: nothing
    EXPECT_TRUE(sent("xap-tts.speak").empty());
    hs->call("RegisterEventCB", 8, listener);
    hs->call("Speak", "hello");
    ASSERT_EQ(sent("xap-tts.speak").size(), 1u);
    EXPECT_EQ(listener->events,
              (std::vector<std::vector<std::string>>{{"8", "1", "0"}, {"8", "0", "0"}}));
    hs->call("SpeakEx", 3, "hi");
    EXPECT_EQ(sent("xap-tts.speak")[1].MsgData,
              xapGlobal::item("Say", "hi") + xapGlobal::item("Device", "3"));
}

TEST_F(Host, HostWindowMembers) {
    EXPECT_EQ(setup->call("GetHSIface").toObject(), hs);
    EXPECT_EQ(setup->call("GetNextFreeIOCode").toInt(), 91);
    hs->call("NewDeviceEx", "io1").toObject()->let("hc", "[");
    hs->call("NewDeviceEx", "io2").toObject()->let("hc", "]");
    EXPECT_EQ(setup->call("GetNextFreeIOCode").toInt(), 94);

    setup->call("RegisterMenu", "X10 CM19A FireCracker USB", "Configure...");
    setup->call("RegisterMenu", "X10 CM19A FireCracker USB", "Configure...");
    EXPECT_EQ(setup->menus().Count(), 1u);

    setup->call("IREvent", 0);
    setup->call("IREvent", 5);
    ASSERT_EQ(sent("Homeseer.IR").size(), 1u);
    EXPECT_EQ(sent("Homeseer.IR")[0].MsgData, xapGlobal::item("Match", "5"));

    hs->call("RegisterEventCB", 4, listener);
    setup->call("ValueChangeEvent", "Q1", 255);
    ASSERT_EQ(sent("Homeseer.IO").size(), 1u);
    EXPECT_EQ(sent("Homeseer.IO")[0].MsgData,
              xapGlobal::item("Devicecode", "Q1") + xapGlobal::item("Value", "255"));
    EXPECT_EQ(hs->call("DeviceValue", "Q1").toLong(), 255);
    EXPECT_TRUE(listener->events.empty());  // stored without a report

    setup->call("RegisterEventCB", 5, listener);
    EXPECT_EQ(hs->callbacks().listenerCount(0), 1u);
    EXPECT_EQ(hs->callbacks().listenerCount(2), 2u);
    EXPECT_NE(sent("Homeseer.Event").back().MsgData.find("callback from rec"), std::string::npos);
}

TEST_F(Host, UnloadSavesDevicesAndLoadRestoresThemSilently) {
    hs->call("SetDeviceStatus", "A5", 2);
    hs->call("SetDeviceString", "A5", "hall");
    setup->Form_Unload();

    Application::release();
    Application::create();
    auto second = std::make_shared<::Setup>(Application::shared());
    auto hs2 = Application::shared();
    auto late = std::make_shared<Recorder>();
    hs2->callbacks().RegisterEventCB(127, late);
    second->Form_Load();
    EXPECT_TRUE(late->events.empty());  // restoring notifies nobody
    EXPECT_EQ(hs2->call("DeviceStatus", "A5").toInt(), 2);
    EXPECT_EQ(hs2->call("DeviceString", "A5").toString(), "hall");
    EXPECT_FALSE(hs2->callbacks().loading());
}

}  // namespace
