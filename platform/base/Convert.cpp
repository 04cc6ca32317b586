#include "base/Convert.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "base/RuntimeError.h"

namespace vb {

namespace {

[[noreturn]] void overflow() {
    raiseError(RuntimeError::kOverflow, "Overflow");
}
[[noreturn]] void typeMismatch() {
    raiseError(RuntimeError::kTypeMismatch, "Type mismatch");
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Parses the longest number at the start of s (after blanks); sets consumed to the
// number of characters used, 0 when there is no number.
double leadingNumber(std::string_view s, size_t& consumed) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i + 1 < s.size() && s[i] == '&' &&
        (s[i + 1] == 'H' || s[i + 1] == 'h' || s[i + 1] == 'O' || s[i + 1] == 'o')) {
        const bool hex = s[i + 1] == 'H' || s[i + 1] == 'h';
        size_t j = i + 2;
        int64_t v = 0;
        bool any = false;
        while (j < s.size()) {
            const char c = s[j];
            int d = -1;
            if (isDigit(c))
                d = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            if (d < 0 || (!hex && d > 7)) break;
            v = v * (hex ? 16 : 8) + d;
            if (v > 0xFFFFFFFFLL) break;
            any = true;
            ++j;
        }
        consumed = any ? j : 0;
        if (!any) return 0;
        // Short hex literals are 16-bit, longer ones 32-bit, both signed.
        if (v <= 0xFFFF && (j - i - 2) <= 4) return static_cast<int16_t>(static_cast<uint16_t>(v));
        return static_cast<int32_t>(static_cast<uint32_t>(v));
    }
    std::string buf;
    size_t j = i;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) buf += s[j++];
    bool digits = false;
    while (j < s.size() && isDigit(s[j])) {
        buf += s[j++];
        digits = true;
    }
    if (j < s.size() && s[j] == '.') {
        buf += s[j++];
        while (j < s.size() && isDigit(s[j])) {
            buf += s[j++];
            digits = true;
        }
    }
    if (!digits) {
        consumed = 0;
        return 0;
    }
    if (j < s.size() && (s[j] == 'e' || s[j] == 'E' || s[j] == 'd' || s[j] == 'D')) {
        size_t k = j + 1;
        std::string exp = "e";
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) exp += s[k++];
        bool expDigits = false;
        while (k < s.size() && isDigit(s[k])) {
            exp += s[k++];
            expDigits = true;
        }
        if (expDigits) {
            buf += exp;
            j = k;
        }
    }
    consumed = j;
    return std::strtod(buf.c_str(), nullptr);
}

template <typename T>
T roundToInteger(double value) {
    if (std::isnan(value)) overflow();
    const double r = std::nearbyint(value);  // default rounding mode: halves to even
    if (r < static_cast<double>(std::numeric_limits<T>::min()) ||
        r > static_cast<double>(std::numeric_limits<T>::max()))
        overflow();
    return static_cast<T>(r);
}

}  // namespace

char lowerChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 'A' && u <= 'Z') return static_cast<char>(u + 32);
    if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<char>(u + 32);
    return c;
}

static char upperChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z') return static_cast<char>(u - 32);
    if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 32);
    return c;
}

std::string LCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = lowerChar(c);
    return r;
}

std::string UCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = upperChar(c);
    return r;
}

int compareIgnoreCase(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(lowerChar(a[i]));
        const auto cb = static_cast<unsigned char>(lowerChar(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && compareIgnoreCase(a, b) == 0;
}

std::string LTrim(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    return std::string(s.substr(i));
}

std::string RTrim(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && s[n - 1] == ' ') --n;
    return std::string(s.substr(0, n));
}

std::string Trim(std::string_view s) {
    return LTrim(RTrim(s));
}

bool isDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), isDigit);
}

std::string withoutQuotes(std::string s) {
    std::erase(s, '"');
    return s;
}

double Val(std::string_view s) {
    size_t consumed = 0;
    return leadingNumber(s, consumed);
}

bool IsNumeric(std::string_view s) {
    size_t consumed = 0;
    leadingNumber(s, consumed);
    if (consumed == 0) return false;
    for (size_t i = consumed; i < s.size(); ++i)
        if (s[i] != ' ' && s[i] != '\t') return false;
    return true;
}

int16_t CInt(double value) {
    return roundToInteger<int16_t>(value);
}
int32_t CLng(double value) {
    return roundToInteger<int32_t>(value);
}
uint8_t CByte(double value) {
    return roundToInteger<uint8_t>(value);
}
float CSng(double value) {
    if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max())
        raiseError(RuntimeError::kOverflow, "Overflow");
    return static_cast<float>(value);
}

std::optional<int32_t> truncateToInt32(double value) {
    // Compared before the conversion: converting a double that does not fit
    // is undefined.
    const double whole = std::trunc(value);
    if (!(whole >= static_cast<double>(std::numeric_limits<int32_t>::min()) &&
          whole <= static_cast<double>(std::numeric_limits<int32_t>::max())))
        return std::nullopt;
    return static_cast<int32_t>(whole);
}

double CDbl(std::string_view text) {
    if (!IsNumeric(text)) typeMismatch();
    return Val(text);
}

int16_t CInt(std::string_view text) {
    return CInt(CDbl(text));
}
int32_t CLng(std::string_view text) {
    return CLng(CDbl(text));
}

std::string CStr(bool value) {
    return value ? "True" : "False";
}

bool CBool(std::string_view text) {
    const std::string t = Trim(text);
    if (equalsIgnoreCase(t, "True")) return true;
    if (equalsIgnoreCase(t, "False")) return false;
    if (IsNumeric(t)) return Val(t) != 0;
    typeMismatch();
}

std::string CStr(int64_t value) {
    return std::to_string(value);
}

std::string CStr(double value) {
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15)
        return std::to_string(static_cast<int64_t>(value));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    return buf;
}

std::string dateTimeText(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

std::optional<QDateTime> parseDateTime(std::string_view text) {
    const QString s =
        QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())).trimmed();
    static const char* const kForms[] = {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd", "M/d/yyyy h:mm:ss AP",
                                         "M/d/yyyy h:mm:ss", "M/d/yyyy"};
    for (const char* form : kForms) {
        QDateTime t = QDateTime::fromString(s, QString::fromLatin1(form));
        if (t.isValid()) return t;
    }
    return std::nullopt;
}

std::vector<std::string> Split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t at = text.find(separator, start);
        parts.emplace_back(text.substr(start, at - start));
        if (at == std::string_view::npos) return parts;
        start = at + 1;
    }
}

std::string Hex(uint32_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value & 0x0F]);
        value >>= 4;
    } while (value != 0);
    return text;
}

std::string hexBytes(std::span<const uint8_t> bytes) {
    std::string text;
    for (const uint8_t b : bytes) {
        if (!text.empty()) text += ' ';
        if (b < 0x10) text += '0';
        text += Hex(b);
    }
    return text;
}

}  // namespace vb
