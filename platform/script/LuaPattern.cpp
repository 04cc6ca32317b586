#include "script/LuaPattern.h"

#include <cctype>
#include <cstring>
#include <string>

namespace {

using Set = std::bitset<256>;

unsigned char byteAt(std::string_view text, std::size_t at) {
    return static_cast<unsigned char>(text[at]);
}

// The set a class letter stands for (%a, %D, ...); any other character after
// '%' stands for itself.
Set classSet(unsigned char letter) {
    int (*test)(int) = nullptr;
    switch (std::tolower(letter)) {
        case 'a':
            test = &isalpha;
            break;
        case 'c':
            test = &iscntrl;
            break;
        case 'd':
            test = &isdigit;
            break;
        case 'g':
            test = &isgraph;
            break;
        case 'l':
            test = &islower;
            break;
        case 'p':
            test = &ispunct;
            break;
        case 's':
            test = &isspace;
            break;
        case 'u':
            test = &isupper;
            break;
        case 'w':
            test = &isalnum;
            break;
        case 'x':
            test = &isxdigit;
            break;
        default: {
            Set itself;
            itself.set(letter);
            return itself;
        }
    }
    Set set;
    for (int c = 0; c < 256; ++c)
        if (test(c) != 0) set.set(static_cast<std::size_t>(c));
    if (std::isupper(letter) != 0) set.flip();
    return set;
}

constexpr std::string_view kMissingBracket = "malformed pattern (missing ']')";

}  // namespace

std::size_t LuaPattern::parseBracket(std::string_view pattern, std::size_t at, Set& set) const {
    std::size_t i = at + 1;  // past '['
    const bool negate = i < pattern.size() && pattern[i] == '^';
    if (negate) ++i;
    // A ']' right after the opening (or its '^') is a member, not the end.
    for (bool first = true;; first = false) {
        if (i >= pattern.size()) throw Error(std::string(kMissingBracket));
        const unsigned char c = byteAt(pattern, i);
        if (c == ']' && !first) {
            ++i;
            break;
        }
        if (c == '%') {
            if (i + 1 >= pattern.size()) throw Error(std::string(kMissingBracket));
            set |= classSet(byteAt(pattern, i + 1));
            i += 2;
        } else if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            for (unsigned last = byteAt(pattern, i + 2), x = c; x <= last; ++x) set.set(x);
            i += 3;
        } else {
            set.set(c);
            ++i;
        }
    }
    if (negate) set.flip();
    return i;
}

std::size_t LuaPattern::parseSingle(std::string_view pattern, std::size_t at, Set& set) const {
    const unsigned char c = byteAt(pattern, at);
    if (c == '.') {
        set.set();
        return at + 1;
    }
    if (c == '[') return parseBracket(pattern, at, set);
    if (c == '%') {
        if (at + 1 >= pattern.size()) throw Error("malformed pattern (ends with '%')");
        set = classSet(byteAt(pattern, at + 1));
        return at + 2;
    }
    set.set(c);
    return at + 1;
}

std::uint32_t LuaPattern::addSet(const Set& set) {
    m_sets.push_back(set);
    return static_cast<std::uint32_t>(m_sets.size() - 1);
}

