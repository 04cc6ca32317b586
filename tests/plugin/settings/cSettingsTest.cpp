#include <gtest/gtest.h>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <functional>

#include "base/RuntimeError.h"
#include "registry/Registry.h"
#include "settings/cSettings.h"
#include "support/RaisedError.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

constexpr const char* kKey = "HKLM\\Software\\Quillon";
constexpr const char* kCustom = "HKLM\\Software\\Quillon\\Custom";

using Bytes = std::vector<uint8_t>;

class cSettingsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    fs::path file = fs::path(dir.path().toStdString()) / "registry.reg";
    Registry registry{file};

    std::vector<std::string> valueNames(const char* key) {
        std::vector<std::string> names;
        registry.enumValues(key, names);
        return names;
    }
};

TEST_F(cSettingsTest, AFreshSystemGivesTheDefaultsAndWritesNothing) {
    cSettings s(registry);
    for (int16_t i = 0; i <= 16; ++i) {
        EXPECT_EQ(s.Remap(i), std::string(1, static_cast<char>('A' + i)));
        EXPECT_TRUE(s.Enabled(i));
        EXPECT_FALSE(s.Retransmit(i) || s.IgnoreALN(i) || s.IgnoreALF(i) || s.IgnoreAUF(i) ||
                     s.NinjaEmu(i));
        EXPECT_EQ(s.UnitOffset(i), 0);
    }
    EXPECT_EQ(s.DebounceTime(), 750);
    EXPECT_EQ(s.Logging(), LogNormal);
    EXPECT_EQ(s.CustomCount(), 0);
    EXPECT_FALSE(fs::exists(file));

    EXPECT_EQ(errorNumber([&] { s.Enabled(17); }), RuntimeError::kSubscriptOutOfRange);
    EXPECT_EQ(errorNumber([&] { s.UnitOffset(-1, 3); }), RuntimeError::kSubscriptOutOfRange);
}

TEST_F(cSettingsTest, SaveWritesEveryValueUnderItsNameWithItsType) {
    cSettings s(registry);
    s.Enabled(2, false);
    s.Remap(0, "C");
    s.UnitOffset(1, -3);
    s.NinjaEmu(10, true);
    s.IgnoreAUF(15, true);
    s.Enabled(16, false);  // the spare cell is never saved
    s.DebounceTime(500);
    s.Logging(LogDebug);
    EXPECT_TRUE(cSettings(registry).Enabled(2));  // memory only until Save
    s.Save();

    Registry::Value v;
    ASSERT_EQ(registry.queryValue(kKey, "Enabled C", v), 0);
    EXPECT_EQ(v.type, Registry::REG_SZ);
    EXPECT_EQ(v.data, "False\0"s);
    EXPECT_EQ(registry.queryString(kKey, "Enabled D"), "True");
    EXPECT_EQ(registry.queryString(kKey, "Remap A"), "C");
    EXPECT_EQ(registry.queryString(kKey, "Ninja Emu K"), "True");
    EXPECT_EQ(registry.queryString(kKey, "Ignore AUF P"), "True");
    EXPECT_EQ(registry.queryDword(kKey, "UnitOffset B"), 0xFFFFFFFDu);
    EXPECT_EQ(registry.queryDword(kKey, "DebounceTime"), 500u);
    EXPECT_EQ(registry.queryDword(kKey, "Logging"), 2u);
    const std::vector<std::string> names = valueNames(kKey);
    ASSERT_EQ(names.size(), 16u * 8 + 2);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 9),
              (std::vector<std::string>{"Remap A", "Enabled A", "Retransmit A", "UnitOffset A",
                                        "Ignore ALN A", "Ignore ALF A", "Ignore AUF A",
                                        "Ninja Emu A", "Remap B"}));
    EXPECT_FALSE(registry.keyExists(kCustom));
    // Reading them back is the configuration window's test; the file itself the registry's.
}

