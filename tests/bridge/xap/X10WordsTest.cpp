#include <gtest/gtest.h>

#include "xap/X10Words.h"

namespace {

TEST(X10Words, OutOfRangeWordsAreEmptyAndUnknownNamesHaveNoPosition) {
    EXPECT_EQ(X10Words::Word(0), "");
    EXPECT_EQ(X10Words::Word(21), "");
    EXPECT_EQ(X10Words::Position("p1_set"), 10);
    EXPECT_EQ(X10Words::Position(""), -1);
}

}  // namespace
