#include "host/SectionPattern.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <memory>
#include <span>
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
// The own matcher: tokens, then a tree, then steps.
//
// The grammar and its corner cases are the standard library's reading of
// ECMAScript, since that is what section patterns have always meant: "]" and
// "}" on their own are plain characters, "\cX" is X, "\0" is the NUL byte, a
// "-" after a range is a plain character, an assertion takes no repeat, and
// character classes ("\w", "\d", "\s") and case-folded ranges use the C
// locale, while single characters fold by the code page.

enum class Verdict { Ok, Invalid };

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
    // In a bracket, "[:name:]", "[.name.]" and "[=name=]": the name is at
    // count in the pattern, ch long.
    ClassName,
    CollatingName,
    Equivalence,
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
            if (next == ':' || next == '.' || next == '=') return bracketName(t);
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

    // "[:name:]" and the like: the name runs to the first ":" (or "." or
    // "="), which must be followed by "]".
    Verdict bracketName(Token& t) {
        const char mark = m_s[m_pos];
        const size_t start = ++m_pos;
        const size_t end = m_s.find(mark, start);
        if (end == std::string_view::npos || end + 1 >= m_s.size() || m_s[end + 1] != ']')
            return Verdict::Invalid;
        // Longer than any name of a class or character: unknown, so invalid.
        if (end - start > 32) return Verdict::Invalid;
        t.kind = mark == ':' ? Tok::ClassName : mark == '.' ? Tok::CollatingName : Tok::Equivalence;
        t.count = static_cast<uint32_t>(start);
        t.ch = static_cast<char>(end - start);
        m_pos = end + 2;
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

// Adds the bytes that fold to `folded` (a byte as lowerChar gives it): itself,
// and the capital that folds to it, if there is one.
void setFolded(ByteSet& set, char folded) {
    const auto lower = static_cast<unsigned char>(folded);
    setBit(set, lower);
    const auto capital = static_cast<unsigned char>(lower - 32);
    if (lower >= 32 && vb::lowerChar(static_cast<char>(capital)) == folded) setBit(set, capital);
}

// The character a collating name stands for: the names of the portable
// character set (POSIX), one for each ASCII code; a letter or digit is also
// named by itself. False for any other name.
bool collatingChar(std::string_view name, char& out) {
    // clang-format off
    static constexpr std::string_view kNames[128] = {
        "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "alert", "backspace", "tab", "newline",
        "vertical-tab", "form-feed", "carriage-return", "SO", "SI", "DLE", "DC1", "DC2", "DC3",
        "DC4", "NAK", "SYN", "ETB", "CAN", "EM", "SUB", "ESC", "IS4", "IS3", "IS2", "IS1", "space",
        "exclamation-mark", "quotation-mark", "number-sign", "dollar-sign", "percent-sign",
        "ampersand", "apostrophe", "left-parenthesis", "right-parenthesis", "asterisk", "plus-sign",
        "comma", "hyphen", "period", "slash", "zero", "one", "two", "three", "four", "five", "six",
        "seven", "eight", "nine", "colon", "semicolon", "less-than-sign", "equals-sign",
        "greater-than-sign", "question-mark", "commercial-at", "A", "B", "C", "D", "E", "F", "G",
        "H", "I", "J", "K", "L", "M", "N", "O", "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y",
        "Z", "left-square-bracket", "backslash", "right-square-bracket", "circumflex", "underscore",
        "grave-accent", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o",
        "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "left-curly-bracket",
        "vertical-line", "right-curly-bracket", "tilde", "DEL",
    };
    // clang-format on
    for (size_t code = 0; code < 128; ++code) {
        if (kNames[code] == name) {
            out = static_cast<char>(code);
            return true;
        }
    }
    return false;
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
    Kind kind;
    uint32_t set = 0;  // Bytes
    uint32_t min = 0;  // Repeat
    uint32_t max = 0;  // Repeat; kUnbounded for no limit
    // Sequence and Either: count kids, from `first` in the shared list of
    // kids; Repeat and the look-aheads: the one kid is node `first`.
    uint32_t first = 0;
    uint32_t count = 0;
};

// The tree: nodes, and the kids of sequences and alternatives, stored flat
// so a pattern costs a few allocations, not one per group.
struct Tree {
    std::vector<Node> nodes;
    std::vector<uint32_t> kids;
};

// Reads the tokens into a tree, following the standard library's compiler:
// what it rejects is rejected here.
class Parser {
public:
    Parser(std::string_view pattern, const std::vector<Token>& tokens, Tree& tree,
           std::vector<uint32_t>& pending, std::vector<ByteSet>& sets)
        : m_pattern(pattern),
          m_tokens(tokens),
          m_nodes(tree.nodes),
          m_kids(tree.kids),
          m_sets(sets),
          m_pending(pending) {}

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
    // A node of the kids pending from `from` on, which leave the pending list.
    uint32_t withKids(Node::Kind kind, size_t from) {
        Node node{kind};
        node.first = static_cast<uint32_t>(m_kids.size());
        node.count = static_cast<uint32_t>(m_pending.size() - from);
        m_kids.insert(m_kids.end(), m_pending.begin() + static_cast<std::ptrdiff_t>(from),
                      m_pending.end());
        m_pending.resize(from);
        return add(node);
    }

    bool disjunction(uint32_t& out) {
        uint32_t first = 0;
        if (!alternative(first)) return false;
        if (peek() != Tok::Or) {
            out = first;
            return true;
        }
        const size_t from = m_pending.size();
        m_pending.push_back(first);
        while (accept(Tok::Or)) {
            uint32_t next = 0;
            if (!alternative(next)) return false;
            m_pending.push_back(next);
        }
        out = withKids(Node::Kind::Either, from);
        return true;
    }

    bool alternative(uint32_t& out) {
        const size_t from = m_pending.size();
        for (;;) {
            uint32_t item = 0;
            const int got = term(item);
            if (got < 0) return false;
            if (got == 0) break;
            m_pending.push_back(item);
        }
        // A single item needs no sequence around it.
        if (m_pending.size() == from + 1) {
            out = m_pending.back();
            m_pending.pop_back();
        } else {
            out = withKids(Node::Kind::Sequence, from);
        }
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
                look.first = inner;
                out = add(look);
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
            Node repeat{Node::Kind::Repeat, 0, min, max, out};
            out = add(repeat);
        }
    }

    int atom(uint32_t& out) {
        switch (peek()) {
            case Tok::Any:
                ++m_i;
                out = bytes(byteSet([](unsigned char b) { return b != '\n' && b != '\r'; }));
                return 1;
            case Tok::Char: {
                ByteSet set{};
                setFolded(set, vb::lowerChar(take().ch));
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
                case Tok::CollatingName: {
                    // The character it names, which may start a range.
                    const Token& t = take();
                    char c = 0;
                    if (!collatingChar(m_pattern.substr(t.count, static_cast<unsigned char>(t.ch)),
                                       c))
                        return false;
                    pushChar(c);
                    break;
                }
                case Tok::Class:
                case Tok::ClassName:
                case Tok::Equivalence: {
                    if (last == Last::Char) chars.push_back(vb::lowerChar(lastChar));
                    last = Last::Class;
                    const Token& t = take();
                    ByteSet set{};
                    const std::string_view name =
                        m_pattern.substr(t.count, static_cast<unsigned char>(t.ch));
                    char named = 0;
                    if (t.kind == Tok::Class) {
                        classBytes(std::string_view(&t.ch, 1), set);
                        if (isUpperLetter(t.ch)) set = complement(set);
                    } else if (t.kind == Tok::Equivalence) {
                        // The C locale's collation tells characters apart by
                        // ASCII case only.
                        if (!collatingChar(name, named)) return false;
                        set = byteSet([named](unsigned char b) {
                            return asciiLower(static_cast<signed char>(b)) ==
                                   asciiLower(static_cast<signed char>(named));
                        });
                    } else if (!classBytes(name, set)) {
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

        ByteSet set{};
        for (const char c : chars) setFolded(set, c);
        // Ranges compare bytes as signed chars, in either ASCII case.
        for (const auto& [lo, hi] : ranges) {
            for (unsigned b = 0; b < 256; ++b) {
                const auto c = static_cast<signed char>(b);
                if ((lo <= asciiLower(c) && asciiLower(c) <= hi) ||
                    (lo <= asciiUpper(c) && asciiUpper(c) <= hi))
                    setBit(set, static_cast<unsigned char>(b));
            }
        }
        for (const ByteSet& cls : classes)
            for (size_t w = 0; w < set.size(); ++w) set[w] |= cls[w];
        out = bytes(negated ? complement(set) : set);
        return true;
    }

    std::string_view m_pattern;
    const std::vector<Token>& m_tokens;
    std::vector<Node>& m_nodes;
    std::vector<uint32_t>& m_kids;
    std::vector<ByteSet>& m_sets;
    // Kids of the sequences and alternatives still being read, innermost last.
    std::vector<uint32_t>& m_pending;
    size_t m_i = 0;
};

// Far more steps than the size bound lets through; a pattern beyond it (none
// can be) would match nothing rather than cost memory here.
constexpr size_t kMaxSteps = 100000;

using Step = SectionPattern::Step;
using Op = Step::Op;

class Writer {
public:
    Writer(const Tree& tree, std::vector<Step>& steps)
        : m_nodes(tree.nodes), m_kids(tree.kids), m_steps(steps) {}

    // How many steps write(index) adds, at most kMaxSteps + 1: checked before
    // anything is written, and the steps allocated once.
    size_t size(uint32_t index) const {
        const Node& node = m_nodes[index];
        const auto capped = [](uint64_t n) {
            return static_cast<size_t>(std::min<uint64_t>(n, kMaxSteps + 1));
        };
        switch (node.kind) {
            case Node::Kind::LookAhead:
            case Node::Kind::NegativeLookAhead:
                return capped(3 + uint64_t{size(node.first)});
            case Node::Kind::Sequence:
            case Node::Kind::Either: {
                uint64_t total =
                    node.kind == Node::Kind::Either ? 2 * (uint64_t{node.count} - 1) : 0;
                for (const uint32_t kid : kidsOf(node)) total = capped(total + size(kid));
                return capped(total);
            }
            case Node::Kind::Repeat: {
                const uint64_t kid = size(node.first);
                if (node.max == kUnbounded)
                    return capped(node.min == 0 ? kid + 2 : uint64_t{node.min} * kid + 1);
                return capped(uint64_t{node.min} * kid +
                              (uint64_t{node.max} - node.min) * (kid + 1));
            }
            default:
                return 1;
        }
    }

    void write(uint32_t index) {
        const Node& node = m_nodes[index];
        switch (node.kind) {
            case Node::Kind::Bytes:
                push(Op::Byte, node.set);
                return;
            case Node::Kind::Begin:
                push(Op::AtBegin);
                return;
            case Node::Kind::End:
                push(Op::AtEnd);
                return;
            case Node::Kind::WordBoundary:
                push(Op::WordBoundary);
                return;
            case Node::Kind::NotWordBoundary:
                push(Op::NotWordBoundary);
                return;
            case Node::Kind::LookAhead:
            case Node::Kind::NegativeLookAhead: {
                // The look-ahead's own steps lie after it, ending in their own
                // Match; the pattern goes on past them.
                const uint32_t look = push(Op::LookAhead, here() + 2);
                m_steps[look].b = node.kind == Node::Kind::NegativeLookAhead;
                const uint32_t over = push(Op::Jump);
                write(node.first);
                push(Op::Match);
                m_steps[over].a = here();
                return;
            }
            case Node::Kind::Sequence:
                for (const uint32_t kid : kidsOf(node)) write(kid);
                return;
            case Node::Kind::Either: {
                std::vector<uint32_t> jumps;
                const std::span<const uint32_t> kids = kidsOf(node);
                for (size_t i = 0; i + 1 < kids.size(); ++i) {
                    const uint32_t split = push(Op::Split, here() + 1);
                    write(kids[i]);
                    jumps.push_back(push(Op::Jump));
                    m_steps[split].b = here();
                }
                write(kids.back());
                for (const uint32_t jump : jumps) m_steps[jump].a = here();
                return;
            }
            case Node::Kind::Repeat: {
                const uint32_t kid = node.first;
                if (node.max == kUnbounded && node.min == 0) {
                    const uint32_t loop = push(Op::Split, here() + 1);
                    write(kid);
                    push(Op::Jump, loop);
                    m_steps[loop].b = here();
                    return;
                }
                if (node.max == kUnbounded) {
                    // The last required copy loops back on itself, so stacked
                    // repeats ("a+++") grow by a step each, not twofold.
                    for (uint32_t i = 1; i < node.min; ++i) write(kid);
                    const uint32_t start = here();
                    write(kid);
                    push(Op::Split, start);
                    m_steps.back().b = here();
                    return;
                }
                for (uint32_t i = 0; i < node.min; ++i) write(kid);
                std::vector<uint32_t> splits;
                for (uint32_t i = node.min; i < node.max; ++i) {
                    splits.push_back(push(Op::Split, here() + 1));
                    write(kid);
                }
                for (const uint32_t split : splits) m_steps[split].b = here();
                return;
            }
        }
    }

    uint32_t push(Op op, uint32_t a = 0) {
        m_steps.push_back(Step{op, a, 0});
        return static_cast<uint32_t>(m_steps.size() - 1);
    }

private:
    uint32_t here() const { return static_cast<uint32_t>(m_steps.size()); }

    std::span<const uint32_t> kidsOf(const Node& node) const {
        return std::span<const uint32_t>(m_kids).subspan(node.first, node.count);
    }

    const std::vector<Node>& m_nodes;
    const std::vector<uint32_t>& m_kids;
    std::vector<Step>& m_steps;
};

// Working space of the compiler, kept between patterns so that compiling one
// costs few allocations: listings compile a pattern per call.
struct CompileScratch {
    std::vector<Token> tokens;
    Tree tree;
    std::vector<uint32_t> pending;
};

}  // namespace

SectionPattern::~SectionPattern() = default;
SectionPattern::SectionPattern(SectionPattern&&) noexcept = default;
SectionPattern& SectionPattern::operator=(SectionPattern&&) noexcept = default;

SectionPattern::SectionPattern(std::string_view pattern) {
    if (patternTooLarge(pattern)) return;
    thread_local CompileScratch scratch;
    std::vector<Token>& tokens = scratch.tokens;
    tokens.clear();
    const Verdict lexed = Lexer(pattern).run(tokens);
    if (lexed == Verdict::Invalid) return;
    Tree& tree = scratch.tree;
    tree.nodes.clear();
    tree.kids.clear();
    scratch.pending.clear();
    m_sets.reserve(tokens.size());
    uint32_t root = 0;
    if (!Parser(pattern, tokens, tree, scratch.pending, m_sets).parse(root)) return;
    Writer writer(tree, m_steps);
    const size_t steps = writer.size(root) + 1;
    if (steps > kMaxSteps) {
        m_sets.clear();
        return;
    }
    m_steps.reserve(steps);
    writer.write(root);
    writer.push(Op::Match);
    assert(m_steps.size() == steps);
    m_valid = true;
}

bool SectionPattern::withinBounds(std::string_view pattern) {
    return !patternTooLarge(pattern);
}

// The live steps, now and after the next byte, and which steps a closure has
// reached (by generation, so the marks are never cleared between bytes, nor
// between patterns: an older pattern's marks are older generations).
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
    // One per look-ahead depth, kept between matches and patterns.
    thread_local std::vector<std::unique_ptr<Scratch>> scratches;
    while (scratches.size() <= depth) scratches.push_back(std::make_unique<Scratch>());
    Scratch& scratch = *scratches[depth];
    if (scratch.seen.size() < m_steps.size()) scratch.seen.resize(m_steps.size(), 0);
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
    return run(0, 0, text, 0);
}
