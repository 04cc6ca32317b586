#include <gtest/gtest.h>

#include <QDateTime>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/DeviceTable.h"
#include "host/DeviceTableFile.h"
#include "host/EventCallbacks.h"
#include "host/IniCache.h"
#include "support/EventListener.h"
#include "support/EventLog.h"
#include "support/TempHome.h"
#include "xap/xapGlobal.h"

namespace {

using Texts = std::vector<std::string>;

// A second host started on the saved file, loading, with listeners that must stay silent.
struct Restarted {
    EventCallbacks callbacks;
    DeviceTable table{callbacks};
    IniCache ini;
    std::shared_ptr<EventListener> listener = std::make_shared<EventListener>();
    int scriptRuns = 0;
    bool restored = false;
};

std::string code(const std::shared_ptr<DeviceClass>& d) {
    return d ? d->hc + d->dc : "(nothing)";
}

int countPrefix(const Texts& texts, const std::string& prefix) {
    int n = 0;
    for (const std::string& t : texts) n += t.rfind(prefix, 0) == 0;
    return n;
}

class DeviceTableFileTest : public ::testing::Test {
protected:
    void SetUp() override { xapGlobal::reset(); }
    void TearDown() override { xapGlobal::reset(); }

    Texts logged() { return takeLoggedTexts(); }
    void loadDefaults() {
        callbacks.setLoading(true);
        DeviceTableFile::InitDevices(table, ini);
        callbacks.setLoading(false);
    }
    // Saves as the host window's unload does, then starts a second host on the file.
    std::unique_ptr<Restarted> restart() {
        DeviceTableFile::SaveDevices(table, ini);
        ini.FlushIniCache();
        auto r = std::make_unique<Restarted>();
        r->callbacks.RegisterEventCB(127, r->listener);
        r->callbacks.RegisterStatusChangeCB("s.lua", "changed");
        r->callbacks.scriptRunner = [&runs = r->scriptRuns](auto&&...) { return Variant(++runs); };
        r->callbacks.setLoading(true);
        r->restored = DeviceTableFile::InitDevices(r->table, r->ini);
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

TEST_F(DeviceTableFileTest, EmptySectionGivesTheDefaultDevicesInOrder) {
    callbacks.setLoading(true);
    EXPECT_FALSE(DeviceTableFile::InitDevices(table, ini));
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

TEST_F(DeviceTableFileTest, SavedDevicesComeBackInFileOrderWithFieldsAndStates) {
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

TEST_F(DeviceTableFileTest, ShortAndOddSavedLinesLoseOnlyTheirOwnSteps) {
    home.write("Config/qixBrindle.ini",
               "[PluginDevices]\n"
               "B2=Hall;Light;X10;1;io;7;Module;3\n"  // no value, date or string
               "C3=\n"                                // no data: skipped
               "D4=\"Den\";Fan;;0;;0;;0;9;not a date;old;string;with;semicolons\n"
               "X=Lone;One;;0;;0;;0;0;2024-01-01 00:00:00;\n"  // one-character code: skipped
               "e5=;Single\n");
    callbacks.setLoading(true);
    EXPECT_TRUE(DeviceTableFile::InitDevices(table, ini));
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
TEST_F(DeviceTableFileTest, OddTextsAndCodesCostNoOtherFieldOrDevice) {
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
    EXPECT_EQ(countPrefix(logged(), "SaveDevices "), 3);
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

}  // namespace