LuaPattern::LuaPattern(std::string_view pattern, bool allowAnchor) {
    std::size_t i = 0;
    if (allowAnchor && !pattern.empty() && pattern[0] == '^') {
        m_anchored = true;
        i = 1;
    }
    std::vector<std::uint32_t> open;  // captures begun and not yet closed, innermost last
    std::vector<bool> closed;         // per capture, whether a back-reference may use it
    const std::size_t n = pattern.size();
    while (i < n) {
        const char c = pattern[i];
        const auto capture = static_cast<std::uint32_t>(m_captureCount);
        if (c == '(') {
            const bool position = i + 1 < n && pattern[i + 1] == ')';
            m_items.push_back(
                {position ? Kind::Position : Kind::Open, Repeat::Once, 0, 0, capture});
            if (!position) open.push_back(capture);
            closed.push_back(position);
            ++m_captureCount;
            i += position ? 2 : 1;
            continue;
        }
        if (c == ')') {
            if (open.empty()) throw Error("invalid pattern capture");
            m_items.push_back({Kind::Close, Repeat::Once, 0, 0, open.back()});
            closed[open.back()] = true;
            open.pop_back();
            ++i;
            continue;
        }
        if (c == '$' && i + 1 == n) {
            m_items.push_back({Kind::End});
            ++i;
            continue;
        }
        if (c == '%' && i + 1 < n) {
            const char next = pattern[i + 1];
            if (next == 'b') {
                if (i + 3 >= n) throw Error("malformed pattern (missing arguments to '%b')");
                m_items.push_back({Kind::Balance, Repeat::Once, pattern[i + 2], pattern[i + 3]});
                i += 4;
                continue;
            }
            if (next == 'f') {
                i += 2;
                if (i >= n || pattern[i] != '[') throw Error("missing '[' after '%f' in pattern");
                Set set;
                i = parseBracket(pattern, i, set);
                m_items.push_back({Kind::Frontier, Repeat::Once, 0, 0, addSet(set)});
                continue;
            }
            if (std::isdigit(static_cast<unsigned char>(next)) != 0) {
                const int index = next - '1';
                if (index < 0 || static_cast<std::size_t>(index) >= closed.size() || !closed[index])
                    throw Error(std::string("invalid capture index %") + next);
                m_items.push_back(
                    {Kind::BackRef, Repeat::Once, 0, 0, static_cast<std::uint32_t>(index)});
                i += 2;
                continue;
            }
        }
        Set set;
        i = parseSingle(pattern, i, set);
        Repeat repeat = Repeat::Once;
        if (i < n) {
            switch (pattern[i]) {
                case '*':
                    repeat = Repeat::Greedy;
                    break;
                case '+':
                    repeat = Repeat::AtLeastOnce;
                    break;
                case '-':
                    repeat = Repeat::Lazy;
                    break;
                case '?':
                    repeat = Repeat::Optional;
                    break;
                default:
                    break;
            }
            if (repeat != Repeat::Once) ++i;
        }
        m_items.push_back({Kind::Class, repeat, 0, 0, addSet(set)});
    }
}

bool LuaPattern::isPlain(std::string_view pattern) {
    return pattern.find_first_of("^$*+?.([%-") == std::string_view::npos;
}

std::size_t LuaPattern::costOf(std::string_view pattern) {
    // At most one item and one set per character, and the parser's two lists.
    return (pattern.size() + 1) * (sizeof(Item) + sizeof(Set) + sizeof(std::uint32_t) + 1);
}

std::size_t LuaPattern::find(std::string_view subject, std::string_view needle, std::size_t from,
                             Meter& meter) {
    if (from > subject.size() || needle.size() > subject.size() - from) return npos;
    if (needle.empty()) return from;
    const std::size_t last = subject.size() - needle.size();
    for (std::size_t at = from; at <= last;) {
        const void* hit = std::memchr(subject.data() + at, needle[0], last - at + 1);
        if (hit == nullptr) return npos;
        const auto candidate =
            static_cast<std::size_t>(static_cast<const char*>(hit) - subject.data());
        meter.add((candidate - at + needle.size()) / 16 + 1);
        if (std::memcmp(subject.data() + candidate, needle.data(), needle.size()) == 0)
            return candidate;
        at = candidate + 1;
    }
    return npos;
}

