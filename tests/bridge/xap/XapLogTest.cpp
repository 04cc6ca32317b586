#include <gtest/gtest.h>

#include "Err.h"
#include "TempHome.h"
#include "TestHub.h"
#include "X10Words.h"
#include "XapLog.h"
#include "XapSettings.h"
#include "Application.h"
#include "xap.h"
#include "xapGlobal.h"

namespace {

TEST(XapLog, ErrorLogLineCarriesLineNumberAndPendingFault) {
    TempHome home;
    Err::Clear();
    LogError("brindlehub", "xAP Init Error -1 occurred");
    EXPECT_EQ(home.read("Data/brindlehub.txt"), "brindlehub xAP Init Error -1 occurred 0 \n");
    Err::set(13, "Type mismatch");
    LogError("brindlehub", "Main Load");
    EXPECT_FALSE(Err::pending());  // reported once, then cleared
    EXPECT_EQ(home.read("Data/brindlehub.txt"),
              "brindlehub xAP Init Error -1 occurred 0 \nbrindlehub Main Load 0 Type mismatch\n");
}

TEST(XapLog, ErrorLogWithoutDataFolderIsIgnored) {
    TempHome home;
    std::filesystem::remove_all(home.path() + "/Data");
    LogError("x", "y");  // must not throw
    SUCCEED();
}

TEST(XapLog, EventLogItemsInOrderWithTheFaultNote) {
    TempHome home;
    TestHub hub;
    ASSERT_TRUE(hub.ok());
    xapGlobal::reset();
    {
        xap t;
        t.setXapSource("qix.CM19A.test");
        t.setXapUID("FF008700");
        t.BroadcastAddress = "127.0.0.1";
        t.InterfaceAddress = "127.0.0.1";
        ASSERT_GT(t.Init(), 0);
        xapGlobal::values().XapReady = true;

        LogEvent("brindlehub", "Using xAP port 32768");
        const std::string msg = hub.next();
        EXPECT_NE(msg.find("class=Homeseer.Event\n"), std::string::npos);
        EXPECT_EQ(msg.find("target="), std::string::npos);
        const size_t time = msg.find("Event.Log\n{\nTime=");
        const size_t type = msg.find("\nType=brindlehub\n");
        const size_t data = msg.find("\nData=Using xAP port 32768\n}\n");
        ASSERT_NE(time, std::string::npos);
        ASSERT_NE(type, std::string::npos);
        ASSERT_NE(data, std::string::npos);
        EXPECT_LT(time, type);
        EXPECT_LT(type, data);

        Err::set(6, "Overflow");
        LogEvent("brindlehub", "GetIniSetting ");
        EXPECT_NE(hub.next().find("\nData=GetIniSetting  Line 0 Overflow\n"), std::string::npos);
        EXPECT_FALSE(Err::pending());
    }
    xapGlobal::reset();
}

TEST(XapSettings, CreateFoldersMakesEveryFolderButTheLast) {
    TempHome home;
    const std::string base = home.path() + "/a";
    XapSettings::CreateFolders(base + "\\b\\x");
    EXPECT_TRUE(std::filesystem::is_directory(base));
    EXPECT_TRUE(std::filesystem::is_directory(base + "/b"));
    EXPECT_FALSE(std::filesystem::exists(base + "/b/x"));
    XapSettings::CreateFolders("relative/path/x");  // left alone
    EXPECT_FALSE(std::filesystem::exists("relative"));
}

TEST(XapSettings, InitXapReadsTheAddressesAndMakesTheFolders) {
    TempHome home(false);
    std::filesystem::remove_all(home.path() + "/Config");
    std::filesystem::remove_all(home.path() + "/Data");
    XapSettings::InitXap();
    EXPECT_TRUE(std::filesystem::is_directory(home.path() + "/Config"));
    EXPECT_TRUE(std::filesystem::is_directory(home.path() + "/Data"));
    EXPECT_EQ(XapSettings::InterfaceAddress(), "Default");
    EXPECT_EQ(XapSettings::BroadcastAddress(), "Default");
    EXPECT_NE(Application::instance(), nullptr);

    home.write("Config/qixXap.ini", "[interface]\nBroadcastAddress=127.0.0.1\n");
    XapSettings::InitXap();
    EXPECT_EQ(XapSettings::BroadcastAddress(), "127.0.0.1");
    EXPECT_EQ(XapSettings::InterfaceAddress(), "Default");
    EXPECT_FALSE(XapSettings::ComputerName().empty());
    Application::release();
}

TEST(X10Words, Tables) {
    EXPECT_EQ(X10Words::Word(0), "");
    EXPECT_EQ(X10Words::Word(7), "Left");
    EXPECT_EQ(X10Words::Word(8), "Right");
    EXPECT_EQ(X10Words::Word(20), "Sweep_Program");
    EXPECT_EQ(X10Words::Word(21), "");
    EXPECT_EQ(X10Words::FunctionName(5), "bright");
    EXPECT_EQ(X10Words::FunctionName(15), "status_request");
    EXPECT_EQ(X10Words::Position("p1_set"), 10);
    EXPECT_EQ(X10Words::Position(""), -1);
}

}  // namespace
