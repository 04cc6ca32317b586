#include <gtest/gtest.h>

#include "base/Err.h"
#include "support/TempHome.h"
#include "support/TestHub.h"
#include "xap/XapLog.h"
#include "xap/xap.h"
#include "xap/xapGlobal.h"

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
    std::filesystem::remove_all(home.path() + "/Data");
    LogError("x", "y");  // a log that cannot be written is no fault
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
        ASSERT_NE(time, std::string::npos) << msg;
        const size_t type = msg.find("\nType=brindlehub\nData=Using xAP port 32768\n}\n", time);
        EXPECT_NE(type, std::string::npos) << msg;

        Err::set(6, "Overflow");
        LogEvent("brindlehub", "GetIniSetting ");
        EXPECT_NE(hub.next().find("\nData=GetIniSetting  Line 0 Overflow\n"), std::string::npos);
        EXPECT_FALSE(Err::pending());
    }
    xapGlobal::reset();
}

}  // namespace
