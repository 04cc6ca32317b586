#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempHome.h"
#include "xap/XapSettings.h"

namespace {

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

TEST(XapSettings, InitXapMakesTheFoldersAndKnowsTheComputer) {
    TempHome home(false);
    std::filesystem::remove_all(home.path() + "/Config");
    std::filesystem::remove_all(home.path() + "/Data");
    XapSettings::InitXap();
    EXPECT_TRUE(std::filesystem::is_directory(home.path() + "/Config"));
    EXPECT_TRUE(std::filesystem::is_directory(home.path() + "/Data"));
    EXPECT_EQ(XapSettings::ProgramFolder(), home.path());
    EXPECT_FALSE(XapSettings::ComputerName().empty());
    EXPECT_EQ(XapSettings::ComputerName().find('.'), std::string::npos);
    // The program file is the executable that runs, not a name in the folder
    // that BRINDLE_HOME chose.
    EXPECT_EQ(XapSettings::ProgramFilePath(), std::filesystem::read_symlink("/proc/self/exe"));
    EXPECT_TRUE(std::filesystem::is_regular_file(XapSettings::ProgramFilePath()));
}

}  // namespace
