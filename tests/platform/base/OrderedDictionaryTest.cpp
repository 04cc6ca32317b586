#include <gtest/gtest.h>

#include "base/OrderedDictionary.h"

TEST(OrderedDictionary, KeysIgnoreCaseAndKeepTheirFirstSpelling) {
    OrderedDictionary<int> d;
    EXPECT_TRUE(d.Add("General", 1));
    EXPECT_FALSE(d.Add("GENERAL", 2));
    ASSERT_NE(d.find("general"), nullptr);
    EXPECT_EQ(*d.find("general"), 1);
    d.Set("GENERAL", 3);
    EXPECT_EQ(d.Count(), 1u);
    EXPECT_EQ(d.begin()->first, "General");
    EXPECT_EQ(d.begin()->second, 3);
}

TEST(OrderedDictionary, KeepsInsertionOrderThroughRemovals) {
    OrderedDictionary<int> d;
    for (int i = 0; i < 5; ++i) d.Add("k" + std::to_string(i), i);
    d.Remove("K2");
    d.Set("k1", 10);  // replacing keeps the place
    d.Add("k2", 20);  // re-adding goes to the end
    std::vector<std::string> keys;
    for (const auto& [k, v] : d) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<std::string>{"k0", "k1", "k3", "k4", "k2"}));
    EXPECT_FALSE(d.Remove("missing"));
    d.RemoveAll();
    EXPECT_TRUE(d.empty());
    EXPECT_FALSE(d.Exists("k0"));
}

TEST(OrderedDictionary, CopiesAreIndependent) {
    OrderedDictionary<int> a;
    a.Add("x", 1);
    OrderedDictionary<int> b = a;
    a.Remove("x");  // must not leave b's index pointing at a's freed entry
    ASSERT_NE(b.find("X"), nullptr);
    EXPECT_EQ(*b.find("X"), 1);
    EXPECT_EQ(b.Count(), 1u);
}
