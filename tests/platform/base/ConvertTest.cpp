#include <gtest/gtest.h>

#include "base/Convert.h"

#include <limits>
#include "base/RuntimeError.h"
#include "support/RaisedError.h"

namespace {

TEST(Convert, ValReadsTheLeadingNumberOnly) {
    EXPECT_EQ(vb::Val("  42abc"), 42);
    EXPECT_EQ(vb::Val("-3.5e2x"), -350);
    EXPECT_EQ(vb::Val("12.5.6"), 12.5);
    EXPECT_EQ(vb::Val("abc"), 0);
    EXPECT_EQ(vb::Val(""), 0);
    EXPECT_EQ(vb::Val("&HFF"), 255);
    EXPECT_EQ(vb::Val("&HFFFF"), -1);  // short hex literals are 16-bit signed
    EXPECT_EQ(vb::Val("&O17"), 15);
    EXPECT_EQ(vb::Val("7e"), 7);  // an exponent without digits is not part of the number
}

TEST(Convert, IntegerConversionRoundsHalvesToEvenAndChecksRange) {
    EXPECT_EQ(vb::CInt(2.5), 2);
    EXPECT_EQ(vb::CInt(3.5), 4);
    EXPECT_EQ(vb::CInt(-2.5), -2);
    EXPECT_EQ(vb::CInt(32767.0), 32767);
    EXPECT_EQ(errorNumber([] { vb::CInt(32767.5); }), RuntimeError::kOverflow);
    EXPECT_EQ(errorNumber([] { vb::CInt(-32769.0); }), RuntimeError::kOverflow);
    EXPECT_EQ(vb::CLng(2147483647.0), 2147483647);
    EXPECT_EQ(errorNumber([] { vb::CLng(2147483648.0); }), RuntimeError::kOverflow);
    EXPECT_EQ(errorNumber([] { vb::CByte(256.0); }), RuntimeError::kOverflow);
}

TEST(Convert, TruncationToInt32RefusesWhatDoesNotFit) {
    EXPECT_EQ(vb::truncateToInt32(7.9), 7);
    EXPECT_EQ(vb::truncateToInt32(-7.9), -7);
    EXPECT_EQ(vb::truncateToInt32(2147483647.9), 2147483647);
    EXPECT_EQ(vb::truncateToInt32(-2147483648.9), -2147483647 - 1);
    for (double outside : {2147483648.0, -2147483649.0, vb::Val("99999999999"), vb::Val("1e400"),
                           vb::Val("-1e400"), std::numeric_limits<double>::quiet_NaN()})
        EXPECT_FALSE(vb::truncateToInt32(outside)) << outside;
}

TEST(Convert, BooleanText) {
    EXPECT_EQ(vb::CStr(true), "True");
    EXPECT_EQ(vb::CStr(false), "False");
    EXPECT_TRUE(vb::CBool("TRUE"));
    EXPECT_FALSE(vb::CBool("false"));
    EXPECT_TRUE(vb::CBool("-1"));
    EXPECT_FALSE(vb::CBool("0"));
    EXPECT_EQ(errorNumber([] { vb::CBool("yes"); }), RuntimeError::kTypeMismatch);
}

TEST(Convert, CaseFoldingCoversTheWesternCodePage) {
    EXPECT_EQ(vb::LCase("ABC\xC9z"), "abc\xE9z");
    EXPECT_EQ(vb::UCase("abc\xE9\xF7"), "ABC\xC9\xF7");  // the division sign has no case
    EXPECT_TRUE(vb::equalsIgnoreCase("General", "GENERAL"));
    EXPECT_FALSE(vb::equalsIgnoreCase("General", "Genera"));
    EXPECT_LT(vb::compareIgnoreCase("abc", "ABD"), 0);
}

TEST(Convert, TrimRemovesSpacesOnly) {
    EXPECT_EQ(vb::Trim("  a b  "), "a b");
    EXPECT_EQ(vb::Trim("\ta\r"), "\ta\r");
}

TEST(Convert, DateTimeTextRoundTripsInOneFixedForm) {
    const QDateTime t(QDate(2026, 12, 6), QTime(20, 5, 9));
    EXPECT_EQ(vb::dateTimeText(t), "2026-12-06 20:05:09");
    ASSERT_TRUE(vb::parseDateTime("2026-12-06 20:05:09").has_value());
    EXPECT_EQ(*vb::parseDateTime("2026-12-06 20:05:09"), t);
    // Texts written by older installations still load.
    EXPECT_EQ(*vb::parseDateTime("12/6/2026 8:05:09 PM"), t);
    EXPECT_FALSE(vb::parseDateTime("not a date").has_value());
}

}  // namespace
