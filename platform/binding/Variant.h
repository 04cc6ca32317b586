#pragma once
// A value of any of the types that travel through late-bound calls: arguments,
// results, properties, script values and stored variables.
//
// A Variant holds exactly one of: Empty (the default), Null, Boolean, Integer
// (16-bit), Long (32-bit), Double, Date, String (single-byte text), a byte array,
// an object reference (null is "Nothing"), an array of Variants, or Missing, the
// marker of an optional argument the caller left out. The numbers of Type are the
// system's type codes, so they can be reported as they are.
//
// Conversions follow the system's rules and raise its run-time errors:
//   - Empty reads as 0, "", False, the zero date and an empty byte array;
//   - Null cannot be converted (error 94 "Invalid use of Null");
//   - True is -1 as a number, and any non-zero number is True;
//   - a String converts to a number or Boolean only when it is one as a whole
//     (error 13 "Type mismatch"); integer conversions round halves to even and
//     raise error 6 "Overflow" outside their range;
//   - a Date is a number of days since 1899-12-30 (the zero date), the fraction
//     being the time of day;
//   - objects, arrays and Missing convert to nothing else (error 13); asking a
//     value that is no object for an object raises error 91.
// Implicit constructors exist for the C++ types, so `Variant v = 3;` (Long) and
// `Variant s = "x";` (String) work. Raw pointers other than text do not convert:
// objects travel as std::shared_ptr.

#include <QDateTime>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

class Dispatch;

class Variant {
public:
    enum class Type : int {
        Empty = 0,
        Null = 1,
        Integer = 2,
        Long = 3,
        Double = 5,
        Date = 7,
        String = 8,
        Object = 9,
        Missing = 10,  // an omitted optional argument travels as an error value
        Boolean = 11,
        Array = 8204,  // array of Variants
        ByteArray = 8209,
    };

    Variant() = default;
    Variant(bool value) : m_value(value) {}
    Variant(double value) : m_value(value) {}
    Variant(const char* text) : m_value(std::string(text)) {}
    Variant(std::string text) : m_value(std::move(text)) {}
    Variant(std::string_view text) : m_value(std::string(text)) {}
    Variant(QDateTime date) : m_value(std::move(date)) {}
    Variant(std::vector<uint8_t> bytes) : m_value(std::move(bytes)) {}
    Variant(std::vector<Variant> items) : m_value(std::move(items)) {}
    Variant(std::nullptr_t) : m_value(std::shared_ptr<Dispatch>()) {}  // Nothing
    template <typename T>
    requires std::is_base_of_v<Dispatch, T> Variant(std::shared_ptr<T> object)
        : m_value(std::shared_ptr<Dispatch>(std::move(object))) {}

    // Integers of up to 16 bits are Integer, wider ones Long; a value outside the
    // Long range raises error 6.
    template <typename T>
    requires std::is_integral_v<T> &&
        (!std::is_same_v<T, bool>)&&(!std::is_same_v<T, char>)Variant(T value) {
        if constexpr (std::is_signed_v<T> ? sizeof(T) <= 2 : sizeof(T) < 2) {
            m_value = static_cast<int16_t>(value);
        } else {
            if (!std::in_range<int32_t>(value)) overflow();
            m_value = static_cast<int32_t>(value);
        }
    }
    // A character is neither a number nor a text here; say which is meant.
    Variant(char) = delete;
    // A bare pointer would otherwise turn into a Boolean.
    template <typename T>
    requires(!std::is_same_v<std::remove_cv_t<T>, char>) Variant(T*)
    = delete;

    static Variant null();
    static Variant missing();
    // 1899-12-30 00:00:00 local time: day 0 of the date numbering.
    static QDateTime zeroDate();
    static double dateToNumber(const QDateTime& date);
    static QDateTime numberToDate(double days);

    Type type() const;
    bool isEmpty() const { return type() == Type::Empty; }
    bool isNull() const { return type() == Type::Null; }
    bool isMissing() const { return type() == Type::Missing; }
    bool isObject() const { return type() == Type::Object; }
    bool isArray() const { return type() == Type::Array; }
    // True for Empty, Boolean, numbers and texts that are numbers as a whole.
    bool isNumeric() const;
    // The system's name of the type ("String", "Long", "Nothing", ...).
    std::string typeName() const;

    bool toBool() const;
    int16_t toInt() const;
    int32_t toLong() const;
    double toDouble() const;
    std::string toString() const;
    QDateTime toDate() const;
    std::vector<uint8_t> toBytes() const;
    // The object reference (null for Nothing); error 91 when the value is no object.
    std::shared_ptr<Dispatch> toObject() const;
    std::vector<Variant> toArray() const;

private:
    struct NullTag {};
    struct MissingTag {};
    using Value = std::variant<std::monostate, NullTag, MissingTag, bool, int16_t, int32_t, double,
                               QDateTime, std::string, std::vector<uint8_t>,
                               std::shared_ptr<Dispatch>, std::vector<Variant>>;

    [[noreturn]] static void overflow();

    Value m_value;
};
