#include "host/SectionPattern.h"
#include "support/StandardSectionPattern.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// The lists read best packed.
// clang-format off

// Texts that tell the corner cases apart: case and code-page folding, line
// ends, word characters, bytes above 127, NUL, and the empty text.
const std::vector<std::string> kTexts = {
    "", "a", "A", "ab", "AB", "abc", "aab", "ba", "b", "-", "a-b", "0", "09", "_", " ", "\t",
    "\n", "\r", "\b", "\x03", "\xC9t", "\xE9T", "\xE9", "\xC9", "\x80", "\xFF", "\x8A", "\x9A",
    "gen", "General", "GEN\x03", "w\x03x", "a b", "ab_c", "]", "}", "{", "\\", "x\x03y",
    "aaaaaaaa", "A"s + '\0', "\0"s, "1a", "c", "C", "[", "^", "$",
};

// Every pattern here must be accepted or rejected, and match, exactly as the
// standard library's reading of it, which ran section patterns before.
const std::vector<std::string> kPatterns = {
    // plain characters, folding, the dot and anchors
    "a", "A", "ab", "\xC9T", "\xE9", "\x8A", ".", "..", "^a", "a$", "^$", "$", "a^", "^^a",
    "]", "}", "a]b}", "\\]", "\\}", "\\{", "\\\\", "\\.", "\\^", "\\$", "\\|",
    // escapes
    "\\0", "\\f", "\\n", "\\r", "\\t", "\\v", "\\ca", "\\cA", "\\c\\", "\\x41", "\\x4a",
    "\\xc9", "\\xC9t", "\\u0041", "\\u0141", "\\u00e9", "\\q", "\\-", "\\03",
    // classes and word boundaries
    "\\d", "\\D", "\\w", "\\W", "\\s", "\\S", "\\w+", "\\bab", "a\\b", "a\\B", "\\B", "\\b",
    "\\b\\w", "^\\B",
    // alternatives and groups
    "a|b", "|a", "a|", "|", "(a|b)c", "(?:a|b)+", "()", "(|a)*b", "(a*)*b", "(a|ab)(c|bcd)",
    "((a))", "(?:)", "a(b|)$", "(A|\xC9)t",
    // repeats
    "a*", "a+", "a?", "a*?", "a+?", "a??", "a**", "a*+", "a{2}", "a{0}", "a{0,}", "a{1,3}",
    "a{2,}?", "a{2}{2}", "(ab){2}", "(a{2}){1,2}b", "a{0,0}", "a{3,3}", ".*", ".+b", "(a|)+",
    // bracket expressions
    "[a]", "[ab]", "[A]", "[a-c]", "[A-C]", "[^a]", "[]", "[^]", "[-]", "[a-]", "[-a]",
    "[--0]", "[a-z-0]", "[a-c-e]", "[!--]", "[\\w]", "[\\W]", "[\\d-]", "[\\s\\d]", "[\\D]",
    "[^\\w]", "[\\b]", "[\\]]", "[\\-a]", "[a\\-z]", "[[]", "[\\x41-\\x43]", "[\\x80-\\xff]",
    "[\xC0-\xDE]", "[\xE0-\xFE]", "[^\xE9]", "[\xC9]", "[.]", "[$^]", "[\\0]", "[\\ca]",
    "[\\u0141]", "[ -~]", "[+-\\.]", "[a-a]",
    // named classes, collating names and equivalence classes (C locale)
    "[[:alpha:]]+", "[[:ALNUM:]_]", "[[:lower:]]", "[^[:upper:]]", "[[:digit:][:space:]]",
    "[[:punct:]]", "[[:xdigit:]]{2}", "[[:cntrl:]]", "[[:blank:]]", "[[:graph:]]",
    "[[:print:]]", "[[:s:]]", "[[:w:]]", "[[:d:]]", "[[.a.]]", "[[.A.]]", "[[=a=]]b",
    "[[=A=]]", "[[.hyphen.]x]", "[[.NUL.]]", "[[=NUL=]]", "[[.space.]-a]", "[[.a.]-c]",
    "[^[=b=]]", "[[.left-square-bracket.]]",
    // look-aheads, inside which "^" and "\\b" start afresh
    "a(?=b)", "a(?!b)", "(?=a)\\w+", "a(?=^b)", "a(?=\\bb)", "a(?!\\B)", "(?=(?!b).)..",
    "(?=a|b)*", "(?=)", "(?!)", "a(?=b$)", "(?:a(?=b)|ab)c",
    // invalid: each must match nothing, as before
    "(", ")", "a)", "(a", "[", "[a", "a[", "[a-", "*", "+a", "?", "a|*", "{", "a{", "a{}",
    "a{,2}", "a{2,1}", "a{1,2,3}", "a{ 1}", "a{x}", "^*", "$+", "\\b*", "\\B{2}", "\\", "a\\",
    "\\c", "\\x4", "\\xg0", "\\u004", "\\1", "(a)\\1", "[\\1]", "[\\B]", "[\\w-a]", "[b-a]",
    "[a-\xE9]", "[\\d-a]", "(?", "(?a)", "(?<a)", "a{3", "[^", "[[:nosuch:]]", "[[:alpha]]",
    "[[:alpha:]-z]", "[[:", "(?=a", "(?=a)*", "(?!a)+", "[[.-.]]", "[[.ab.]]", "[[=a=]-z]",
    "[[.\xE9.]]", "[[=a]]", "[[.a.]", "[[=-=]]",
};

// clang-format on

TEST(SectionPatternTest, AgreesWithTheStandardLibrary) {
    for (const std::string& pattern : kPatterns) {
        SCOPED_TRACE(pattern);
        const SectionPattern own(pattern);
        const StandardSectionPattern standard(pattern);
        ASSERT_EQ(own.valid(), standard.valid());
        if (!own.valid()) continue;
        for (const std::string& text : kTexts)
            EXPECT_EQ(own.matchesStart(text), standard.matchesStart(text)) << "text: " << text;
    }
}

// The matcher walks each key once, whatever the pattern: patterns that send a
// backtracking matcher into exponential time or deep recursion answer at once.
TEST(SectionPatternTest, CostsNoMoreThanPatternTimesText) {
    const std::string longKey(200000, 'a');
    EXPECT_FALSE(SectionPattern("(a*)*b").matchesStart(longKey));
    EXPECT_FALSE(SectionPattern("(a|aa)+$b").matchesStart(longKey));
    EXPECT_TRUE(SectionPattern(".*$").matchesStart(longKey));
    EXPECT_TRUE(SectionPattern("(?:(?:a?){30}a{30})").matchesStart(longKey));
    // Stacked repeats cost a step each.
    const SectionPattern stacked("a" + std::string(500, '+') + "$");
    EXPECT_TRUE(stacked.valid());
    EXPECT_TRUE(stacked.matchesStart(longKey));
    // Patterns too large once written out, or nested too deep, match nothing.
    EXPECT_FALSE(SectionPattern("a{1001}").valid());
    EXPECT_FALSE(SectionPattern("a{4,}{0}{1,84}{5,9}").valid());  // 4,250 copies of "a"
    EXPECT_TRUE(SectionPattern("a{4,}{0}{1,84}").valid());
    EXPECT_FALSE(SectionPattern(std::string(65, '(') + "a" + std::string(65, ')')).valid());
    EXPECT_TRUE(SectionPattern(std::string(64, '(') + "a" + std::string(64, ')')).valid());
}

}  // namespace
