#include <gtest/gtest.h>

#include <QDateTime>
#include <memory>
#include <string>
#include <vector>

#include "base/RuntimeError.h"
#include "host/DeviceTable.h"
#include "host/EventCallbacks.h"
#include "support/EventListener.h"
#include "support/EventLog.h"
#include "xap/xapGlobal.h"

namespace {

using Texts = std::vector<std::string>;
using Listener = EventListener;

class DeviceTableTest : public ::testing::Test {
protected:
    void SetUp() override { xapGlobal::reset(); }
    void TearDown() override { xapGlobal::reset(); }

    Texts logged() { return takeLoggedTexts(); }
    int loggedCount(const std::string& prefix) {
        int n = 0;
        for (const std::string& t : logged()) n += t.rfind(prefix, 0) == 0;
        return n;
    }

    EventCallbacks callbacks;
    DeviceTable table{callbacks};
    const QDateTime when{QDate(2024, 3, 1), QTime(12, 34, 56)};
};

// --- cells ---

TEST_F(DeviceTableTest, CodesSelectCellsAndUnusableCodesFailAlone) {
    table.SetDeviceValue("A1", 7);
    EXPECT_EQ(table.DeviceValue("a1") + table.DeviceValue("A01"), 14);
    EXPECT_EQ(table.DeviceValue("A2"), 0);
    table.SetDeviceValue("C0", 9);
    for (const char* same : {"C200", "C100", "c-5", "C", "C32767"})
        EXPECT_EQ(table.DeviceValue(same), 9) << same;
    EXPECT_EQ(table.DeviceValue("C99"), 0);
    // Punctuation after "Z" has columns of its own; everything outside "!" to "~" shares one.
    table.SetDeviceValue("[1", 1);
    table.SetDeviceValue("{1", 2);
    table.SetDeviceValue(std::string{char(0xE9), '1'}, 4);
    EXPECT_EQ(table.DeviceValue("[1"), 1);
    EXPECT_EQ(table.DeviceValue(" 1"), 4);
    EXPECT_EQ(table.DeviceValue("!1"), 0);
    table.SetDeviceStatus("b3", 2);
    EXPECT_TRUE(table.isOn("B3"));
    EXPECT_TRUE(logged().empty());

    table.SetDeviceStatus("A70000", 2);
    EXPECT_EQ(loggedCount("SetDeviceStatus "), 1);
    EXPECT_EQ(table.DeviceStatus("A0"), 0);
    EXPECT_EQ(table.DeviceValue("A70000"), 0);
    EXPECT_EQ(loggedCount("DeviceValue "), 1);
    EXPECT_EQ(table.DeviceLastChange(""), Variant::zeroDate());
    EXPECT_EQ(loggedCount("DeviceLastChange "), 1);
    EXPECT_EQ(table.DeviceStringByName("nowhere"), "");  // reads the empty code
    EXPECT_EQ(loggedCount("DeviceString "), 1);
}

// --- notifications ---

TEST_F(DeviceTableTest, ChangesNotifyBeforeTheyAreStoredAndOnlyWhenTheyChange) {
    auto listener = std::make_shared<Listener>();
    callbacks.RegisterEventCB(4 | 64, listener);
    Texts seen;
    listener->onEvent = [&] {
        seen.push_back(std::to_string(table.DeviceStatus("A1")) + "/" +
                       std::to_string(table.DeviceValue("B12")) + "/" + table.DeviceString("C3"));
    };
    table.SetDeviceStatus("a1", 2);
    table.SetDeviceStatus("A01", 2);            // the same cell and status: nobody hears
    table.SetDeviceStatusNoReport("A1", 3, 2);  // bit 2 keeps it quiet
    table.SetDeviceStatusNoReport("A1", 2, 1);
    table.SetDeviceValue("B12", 99);
    table.SetDeviceValue("b12", 99);
    table.SetDeviceValueNoReport("B12", 100, 0);
    table.SetDeviceString("c3", "open");
    table.SetDeviceString("C3", "open");
    table.SetDeviceString("C3", "Open");  // compared exactly
    table.SetDeviceLastChange("C3", when);
    table.SetDeviceTime("C3", 5);

    const std::vector<Texts> expected = {{"4", "1", "a", "2"},
                                         {"4", "1", "A", "2"},
                                         {"4", "12", "B", "99"},
                                         {"64", "c3", "open"},
                                         {"64", "C3", "Open"}};
    EXPECT_EQ(listener->heard, expected);
    EXPECT_EQ(seen, (Texts{"0/0/", "3/0/", "2/0/", "2/100/", "2/100/open"}));  // old values
    EXPECT_EQ(table.DeviceString("C3"), "Open");

    callbacks.setLoading(true);
    table.SetDeviceStatus("A1", 3);
    table.SetDeviceValue("A1", 5);
    table.SetDeviceString("A1", "x");
    callbacks.setLoading(false);
    EXPECT_EQ(listener->heard.size(), expected.size());  // silent while loading
    EXPECT_TRUE(table.isOff("A1"));                      // but stored
}

TEST_F(DeviceTableTest, StatusScriptsRunFirstOnlyForRecordsAndCannotStopTheChange) {
    auto listener = std::make_shared<Listener>();
    callbacks.RegisterEventCB(4, listener);
    callbacks.RegisterStatusChangeCB("s.lua", "changed");
    Texts order;
    std::vector<Variant> params;
    bool fail = false;
    callbacks.scriptRunner = [&](const std::string&, const std::string&,
                                 const std::vector<Variant>& p) {
        order.push_back("script");
        params = p;
        if (fail) raiseError(1002, "Syntax error");
        return Variant();
    };
    listener->onEvent = [&] { order.push_back("listener"); };

    table.SetDeviceStatus("C4", 2);  // no record has this code
    const auto dev = table.NewDeviceEx("Pump");
    dev->let("hc", "c");
    dev->let("dc", "4");
    table.SetDeviceStatus("C4", 3);
    EXPECT_EQ(order, (Texts{"listener", "script", "listener"}));
    ASSERT_EQ(params.size(), 4u);
    EXPECT_EQ(params[0].toString() + params[1].toString(), "C4");
    EXPECT_EQ(params[2].toInt(), 3);
    EXPECT_EQ(params[3].toLong(), dev->ref);

    fail = true;
    logged();
    table.SetDeviceStatusNoReport("c4", 2, 0);
    EXPECT_EQ(order.size(), 5u);  // the listener still heard
    EXPECT_TRUE(table.isOn("C4"));
    EXPECT_EQ(loggedCount("SetDeviceStatusNoReport "), 1);
}

// --- the list ---

TEST_F(DeviceTableTest, ListAndLookupsKeepOrderAndFirstMatchWins) {
    EXPECT_EQ(table.NewDevice("one"), 1);
    EXPECT_EQ(table.NewDevice("two"), 2);
    EXPECT_EQ(table.DeviceExists("a1"), 1);  // both are A1 until changed; the older wins
    const int32_t ref1 = table.GetDevice(1)->ref;
    EXPECT_EQ(table.GetDeviceRef("A1"), ref1);
    EXPECT_EQ(table.GetDevice(3), nullptr);
    EXPECT_EQ(table.GetDeviceList().at(1).toObject(), table.GetDevice(2));

    table.SetDeviceValue("A1", 8);
    EXPECT_FALSE(table.DeleteDevice(ref1));  // false even though it removed
    EXPECT_EQ(table.DeviceCount(), 1);
    EXPECT_EQ(table.GetDevice(1)->name, "two");
    EXPECT_EQ(table.GetDeviceByRef(ref1), nullptr);
    EXPECT_EQ(table.DeviceValue("A1"), 8);  // cells outlive records

    const auto lamp = table.NewDeviceEx("Lamp");
    lamp->let("location", "Kitchen");
    lamp->let("dc", "5");
    table.SetDeviceStatus("A5", 2);
    EXPECT_EQ(lamp->ref, ref1 + 2);  // references are not reused
    EXPECT_EQ(table.GetDeviceEx("kitchen LAMP"), lamp);
    EXPECT_EQ(table.GetDeviceEx(" two"), table.GetDevice(1));  // no location
    EXPECT_EQ(table.GetDeviceCode("KITCHEN lamp"), "A5");
    EXPECT_EQ(table.GetDeviceRefByName("Attic Lamp"), -1);
    EXPECT_TRUE(table.isOnByName("kitchen lamp"));

    // Looking up by code follows every change of a record's code, however made.
    lamp->setCode("q", "17");
    EXPECT_EQ(table.DeviceExists("A5"), -1);
    EXPECT_EQ(table.DeviceExists("Q17"), 2);
    table.GetDeviceList().at(0).toObject()->let("hc", "Q");
    table.GetDevice(1)->let("dc", "17");
    EXPECT_EQ(table.DeviceExists("q17"), 1);  // now the older record has it too
    EXPECT_FALSE(table.DeleteDevice(table.GetDevice(1)->ref));
    EXPECT_EQ(table.GetDeviceByCode("Q17"), lamp);
}

}  // namespace
