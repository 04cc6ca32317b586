#include "script/LuaPatterns.h"

#include <lua.hpp>

#include <cctype>
#include <cstddef>
#include <cstring>
#include <new>

// The matcher follows the semantics of Lua 5.4's string patterns exactly
// (classes, sets, captures, %b, %f, back references, anchors, the position
// capture, the same error texts), so scripts see no difference but the step
// count.

namespace {

constexpr char kEsc = '%';
constexpr const char* kSpecials = "^$*+?.([%-";
constexpr int kMaxCalls = 200;
constexpr int kMaxCaptures = 32;
constexpr std::ptrdiff_t kCapUnfinished = -1;
constexpr std::ptrdiff_t kCapPosition = -2;

LuaPatterns::Check g_check = nullptr;

unsigned char uchar(char c) {
    return static_cast<unsigned char>(c);
}

struct MatchState {
    const char* srcInit = nullptr;
    const char* srcEnd = nullptr;
    const char* pEnd = nullptr;
    lua_State* L = nullptr;
    int matchDepth = kMaxCalls;
    int level = 0;
    unsigned steps = 0;
    struct {
        const char* init;
        std::ptrdiff_t len;
    } capture[kMaxCaptures];

    void step(unsigned n = 1) {
        steps += n;
        if (steps >= LuaPatterns::kStepsPerCheck) {
            steps = 0;
            if (g_check != nullptr) g_check(L);
        }
    }
};

const char* match(MatchState* ms, const char* s, const char* p);

int checkCapture(MatchState* ms, int l) {
    l -= '1';
    if (l < 0 || l >= ms->level || ms->capture[l].len == kCapUnfinished)
        return luaL_error(ms->L, "invalid capture index %%%d", l + 1);
    return l;
}

int captureToClose(MatchState* ms) {
    int level = ms->level;
    for (level--; level >= 0; level--)
        if (ms->capture[level].len == kCapUnfinished) return level;
    return luaL_error(ms->L, "invalid pattern capture");
}

const char* classEnd(MatchState* ms, const char* p) {
    switch (*p++) {
        case kEsc:
            if (p == ms->pEnd) luaL_error(ms->L, "malformed pattern (ends with '%%')");
            return p + 1;
        case '[':
            if (*p == '^') p++;
            do {
                if (p == ms->pEnd) luaL_error(ms->L, "malformed pattern (missing ']')");
                if (*(p++) == kEsc && p < ms->pEnd) p++;
            } while (*p != ']');
            return p + 1;
        default:
            return p;
    }
}

bool matchClass(int c, int cl) {
    bool res;
    switch (std::tolower(cl)) {
        case 'a':
            res = std::isalpha(c);
            break;
        case 'c':
            res = std::iscntrl(c);
            break;
        case 'd':
            res = std::isdigit(c);
            break;
        case 'g':
            res = std::isgraph(c);
            break;
        case 'l':
            res = std::islower(c);
            break;
        case 'p':
            res = std::ispunct(c);
            break;
        case 's':
            res = std::isspace(c);
            break;
        case 'u':
            res = std::isupper(c);
            break;
        case 'w':
            res = std::isalnum(c);
            break;
        case 'x':
            res = std::isxdigit(c);
            break;
        default:
            return cl == c;
    }
    return std::isupper(cl) ? !res : res;
}

bool matchBracketClass(int c, const char* p, const char* ec) {
    bool sig = true;
    if (*(p + 1) == '^') {
        sig = false;
        p++;
    }
    while (++p < ec) {
        if (*p == kEsc) {
            p++;
            if (matchClass(c, uchar(*p))) return sig;
        } else if (*(p + 1) == '-' && (p + 2 < ec)) {
            p += 2;
            if (uchar(*(p - 2)) <= c && c <= uchar(*p)) return sig;
        } else if (uchar(*p) == c) {
            return sig;
        }
    }
    return !sig;
}

bool singleMatch(MatchState* ms, const char* s, const char* p, const char* ep) {
    if (s >= ms->srcEnd) return false;
    const int c = uchar(*s);
    switch (*p) {
        case '.':
            return true;
        case kEsc:
            return matchClass(c, uchar(*(p + 1)));
        case '[':
            return matchBracketClass(c, p, ep - 1);
        default:
            return uchar(*p) == c;
    }
}

const char* matchBalance(MatchState* ms, const char* s, const char* p) {
    if (p >= ms->pEnd - 1) luaL_error(ms->L, "malformed pattern (missing arguments to '%%b')");
    if (s >= ms->srcEnd || *s != *p) return nullptr;
    const char b = *p;
    const char e = *(p + 1);
    int cont = 1;
    while (++s < ms->srcEnd) {
        ms->step();
        if (*s == e) {
            if (--cont == 0) return s + 1;
        } else if (*s == b) {
            cont++;
        }
    }
    return nullptr;
}

const char* maxExpand(MatchState* ms, const char* s, const char* p, const char* ep) {
    std::ptrdiff_t i = 0;
    while (singleMatch(ms, s + i, p, ep)) {
        ms->step();
        i++;
    }
    while (i >= 0) {
        if (const char* res = match(ms, s + i, ep + 1)) return res;
        i--;
    }
    return nullptr;
}

const char* minExpand(MatchState* ms, const char* s, const char* p, const char* ep) {
    for (;;) {
        if (const char* res = match(ms, s, ep + 1)) return res;
        if (!singleMatch(ms, s, p, ep)) return nullptr;
        s++;
    }
}

const char* startCapture(MatchState* ms, const char* s, const char* p, std::ptrdiff_t what) {
    const int level = ms->level;
    if (level >= kMaxCaptures) luaL_error(ms->L, "too many captures");
    ms->capture[level].init = s;
    ms->capture[level].len = what;
    ms->level = level + 1;
    const char* res = match(ms, s, p);
    if (res == nullptr) ms->level--;
    return res;
}

const char* endCapture(MatchState* ms, const char* s, const char* p) {
    const int l = captureToClose(ms);
    ms->capture[l].len = s - ms->capture[l].init;
    const char* res = match(ms, s, p);
    if (res == nullptr) ms->capture[l].len = kCapUnfinished;
    return res;
}

const char* matchCapture(MatchState* ms, const char* s, int l) {
    l = checkCapture(ms, l);
    const auto len = static_cast<std::size_t>(ms->capture[l].len);
    ms->step(1 + static_cast<unsigned>(len / 64));
    if (static_cast<std::size_t>(ms->srcEnd - s) >= len &&
        std::memcmp(ms->capture[l].init, s, len) == 0)
        return s + len;
    return nullptr;
}

// Lua strings end with a NUL beyond their length, so reading *p at pEnd or *s
// at srcEnd is defined, as the frontier and suffix checks rely on.
const char* match(MatchState* ms, const char* s, const char* p) {
    if (ms->matchDepth-- == 0) luaL_error(ms->L, "pattern too complex");
    ms->step();
    for (;;) {
        if (p == ms->pEnd) break;
        bool dflt = false;
        switch (*p) {
            case '(':
                s = *(p + 1) == ')' ? startCapture(ms, s, p + 2, kCapPosition)
                                    : startCapture(ms, s, p + 1, kCapUnfinished);
                break;
            case ')':
                s = endCapture(ms, s, p + 1);
                break;
            case '$':
                if (p + 1 != ms->pEnd) {
                    dflt = true;
                    break;
                }
                s = s == ms->srcEnd ? s : nullptr;
                break;
            case kEsc:
                switch (*(p + 1)) {
                    case 'b':
                        s = matchBalance(ms, s, p + 2);
                        if (s != nullptr) {
                            p += 4;
                            continue;
                        }
                        break;
                    case 'f': {
                        p += 2;
                        if (*p != '[') luaL_error(ms->L, "missing '[' after '%%f' in pattern");
                        const char* ep = classEnd(ms, p);
                        const char previous = s == ms->srcInit ? '\0' : *(s - 1);
                        if (!matchBracketClass(uchar(previous), p, ep - 1) &&
                            matchBracketClass(uchar(*s), p, ep - 1)) {
                            p = ep;
                            continue;
                        }
                        s = nullptr;
                        break;
                    }
                    case '0':
                    case '1':
                    case '2':
                    case '3':
                    case '4':
                    case '5':
                    case '6':
                    case '7':
                    case '8':
                    case '9':
                        s = matchCapture(ms, s, uchar(*(p + 1)));
                        if (s != nullptr) {
                            p += 2;
                            continue;
                        }
                        break;
                    default:
                        dflt = true;
                        break;
                }
                break;
            default:
                dflt = true;
                break;
        }
        if (!dflt) break;
        // A single character class with an optional suffix.
        const char* ep = classEnd(ms, p);
        if (!singleMatch(ms, s, p, ep)) {
            if (*ep == '*' || *ep == '?' || *ep == '-') {
                p = ep + 1;
                continue;
            }
            s = nullptr;
            break;
        }
        if (*ep == '?') {
            if (const char* res = match(ms, s + 1, ep + 1)) {
                s = res;
                break;
            }
            p = ep + 1;
            continue;
        }
        if (*ep == '+' || *ep == '*') {
            s = maxExpand(ms, *ep == '+' ? s + 1 : s, p, ep);
            break;
        }
        if (*ep == '-') {
            s = minExpand(ms, s, p, ep);
            break;
        }
        s++;
        p = ep;
    }
    ms->matchDepth++;
    return s;
}

std::ptrdiff_t getOneCapture(MatchState* ms, int i, const char* s, const char* e,
                             const char** cap) {
    if (i >= ms->level) {
        if (i != 0) luaL_error(ms->L, "invalid capture index %%%d", i + 1);
        *cap = s;
        return e - s;
    }
    const std::ptrdiff_t capl = ms->capture[i].len;
    *cap = ms->capture[i].init;
    if (capl == kCapUnfinished)
        luaL_error(ms->L, "unfinished capture");
    else if (capl == kCapPosition)
        lua_pushinteger(ms->L, (ms->capture[i].init - ms->srcInit) + 1);
    return capl;
}

void pushOneCapture(MatchState* ms, int i, const char* s, const char* e) {
    const char* cap;
    const std::ptrdiff_t l = getOneCapture(ms, i, s, e, &cap);
    if (l != kCapPosition) lua_pushlstring(ms->L, cap, static_cast<std::size_t>(l));
}

int pushCaptures(MatchState* ms, const char* s, const char* e) {
    const int levels = (ms->level == 0 && s != nullptr) ? 1 : ms->level;
    luaL_checkstack(ms->L, levels, "too many captures");
    for (int i = 0; i < levels; i++) pushOneCapture(ms, i, s, e);
    return levels;
}

bool noSpecials(const char* p, std::size_t l) {
    std::size_t upto = 0;
    do {
        if (std::strpbrk(p + upto, kSpecials) != nullptr) return false;
        upto += std::strlen(p + upto) + 1;
    } while (upto <= l);
    return true;
}

void prepare(MatchState* ms, lua_State* L, const char* s, std::size_t ls, const char* p,
             std::size_t lp) {
    ms->L = L;
    ms->matchDepth = kMaxCalls;
    ms->srcInit = s;
    ms->srcEnd = s + ls;
    ms->pEnd = p + lp;
}

std::size_t relativePosition(lua_Integer pos, std::size_t len) {
    if (pos > 0) return static_cast<std::size_t>(pos);
    if (pos == 0) return 1;
    if (pos < -static_cast<lua_Integer>(len)) return 1;
    return len + static_cast<std::size_t>(pos) + 1;
}

// A plain search, counted like matching: each candidate costs a step and a
// comparison of a long needle costs in proportion.
const char* plainFind(MatchState* ms, const char* s, std::size_t ls, const char* p,
                      std::size_t lp) {
    if (lp == 0) return s;
    if (lp > ls) return nullptr;
    const char* const last = s + (ls - lp);
    const unsigned cost = 1 + static_cast<unsigned>(lp / 64);
    while (s <= last) {
        const void* hit = std::memchr(s, *p, static_cast<std::size_t>(last - s) + 1);
        if (hit == nullptr) return nullptr;
        s = static_cast<const char*>(hit);
        ms->step(cost);
        if (std::memcmp(s + 1, p + 1, lp - 1) == 0) return s;
        s++;
    }
    return nullptr;
}

int findAux(lua_State* L, bool find) {
    std::size_t ls, lp;
    const char* s = luaL_checklstring(L, 1, &ls);
    const char* p = luaL_checklstring(L, 2, &lp);
    const std::size_t init = relativePosition(luaL_optinteger(L, 3, 1), ls) - 1;
    if (init > ls) {
        luaL_pushfail(L);
        return 1;
    }
    MatchState ms;
    if (find && (lua_toboolean(L, 4) || noSpecials(p, lp))) {
        prepare(&ms, L, s, ls, p, lp);
        if (const char* s2 = plainFind(&ms, s + init, ls - init, p, lp)) {
            lua_pushinteger(L, (s2 - s) + 1);
            lua_pushinteger(L,
                            static_cast<lua_Integer>((s2 - s) + static_cast<std::ptrdiff_t>(lp)));
            return 2;
        }
    } else {
        const char* s1 = s + init;
        const bool anchor = *p == '^';
        if (anchor) {
            p++;
            lp--;
        }
        prepare(&ms, L, s, ls, p, lp);
        do {
            ms.level = 0;
            if (const char* res = match(&ms, s1, p)) {
                if (find) {
                    lua_pushinteger(L, (s1 - s) + 1);
                    lua_pushinteger(L, res - s);
                    return pushCaptures(&ms, nullptr, nullptr) + 2;
                }
                return pushCaptures(&ms, s1, res);
            }
        } while (s1++ < ms.srcEnd && !anchor);
    }
    luaL_pushfail(L);
    return 1;
}

int strFind(lua_State* L) {
    return findAux(L, true);
}

int strMatch(lua_State* L) {
    return findAux(L, false);
}

struct GMatchState {
    const char* src;
    const char* p;
    const char* lastMatch;
    MatchState ms;
};

int gmatchAux(lua_State* L) {
    auto* gm = static_cast<GMatchState*>(lua_touserdata(L, lua_upvalueindex(3)));
    gm->ms.L = L;
    for (const char* src = gm->src; src <= gm->ms.srcEnd; src++) {
        gm->ms.level = 0;
        const char* e = match(&gm->ms, src, gm->p);
        if (e != nullptr && e != gm->lastMatch) {
            gm->src = gm->lastMatch = e;
            return pushCaptures(&gm->ms, src, e);
        }
    }
    return 0;
}

int strGmatch(lua_State* L) {
    std::size_t ls, lp;
    const char* s = luaL_checklstring(L, 1, &ls);
    const char* p = luaL_checklstring(L, 2, &lp);
    std::size_t init = relativePosition(luaL_optinteger(L, 3, 1), ls) - 1;
    lua_settop(L, 2);  // the closure keeps both strings alive
    auto* gm = static_cast<GMatchState*>(lua_newuserdatauv(L, sizeof(GMatchState), 0));
    new (gm) GMatchState{};
    if (init > ls) init = ls + 1;
    prepare(&gm->ms, L, s, ls, p, lp);
    gm->src = s + init;
    gm->p = p;
    gm->lastMatch = nullptr;
    lua_pushcclosure(L, gmatchAux, 3);
    return 1;
}

void addString(MatchState* ms, luaL_Buffer* b, const char* s, const char* e) {
    std::size_t l;
    lua_State* L = ms->L;
    const char* news = lua_tolstring(L, 3, &l);
    const char* p;
    while ((p = static_cast<const char*>(std::memchr(news, kEsc, l))) != nullptr) {
        luaL_addlstring(b, news, static_cast<std::size_t>(p - news));
        p++;
        if (*p == kEsc) {
            luaL_addchar(b, *p);
        } else if (*p == '0') {
            luaL_addlstring(b, s, static_cast<std::size_t>(e - s));
        } else if (std::isdigit(uchar(*p))) {
            const char* cap;
            const std::ptrdiff_t resl = getOneCapture(ms, *p - '1', s, e, &cap);
            if (resl == kCapPosition)
                luaL_addvalue(b);
            else
                luaL_addlstring(b, cap, static_cast<std::size_t>(resl));
        } else {
            luaL_error(L, "invalid use of '%c' in replacement string", kEsc);
        }
        l -= static_cast<std::size_t>(p + 1 - news);
        news = p + 1;
    }
    luaL_addlstring(b, news, l);
}

bool addValue(MatchState* ms, luaL_Buffer* b, const char* s, const char* e, int tr) {
    lua_State* L = ms->L;
    switch (tr) {
        case LUA_TFUNCTION: {
            lua_pushvalue(L, 3);
            const int n = pushCaptures(ms, s, e);
            lua_call(L, n, 1);
            break;
        }
        case LUA_TTABLE:
            pushOneCapture(ms, 0, s, e);
            lua_gettable(L, 3);
            break;
        default:
            addString(ms, b, s, e);
            return true;
    }
    if (!lua_toboolean(L, -1)) {
        lua_pop(L, 1);
        luaL_addlstring(b, s, static_cast<std::size_t>(e - s));
        return false;
    }
    if (!lua_isstring(L, -1))
        luaL_error(L, "invalid replacement value (a %s)", luaL_typename(L, -1));
    luaL_addvalue(b);
    return true;
}

int strGsub(lua_State* L) {
    std::size_t srcl, lp;
    const char* src = luaL_checklstring(L, 1, &srcl);
    const char* p = luaL_checklstring(L, 2, &lp);
    const char* lastMatch = nullptr;
    const int tr = lua_type(L, 3);
    const lua_Integer maxS = luaL_optinteger(L, 4, static_cast<lua_Integer>(srcl) + 1);
    const bool anchor = *p == '^';
    lua_Integer n = 0;
    bool changed = false;
    luaL_argexpected(
        L, tr == LUA_TNUMBER || tr == LUA_TSTRING || tr == LUA_TFUNCTION || tr == LUA_TTABLE, 3,
        "string/function/table");
    MatchState ms;
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    if (anchor) {
        p++;
        lp--;
    }
    prepare(&ms, L, src, srcl, p, lp);
    while (n < maxS) {
        ms.level = 0;
        const char* e = match(&ms, src, p);
        if (e != nullptr && e != lastMatch) {
            n++;
            changed = addValue(&ms, &b, src, e, tr) || changed;
            src = lastMatch = e;
        } else if (src < ms.srcEnd) {
            luaL_addchar(&b, *src++);
        } else {
            break;
        }
        if (anchor) break;
    }
    if (!changed) {
        lua_pushvalue(L, 1);
    } else {
        luaL_addlstring(&b, src, static_cast<std::size_t>(ms.srcEnd - src));
        luaL_pushresult(&b);
    }
    lua_pushinteger(L, n);
    return 2;
}

}  // namespace

void LuaPatterns::install(lua_State* L, Check check) {
    g_check = check;
    static const luaL_Reg functions[] = {{"find", strFind},
                                         {"match", strMatch},
                                         {"gmatch", strGmatch},
                                         {"gsub", strGsub},
                                         {nullptr, nullptr}};
    lua_getglobal(L, LUA_STRLIBNAME);
    luaL_setfuncs(L, functions, 0);
    lua_pop(L, 1);
}
