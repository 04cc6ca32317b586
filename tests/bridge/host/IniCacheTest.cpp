#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "host/IniCache.h"
#include "xap/xapGlobal.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

void put(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Rewrites a file as another program would, with a modification time safely
// later than anything the cache has seen.
void editOnDisk(const fs::path& p, const std::string& text) {
    const auto before = fs::last_write_time(p);
    put(p, text);
    fs::last_write_time(p, before + 2s);
}

class IniCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("BRINDLE_HOME")) m_oldHome = old;
        std::string tmpl = (fs::temp_directory_path() / "inicache-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        m_home = tmpl;
        fs::create_directory(m_home / "Config");
        fs::create_directory(m_home / "Data");
        setenv("BRINDLE_HOME", m_home.c_str(), 1);
        m_ini = m_home / "Config" / "qixBrindle.ini";
        xapGlobal::reset();
    }
    void TearDown() override {
        if (m_oldHome)
            setenv("BRINDLE_HOME", m_oldHome->c_str(), 1);
        else
            unsetenv("BRINDLE_HOME");
        xapGlobal::reset();
        fs::remove_all(m_home);
    }

    std::optional<std::string> m_oldHome;
    fs::path m_home;
    fs::path m_ini;
    IniCache m_cache;
};

TEST_F(IniCacheTest, ReadsDefaultFileAndFindsOtherFilesIgnoringCase) {
    put(m_ini, "[General]\nName=hub\n");
    put(m_home / "Config" / "qixXap.ini", "[Interface]\nBroadcastAddress=127.0.0.1\n");
    EXPECT_EQ(m_cache.GetINISetting("general", "name", "d"), "hub");
    EXPECT_EQ(m_cache.GetINISetting("General", "missing", "d", ""), "d");
    EXPECT_EQ(m_cache.GetINISetting("Interface", "BroadcastAddress", "", "QIXXAP.INI"),
              "127.0.0.1");
    EXPECT_FALSE(fs::exists(m_home / "Config" / "QIXXAP.INI"));

    EXPECT_EQ(m_cache.GetINISetting("S", "k", "d", "New.ini"), "d");
    EXPECT_TRUE(fs::is_regular_file(m_home / "Config" / "New.ini"));
}

TEST_F(IniCacheTest, SaveIsVisibleAtOnceAndWrittenSortedOnFlush) {
    put(m_ini, "[Zeta]\nz=1\n[General]\nb=1\n");
    m_cache.SaveINISetting("General", "a", "new");
    EXPECT_EQ(m_cache.GetINISetting("GENERAL", "A", "d"), "new");
    EXPECT_EQ(slurp(m_ini), "[Zeta]\nz=1\n[General]\nb=1\n");
    m_cache.FlushIniCache();
    EXPECT_EQ(slurp(m_ini), "[GENERAL]\na=new\nb=1\n[ZETA]\nz=1\n");
    EXPECT_EQ(slurp(m_ini.string() + "_bck"), "[Zeta]\nz=1\n[General]\nb=1\n");
    EXPECT_EQ(m_cache.GetINISetting("general", "a", "d"), "new");
}

TEST_F(IniCacheTest, SectionAsNulSeparatedPairs) {
    put(m_ini, "[Pairs]\na=1\nb=2\n[Bare]\n");
    EXPECT_EQ(m_cache.GetINISection("pairs"), std::string("a=1\0b=2", 7));
    EXPECT_EQ(m_cache.GetINISection("Bare"), "");
    EXPECT_EQ(m_cache.GetINISection("Absent"), "");
}

TEST_F(IniCacheTest, ReadsReloadChangedFileButSavesDoNot) {
    put(m_ini, "[S]\nk=old\n");
    EXPECT_EQ(m_cache.GetINISetting("S", "k", ""), "old");
    editOnDisk(m_ini, "[S]\nk=edited\n");
    EXPECT_EQ(m_cache.GetINISetting("S", "k", ""), "edited");

    // A save takes the newer stamp without reloading, so the pending change
    // survives and the later edit is not read in.
    m_cache.SaveINISetting("S", "mine", "1");
    editOnDisk(m_ini, "[S]\nk=again\n");
    m_cache.SaveINISetting("S", "mine", "2");
    EXPECT_EQ(m_cache.GetINISetting("S", "k", ""), "edited");
    EXPECT_EQ(m_cache.GetINISetting("S", "mine", ""), "2");
}

TEST_F(IniCacheTest, ClearSectionReachesDiskOnlyWithALaterSave) {
    const std::string original = "[Keep]\nx=1\n[Drop]\ny=2\n";
    put(m_ini, original);
    m_cache.ClearIniSection("drop");
    EXPECT_EQ(m_cache.GetINISetting("Drop", "y", "gone"), "gone");
    m_cache.FlushIniCache();
    EXPECT_EQ(slurp(m_ini), original);

    m_cache.SaveINISetting("Keep", "z", "3");
    m_cache.FlushIniCache();
    EXPECT_EQ(slurp(m_ini), "[KEEP]\nx=1\nz=3\n");
}

TEST_F(IniCacheTest, FaultsAreLoggedAndGiveEmptyResults) {
    fs::remove_all(m_home / "Config");
    EXPECT_EQ(m_cache.GetINISetting("S", "k", "default"), "");
    m_cache.SaveINISetting("S", "k", "v");
    const auto& sent = xapGlobal::values().pending;
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_NE(sent[0].MsgData.find(xapGlobal::item("Type", "brindlehub")), std::string::npos);
    EXPECT_NE(sent[0].MsgData.find("Data\x01GetIniSetting "), std::string::npos);
    EXPECT_NE(sent[1].MsgData.find("Data\x01SaveINISetting "), std::string::npos);
}

}  // namespace
