// The error log stays bounded on disk whatever is thrown at it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/TempHome.h"
#include "xap/ErrorLogFile.h"
#include "xap/XapLog.h"

namespace {

std::size_t lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(ErrorLogFile, AFloodOfOneLineIsWrittenOnceWithItsCount) {
    TempHome home;
    for (int i = 0; i < 25000; ++i) LogError("brindlehub", "Readmessage duplicate key");
    LogError("brindlehub", "something else");
    ErrorLogFile::instance().flush();
    const std::string log = home.read("Data/brindlehub.txt");
    EXPECT_EQ(log,
              "brindlehub Readmessage duplicate key 0 \n"
              "last line repeated 10000 times\n"
              "last line repeated 10000 times\n"
              "last line repeated 4999 times\n"
              "brindlehub something else 0 \n");
}

TEST(ErrorLogFile, TheFileIsCappedAndOneOlderGenerationKept) {
    TempHome home;
    const std::string pad(200, 'x');
    for (int i = 0; i < 12000; ++i) LogError("brindlehub", std::to_string(i) + pad);
    const std::string current = home.path() + "/Data/brindlehub.txt";
    EXPECT_LE(std::filesystem::file_size(current), ErrorLogFile::kMaxBytes);
    EXPECT_LE(std::filesystem::file_size(current + ".1"), ErrorLogFile::kMaxBytes);
    EXPECT_FALSE(std::filesystem::exists(current + ".2"));
    // The newest line is in the current file, and no line was split.
    const std::string text = home.read("Data/brindlehub.txt");
    EXPECT_NE(text.find("brindlehub 11999" + pad + " 0 \n"), std::string::npos);
    EXPECT_EQ(text.rfind("brindlehub ", 0), 0u);
    EXPECT_GT(lines(text), 1000u);
}

}  // namespace
