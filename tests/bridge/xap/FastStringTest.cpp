#include <gtest/gtest.h>

#include <string>

#include "xap/FastString.h"

TEST(FastStringTest, JoinsManyPiecesInOrderAcrossGrowth) {
    FastString s;
    std::string expected;
    for (int i = 0; i < 250; ++i) {
        const std::string piece = std::to_string(i) + ",";
        s.Add(piece);
        expected += piece;
    }
    EXPECT_EQ(s.Value(), expected);
    EXPECT_EQ(s.Value(), expected);  // reading does not consume

    // Empty pieces and NUL bytes are kept.
    s.Reset();
    s.Add(std::string("a\0b", 3));
    s.Add("");
    s.Add(std::string(1, '\0'));
    EXPECT_EQ(s.Value(), std::string("a\0b\0", 4));
}
