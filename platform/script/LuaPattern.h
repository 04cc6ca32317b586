#pragma once
// A Lua pattern (the mini-language of string.find, match, gmatch and gsub),
// compiled once into a list of items and matched by a backtracking machine that
// keeps its choices on a stack of its own rather than on the C stack.
//
// Why not Lua's own matcher: it backtracks inside one C call, where the script
// engine's time-out never gets a look in, so '.-.-.-.-x' on a long subject held
// the one thread for minutes. This one counts its steps and calls the caller's
// check every kStepsPerCheck of them; the check may throw (the engine raises its
// time-out from there), and the machine holds nothing that would leak.
//
// The grammar is the documented one: single-character classes ('.', %a %c %d
// %g %l %p %s %u %w %x and their upper-case complements, %x for any other
// non-alphanumeric x, sets [...] with ranges, classes and a leading ^) with the
// repeats * + - ?; captures ( ) and position captures (); %1-%9 back-references;
// %bxy balanced pairs; %f[set] frontiers; ^ anchors at the start where the
// caller allows it, $ at the very end. Anything else stands for itself.
//
// Where it answers differently from Lua's library: a malformed pattern is
// refused as soon as it is compiled, even when Lua would have given up on the
// subject before reaching the fault; there is no limit of 32 captures and no
// "pattern too complex" depth limit (the choice stack lives on the heap and is
// no longer than the pattern).

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

class LuaPattern {
public:
    // A malformed pattern; what() is the message scripts see.
    struct Error : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    // Counts work and runs `check` every so often; shared by the calls that
    // make up one library call (gsub matches many times).
    class Meter {
    public:
        using Check = void (*)(void* context);
        Meter(Check check, void* context) : m_check(check), m_context(context) {}
        void add(std::size_t steps) {
            m_steps += steps;
            if (m_steps >= kStepsPerCheck) {
                m_steps = 0;
                if (m_check != nullptr) m_check(m_context);
            }
        }

    private:
        Check m_check;
        void* m_context;
        std::size_t m_steps = 0;
    };
    static constexpr std::size_t kStepsPerCheck = std::size_t{1} << 14;

    struct Capture {
        static constexpr std::ptrdiff_t kOpen = -1;      // started, not yet closed
        static constexpr std::ptrdiff_t kPosition = -2;  // a () capture
        std::size_t start = 0;
        std::ptrdiff_t length = kOpen;
    };

    // Throws Error for a malformed pattern. allowAnchor: whether a leading '^'
    // anchors (gmatch takes it as a plain character).
    explicit LuaPattern(std::string_view pattern, bool allowAnchor = true);

    // Whether the pattern uses none of the special characters, so that a plain
    // search finds what matching would.
    static bool isPlain(std::string_view pattern);
    // The first `needle` in `subject` at or after `from`, byte for byte; npos
    // when there is none.
    static std::size_t find(std::string_view subject, std::string_view needle, std::size_t from,
                            Meter& meter);
    // An upper bound of the bytes a compiled `pattern` holds, to refuse one
    // that would not fit before building it.
    static std::size_t costOf(std::string_view pattern);

    bool anchored() const { return m_anchored; }
    std::size_t captureCount() const { return m_captureCount; }

    // Matches at `start` exactly; returns the end of the match, or npos. On a
    // match `captures` holds captureCount() entries.
    std::size_t matchAt(std::string_view subject, std::size_t start, std::vector<Capture>& captures,
                        Meter& meter) const;

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

private:
    enum class Kind : std::uint8_t {
        Class,
        Open,
        Position,
        Close,
        Balance,
        Frontier,
        BackRef,
        End
    };
    enum class Repeat : std::uint8_t { Once, Greedy, AtLeastOnce, Lazy, Optional };
    struct Item {
        Kind kind;
        Repeat repeat = Repeat::Once;
        char open = 0, close = 0;  // Balance
        std::uint32_t index = 0;   // Class/Frontier: set; captures: capture; BackRef: capture
    };
    using Set = std::bitset<256>;

    std::size_t parseSingle(std::string_view pattern, std::size_t at, Set& set) const;
    std::size_t parseBracket(std::string_view pattern, std::size_t at, Set& set) const;
    std::uint32_t addSet(const Set& set);

    std::vector<Item> m_items;
    std::vector<Set> m_sets;
    std::size_t m_captureCount = 0;
    bool m_anchored = false;
};
