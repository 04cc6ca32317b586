#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "base/DoEvents.h"
#include "host/IniCache.h"
#include "support/EventLog.h"
#include "support/FileText.h"
#include "support/TempHome.h"
#include "xap/xapGlobal.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Rewrites a file as another program would, with a modification time safely
// later than anything the cache has seen.
void editOnDisk(const fs::path& p, const std::string& text) {
    const auto before = fs::last_write_time(p);
    writeAll(p, text);
    fs::last_write_time(p, before + 2s);
}

class IniCacheTest : public ::testing::Test {
protected:
    void SetUp() override { xapGlobal::reset(); }
    void TearDown() override { xapGlobal::reset(); }

    TempHome m_temp;
    fs::path m_home = m_temp.path();
    fs::path m_ini = m_home / "Config" / "qixBrindle.ini";
    IniCache m_cache;
};

TEST_F(IniCacheTest, ReadsDefaultFileAndFindsOtherFilesIgnoringCase) {
    writeAll(m_ini, "[General]\nName=hub\n");
    writeAll(m_home / "Config" / "qixXap.ini", "[Interface]\nBroadcastAddress=127.0.0.1\n");
    EXPECT_EQ(m_cache.GetINISetting("general", "name", "d"), "hub");
    EXPECT_EQ(m_cache.GetINISetting("General", "missing", "d", ""), "d");
    EXPECT_EQ(m_cache.GetINISetting("Interface", "BroadcastAddress", "", "QIXXAP.INI"),
              "127.0.0.1");
    EXPECT_FALSE(fs::exists(m_home / "Config" / "QIXXAP.INI"));

    EXPECT_EQ(m_cache.GetINISetting("S", "k", "d", "New.ini"), "d");
    EXPECT_TRUE(fs::is_regular_file(m_home / "Config" / "New.ini"));
}

TEST_F(IniCacheTest, SaveIsVisibleAtOnceAndWrittenSortedOnFlush) {
    writeAll(m_ini, "[Zeta]\nz=1\n[General]\nb=1\n");
    m_cache.SaveINISetting("General", "a", "new");
    EXPECT_EQ(m_cache.GetINISetting("GENERAL", "A", "d"), "new");
    EXPECT_EQ(readAll(m_ini), "[Zeta]\nz=1\n[General]\nb=1\n");
    m_cache.FlushIniCache();
    EXPECT_EQ(readAll(m_ini), "[GENERAL]\na=new\nb=1\n[ZETA]\nz=1\n");
    EXPECT_EQ(readAll(m_ini.string() + "_bck"), "[Zeta]\nz=1\n[General]\nb=1\n");
    EXPECT_EQ(m_cache.GetINISetting("general", "a", "d"), "new");
}

TEST_F(IniCacheTest, SectionAsNulSeparatedPairs) {
    writeAll(m_ini, "[Pairs]\na=1\nb=2\n[Bare]\n");
    EXPECT_EQ(m_cache.GetINISection("pairs"), std::string("a=1\0b=2", 7));
    EXPECT_EQ(m_cache.GetINISection("Bare"), "");
    EXPECT_EQ(m_cache.GetINISection("Absent"), "");
}

TEST_F(IniCacheTest, ReadsReloadChangedFileFromTheNextTurnButSavesDoNot) {
    writeAll(m_ini, "[S]\nk=old\n");
    EXPECT_EQ(m_cache.GetINISetting("S", "k", ""), "old");
    editOnDisk(m_ini, "[S]\nk=edited\n");
    // One look at the disk per event-loop turn, however many keys are read.
    EXPECT_EQ(m_cache.GetINISetting("S", "k", ""), "old");
    DoEvents();
    EXPECT_EQ(m_cache.GetINISetting("S", "k", ""), "edited");

    // A save takes the newer stamp without reloading, so the pending change
    // survives and the later edit is not read in, in this turn or the next.
    m_cache.SaveINISetting("S", "mine", "1");
    editOnDisk(m_ini, "[S]\nk=again\n");
    DoEvents();
    m_cache.SaveINISetting("S", "mine", "2");
    DoEvents();
    EXPECT_EQ(m_cache.GetINISetting("S", "k", ""), "edited");
    EXPECT_EQ(m_cache.GetINISetting("S", "mine", ""), "2");
}

TEST_F(IniCacheTest, ClearSectionReachesDiskOnlyWithALaterSave) {
    const std::string original = "[Keep]\nx=1\n[Drop]\ny=2\n";
    writeAll(m_ini, original);
    m_cache.ClearIniSection("drop");
    EXPECT_EQ(m_cache.GetINISetting("Drop", "y", "gone"), "gone");
    m_cache.FlushIniCache();
    EXPECT_EQ(readAll(m_ini), original);

    m_cache.SaveINISetting("Keep", "z", "3");
    m_cache.FlushIniCache();
    EXPECT_EQ(readAll(m_ini), "[KEEP]\nx=1\nz=3\n");
}

TEST_F(IniCacheTest, FaultsAreLoggedAndGiveEmptyResults) {
    fs::remove_all(m_home / "Config");
    EXPECT_EQ(m_cache.GetINISetting("S", "k", "default"), "");
    m_cache.SaveINISetting("S", "k", "v");
    const auto logged = loggedTexts("brindlehub");
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0].rfind("GetIniSetting ", 0), 0u);
    EXPECT_EQ(logged[1].rfind("SaveINISetting ", 0), 0u);
}

}  // namespace
