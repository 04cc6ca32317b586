#pragma once
// A section name used as a pattern when a section's keys are listed: callers
// have always been able to pass one ("Gen.*"). The grammar is ECMAScript's, as
// the standard library's regex reads it; letters fold as the settings
// dictionary folds them (Windows-1252); a match starts at the key's first
// character and need not reach its end.
//
// Matching runs every alternative side by side over the key, one character at
// a time, never backtracking: its time is the pattern's size times the key's
// length (a look-ahead runs again from each place it is reached, so that much
// again per look-ahead). The standard library's regex (polynomial mode), which
// ran every pattern before, is the reference the tests hold it to.
//
// A pattern that is not valid, holds a back-reference, nests its groups more
// than 64 deep or grows beyond about a thousand steps once its repeats are
// written out matches nothing, whichever engine would have run it.
//
// Compiling and matching use working space kept per thread, so a listing does
// not allocate it anew for every pattern.

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

class SectionPattern {
public:
    explicit SectionPattern(std::string_view pattern);
    ~SectionPattern();
    SectionPattern(SectionPattern&&) noexcept;
    SectionPattern& operator=(SectionPattern&&) noexcept;

    // Whether the pattern is within the size and nesting bounds, which apply
    // before any compiling (the reference applies the same).
    static bool withinBounds(std::string_view pattern);

    // Whether the pattern can be used at all; one that cannot matches nothing.
    bool valid() const { return m_valid; }
    // Whether the pattern matches text from its first character on.
    bool matchesStart(std::string_view text) const;

    // One instruction of the compiled pattern; public for the compiler only.
    struct Step {
        enum class Op : uint8_t {
            Byte,             // consume a byte in sets[a], go on to the next step
            Split,            // go on at a and at b
            Jump,             // go on at a
            AtBegin,          // "^"
            AtEnd,            // "$"
            WordBoundary,     // "\b"
            NotWordBoundary,  // "\B"
            LookAhead,        // go on if the steps at a match here (b: if they do not)
            Match,
        };
        Op op;
        uint32_t a = 0;
        uint32_t b = 0;
    };
    using ByteSet = std::array<uint64_t, 4>;

private:
    struct Scratch;
    bool run(uint32_t start, size_t begin, std::string_view text, size_t depth) const;
    bool addClosure(Scratch& scratch, std::vector<uint32_t>& list, uint32_t from, size_t pos,
                    size_t begin, std::string_view text, size_t depth) const;

    bool m_valid = false;
    std::vector<Step> m_steps;
    std::vector<ByteSet> m_sets;
};
