#include <gtest/gtest.h>

#include <QDateTime>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/RuntimeError.h"
#include "host/DeviceTable.h"
#include "host/EventCallbacks.h"
#include "host/IniCache.h"
#include "support/TempHome.h"
#include "xap/xapGlobal.h"

namespace {

using Texts = std::vector<std::string>;

// A plug-in's callback object: records every HSEvent list it is given.
class Listener : public Dispatch {
public:
    std::vector<Texts> heard;
    std::function<void()> onEvent;
    void HSEvent(std::vector<Variant> list) {
        if (onEvent) onEvent();
        Texts texts;
        for (const Variant& v : list) texts.push_back(v.toString());
        heard.push_back(std::move(texts));
    }

protected:
    const MemberTable& members() const override {
        static const MemberTable table =
            MemberTable::of<Listener>({method("HSEvent", &Listener::HSEvent)});
        return table;
    }
};

// A second host started on the saved file, loading, with listeners that must stay silent.
struct Restarted {
    EventCallbacks callbacks;
    DeviceTable table{callbacks};
    IniCache ini;
    std::shared_ptr<Listener> listener = std::make_shared<Listener>();
    int scriptRuns = 0;
    bool restored = false;
};

std::string code(const std::shared_ptr<DeviceClass>& d) {
    return d ? d->hc + d->dc : "(nothing)";
}

class DeviceTableTest : public ::testing::Test {
protected:
    void SetUp() override { xapGlobal::reset(); }
    void TearDown() override { xapGlobal::reset(); }

    // The event-log texts written since the last call (held back: no transport).
    Texts logged() {
        Texts texts;
        for (const auto& m : xapGlobal::values().pending) {
            const size_t at = m.MsgData.find(std::string("Data\x01"));
            if (at != std::string::npos)
                texts.push_back(m.MsgData.substr(at + 5, m.MsgData.find('\0', at) - at - 5));
        }
        xapGlobal::values().pending.clear();
        return texts;
    }
    static int countPrefix(const Texts& texts, const std::string& prefix) {
        int n = 0;
        for (const std::string& t : texts) n += t.rfind(prefix, 0) == 0;
        return n;
    }
    int loggedCount(const std::string& prefix) { return countPrefix(logged(), prefix); }
    void loadDefaults() {
        callbacks.setLoading(true);
        table.InitDevices(ini);
        callbacks.setLoading(false);
    }
    // Saves as the host window's unload does, then starts a second host on the file.
    std::unique_ptr<Restarted> restart() {
        table.SaveDevices(ini);
        ini.FlushIniCache();
        auto r = std::make_unique<Restarted>();
        r->callbacks.RegisterEventCB(127, r->listener);
        r->callbacks.RegisterStatusChangeCB("s.lua", "changed");
        r->callbacks.scriptRunner = [&runs = r->scriptRuns](auto&&...) { return Variant(++runs); };
        r->callbacks.setLoading(true);
        r->restored = r->table.InitDevices(r->ini);
        r->callbacks.setLoading(false);
        return r;
    }
    std::string savedLine(const std::string& key) const {
        std::istringstream in(home.read("Config/qixBrindle.ini"));
        for (std::string line; std::getline(in, line);)
            if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
        return "(missing)";
    }

