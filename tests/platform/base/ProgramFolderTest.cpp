#include <gtest/gtest.h>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "base/ProgramFolder.h"

namespace fs = std::filesystem;

namespace {

TEST(ProgramFolder, HomeVariableAndBackslashPaths) {
    QTemporaryDir dir;
    const std::string home = dir.path().toStdString();
    setenv("BRINDLE_HOME", (home + "/").c_str(), 1);
    EXPECT_EQ(ProgramFolder::path(), home);
    unsetenv("BRINDLE_HOME");
    EXPECT_FALSE(ProgramFolder::path().empty());
    EXPECT_EQ(ProgramFolder::mapPath("\\Config\\qixXap.ini"), "/Config/qixXap.ini");
}

TEST(ProgramFolder, FindsFilesIgnoringCase) {
    QTemporaryDir dir;
    const fs::path base = dir.path().toStdString();
    fs::create_directories(base / "HTML" / "Images");
    std::ofstream(base / "HTML" / "Images" / "Logo.PNG") << "x";
    EXPECT_EQ(ProgramFolder::resolveIgnoringCase(base, "html/images/logo.png"),
              base / "HTML" / "Images" / "Logo.PNG");
    EXPECT_EQ(ProgramFolder::resolveIgnoringCase(base, "html\\none.png"), base / "html/none.png");
}

}  // namespace
