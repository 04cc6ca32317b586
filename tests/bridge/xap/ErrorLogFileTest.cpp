// The error log stays bounded on disk whatever is thrown at it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "base/RepeatedLineFilter.h"
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
              "repeated 10000 times: brindlehub Readmessage duplicate key 0 \n"
              "repeated 10000 times: brindlehub Readmessage duplicate key 0 \n"
              "brindlehub something else 0 \n"
              "repeated 4999 times: brindlehub Readmessage duplicate key 0 \n");
}

TEST(ErrorLogFile, AlternatingLinesCollapseAndAPeersLongTextIsCut) {
    TempHome home;
    for (int i = 0; i < 5000; ++i) {
        LogError("brindlehub", "MQTT message on a ignored");
        LogError("brindlehub", "MQTT message on b ignored");
    }
    LogError("brindlehub", "payload " + std::string(60000, 'x'));
    ErrorLogFile::instance().flush();
    const std::string log = home.read("Data/brindlehub.txt");
    EXPECT_EQ(lines(log), 5u) << log.substr(0, 2000);
    EXPECT_NE(log.find("repeated 4999 times: brindlehub MQTT message on b ignored"),
              std::string::npos);
    EXPECT_LT(log.size(), 1000u);
    EXPECT_NE(log.find("xxx... (60008 bytes) 0 \n"), std::string::npos);
}

TEST(RepeatedLineFilter, ALineIsWrittenAgainOnceItsWindowHasPassed) {
    RepeatedLineFilter filter;
    EXPECT_EQ(filter.take("a", 0).size(), 1u);
    EXPECT_TRUE(filter.take("a", 30).empty());
    EXPECT_EQ(filter.take("b", 59).size(), 1u);
    // a's window ended: its count, then a itself afresh; b is still counted.
    EXPECT_EQ(filter.take("a", 61), (std::vector<std::string>{"repeated 1 time: a", "a"}));
    EXPECT_TRUE(filter.take("b", 62).empty());
    EXPECT_EQ(filter.flush(), std::vector<std::string>{"repeated 1 time: b"});
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
