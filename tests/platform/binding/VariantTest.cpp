#include <gtest/gtest.h>
#include <functional>

#include "base/RuntimeError.h"
#include "binding/Dispatch.h"
#include "binding/Variant.h"
#include "support/RaisedError.h"

namespace {

using Type = Variant::Type;

TEST(Variant, ConstructorsPickTheSystemsTypes) {
    EXPECT_EQ(Variant().type(), Type::Empty);
    EXPECT_EQ(Variant(3).type(), Type::Long);
    EXPECT_EQ(Variant(int16_t{3}).type(), Type::Integer);
    EXPECT_EQ(Variant(uint8_t{200}).type(), Type::Integer);
    EXPECT_EQ(Variant(uint16_t{65535}).type(), Type::Long);
    EXPECT_EQ(Variant(2.5).type(), Type::Double);
    EXPECT_EQ(Variant(true).type(), Type::Boolean);
    // A text literal must not decay into a Boolean.
    EXPECT_EQ(Variant("x").type(), Type::String);
    EXPECT_EQ(Variant(std::string_view("x")).type(), Type::String);
    EXPECT_EQ(Variant(nullptr).type(), Type::Object);
    EXPECT_EQ(Variant(std::vector<uint8_t>{1, 2}).type(), Type::ByteArray);
    EXPECT_EQ(Variant(std::vector<Variant>{1, "a"}).type(), Type::Array);
    EXPECT_EQ(Variant::null().type(), Type::Null);
    EXPECT_EQ(Variant::missing().type(), Type::Missing);

    EXPECT_EQ(Variant(int64_t{2147483647}).toLong(), 2147483647);
    EXPECT_EQ(errorNumber([] { Variant v(size_t{1} << 31); }), RuntimeError::kOverflow);
}

TEST(Variant, NumbersOfEveryKindCheckTheirRange) {
    EXPECT_EQ(Variant(2.5).toInt(), 2);
    EXPECT_EQ(Variant(true).toInt(), -1);
    EXPECT_TRUE(Variant(2).toBool());
    EXPECT_TRUE(Variant(0.1).toBool());
    EXPECT_FALSE(Variant().toBool());
    EXPECT_EQ(Variant(false).toLong(), 0);
    EXPECT_EQ(Variant().toInt(), 0);
    EXPECT_EQ(Variant().toDouble(), 0.0);
    EXPECT_EQ(Variant(40000).toLong(), 40000);
    EXPECT_EQ(errorNumber([] { Variant(40000).toInt(); }), RuntimeError::kOverflow);
    EXPECT_EQ(errorNumber([] { Variant(3e9).toLong(); }), RuntimeError::kOverflow);
    EXPECT_EQ(Variant(int16_t{-5}).toDouble(), -5.0);
}

TEST(Variant, TextIsANumberOnlyWhenItIsOneAsAWhole) {
    EXPECT_EQ(Variant(" 12 ").toInt(), 12);
    EXPECT_EQ(Variant("-3.5").toDouble(), -3.5);
    EXPECT_EQ(errorNumber([] { Variant("12a").toInt(); }), RuntimeError::kTypeMismatch);
    EXPECT_EQ(errorNumber([] { Variant("").toLong(); }), RuntimeError::kTypeMismatch);
    EXPECT_EQ(errorNumber([] { Variant("70000").toInt(); }), RuntimeError::kOverflow);
    EXPECT_TRUE(Variant("12").isNumeric());
    EXPECT_FALSE(Variant("12a").isNumeric());
    EXPECT_TRUE(Variant().isNumeric());
    EXPECT_FALSE(Variant::null().isNumeric());
}

TEST(Variant, TextOfEveryScalar) {
    EXPECT_EQ(Variant().toString(), "");
    EXPECT_EQ(Variant(true).toString(), "True");
    EXPECT_EQ(Variant(int16_t{-7}).toString(), "-7");
    EXPECT_EQ(Variant(2.5).toString(), "2.5");
    EXPECT_EQ(Variant(3.0).toString(), "3");
    EXPECT_EQ(Variant(QDateTime(QDate(2024, 5, 1), QTime(13, 14, 15))).toString(),
              "2024-05-01 13:14:15");
    EXPECT_EQ(Variant(std::vector<uint8_t>{'a', 0xE9}).toString(), "a\xE9");
}

TEST(Variant, NullMissingObjectsAndArraysConvertToNothingElse) {
    EXPECT_EQ(errorNumber([] { Variant::null().toString(); }), 94);
    EXPECT_EQ(errorNumber([] { Variant::null().toInt(); }), 94);
    EXPECT_EQ(errorNumber([] { Variant::missing().toLong(); }), RuntimeError::kTypeMismatch);
    EXPECT_EQ(errorNumber([] { Variant(nullptr).toString(); }), RuntimeError::kTypeMismatch);
    EXPECT_EQ(errorNumber([] { Variant(std::vector<Variant>{}).toDouble(); }),
              RuntimeError::kTypeMismatch);
    EXPECT_EQ(errorNumber([] { Variant("a").toArray(); }), RuntimeError::kTypeMismatch);

    const RuntimeError e = errorOf([] { Variant(5).toObject(); });  // a number is no object
    EXPECT_EQ(e.number(), RuntimeError::kObjectRequired);
    EXPECT_EQ(e.description(), "Object variable or With block variable not set");
    EXPECT_EQ(Variant(nullptr).toObject(), nullptr);  // Nothing is an object value
    auto object = std::make_shared<Dispatch>();
    EXPECT_EQ(Variant(object).toObject(), object);
}

TEST(Variant, DatesAreDaysSinceTheZeroDate) {
    const QDateTime zero = Variant::zeroDate();
    EXPECT_EQ(zero, QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
    EXPECT_EQ(Variant().toDate(), zero);
    EXPECT_EQ(Variant(1.5).toDate(), QDateTime(QDate(1899, 12, 31), QTime(12, 0)));
    // Before day 0 the days count back while the time still counts from midnight.
    EXPECT_EQ(Variant(-1.25).toDate(), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
    EXPECT_EQ(Variant(QDateTime(QDate(1899, 12, 29), QTime(6, 0))).toDouble(), -1.25);
    const QDateTime t(QDate(2024, 5, 1), QTime(18, 0));
    EXPECT_EQ(Variant(t).toDouble(), 45413.75);
    EXPECT_EQ(Variant(Variant(t).toDouble()).toDate(), t);

    EXPECT_EQ(Variant("2024-05-01 18:00:00").toDate(), t);
    EXPECT_EQ(errorNumber([] { Variant("8").toDate(); }), RuntimeError::kTypeMismatch);
    EXPECT_EQ(errorNumber([] { Variant(1e12).toDate(); }), RuntimeError::kOverflow);
}

TEST(Variant, BytesAndTextAreTheSameCharacters) {
    const std::string text("A\0\xFF", 3);
    const std::vector<uint8_t> bytes = Variant(text).toBytes();
    EXPECT_EQ(bytes, (std::vector<uint8_t>{'A', 0, 0xFF}));
    EXPECT_EQ(Variant(bytes).toString(), text);
    EXPECT_TRUE(Variant().toBytes().empty());
    EXPECT_EQ(errorNumber([] { Variant(3).toBytes(); }), RuntimeError::kTypeMismatch);

    const std::vector<Variant> items = Variant(std::vector<Variant>{1, "two"}).toArray();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].toString(), "two");
}

}  // namespace
