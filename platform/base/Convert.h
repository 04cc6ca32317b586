#pragma once
// The conversions the program relies on, written once. Texts are single-byte
// (Windows-1252) strings; case conversion follows that code page.

#include <QDateTime>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vb {

std::string LCase(std::string_view s);
std::string UCase(std::string_view s);
char lowerChar(char c);
// Case-insensitive comparison as text comparison does it.
bool equalsIgnoreCase(std::string_view a, std::string_view b);
int compareIgnoreCase(std::string_view a, std::string_view b);
// Trims blanks (the space character only), as the system's trimming does.
std::string Trim(std::string_view s);
std::string LTrim(std::string_view s);
std::string RTrim(std::string_view s);
// The text with every double quote removed, as settings are read: a value
// written "8012" or 8012 is the same setting.
std::string withoutQuotes(std::string s);

// The leading number of a text: leading blanks skipped, an optional sign,
// digits with one decimal point and an exponent; "&H" and "&O" prefixes read hex
// and octal. Stops at the first character that cannot continue the number;
// no number at all gives 0.
double Val(std::string_view s);

// Whether a text is a number as a whole (blanks around allowed).
bool IsNumeric(std::string_view s);
// One or more of the digits 0 to 9 and nothing else: no sign, blank or point.
bool isDigits(std::string_view s);

// Rounding to an integer as the system does it: halves go to the even neighbour.
// Values outside the type's range raise error 6 "Overflow".
int16_t CInt(double value);
int32_t CLng(double value);
uint8_t CByte(double value);
// To single precision; a finite value beyond its range raises error 6
// "Overflow" rather than silently becoming an infinity.
float CSng(double value);
// The whole part of a value (the fraction dropped) when it fits a 32-bit
// integer; no value for NaN, infinities and anything outside that range. For
// numbers read from outside, where a bad one is ignored rather than an error.
std::optional<int32_t> truncateToInt32(double value);
// Text to number: a text that is not a number raises error 13 "Type mismatch".
double CDbl(std::string_view text);
int16_t CInt(std::string_view text);
int32_t CLng(std::string_view text);

// "True"/"False".
std::string CStr(bool value);
// "True"/"False" in any case, or a number (non-zero is true); else error 13.
bool CBool(std::string_view text);

// A number as decimal text without a leading blank, as string concatenation
// writes it.
std::string CStr(int64_t value);
std::string CStr(double value);

// The one text form for a date and time, used for both saving and loading:
// "yyyy-MM-dd HH:mm:ss", independent of the locale.
std::string dateTimeText(const QDateTime& t);
// Reads the fixed form back; also accepts "M/d/yyyy h:mm:ss AM" texts written by
// older installations. Nothing recognisable gives no value.
std::optional<QDateTime> parseDateTime(std::string_view text);

// The parts between separators, as Split gives them: n separators make n + 1
// parts, so an empty text is one empty part.
std::vector<std::string> Split(std::string_view text, char separator);

// Upper-case hex digits without leading zeros ("5", "1A"), as Hex$ writes a number.
std::string Hex(uint32_t value);
// Bytes as two upper-case hex digits each, separated by single spaces
// ("05 60 9F"): how frames are shown to people.
std::string hexBytes(std::span<const uint8_t> bytes);

}  // namespace vb
