#include "binding/Variant.h"

#include <cmath>

#include "base/Convert.h"
#include "base/RuntimeError.h"
#include "binding/Dispatch.h"

namespace {

constexpr int kInvalidUseOfNull = 94;
constexpr double kMillisecondsPerDay = 86400000.0;

[[noreturn]] void typeMismatch() {
    raiseError(RuntimeError::kTypeMismatch, "Type mismatch");
}
[[noreturn]] void invalidUseOfNull() {
    raiseError(kInvalidUseOfNull, "Invalid use of Null");
}

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
// Spelled out for compilers without deduction for aggregates.
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace

Variant Variant::null() {
    Variant v;
    v.m_value = NullTag{};
    return v;
}

Variant Variant::missing() {
    Variant v;
    v.m_value = MissingTag{};
    return v;
}

void Variant::overflow() {
    raiseError(RuntimeError::kOverflow, "Overflow");
}

namespace {
QDate zeroDay() {
    return {1899, 12, 30};
}
}  // namespace

QDateTime Variant::zeroDate() {
    // Made once: building a local date-time looks the time zone up again (a
    // stat of /etc/localtime), and the zero date is the default of every cell.
    static const QDateTime zero(zeroDay(), QTime(0, 0));
    return zero;
}

// Before day 0 the whole days count backwards while the fraction still counts
// forwards from midnight: -1.25 is 1899-12-29 06:00.
double Variant::dateToNumber(const QDateTime& date) {
    const double days = static_cast<double>(zeroDay().daysTo(date.date()));
    const double fraction = date.time().msecsSinceStartOfDay() / kMillisecondsPerDay;
    return days < 0 ? days - fraction : days + fraction;
}

QDateTime Variant::numberToDate(double days) {
    if (!std::isfinite(days) || std::fabs(days) > 2958465.0) overflow();  // beyond year 9999
    const double whole = std::trunc(days);
    const auto msecs = std::llround(std::fabs(days - whole) * kMillisecondsPerDay);
    QDateTime t(zeroDay().addDays(static_cast<qint64>(whole)), QTime(0, 0));
    return t.addMSecs(msecs);
}

Variant::Type Variant::type() const {
    return std::visit(Overloaded{
                          [](std::monostate) { return Type::Empty; },
                          [](NullTag) { return Type::Null; },
                          [](MissingTag) { return Type::Missing; },
                          [](bool) { return Type::Boolean; },
                          [](int16_t) { return Type::Integer; },
                          [](int32_t) { return Type::Long; },
                          [](double) { return Type::Double; },
                          [](const QDateTime&) { return Type::Date; },
                          [](const std::string&) { return Type::String; },
                          [](const std::vector<uint8_t>&) { return Type::ByteArray; },
                          [](const std::shared_ptr<Dispatch>&) { return Type::Object; },
                          [](const std::vector<Variant>&) { return Type::Array; },
                      },
                      m_value);
}

bool Variant::isNumeric() const {
    switch (type()) {
        case Type::Empty:
        case Type::Boolean:
        case Type::Integer:
        case Type::Long:
        case Type::Double:
            return true;
        case Type::String:
            return vb::IsNumeric(std::get<std::string>(m_value));
        default:
            return false;
    }
}

std::string Variant::typeName() const {
    switch (type()) {
        case Type::Empty:
            return "Empty";
        case Type::Null:
            return "Null";
        case Type::Missing:
            return "Error";
        case Type::Boolean:
            return "Boolean";
        case Type::Integer:
            return "Integer";
        case Type::Long:
            return "Long";
        case Type::Double:
            return "Double";
        case Type::Date:
            return "Date";
        case Type::String:
            return "String";
        case Type::ByteArray:
            return "Byte()";
        case Type::Array:
            return "Variant()";
        case Type::Object: {
            const auto& object = std::get<std::shared_ptr<Dispatch>>(m_value);
            return object ? object->className() : "Nothing";
        }
    }
    return {};
}

double Variant::toDouble() const {
    return std::visit(Overloaded{
                          [](std::monostate) { return 0.0; },
                          [](NullTag) -> double { invalidUseOfNull(); },
                          [](bool b) { return b ? -1.0 : 0.0; },
                          [](int16_t i) { return static_cast<double>(i); },
                          [](int32_t i) { return static_cast<double>(i); },
                          [](double d) { return d; },
                          [](const QDateTime& t) { return dateToNumber(t); },
                          [](const std::string& s) { return vb::CDbl(s); },
                          [](const auto&) -> double { typeMismatch(); },
                      },
                      m_value);
}

// Exact integers convert without a detour through rounding.
int16_t Variant::toInt() const {
    if (const auto* i = std::get_if<int16_t>(&m_value)) return *i;
    return vb::CInt(toDouble());
}

int32_t Variant::toLong() const {
    if (const auto* i = std::get_if<int32_t>(&m_value)) return *i;
    if (const auto* i = std::get_if<int16_t>(&m_value)) return *i;
    return vb::CLng(toDouble());
}

bool Variant::toBool() const {
    if (const auto* b = std::get_if<bool>(&m_value)) return *b;
    if (const auto* s = std::get_if<std::string>(&m_value)) return vb::CBool(*s);
    return toDouble() != 0;
}

std::string Variant::toString() const {
    return std::visit(
        Overloaded{
            [](std::monostate) { return std::string(); },
            [](NullTag) -> std::string { invalidUseOfNull(); },
            [](bool b) { return vb::CStr(b); },
            [](int16_t i) { return vb::CStr(int64_t{i}); },
            [](int32_t i) { return vb::CStr(int64_t{i}); },
            [](double d) { return vb::CStr(d); },
            [](const QDateTime& t) { return vb::dateTimeText(t); },
            [](const std::string& s) { return s; },
            [](const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); },
            [](const auto&) -> std::string { typeMismatch(); },
        },
        m_value);
}

QDateTime Variant::toDate() const {
    if (const auto* t = std::get_if<QDateTime>(&m_value)) return *t;
    if (const auto* s = std::get_if<std::string>(&m_value)) {
        if (auto parsed = vb::parseDateTime(*s)) return *parsed;
        typeMismatch();
    }
    return numberToDate(toDouble());
}

std::vector<uint8_t> Variant::toBytes() const {
    if (const auto* b = std::get_if<std::vector<uint8_t>>(&m_value)) return *b;
    if (const auto* s = std::get_if<std::string>(&m_value)) return {s->begin(), s->end()};
    if (isEmpty()) return {};
    if (isNull()) invalidUseOfNull();
    typeMismatch();
}

std::shared_ptr<Dispatch> Variant::toObject() const {
    if (const auto* o = std::get_if<std::shared_ptr<Dispatch>>(&m_value)) return *o;
    raiseError(RuntimeError::kObjectRequired, "Object variable or With block variable not set");
}

std::vector<Variant> Variant::toArray() const {
    if (const auto* a = std::get_if<std::vector<Variant>>(&m_value)) return *a;
    typeMismatch();
}
