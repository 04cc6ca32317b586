#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/EventClass.h"
#include "host/EventList.h"
#include "support/EventLog.h"
#include "xap/xapGlobal.h"

namespace {

bool logged(const std::string& fragment) {
    for (const std::string& text : loggedTexts())
        if (text.find(fragment) != std::string::npos) return true;
    return false;
}

std::vector<std::string> names(const EventList& list) {
    std::vector<std::string> out;
    for (const Variant& v : list.GetEventList())
        out.push_back(std::dynamic_pointer_cast<EventClass>(v.toObject())->name);
    return out;
}

TEST(EventList, PositionsCountFromOneAndNamesFindTheFirstMatchIgnoringCase) {
    EventList list;
    EXPECT_EQ(list.NewEvent("Porch"), 1);
    EXPECT_EQ(list.NewEvent("Garden"), 2);
    auto ex = list.NewEventEx("PORCH");
    ASSERT_TRUE(ex);
    EXPECT_EQ(list.EventCount(), 3);
    EXPECT_EQ(list.GetEvent(3), ex);  // the list's own record, not a copy
    for (int outside : {0, 4, -1}) EXPECT_EQ(list.GetEvent(outside), nullptr) << outside;

    EXPECT_EQ(list.GetEventIndex("porch"), 1);
    EXPECT_EQ(list.GetEventEx("pOrCh"), list.GetEvent(1));
    // No trimming, no prefix matching.
    EXPECT_EQ(list.GetEventIndex("Porch "), -1);
    EXPECT_EQ(list.GetEventIndex("Porc"), -1);
    EXPECT_TRUE(list.EventExists("GARDEN"));
    EXPECT_FALSE(list.EventExists("Shed"));

    // Enable, disable and delete act on the first match only.
    list.EnableEvent("PORCH");
    EXPECT_TRUE(list.GetEvent(1)->Enabled);
    EXPECT_FALSE(ex->Enabled);
    list.EnableEvent("Shed");  // nothing to do, nothing raised
    list.DisableEvent("porch");
    EXPECT_FALSE(list.GetEvent(1)->Enabled);
    list.DeleteEvent("Shed");
    list.DeleteEvent("porch");
    EXPECT_EQ(names(list), (std::vector<std::string>{"Garden", "PORCH"}));
    EXPECT_EQ(list.GetEvent(2), ex);  // later records move up
    list.DeleteEvent("porch");
    list.DeleteEvent("garden");
    list.DeleteEvent("garden");  // on an empty list
    EXPECT_EQ(list.EventCount(), 0);
}

TEST(EventList, CountsBeyondSixteenBitsAreLoggedAndAnswerWhatTheMemberHad) {
    xapGlobal::reset();
    EventList list;
    for (int i = 0; i < 32767; ++i) list.NewEvent("e");
    EXPECT_TRUE(loggedTexts().empty());
    EXPECT_EQ(list.NewEvent("Last"), 0);  // appended, but its position overflows
    EXPECT_TRUE(logged("NewEvent "));
    EXPECT_EQ(list.EventCount(), 0);
    EXPECT_TRUE(logged("EventCount "));
    EXPECT_EQ(list.GetEventIndex("LAST"), -1);
    EXPECT_TRUE(logged("GetEventIndex "));
    EXPECT_EQ(list.NewEventEx("Later"), nullptr);  // GetEvent(0) after the overflow
    // The record itself is there and reachable by name.
    ASSERT_TRUE(list.GetEventEx("last"));
    EXPECT_TRUE(list.EventExists("Later"));
    EXPECT_EQ(list.GetEventList().size(), 32769u);
    list.DeleteEvent("Last");  // its index cannot be expressed: nothing removed
    EXPECT_EQ(list.GetEventList().size(), 32769u);
    xapGlobal::reset();
}

}  // namespace
