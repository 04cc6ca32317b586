#include "host/SectionPattern.h"

#include <algorithm>
#include <limits>
#include <regex>
#include <string>
#include <utility>

#include "base/Convert.h"

namespace {

// ---------------------------------------------------------------------------
// Bounds, checked before either engine sees the pattern.

// The largest a pattern may grow once its repeats are written out (roughly the
// steps of the automaton either engine builds). Building and running it costs
// in proportion, and every listing does both: "(.?){20000}" would take seconds
// per listing. Names people give sections stay far below this.
//
// It also keeps numbers the standard library's compiler reads (repeat counts,
// back-reference numbers) small: it reads them into a fixed-size integer with
// no overflow check, so a long run of digits would be undefined behaviour there.
constexpr size_t kMaxPatternSize = 1000;

// How deeply groups may nest. The standard library's compiler, and its matcher,
// descend once per group on the calling thread's stack, and so does the parser
// below: a name of a few thousand "(" would overflow it.
constexpr size_t kMaxGroupDepth = 64;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads the digits at pos, moving pos past them; anything above
// kMaxPatternSize reads as kMaxPatternSize + 1.
size_t readNumber(std::string_view s, size_t& pos) {
    size_t value = 0;
    for (; pos < s.size() && isDigit(s[pos]); ++pos)
        value = std::min(value * 10 + static_cast<size_t>(s[pos] - '0'), kMaxPatternSize + 1);
    return value;
}

// Whether an ECMAScript pattern grows beyond kMaxPatternSize once its repeats
// are written out. It follows the grammar closely enough to know where numbers
// stand: digits inside a bracket expression or after an escaped brace are plain
// characters, while a count in "{m,n}" or a back-reference "\\n" is a number.
bool patternTooLarge(std::string_view s) {
    // The size of the sequence being read, the size of its last item (what a
    // repeat applies to), and the sizes of the sequences around each open group.
    size_t size = 0;
    size_t last = 0;
    std::vector<size_t> outer;
    // The sizes of all the enclosing sequences together: the standard
    // compiler's descent through a sequence is as deep as the items before it.
    size_t enclosing = 0;
    bool inBracket = false;
    size_t pos = 0;
    const auto add = [&](size_t item) {
        size += item;
        last = item;
    };
    while (pos < s.size()) {
        const char c = s[pos++];
        if (c == '\\') {
            if (pos >= s.size()) return false;
            const char e = s[pos];
            if (e >= '1' && e <= '9') {
                if (readNumber(s, pos) > kMaxPatternSize) return true;
            } else {
                ++pos;
                if (e == 'c') ++pos;  // "\\cX" takes one more character
            }
            if (!inBracket) add(1);
        } else if (inBracket) {
            if (c == ']') {
                inBracket = false;
            } else if (c == '[' && pos < s.size() &&
                       (s[pos] == '.' || s[pos] == ':' || s[pos] == '=')) {
                // A class name such as "[:alpha:]" runs to its own closing pair.
                const size_t end = s.find(std::string{s[pos], ']'}, pos + 1);
                if (end == std::string_view::npos) return false;
                pos = end + 2;
            }
        } else if (c == '[') {
            inBracket = true;
            if (pos < s.size() && s[pos] == '^') ++pos;
            add(1);
        } else if (c == '(') {
            if (outer.size() >= kMaxGroupDepth) return true;
            outer.push_back(size);
            enclosing += size;
            size = 0;
        } else if (c == ')' && !outer.empty()) {
            const size_t group = size + 2;
            size = outer.back();
            enclosing -= size;
            outer.pop_back();
            add(group);
        } else if (c == '{') {
            size_t count = 0;
            while (pos < s.size() && s[pos] != '}') {
                if (isDigit(s[pos]))
                    count = std::max(count, readNumber(s, pos));
                else
                    ++pos;
            }
            if (count > kMaxPatternSize) return true;
            // The closing brace is part of the repeat, not an item it could
            // apply to: "a{9}{9}" is 81 copies of "a".
            if (pos < s.size()) ++pos;
            // Each repeat is a copy of the item, plus a state to loop or skip.
            const size_t repeated = last * (count + 1);
            size += repeated - last;
            last = repeated;
        } else if (c == '*' || c == '+' || c == '?') {
            // Repeats may follow one another, each applying to all before it.
            ++size;
            ++last;
        } else {
            add(1);
        }
        if (enclosing + size > kMaxPatternSize) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// The standard library's regex, for what the own matcher does not run.

// Case-insensitive matching folds letters as the dictionary does (Windows-1252).
struct CodePageRegexTraits : std::regex_traits<char> {
    char translate_nocase(char c) const { return vb::lowerChar(c); }
};

// libstdc++ matches by backtracking unless asked otherwise: a pattern such as
// "(a*)*b" then takes exponential time, and ".*" recurses once per character
// of a long key until the stack runs out. Polynomial mode matches in bounded
// time and stack; it rejects back-references, which then list no keys.
constexpr std::regex_constants::syntax_option_type kPatternOptions =
    std::regex_constants::ECMAScript | std::regex_constants::icase
#ifdef __GLIBCXX__
    | std::regex_constants::__polynomial
#endif
    ;

// ---------------------------------------------------------------------------
// The own matcher: tokens, then a tree, then steps.
//
// The grammar and its corner cases are the standard library's reading of
// ECMAScript, since that is what section patterns have always meant: "]" and
// "}" on their own are plain characters, "\cX" is X, "\0" is the NUL byte, a
// "-" after a range is a plain character, an assertion takes no repeat, and
// character classes ("\w", "\d", "\s") and case-folded ranges use the C
// locale, while single characters fold by the code page.

enum class Verdict { Ok, Invalid, Unsupported };

enum class Tok : uint8_t {
    End,
    Char,
    Any,
    Backref,
    Class,  // "\d", "\w", "\s" and their capitals
    WordBoundary,
    NotWordBoundary,
    LineBegin,
    LineEnd,
    Star,
    Plus,
    Opt,
    Or,
    Open,
    OpenNoGroup,
    LookAhead,  // ch: '=' or '!'
    ClassName,  // "[:name:]" in a bracket; the name at count, ch long
    Close,
    BracketOpen,
    BracketOpenNegated,
    BracketClose,
    Dash,
    IntervalOpen,
    Count,
    Comma,
    IntervalClose,
};

struct Token {
    Tok kind;
    char ch = 0;
    uint32_t count = 0;
};

bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    return (c | 0x20) - 'a' + 10;
}

class Lexer {
public:
    explicit Lexer(std::string_view s) : m_s(s) {}

    Verdict run(std::vector<Token>& out) {
        enum class State { Normal, Bracket, Brace } state = State::Normal;
        while (m_pos < m_s.size()) {
            Token t{Tok::Char};
            Verdict v = Verdict::Ok;
            if (state == State::Normal)
                v = normal(t);
            else if (state == State::Bracket)
                v = bracket(t);
            else
                v = brace(t);
            if (v != Verdict::Ok) return v;
            if (t.kind == Tok::BracketOpen || t.kind == Tok::BracketOpenNegated)
                state = State::Bracket;
            else if (t.kind == Tok::BracketClose)
                state = State::Normal;
            else if (t.kind == Tok::IntervalOpen)
                state = State::Brace;
            else if (t.kind == Tok::IntervalClose)
                state = State::Normal;
            out.push_back(t);
        }
        out.push_back(Token{Tok::End});
        return Verdict::Ok;
    }

private:
    bool atEnd() const { return m_pos >= m_s.size(); }

    Verdict normal(Token& t) {
        const char c = m_s[m_pos++];
        switch (c) {
            case '\\':
                return escape(t, false);
            case '(':
                if (!atEnd() && m_s[m_pos] == '?') {
                    if (++m_pos == m_s.size()) return Verdict::Invalid;
                    const char kind = m_s[m_pos++];
                    if (kind == ':') {
                        t.kind = Tok::OpenNoGroup;
                        return Verdict::Ok;
                    }
                    if (kind != '=' && kind != '!') return Verdict::Invalid;
                    t.kind = Tok::LookAhead;
                    t.ch = kind;
                    return Verdict::Ok;
                }
                t.kind = Tok::Open;
                return Verdict::Ok;
            case ')':
                t.kind = Tok::Close;
                break;
            case '[':
                t.kind = Tok::BracketOpen;
                if (!atEnd() && m_s[m_pos] == '^') {
                    t.kind = Tok::BracketOpenNegated;
                    ++m_pos;
                }
                break;
            case '{':
                t.kind = Tok::IntervalOpen;
                break;
            case '^':
                t.kind = Tok::LineBegin;
                break;
            case '$':
                t.kind = Tok::LineEnd;
                break;
            case '.':
                t.kind = Tok::Any;
                break;
            case '*':
                t.kind = Tok::Star;
                break;
            case '+':
                t.kind = Tok::Plus;
                break;
            case '?':
                t.kind = Tok::Opt;
                break;
            case '|':
                t.kind = Tok::Or;
                break;
            default:
                t.ch = c;
                break;  // "]" and "}" included
        }
        return Verdict::Ok;
    }

    Verdict bracket(Token& t) {
        const char c = m_s[m_pos++];
        if (c == '-') {
            t.kind = Tok::Dash;
        } else if (c == '[') {
            if (atEnd()) return Verdict::Invalid;
            const char next = m_s[m_pos];
            if (next == '.' || next == '=') return Verdict::Unsupported;
            if (next == ':') return className(t);
            t.ch = c;
        } else if (c == ']') {
            t.kind = Tok::BracketClose;
        } else if (c == '\\') {
            return escape(t, true);
        } else {
            t.ch = c;
        }
        return Verdict::Ok;
    }

    // "[:name:]": the name runs to the first ":", which must be followed by "]".
    Verdict className(Token& t) {
        const size_t start = ++m_pos;
        const size_t colon = m_s.find(':', start);
        if (colon == std::string_view::npos || colon + 1 >= m_s.size() || m_s[colon + 1] != ']')
            return Verdict::Invalid;
        // Longer than any class name: unknown, so the pattern is invalid.
        if (colon - start > 8) return Verdict::Invalid;
        t.kind = Tok::ClassName;
        t.count = static_cast<uint32_t>(start);
        t.ch = static_cast<char>(colon - start);
        m_pos = colon + 2;
        return Verdict::Ok;
    }

    Verdict brace(Token& t) {
        const char c = m_s[m_pos++];
        if (isDigit(c)) {
            uint64_t value = static_cast<uint64_t>(c - '0');
            while (!atEnd() && isDigit(m_s[m_pos]))
                value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(m_s[m_pos++] - '0'),
                                           std::numeric_limits<uint32_t>::max());
            t.kind = Tok::Count;
            t.count = static_cast<uint32_t>(value);
        } else if (c == ',') {
            t.kind = Tok::Comma;
        } else if (c == '}') {
            t.kind = Tok::IntervalClose;
        } else {
            return Verdict::Invalid;
        }
        return Verdict::Ok;
    }

    Verdict escape(Token& t, bool inBracket) {
        if (atEnd()) return Verdict::Invalid;
        const char c = m_s[m_pos++];
        switch (c) {
            case '0':
                t.ch = '\0';
                break;
            case 'f':
                t.ch = '\f';
                break;
            case 'n':
                t.ch = '\n';
                break;
            case 'r':
                t.ch = '\r';
                break;
            case 't':
                t.ch = '\t';
                break;
            case 'v':
                t.ch = '\v';
                break;
            case 'b':
                if (inBracket)
                    t.ch = '\b';
                else
                    t.kind = Tok::WordBoundary;
                break;
            case 'B':
                t.kind = Tok::NotWordBoundary;
                break;
            case 'd':
            case 'D':
            case 's':
            case 'S':
            case 'w':
            case 'W':
                t.kind = Tok::Class;
                t.ch = c;
                break;
            case 'c':
                // The letter itself, not a control character.
                if (atEnd()) return Verdict::Invalid;
                t.ch = m_s[m_pos++];
                break;
            case 'x':
            case 'u': {
                const int digits = c == 'x' ? 2 : 4;
                unsigned value = 0;
                for (int i = 0; i < digits; ++i) {
                    if (atEnd() || !isHexDigit(m_s[m_pos])) return Verdict::Invalid;
                    value = value * 16 + static_cast<unsigned>(hexValue(m_s[m_pos++]));
                }
                // A "\u" beyond one byte keeps its low byte, as a char would.
                t.ch = static_cast<char>(value & 0xFF);
                break;
            }
            default:
                if (isDigit(c)) {
                    while (!atEnd() && isDigit(m_s[m_pos])) ++m_pos;
                    t.kind = Tok::Backref;
                } else {
                    t.ch = c;
                }
        }
        return Verdict::Ok;
    }

    std::string_view m_s;
    size_t m_pos = 0;
};

// Classes of the C locale, which the character classes and the case-folded
// ranges use whatever the code page.
bool isWordByte(unsigned char b) {
    return (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || b == '_';
}

bool isUpperLetter(char c) {
    return c >= 'A' && c <= 'Z';
}

int asciiLower(signed char c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

int asciiUpper(signed char c) {
    return c >= 'a' && c <= 'z' ? c - 32 : c;
}

using ByteSet = SectionPattern::ByteSet;

void setBit(ByteSet& set, unsigned char b) {
    set[b >> 6] |= uint64_t{1} << (b & 63);
}

bool hasBit(const ByteSet& set, unsigned char b) {
    return (set[b >> 6] >> (b & 63)) & 1;
}

template <typename Pred>
ByteSet byteSet(Pred pred) {
    ByteSet set{};
    for (unsigned b = 0; b < 256; ++b)
        if (pred(static_cast<unsigned char>(b))) setBit(set, static_cast<unsigned char>(b));
    return set;
}

// The bytes of a class named in "\d" or "[:digit:]" form, by the C locale,
// where "lower" and "upper" mean any letter, as case is ignored. False for a
// name that is no class.
bool classBytes(std::string_view name, ByteSet& out) {
    std::string lower;
    for (const char c : name) lower.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
    const auto digit = [](unsigned char b) { return b >= '0' && b <= '9'; };
    const auto alpha = [](unsigned char b) { return (b | 0x20) >= 'a' && (b | 0x20) <= 'z'; };
    const auto space = [](unsigned char b) { return b == ' ' || (b >= '\t' && b <= '\r'); };
    const auto graph = [](unsigned char b) { return b > ' ' && b < 0x7F; };
    if (lower == "d" || lower == "digit")
        out = byteSet(digit);
    else if (lower == "w")
        out = byteSet(isWordByte);
    else if (lower == "s" || lower == "space")
        out = byteSet(space);
    else if (lower == "alnum")
        out = byteSet([&](unsigned char b) { return alpha(b) || digit(b); });
    else if (lower == "alpha" || lower == "lower" || lower == "upper")
        out = byteSet(alpha);
    else if (lower == "blank")
        out = byteSet([](unsigned char b) { return b == ' ' || b == '\t'; });
    else if (lower == "cntrl")
        out = byteSet([](unsigned char b) { return b < ' ' || b == 0x7F; });
    else if (lower == "graph")
        out = byteSet(graph);
    else if (lower == "print")
        out = byteSet([&](unsigned char b) { return graph(b) || b == ' '; });
    else if (lower == "punct")
        out = byteSet([&](unsigned char b) { return graph(b) && !alpha(b) && !digit(b); });
    else if (lower == "xdigit")
        out = byteSet(
            [&](unsigned char b) { return digit(b) || ((b | 0x20) >= 'a' && (b | 0x20) <= 'f'); });
    else
        return false;
    return true;
}

ByteSet complement(ByteSet set) {
    for (uint64_t& word : set) word = ~word;
    return set;
}

constexpr uint32_t kUnbounded = std::numeric_limits<uint32_t>::max();

struct Node {
    enum class Kind : uint8_t {
        Bytes,
        Begin,
        End,
        WordBoundary,
        NotWordBoundary,
        LookAhead,
        NegativeLookAhead,
        Sequence,
        Either,
        Repeat,
    };
    explicit Node(Kind k, uint32_t bytes = 0, uint32_t least = 0, uint32_t most = 0)
        : kind(k), set(bytes), min(least), max(most) {}
    Kind kind;
    uint32_t set;  // Bytes
    uint32_t min;  // Repeat
    uint32_t max;  // Repeat; kUnbounded for no limit
    std::vector<uint32_t> kids;
};

// Reads the tokens into a tree, following the standard library's compiler:
// what it rejects is rejected here.
class Parser {
public:
    Parser(std::string_view pattern, const std::vector<Token>& tokens, std::vector<Node>& nodes,
           std::vector<ByteSet>& sets)
        : m_pattern(pattern), m_tokens(tokens), m_nodes(nodes), m_sets(sets) {}

    bool parse(uint32_t& root) { return disjunction(root) && peek() == Tok::End; }

private:
    Tok peek() const { return m_tokens[m_i].kind; }
    const Token& take() { return m_tokens[m_i++]; }
    bool accept(Tok kind) {
        if (peek() != kind) return false;
        ++m_i;
        return true;
    }

    uint32_t add(Node node) {
        m_nodes.push_back(std::move(node));
        return static_cast<uint32_t>(m_nodes.size() - 1);
    }
    uint32_t bytes(const ByteSet& set) {
        m_sets.push_back(set);
        return add(Node{Node::Kind::Bytes, static_cast<uint32_t>(m_sets.size() - 1)});
    }

    bool disjunction(uint32_t& out) {
        uint32_t first = 0;
        if (!alternative(first)) return false;
        if (peek() != Tok::Or) {
            out = first;
            return true;
        }
        Node either{Node::Kind::Either};
        either.kids.push_back(first);
        while (accept(Tok::Or)) {
            uint32_t next = 0;
            if (!alternative(next)) return false;
            either.kids.push_back(next);
        }
        out = add(std::move(either));
        return true;
    }

    bool alternative(uint32_t& out) {
        Node sequence{Node::Kind::Sequence};
        for (;;) {
            uint32_t item = 0;
            const int got = term(item);
            if (got < 0) return false;
            if (got == 0) break;
            sequence.kids.push_back(item);
        }
        out = add(std::move(sequence));
        return true;
    }

    // 1 with a term read, 0 when none starts here, -1 when the pattern is invalid.
    int term(uint32_t& out) {
        switch (peek()) {
            case Tok::LineBegin:
                ++m_i;
                out = add(Node{Node::Kind::Begin});
                return 1;
            case Tok::LineEnd:
                ++m_i;
                out = add(Node{Node::Kind::End});
                return 1;
            case Tok::WordBoundary:
                ++m_i;
                out = add(Node{Node::Kind::WordBoundary});
                return 1;
            case Tok::NotWordBoundary:
                ++m_i;
                out = add(Node{Node::Kind::NotWordBoundary});
                return 1;
            case Tok::LookAhead: {
                Node look{take().ch == '=' ? Node::Kind::LookAhead : Node::Kind::NegativeLookAhead};
                uint32_t inner = 0;
                if (!disjunction(inner) || !accept(Tok::Close)) return -1;
                look.kids.push_back(inner);
                out = add(std::move(look));
                return 1;
            }
            default:
                break;
        }
        const int got = atom(out);
        if (got <= 0) return got;
        for (;;) {
            uint32_t min = 0;
            uint32_t max = kUnbounded;
            if (accept(Tok::Star)) {
            } else if (accept(Tok::Plus)) {
                min = 1;
            } else if (accept(Tok::Opt)) {
                max = 1;
            } else if (accept(Tok::IntervalOpen)) {
                if (peek() != Tok::Count) return -1;
                min = max = take().count;
                if (accept(Tok::Comma)) max = peek() == Tok::Count ? take().count : kUnbounded;
                if (!accept(Tok::IntervalClose)) return -1;
                if (max < min) return -1;
            } else {
                return 1;
            }
            // A lazy repeat ("*?") matches the same texts as a greedy one.
            accept(Tok::Opt);
            Node repeat{Node::Kind::Repeat, 0, min, max};
            repeat.kids.push_back(out);
            out = add(std::move(repeat));
        }
    }

    int atom(uint32_t& out) {
        switch (peek()) {
            case Tok::Any:
                ++m_i;
                out = bytes(byteSet([](unsigned char b) { return b != '\n' && b != '\r'; }));
                return 1;
            case Tok::Char: {
                // The folded byte, and the capital that folds to it, if any.
                const auto folded = static_cast<unsigned char>(vb::lowerChar(take().ch));
                ByteSet set{};
                setBit(set, folded);
                const auto capital = static_cast<unsigned char>(folded - 32);
                if (folded >= 32 &&
                    vb::lowerChar(static_cast<char>(capital)) == static_cast<char>(folded))
                    setBit(set, capital);
                out = bytes(set);
                return 1;
            }
            case Tok::Class: {
                const char letter = take().ch;
                ByteSet set{};
                classBytes(std::string_view(&letter, 1), set);
                out = bytes(isUpperLetter(letter) ? complement(set) : set);
                return 1;
            }
            case Tok::Backref:
                // Polynomial matching cannot honour them; they never listed keys.
                return -1;
            case Tok::Open:
            case Tok::OpenNoGroup:
                ++m_i;
                if (!disjunction(out) || !accept(Tok::Close)) return -1;
                return 1;
            case Tok::BracketOpen:
            case Tok::BracketOpenNegated:
                return bracket(out) ? 1 : -1;
            default:
                return 0;
        }
    }

    bool bracket(uint32_t& out) {
        const bool negated = take().kind == Tok::BracketOpenNegated;
        std::vector<char> chars;  // folded by the code page
        std::vector<std::pair<signed char, signed char>> ranges;
        std::vector<ByteSet> classes;  // "\\D" and the like already complemented
        enum class Last { None, Char, Class } last = Last::None;
        char lastChar = 0;
        const auto pushChar = [&](char c) {
            if (last == Last::Char) chars.push_back(vb::lowerChar(lastChar));
            last = Last::Char;
            lastChar = c;
        };
        const auto range = [&](char from, char to) {
            const auto lo = static_cast<signed char>(from);
            const auto hi = static_cast<signed char>(to);
            if (lo > hi) return false;
            ranges.emplace_back(lo, hi);
            last = Last::None;
            return true;
        };

        if (peek() == Tok::Char) {
            last = Last::Char;
            lastChar = take().ch;
        } else if (accept(Tok::Dash)) {
            last = Last::Char;
            lastChar = '-';
        }
        for (bool more = true; more;) {
            switch (peek()) {
                case Tok::BracketClose:
                    ++m_i;
                    more = false;
                    break;
                case Tok::Char:
                    pushChar(take().ch);
                    break;
                case Tok::Dash:
                    ++m_i;
                    if (accept(Tok::BracketClose)) {
                        pushChar('-');
                        more = false;
                    } else if (last == Last::Class) {
                        return false;
                    } else if (last == Last::Char) {
                        if (peek() == Tok::Char) {
                            if (!range(lastChar, take().ch)) return false;
                        } else if (accept(Tok::Dash)) {
                            if (!range(lastChar, '-')) return false;
                        } else {
                            return false;
                        }
                    } else {
                        pushChar('-');
                    }
                    break;
                case Tok::Class:
                case Tok::ClassName: {
                    if (last == Last::Char) chars.push_back(vb::lowerChar(lastChar));
                    last = Last::Class;
                    const Token& t = take();
                    ByteSet set{};
                    if (t.kind == Tok::Class) {
                        classBytes(std::string_view(&t.ch, 1), set);
                        if (isUpperLetter(t.ch)) set = complement(set);
                    } else if (!classBytes(
                                   m_pattern.substr(t.count, static_cast<unsigned char>(t.ch)),
                                   set)) {
                        return false;
                    }
                    classes.push_back(set);
                    break;
                }
                default:
                    return false;
            }
        }
        if (last == Last::Char) chars.push_back(vb::lowerChar(lastChar));

        out = bytes(byteSet([&](unsigned char b) {
            const auto c = static_cast<signed char>(b);
            bool match = std::find(chars.begin(), chars.end(),
                                   vb::lowerChar(static_cast<char>(b))) != chars.end();
            for (const auto& [lo, hi] : ranges)
                match = match || (lo <= asciiLower(c) && asciiLower(c) <= hi) ||
                        (lo <= asciiUpper(c) && asciiUpper(c) <= hi);
            for (const ByteSet& set : classes) match = match || hasBit(set, b);
            return match != negated;
        }));
        return true;
    }

    std::string_view m_pattern;
    const std::vector<Token>& m_tokens;
    std::vector<Node>& m_nodes;
    std::vector<ByteSet>& m_sets;
    size_t m_i = 0;
};

// Far more steps than the size bound lets through; a pattern beyond it goes to
// the standard library rather than costing memory here.
constexpr size_t kMaxSteps = 100000;

using Step = SectionPattern::Step;
using Op = Step::Op;

class Writer {
public:
    Writer(const std::vector<Node>& nodes, std::vector<Step>& steps)
        : m_nodes(nodes), m_steps(steps) {}

    bool write(uint32_t index) {
        if (m_steps.size() > kMaxSteps) return false;
        const Node& node = m_nodes[index];
        switch (node.kind) {
            case Node::Kind::Bytes:
                push(Op::Byte, node.set);
                return true;
            case Node::Kind::Begin:
                push(Op::AtBegin);
                return true;
            case Node::Kind::End:
                push(Op::AtEnd);
                return true;
            case Node::Kind::WordBoundary:
                push(Op::WordBoundary);
                return true;
            case Node::Kind::NotWordBoundary:
                push(Op::NotWordBoundary);
                return true;
            case Node::Kind::LookAhead:
            case Node::Kind::NegativeLookAhead: {
                // The look-ahead's own steps lie after it, ending in their own
                // Match; the pattern goes on past them.
                const uint32_t look = push(Op::LookAhead, here() + 2);
                m_steps[look].b = node.kind == Node::Kind::NegativeLookAhead;
                const uint32_t over = push(Op::Jump);
                if (!write(node.kids.front())) return false;
                push(Op::Match);
                m_steps[over].a = here();
                return true;
            }
            case Node::Kind::Sequence:
                for (const uint32_t kid : node.kids)
                    if (!write(kid)) return false;
                return true;
            case Node::Kind::Either: {
                std::vector<uint32_t> jumps;
                for (size_t i = 0; i + 1 < node.kids.size(); ++i) {
                    const uint32_t split = push(Op::Split, here() + 1);
                    if (!write(node.kids[i])) return false;
                    jumps.push_back(push(Op::Jump));
                    m_steps[split].b = here();
                }
                if (!write(node.kids.back())) return false;
                for (const uint32_t jump : jumps) m_steps[jump].a = here();
                return true;
            }
            case Node::Kind::Repeat: {
                const uint32_t kid = node.kids.front();
                for (uint32_t i = 0; i < node.min; ++i)
                    if (!write(kid)) return false;
                if (node.max == kUnbounded) {
                    const uint32_t loop = push(Op::Split, here() + 1);
                    if (!write(kid)) return false;
                    push(Op::Jump, loop);
                    m_steps[loop].b = here();
                    return true;
                }
                std::vector<uint32_t> splits;
                for (uint32_t i = node.min; i < node.max; ++i) {
                    splits.push_back(push(Op::Split, here() + 1));
                    if (!write(kid)) return false;
                }
                for (const uint32_t split : splits) m_steps[split].b = here();
                return true;
            }
        }
        return false;
    }

    uint32_t push(Op op, uint32_t a = 0) {
        m_steps.push_back(Step{op, a, 0});
        return static_cast<uint32_t>(m_steps.size() - 1);
    }

private:
    uint32_t here() const { return static_cast<uint32_t>(m_steps.size()); }

    const std::vector<Node>& m_nodes;
    std::vector<Step>& m_steps;
};

}  // namespace

struct SectionPattern::Standard {
    std::basic_regex<char, CodePageRegexTraits> regex;
};

SectionPattern::~SectionPattern() = default;
SectionPattern::SectionPattern(SectionPattern&&) noexcept = default;
SectionPattern& SectionPattern::operator=(SectionPattern&&) noexcept = default;

SectionPattern::SectionPattern(std::string_view pattern) {
    if (patternTooLarge(pattern)) return;
    std::vector<Token> tokens;
    const Verdict lexed = Lexer(pattern).run(tokens);
    if (lexed == Verdict::Invalid) return;
    if (lexed == Verdict::Unsupported) {
        compileStandard(pattern);
        return;
    }
    std::vector<Node> nodes;
    uint32_t root = 0;
    if (!Parser(pattern, tokens, nodes, m_sets).parse(root)) return;
    Writer writer(nodes, m_steps);
    if (!writer.write(root)) {
        m_steps.clear();
        m_sets.clear();
        compileStandard(pattern);
        return;
    }
    writer.push(Op::Match);
    m_valid = true;
}

SectionPattern SectionPattern::standardOnly(std::string_view pattern) {
    SectionPattern p;
    if (!patternTooLarge(pattern)) p.compileStandard(pattern);
    return p;
}

void SectionPattern::compileStandard(std::string_view pattern) {
    // A string, not the view: the standard scanner looks one character past a
    // final "(" for a "?", which must then be the string's terminating NUL.
    const std::string text(pattern);
    try {
        m_standard = std::make_unique<Standard>(
            Standard{std::basic_regex<char, CodePageRegexTraits>(text, kPatternOptions)});
        m_valid = true;
    } catch (const std::regex_error&) {
        m_valid = false;
    }
}

// The live steps, now and after the next byte, and which steps a closure has
// reached (by generation, so the marks are never cleared between bytes).
struct SectionPattern::Scratch {
    std::vector<uint32_t> now, next, stack, seen;
    uint32_t generation = 0;

    void nextGeneration() {
        if (++generation == 0) {
            std::fill(seen.begin(), seen.end(), 0);
            generation = 1;
        }
    }
};

// Follows the steps that consume nothing from `from`, at pos, adding the byte
// steps reached to list. True as soon as the pattern has matched. A look-ahead
// runs as a pattern of its own that starts at pos, so "^" inside one matches
// there, and "\b" there sees no character before it.
bool SectionPattern::addClosure(Scratch& scratch, std::vector<uint32_t>& list, uint32_t from,
                                size_t pos, size_t begin, std::string_view text,
                                size_t depth) const {
    const auto wordAt = [&](size_t i) {
        return i < text.size() && isWordByte(static_cast<unsigned char>(text[i]));
    };
    std::vector<uint32_t>& stack = scratch.stack;
    stack.clear();
    stack.push_back(from);
    while (!stack.empty()) {
        const uint32_t at = stack.back();
        stack.pop_back();
        if (scratch.seen[at] == scratch.generation) continue;
        scratch.seen[at] = scratch.generation;
        const Step& step = m_steps[at];
        bool onward = false;
        switch (step.op) {
            case Op::Byte:
                list.push_back(at);
                break;
            case Op::Split:
                stack.push_back(step.b);
                stack.push_back(step.a);
                break;
            case Op::Jump:
                stack.push_back(step.a);
                break;
            case Op::AtBegin:
                onward = pos == begin;
                break;
            case Op::AtEnd:
                onward = pos == text.size();
                break;
            case Op::WordBoundary:
                onward = (pos > begin && wordAt(pos - 1)) != wordAt(pos);
                break;
            case Op::NotWordBoundary:
                onward = (pos > begin && wordAt(pos - 1)) == wordAt(pos);
                break;
            case Op::LookAhead: {
                // The nested run uses the next depth's scratch, so this stack
                // (and the lists being built) stay as they are.
                const bool found = run(step.a, pos, text, depth + 1);
                onward = found != (step.b != 0);
                break;
            }
            case Op::Match:
                return true;
        }
        if (onward) stack.push_back(at + 1);
    }
    return false;
}

// Whether the steps from start match text from pos `begin` on.
bool SectionPattern::run(uint32_t start, size_t begin, std::string_view text, size_t depth) const {
    while (m_scratch.size() <= depth) {
        m_scratch.push_back(std::make_unique<Scratch>());
        m_scratch.back()->seen.assign(m_steps.size(), 0);
    }
    Scratch& scratch = *m_scratch[depth];
    scratch.nextGeneration();
    scratch.now.clear();
    if (addClosure(scratch, scratch.now, start, begin, begin, text, depth)) return true;
    for (size_t pos = begin; pos < text.size() && !scratch.now.empty(); ++pos) {
        scratch.nextGeneration();
        scratch.next.clear();
        const auto byte = static_cast<unsigned char>(text[pos]);
        for (const uint32_t at : scratch.now)
            if (hasBit(m_sets[m_steps[at].a], byte) &&
                addClosure(scratch, scratch.next, at + 1, pos + 1, begin, text, depth))
                return true;
        scratch.now.swap(scratch.next);
    }
    return false;
}

bool SectionPattern::matchesStart(std::string_view text) const {
    if (!m_valid) return false;
    if (m_standard)
        return std::regex_search(text.begin(), text.end(), m_standard->regex,
                                 std::regex_constants::match_continuous);
    return run(0, 0, text, 0);
}
