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

TEST(EventList, NewEventAppendsAndPositionsCountFromOne) {
    EventList list;
    EXPECT_EQ(list.EventCount(), 0);
    EXPECT_EQ(list.NewEvent("Porch"), 1);
    EXPECT_EQ(list.NewEvent("Garden"), 2);
    auto ex = list.NewEventEx("Garage");
    ASSERT_TRUE(ex);
    EXPECT_EQ(ex->name, "Garage");
    EXPECT_EQ(list.EventCount(), 3);
    EXPECT_EQ(list.GetEvent(3), ex);  // the list's own record, not a copy

    EXPECT_EQ(list.GetEvent(0), nullptr);
    EXPECT_EQ(list.GetEvent(4), nullptr);
    EXPECT_EQ(list.GetEvent(-1), nullptr);

    EXPECT_EQ(names(list), (std::vector<std::string>{"Porch", "Garden", "Garage"}));
}

TEST(EventList, NamesAreFoundIgnoringCaseFirstMatchWins) {
    EventList list;
    list.NewEvent("Garden");
    list.NewEvent("Porch");
    list.NewEvent("PORCH");
    EXPECT_EQ(list.GetEventIndex("PORCH"), 2);
    EXPECT_EQ(list.GetEventEx("pOrCh"), list.GetEvent(2));
    EXPECT_TRUE(list.EventExists("GARDEN"));
    // No trimming, no prefix matching.
    EXPECT_EQ(list.GetEventIndex("Porch "), -1);
    EXPECT_EQ(list.GetEventIndex("Porc"), -1);
    EXPECT_EQ(list.GetEventEx("Shed"), nullptr);
    EXPECT_FALSE(list.EventExists("Shed"));
}

TEST(EventList, DeleteEventRemovesOnlyTheFirstRecordOfThatName) {
    EventList list;
    list.NewEvent("Porch");
    list.NewEvent("Garden");
    list.NewEvent("porch");
    list.DeleteEvent("Shed");
    EXPECT_EQ(names(list), (std::vector<std::string>{"Porch", "Garden", "porch"}));

    auto garden = list.GetEventEx("Garden");
    list.DeleteEvent("PORCH");
    EXPECT_EQ(names(list), (std::vector<std::string>{"Garden", "porch"}));
    EXPECT_EQ(list.GetEvent(1), garden);  // later records move up
    list.DeleteEvent("porch");
    list.DeleteEvent("garden");
    EXPECT_EQ(list.EventCount(), 0);
    list.DeleteEvent("garden");  // on an empty list
    EXPECT_EQ(list.EventCount(), 0);
}

TEST(EventList, EnableAndDisableSetTheFirstMatchOnly) {
    EventList list;
    auto first = list.NewEventEx("Porch");
    auto second = list.NewEventEx("Porch");
    EXPECT_FALSE(first->Enabled);
    list.EnableEvent("PORCH");
    EXPECT_TRUE(first->Enabled);
    EXPECT_FALSE(second->Enabled);
    list.EnableEvent("Shed");  // nothing to do, nothing raised
    list.DisableEvent("porch");
    EXPECT_FALSE(first->Enabled);
    first->Enabled = true;
    list.DisableEvent("Shed");
    EXPECT_TRUE(first->Enabled);
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