    TempHome home;
    EventCallbacks callbacks;
    DeviceTable table{callbacks};
    IniCache ini;
    const QDateTime when{QDate(2024, 3, 1), QTime(12, 34, 56)};
};

TEST(DeviceClass, FieldsAreReachedByNameInAnyCaseWithTheirTypes) {
    auto dev = std::make_shared<DeviceClass>();
    dev->let("HC", "q");
    EXPECT_EQ(dev->get("hc").toString(), "q");
    dev->let("zwave_polltimer", "12");
    EXPECT_EQ(dev->get("ZWAVE_POLLTIMER").type(), Variant::Type::Integer);
    dev->let("location", 5);  // a variant keeps its type
    EXPECT_EQ(dev->get("Location").type(), Variant::Type::Long);
    EXPECT_THROW(dev->let("iotype", 40000), RuntimeError);

    auto custom = std::make_shared<CustomStatus>();
    custom->let("status", 123456);
    dev->let("customstatus", custom);
    EXPECT_EQ(dev->get("CustomStatus").toObject()->get("STATUS").toLong(), 123456);
    EXPECT_THROW(dev->let("CustomStatus", std::make_shared<DeviceClass>()), RuntimeError);
}

// --- start-up and saving ---

TEST_F(DeviceTableTest, EmptySectionGivesTheDefaultDevicesInOrder) {
    callbacks.setLoading(true);
    EXPECT_FALSE(table.InitDevices(ini));
    EXPECT_EQ(table.DeviceCount(), 511);
    const auto first = table.GetDevice(1);
    EXPECT_EQ(code(first), "Q1");
    EXPECT_EQ(first->name, "A1");
    EXPECT_EQ(table.GetDevice(17)->name, "B1");  // Q17: the address moves on after unit 16
    EXPECT_EQ(code(table.GetDevice(255)) + " " + table.GetDevice(255)->name, "T63 P15");
    EXPECT_EQ(code(table.GetDevice(256)) + code(table.GetDevice(511)), "A1P16");
    // By code, A1 is the X10 device, not the camera device named A1.
    EXPECT_EQ(table.GetDeviceRef("a1"), table.GetDevice(256)->ref);
    EXPECT_NE(table.GetDeviceRef("A1"), first->ref);
    EXPECT_TRUE(logged().empty());
}

TEST_F(DeviceTableTest, SavedDevicesComeBackInFileOrderWithFieldsAndStates) {
    loadDefaults();
    const auto a1 = table.GetDeviceByCode("a1");
    a1->let("Location", "Kitchen");
    a1->let("NAME", "Lamp");
    a1->let("interface", "X10 CM19A");
    a1->let("IOTYPE", 3);
    a1->let("iomisc", "x");
    a1->let("Misc", 70000);
    a1->let("dev_type_string", "Lamp Module");
    table.SetDeviceStatus("a1", 2);
    table.SetDeviceValue("A1", -5);
    table.SetDeviceLastChange("A1", when);
    table.SetDeviceString("A1", "on since noon");
    const auto zone = table.NewDeviceEx("Zone");
    zone->let("hc", "z");
    zone->let("dc", "9");

    auto r = restart();
    EXPECT_EQ(
        savedLine("A1"),
        "Kitchen;Lamp;X10 CM19A;3;x;70000;Lamp Module;2;-5;2024-03-01 12:34:56;on since noon");
    EXPECT_TRUE(r->restored);
    ASSERT_EQ(r->table.DeviceCount(), 512);  // every code was saved: no default is added
    const char* const order[] = {"A1", "A10", "A11", "A12", "A13", "A14", "A15", "A16", "A2"};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(code(r->table.GetDevice(int16_t(i + 1))), order[i]);
    EXPECT_EQ(code(r->table.GetDevice(512)), "Z9");  // upper-cased by its key

    const auto back = r->table.GetDevice(1);
    EXPECT_EQ(back->ref, 1);  // renumbered at every start
    EXPECT_EQ(back->location.toString() + "|" + back->name + "|" + back->interface + "|" +
                  back->iomisc + "|" + back->dev_type_string,
              "Kitchen|Lamp|X10 CM19A|x|Lamp Module");
    EXPECT_EQ(back->iotype, 3);
    EXPECT_EQ(back->misc, 70000);
    EXPECT_TRUE(r->table.isOn("A1"));
    EXPECT_EQ(r->table.DeviceValue("A1"), -5);
    EXPECT_EQ(r->table.DeviceLastChange("A1"), when);
    EXPECT_EQ(r->table.DeviceString("A1"), "on since noon");
    EXPECT_TRUE(r->listener->heard.empty());  // restored while loading
    EXPECT_EQ(r->scriptRuns, 0);
}

TEST_F(DeviceTableTest, ShortAndOddSavedLinesLoseOnlyTheirOwnSteps) {
    home.write("Config/qixBrindle.ini",
               "[PluginDevices]\n"
               "B2=Hall;Light;X10;1;io;7;Module;3\n"  // no value, date or string
               "C3=\n"                                // no data: skipped
               "D4=\"Den\";Fan;;0;;0;;0;9;not a date;old;string;with;semicolons\n"
               "X=Lone;One;;0;;0;;0;0;2024-01-01 00:00:00;\n"  // one-character code: skipped
               "e5=;Single\n");
    callbacks.setLoading(true);
    EXPECT_TRUE(table.InitDevices(ini));
    EXPECT_EQ(code(table.GetDevice(1)) + code(table.GetDevice(2)) + code(table.GetDevice(3)),
              "B2D4E5");
    EXPECT_EQ(table.DeviceStatus("B2"), 3);
    EXPECT_EQ(table.GetDevice(2)->location.toString(), "Den");  // double quotes are dropped
    EXPECT_EQ(table.DeviceValue("D4"), 9);
    EXPECT_EQ(table.DeviceString("D4"), "old;string;with;semicolons");  // whole, not cut
    EXPECT_EQ(table.GetDevice(3)->name, "Single");

    const Texts faults = logged();
    EXPECT_EQ(countPrefix(faults, "InitDevices B2"), 3);  // value, date, string
    EXPECT_EQ(countPrefix(faults, "InitDevices D4"), 1);  // the date
    EXPECT_EQ(countPrefix(faults, "InitDevices E5"), 9);  // each step needing a later field
    // Defaults fill in around the restored codes: Q1..T63, A1..A16, B1..B16 but B2, C1..C3.
    EXPECT_EQ(table.DeviceCount(), 511);
    EXPECT_EQ(table.DeviceExists("C3"), 3 + 255 + 16 + 15 + 3);
}

// Names, locations and strings may hold anything a plug-in puts there, and
// codes may use any character; the saved line of the other fields and of the
// other devices must survive it.
TEST_F(DeviceTableTest, OddTextsAndCodesCostNoOtherFieldOrDevice) {
    loadDefaults();
    const auto a1 = table.GetDeviceByCode("A1");
    a1->let("name", "Desk;Lamp\nTwo");
    a1->let("location", "Room;1\r");
    a1->let("interface", std::string("If\0x", 4));
    table.SetDeviceString("A1", "a;b\r\nc;");
    table.SetDeviceValue("A1", 11);
    table.SetDeviceString("A2", "two");
    // The first free I/O code "[" sorts before every letter; a line that also
    // ended in "]" would read back as a section header over all that follow.
    table.NewDeviceEx("Door")->let("hc", "[");
    table.SetDeviceString("[1", "state [open]");
    table.NewDeviceEx("Semi")->let("hc", ";");  // a comment line
    table.NewDeviceEx("Eq")->let("hc", "=");
    table.NewDeviceEx("Long")->let("dc", "1" + std::string(69, 'x'));  // fails the whole file
    logged();

    auto r = restart();
    EXPECT_EQ(loggedCount("SaveDevices "), 3);
    EXPECT_EQ(r->table.DeviceCount(), 512);
    const auto back = r->table.GetDeviceByCode("A1");
    EXPECT_EQ(back->location.toString() + "|" + back->name + "|" + back->interface,
              "Room,1 |Desk,Lamp Two|If x");
    EXPECT_EQ(r->table.DeviceValue("A1"), 11);
    EXPECT_EQ(r->table.DeviceString("A1"), "a;b  c;");
    EXPECT_EQ(r->table.DeviceString("A2"), "two");
    EXPECT_EQ(r->table.GetDevice(1)->name, "Door");
    EXPECT_EQ(r->table.DeviceString("[1"), "state [open");
}

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
}

}  // namespace
