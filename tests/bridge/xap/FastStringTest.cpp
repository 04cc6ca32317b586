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
        // 100 pieces fit the first array; each further 100 add one growth step.
        if (i == 99) {
            EXPECT_EQ(s.capacity(), 101u);
        } else if (i == 100) {
            EXPECT_EQ(s.capacity(), 201u);
        }
    }
    EXPECT_EQ(s.capacity(), 301u);
    EXPECT_EQ(s.Value(), expected);
    EXPECT_EQ(s.Value(), expected);  // reading does not consume

    s.Reset();
    EXPECT_EQ(s.Value(), "");
    EXPECT_EQ(s.capacity(), 101u);
    s.Add("again");
    EXPECT_EQ(s.Value(), "again");
}

TEST(FastStringTest, KeepsEmptyPiecesAndNulBytes) {
    clsString s;
    s.Add(std::string("a\0b", 3));
    s.Add("");
    s.Add(std::string(1, '\0'));
    EXPECT_EQ(s.Value(), std::string("a\0b\0", 4));
}