std::size_t LuaPattern::matchAt(std::string_view subject, std::size_t start,
                                std::vector<Capture>& captures, Meter& meter) const {
    // A place to come back to: the item whose repeat left a choice, where it
    // began (Greedy, AtLeastOnce) or where the rest was last tried (Lazy,
    // Optional), how many characters it holds now (Greedy, AtLeastOnce), and
    // how long the undo trail of captures was.
    struct Choice {
        std::size_t item;
        std::size_t pos;
        std::size_t count;
        std::size_t trail;
    };
    std::vector<Choice> choices;
    std::vector<std::pair<std::uint32_t, Capture>> trail;  // captures' earlier values
    captures.assign(m_captureCount, Capture{});

    const std::size_t n = subject.size();
    auto setCapture = [&](std::uint32_t index, Capture value) {
        trail.emplace_back(index, captures[index]);
        captures[index] = value;
    };
    auto inSet = [&](std::uint32_t set, std::size_t at) {
        return at < n && m_sets[set][byteAt(subject, at)];
    };

    std::size_t item = 0;
    std::size_t pos = start;
    for (;;) {
        meter.add(1);
        if (item == m_items.size()) return pos;
        const Item& it = m_items[item];
        bool ok = true;
        switch (it.kind) {
            case Kind::Open:
                setCapture(it.index, {pos, Capture::kOpen});
                break;
            case Kind::Position:
                setCapture(it.index, {pos, Capture::kPosition});
                break;
            case Kind::Close: {
                const std::size_t begin = captures[it.index].start;
                setCapture(it.index, {begin, static_cast<std::ptrdiff_t>(pos - begin)});
                break;
            }
            case Kind::End:
                ok = pos == n;
                break;
            case Kind::Balance: {
                ok = false;
                if (pos >= n || subject[pos] != it.open) break;
                std::size_t depth = 1;
                for (std::size_t at = pos + 1; at < n; ++at) {
                    if (subject[at] == it.close) {
                        if (--depth == 0) {
                            meter.add((at - pos) / 16);
                            pos = at + 1;
                            ok = true;
                            break;
                        }
                    } else if (subject[at] == it.open) {
                        ++depth;
                    }
                }
                if (!ok) meter.add((n - pos) / 16);
                break;
            }
            case Kind::Frontier: {
                const unsigned char before = pos == 0 ? 0 : byteAt(subject, pos - 1);
                const unsigned char here = pos < n ? byteAt(subject, pos) : 0;
                ok = !m_sets[it.index][before] && m_sets[it.index][here];
                break;
            }
            case Kind::BackRef: {
                const Capture& earlier = captures[it.index];
                // A position capture holds no text to repeat.
                ok = earlier.length >= 0;
                if (!ok) break;
                const auto length = static_cast<std::size_t>(earlier.length);
                ok = n - pos >= length &&
                     subject.compare(pos, length, subject.substr(earlier.start, length)) == 0;
                meter.add(length / 16);
                if (ok) pos += length;
                break;
            }
            case Kind::Class:
                switch (it.repeat) {
                    case Repeat::Once:
                        ok = inSet(it.index, pos);
                        if (ok) ++pos;
                        break;
                    case Repeat::Optional:
                        if (inSet(it.index, pos)) {
                            choices.push_back({item, pos, 0, trail.size()});
                            ++pos;
                        }
                        break;
                    case Repeat::Lazy:
                        choices.push_back({item, pos, 0, trail.size()});
                        break;
                    case Repeat::Greedy:
                    case Repeat::AtLeastOnce: {
                        std::size_t count = 0;
                        while (inSet(it.index, pos + count)) ++count;
                        meter.add(count / 16);
                        const std::size_t least = it.repeat == Repeat::AtLeastOnce ? 1 : 0;
                        ok = count >= least;
                        if (count > least) choices.push_back({item, pos, count, trail.size()});
                        pos += count;
                        break;
                    }
                }
                break;
        }
        if (ok) {
            ++item;
            continue;
        }
        // Back to the latest choice that has an alternative left.
        for (;;) {
            if (choices.empty()) return npos;
            meter.add(1);
            Choice& choice = choices.back();
            while (trail.size() > choice.trail) {
                captures[trail.back().first] = trail.back().second;
                trail.pop_back();
            }
            const Item& chosen = m_items[choice.item];
            item = choice.item + 1;
            if (chosen.repeat == Repeat::Optional) {  // now without the character
                pos = choice.pos;
                choices.pop_back();
                break;
            }
            if (chosen.repeat == Repeat::Lazy) {  // now with one character more
                if (!inSet(chosen.index, choice.pos)) {
                    choices.pop_back();
                    continue;
                }
                pos = ++choice.pos;
                break;
            }
            // Greedy and AtLeastOnce: now with one character fewer.
            pos = choice.pos + --choice.count;
            if (choice.count == (chosen.repeat == Repeat::AtLeastOnce ? 1u : 0u))
                choices.pop_back();
            break;
        }
    }
}
