#pragma once
// The standard library's reading of a section pattern, which listed keys before
// the own matcher did: ECMAScript in polynomial mode, letters folded as the
// settings dictionary folds them (Windows-1252), within the same size bounds.
// The tests and the differential fuzz target hold SectionPattern to it.

#include <optional>
#include <regex>
#include <string>
#include <string_view>

#include "base/Convert.h"
#include "host/SectionPattern.h"

class StandardSectionPattern {
public:
    explicit StandardSectionPattern(std::string_view pattern) {
        if (!SectionPattern::withinBounds(pattern)) return;
        // A string, not the view: the standard scanner looks one character past
        // a final "(" for a "?", which must then be the string's terminating NUL.
        const std::string text(pattern);
        try {
            m_regex.emplace(text, kOptions);
        } catch (const std::regex_error&) {
        }
    }

    bool valid() const { return m_regex.has_value(); }
    bool matchesStart(std::string_view text) const {
        return m_regex && std::regex_search(text.begin(), text.end(), *m_regex,
                                            std::regex_constants::match_continuous);
    }

private:
    struct CodePageTraits : std::regex_traits<char> {
        char translate_nocase(char c) const { return vb::lowerChar(c); }
    };
    // Polynomial mode matches in bounded time and stack, and rejects
    // back-references.
    static constexpr std::regex_constants::syntax_option_type kOptions =
        std::regex_constants::ECMAScript | std::regex_constants::icase
#ifdef __GLIBCXX__
        | std::regex_constants::__polynomial
#endif
        ;

    std::optional<std::basic_regex<char, CodePageTraits>> m_regex;
};