TEST_F(cSettingsTest, CustomCodesByNameAndPositionAndSaveKeepsOnlyThoseInMemory) {
    cSettings s(registry);
    EXPECT_EQ(s.CustomAdd("Garage", {0x5D, 0x20}), 1);
    EXPECT_EQ(s.CustomAdd("Door", {0x14, 0x1A}), 2);
    s.Save();
    EXPECT_EQ(valueNames(kCustom), (std::vector<std::string>{"Garage", "Door"}));

    EXPECT_EQ(s.CustomRaw("Door"), (Bytes{0x14, 0x1A}));
    EXPECT_EQ(s.CustomRaw("DOOR"), s.CustomRaw(2));
    EXPECT_EQ(s.CustomRaw(2.0), s.CustomRaw(2));
    s.CustomRemove(1);
    EXPECT_EQ(s.CustomName(1), "Door");
    EXPECT_EQ(s.CustomCount(), 1);
    s.Save();
    EXPECT_EQ(valueNames(kCustom), std::vector<std::string>{"Door"});
    Registry::Value v;
    ASSERT_EQ(registry.queryValue(kCustom, "Door", v), 0);
    EXPECT_EQ(v.type, Registry::REG_BINARY);
    EXPECT_EQ(v.data, "\x14\x1A");

    cSettings loaded(registry);
    EXPECT_EQ(loaded.CustomCount(), 1);
    EXPECT_EQ(loaded.CustomRaw("Door"), (Bytes{0x14, 0x1A}));
    loaded.CustomClear();
    loaded.Save();
    EXPECT_FALSE(registry.keyExists(kCustom));
}

TEST_F(cSettingsTest, CustomCodeFailuresLeaveTheListsAlone) {
    cSettings s(registry);
    s.CustomAdd("12", {0x01});
    s.CustomAdd("Door", {0x02});
    // A name that reads as a number is reachable by position only.
    EXPECT_EQ(errorNumber([&] { s.CustomRaw("12"s); }), RuntimeError::kInvalidCall);
    EXPECT_EQ(s.CustomRaw(1), Bytes{0x01});

    EXPECT_EQ(errorNumber([&] { s.CustomAdd("door", {0x03}); }), 457);
    EXPECT_EQ(s.CustomCount(), 2);
    EXPECT_EQ(s.CustomRaw("Door"), Bytes{0x02});
    for (auto call : std::vector<std::function<void()>>{
             [&] { s.CustomRaw("Window"); }, [&] { s.CustomRaw(0); }, [&] { s.CustomRaw(3); },
             [&] { s.CustomName(3); }, [&] { s.CustomRemove(0); }})
        EXPECT_EQ(errorNumber(call), RuntimeError::kInvalidCall);
    EXPECT_EQ(s.CustomCount(), 2);
}

TEST_F(cSettingsTest, LoadsAHandWrittenKeyAndSurvivesValuesOfTheWrongForm) {
    std::ofstream(file) << "Windows Registry Editor Version 5.00\n\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Quillon]\n"
                           "\"Remap C\"=\"D\"\n"
                           "\"Enabled A\"=\"maybe\"\n"
                           "\"Enabled B\"=\"false\"\n"
                           "\"Retransmit E\"=dword:00000001\n"
                           "\"UnitOffset B\"=dword:00010000\n"
                           "\"UnitOffset C\"=\"4\"\n"
                           "\"DebounceTime\"=\"soon\"\n"
                           "\"Logging\"=dword:00000001\n\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Quillon\\Custom]\n"
                           "\"Zulu\"=hex:01,02\n"
                           "\"Alpha\"=hex:03\n"
                           "\"Text\"=\"AB\"\n";
    cSettings s(registry);
    EXPECT_EQ(s.Remap(2), "D");
    EXPECT_TRUE(s.Enabled(0));
    EXPECT_FALSE(s.Enabled(1));
    EXPECT_TRUE(s.Retransmit(4));
    EXPECT_EQ(s.UnitOffset(1), 0);
    EXPECT_EQ(s.UnitOffset(2), 4);
    EXPECT_EQ(s.DebounceTime(), 750);
    EXPECT_EQ(s.Logging(), LogMinimum);
    ASSERT_EQ(s.CustomCount(), 3);
    EXPECT_EQ(s.CustomName(1), "Zulu");
    EXPECT_EQ(s.CustomName(2), "Alpha");
    EXPECT_EQ(s.CustomRaw("Text"), (Bytes{'A', 'B'}));
}

TEST_F(cSettingsTest, AFailedSaveRaisesAFileAccessError) {
    std::ofstream(fs::path(dir.path().toStdString()) / "blocker") << "x";
    Registry blocked(fs::path(dir.path().toStdString()) / "blocker" / "registry.reg");
    cSettings s(blocked);
    EXPECT_EQ(errorNumber([&] { s.Save(); }), 75);
}

}  // namespace
