#include "script/LuaLimits.h"

#include <lua.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "script/LuaPattern.h"

namespace {

using Capture = LuaPattern::Capture;

// Work small enough to let through whatever the clock says: it ends within a
// few milliseconds, and refusing it just before the time-out would only trade
// the time-out for a stranger message.
constexpr double kFreeSteps = 1e5;

// Registry key of the metatable that lets go of gmatch's compiled patterns.
const char kPatternMetaKey = 0;

LuaLimits& limitsOf(lua_State* L) {
    return *static_cast<LuaLimits*>(lua_touserdata(L, lua_upvalueindex(1)));
}

// Raises `message` where the calling script stands, as the library's own errors do.
[[noreturn]] void raise(lua_State* L, const std::string& message) {
    luaL_where(L, 1);
    lua_pushlstring(L, message.data(), message.size());
    lua_concat(L, 2);
    lua_error(L);
    std::abort();  // lua_error does not return
}

[[noreturn]] void exceeds(lua_State* L, const std::string& function) {
    raise(L, function + " exceeds the script's limits");
}

// --- Lua's own functions, weighed before they run ---

std::optional<lua_Integer> integerAt(lua_State* L, int index) {
    int isInteger = 0;
    const lua_Integer value = lua_tointegerx(L, index, &isInteger);
    if (isInteger == 0) return std::nullopt;
    return value;
}

// The length the table functions would use, for a value that has one (any
// other the function itself refuses).
double lengthAt(lua_State* L, int index) {
    if (lua_type(L, index) != LUA_TTABLE) {
        if (luaL_getmetafield(L, index, "__len") == LUA_TNIL) return 0;
        lua_pop(L, 1);
    }
    return static_cast<double>(luaL_len(L, index));
}

// Elements first..last, both given as arguments or defaulting to 1 and the
// length of the table at index 1.
double spanAt(lua_State* L, int firstIndex, int lastIndex) {
    const double first = static_cast<double>(integerAt(L, firstIndex).value_or(1));
    const double last = lua_isnoneornil(L, lastIndex)
                            ? lengthAt(L, 1)
                            : static_cast<double>(integerAt(L, lastIndex).value_or(0));
    return last >= first ? last - first + 1 : 0;
}

// Each weighs a call in steps of about one table element moved. The memory a
// call makes needs no weighing: the engine's allocator refuses what is beyond
// the cap.
double repCost(lua_State* L) {
    const double times = static_cast<double>(integerAt(L, 2).value_or(0));
    if (times <= 0) return 0;
    const double piece = static_cast<double>(lua_isstring(L, 1) ? luaL_len(L, 1) : 0) +
                         static_cast<double>(lua_isstring(L, 3) ? luaL_len(L, 3) : 0);
    // A repeat is a short copy, about a step in a sanitised build, plus its bytes.
    return times + times * piece / 64;
}
double packCost(lua_State* L) {
    // Every size in the format may become that many bytes, padding added one
    // by one ("c100000000").
    double bytes = 0;
    double number = 0;
    for (const char c : std::string_view(lua_isstring(L, 1) ? lua_tostring(L, 1) : "")) {
        if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
            number = number * 10 + (c - '0');
        } else {
            bytes += number;
            number = 0;
        }
    }
    return (bytes + number) / 2;
}
double concatCost(lua_State* L) {
    return spanAt(L, 3, 4);
}
double unpackCost(lua_State* L) {
    return spanAt(L, 2, 3);
}
double insertCost(lua_State* L) {
    // Only an insert at a position moves what lies above it.
    return lua_gettop(L) == 3 ? lengthAt(L, 1) : 0;
}
double removeCost(lua_State* L) {
    return lua_gettop(L) >= 2 ? lengthAt(L, 1) : 0;
}
double moveCost(lua_State* L) {
    const auto first = integerAt(L, 2), last = integerAt(L, 3);
    if (!first || !last || *last < *first) return 0;
    return static_cast<double>(*last) - static_cast<double>(*first) + 1;
}
double sortCost(lua_State* L) {
    const double n = lengthAt(L, 1);
    return n > 1 ? n * std::log2(n) : 0;
}

struct Guarded {
    const char* library;
    const char* name;
    double (*cost)(lua_State*);
};
constexpr Guarded kGuarded[] = {
    {LUA_STRLIBNAME, "rep", &repCost},       {LUA_STRLIBNAME, "pack", &packCost},
    {LUA_TABLIBNAME, "concat", &concatCost}, {LUA_TABLIBNAME, "unpack", &unpackCost},
    {LUA_TABLIBNAME, "insert", &insertCost}, {LUA_TABLIBNAME, "remove", &removeCost},
    {LUA_TABLIBNAME, "move", &moveCost},     {LUA_TABLIBNAME, "sort", &sortCost},
};

// Upvalues: the limits, the index in kGuarded, Lua's own function.
int guardedCall(lua_State* L) {
    LuaLimits& limits = limitsOf(L);
    const Guarded& guarded = kGuarded[lua_tointeger(L, lua_upvalueindex(2))];
    if (const auto left = limits.timeLeft()) {
        // No more than a second's work at a time, however long the time-out:
        // on a machine slower than the figure the call then overruns by that
        // much at most.
        const auto span = std::min<std::chrono::nanoseconds>(*left, std::chrono::seconds(1));
        const double stepsLeft =
            static_cast<double>(span.count()) / 1000.0 * LuaLimits::kStepsPerMicrosecond;
        const double cost = guarded.cost(L);
        if (cost > kFreeSteps && cost > stepsLeft)
            exceeds(L, std::string(guarded.library) + "." + guarded.name);
    }
    lua_pushvalue(L, lua_upvalueindex(3));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
}

// --- The pattern functions ---

struct MeterContext {
    lua_State* L;
    LuaLimits* limits;
};

void checkTime(void* context) {
    auto* meter = static_cast<MeterContext*>(context);
    meter->limits->checkTime(meter->L);
}

std::string_view stringAt(lua_State* L, int index) {
    std::size_t length = 0;
    const char* text = luaL_checklstring(L, index, &length);
    return {text, length};
}

// A 1-based start position, negative counting from the end, as an offset
// (beyond the end when it lies there).
std::size_t startAt(lua_State* L, int index, std::size_t length) {
    const lua_Integer init = luaL_optinteger(L, index, 1);
    if (init > 0) return static_cast<std::size_t>(init) - 1;
    if (init == 0 || static_cast<lua_Unsigned>(-(init + 1)) >= length) return 0;
    return length - static_cast<std::size_t>(-(init + 1)) - 1;
}

LuaPattern compile(lua_State* L, LuaLimits& limits, std::string_view pattern, bool allowAnchor) {
    if (LuaPattern::costOf(pattern) > limits.memoryLeft()) exceeds(L, "a pattern");
    std::string message;
    try {
        return LuaPattern(pattern, allowAnchor);
    } catch (const LuaPattern::Error& e) {
        message = e.what();
    } catch (const std::bad_alloc&) {
        message = "not enough memory";
    }
    raise(L, message);
}

struct Match {
    std::string_view subject;
    std::size_t start;
    std::size_t end;
    const std::vector<Capture>& captures;
};

// Capture `index`; a pattern without captures has the whole match as its one.
void pushCapture(lua_State* L, const Match& match, std::size_t index) {
    if (match.captures.empty() && index == 0) {
        lua_pushlstring(L, match.subject.data() + match.start, match.end - match.start);
        return;
    }
    if (index >= match.captures.size())
        raise(L, "invalid capture index %" + std::to_string(index + 1));
    const Capture& capture = match.captures[index];
    if (capture.length == Capture::kPosition)
        lua_pushinteger(L, static_cast<lua_Integer>(capture.start) + 1);
    else if (capture.length == Capture::kOpen)
        raise(L, "unfinished capture");
    else
        lua_pushlstring(L, match.subject.data() + capture.start,
                        static_cast<std::size_t>(capture.length));
}

int pushCaptures(lua_State* L, const Match& match, bool wholeIfNone) {
    const std::size_t count = match.captures.empty() && wholeIfNone ? 1 : match.captures.size();
    luaL_checkstack(L, static_cast<int>(count), "too many captures");
    for (std::size_t i = 0; i < count; ++i) pushCapture(L, match, i);
    return static_cast<int>(count);
}

int findOrMatch(lua_State* L, bool find) {
    LuaLimits& limits = limitsOf(L);
    const std::string_view subject = stringAt(L, 1);
    const std::string_view pattern = stringAt(L, 2);
    const std::size_t from = startAt(L, 3, subject.size());
    if (from > subject.size()) {
        luaL_pushfail(L);
        return 1;
    }
    MeterContext context{L, &limits};
    LuaPattern::Meter meter(&checkTime, &context);
    if (find && (lua_toboolean(L, 4) != 0 || LuaPattern::isPlain(pattern))) {
        const std::size_t at = LuaPattern::find(subject, pattern, from, meter);
        if (at == LuaPattern::npos) {
            luaL_pushfail(L);
            return 1;
        }
        lua_pushinteger(L, static_cast<lua_Integer>(at) + 1);
        lua_pushinteger(L, static_cast<lua_Integer>(at + pattern.size()));
        return 2;
    }
    const LuaPattern compiled = compile(L, limits, pattern, true);
    std::vector<Capture> captures;
    for (std::size_t at = from;; ++at) {
        const std::size_t end = compiled.matchAt(subject, at, captures, meter);
        if (end != LuaPattern::npos) {
            const Match match{subject, at, end, captures};
            if (!find) return pushCaptures(L, match, true);
            lua_pushinteger(L, static_cast<lua_Integer>(at) + 1);
            lua_pushinteger(L, static_cast<lua_Integer>(end));
            return 2 + pushCaptures(L, match, false);
        }
        if (compiled.anchored() || at >= subject.size()) break;
    }
    luaL_pushfail(L);
    return 1;
}

int stringFind(lua_State* L) {
    return findOrMatch(L, true);
}
int stringMatch(lua_State* L) {
    return findOrMatch(L, false);
}

int collectPattern(lua_State* L) {
    static_cast<LuaPattern*>(lua_touserdata(L, 1))->~LuaPattern();
    return 0;
}

// Upvalues: the limits, the subject, the compiled pattern, where the next
// search begins, and where the last match ended (-1 before the first): a match
// may not be empty right where the previous one ended.
int gmatchNext(lua_State* L) {
    LuaLimits& limits = limitsOf(L);
    std::size_t length = 0;
    const char* text = lua_tolstring(L, lua_upvalueindex(2), &length);
    const std::string_view subject(text, length);
    const auto& compiled = *static_cast<const LuaPattern*>(lua_touserdata(L, lua_upvalueindex(3)));
    const auto from = static_cast<std::size_t>(lua_tointeger(L, lua_upvalueindex(4)));
    const lua_Integer lastEnd = lua_tointeger(L, lua_upvalueindex(5));
    MeterContext context{L, &limits};
    LuaPattern::Meter meter(&checkTime, &context);
    std::vector<Capture> captures;
    for (std::size_t at = from; at <= subject.size(); ++at) {
        const std::size_t end = compiled.matchAt(subject, at, captures, meter);
        if (end == LuaPattern::npos || static_cast<lua_Integer>(end) == lastEnd) continue;
        lua_pushinteger(L, static_cast<lua_Integer>(end));
        lua_copy(L, -1, lua_upvalueindex(4));
        lua_replace(L, lua_upvalueindex(5));
        return pushCaptures(L, {subject, at, end, captures}, true);
    }
    lua_pushinteger(L, static_cast<lua_Integer>(subject.size()) + 1);
    lua_replace(L, lua_upvalueindex(4));
    return 0;
}

int stringGmatch(lua_State* L) {
    LuaLimits& limits = limitsOf(L);
    const std::string_view subject = stringAt(L, 1);
    const std::string_view pattern = stringAt(L, 2);
    // A start beyond the end finds nothing, not even an empty match there.
    const std::size_t from = std::min(startAt(L, 3, subject.size()), subject.size() + 1);
    lua_settop(L, 2);
    void* box = lua_newuserdatauv(L, sizeof(LuaPattern), 0);
    // A leading '^' cannot anchor a search that goes on after each match.
    new (box) LuaPattern(compile(L, limits, pattern, false));
    lua_rawgetp(L, LUA_REGISTRYINDEX, &kPatternMetaKey);
    lua_setmetatable(L, -2);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_pushvalue(L, 1);
    lua_pushvalue(L, 3);
    lua_pushinteger(L, static_cast<lua_Integer>(from));
    lua_pushinteger(L, -1);
    lua_pushcclosure(L, &gmatchNext, 5);
    return 1;
}

// Adds what replaces one match: the replacement at stack index 3 is a text
// with %0-%9 and %%, a table looked up by the first capture, or a function
// called with the captures; false or nil keeps the match as it was.
void addReplacement(lua_State* L, luaL_Buffer& out, std::string_view text, const Match& match,
                    LuaPattern::Meter& meter) {
    const int type = lua_type(L, 3);
    if (type == LUA_TSTRING || type == LUA_TNUMBER) {
        meter.add(text.size() / 16);
        for (std::size_t i = 0; i < text.size(); ++i) {
            const std::size_t escape = text.find('%', i);
            luaL_addlstring(&out, text.data() + i, std::min(escape, text.size()) - i);
            if (escape == std::string_view::npos) break;
            i = escape + 1;
            const char c = i < text.size() ? text[i] : '\0';
            if (c == '%') {
                luaL_addchar(&out, '%');
            } else if (c == '0') {
                luaL_addlstring(&out, match.subject.data() + match.start, match.end - match.start);
            } else if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
                pushCapture(L, match, static_cast<std::size_t>(c - '1'));
                luaL_addvalue(&out);
            } else {
                raise(L, "invalid use of '%' in replacement string");
            }
        }
        return;
    }
    if (type == LUA_TFUNCTION) {
        lua_pushvalue(L, 3);
        lua_call(L, pushCaptures(L, match, true), 1);
    } else {
        pushCapture(L, match, 0);
        lua_gettable(L, 3);
    }
    if (lua_toboolean(L, -1) == 0) {
        lua_pop(L, 1);
        luaL_addlstring(&out, match.subject.data() + match.start, match.end - match.start);
    } else if (lua_isstring(L, -1) == 0) {
        raise(L, std::string("invalid replacement value (a ") + luaL_typename(L, -1) + ")");
    } else {
        luaL_addvalue(&out);
    }
}

int stringGsub(lua_State* L) {
    LuaLimits& limits = limitsOf(L);
    const std::string_view subject = stringAt(L, 1);
    const std::string_view pattern = stringAt(L, 2);
    const int type = lua_type(L, 3);
    luaL_argexpected(
        L,
        type == LUA_TNUMBER || type == LUA_TSTRING || type == LUA_TFUNCTION || type == LUA_TTABLE,
        3, "string/function/table");
    const lua_Integer most = luaL_optinteger(L, 4, static_cast<lua_Integer>(subject.size()) + 1);
    lua_settop(L, 3);
    std::string_view text;
    if (type == LUA_TSTRING || type == LUA_TNUMBER) text = stringAt(L, 3);
    const LuaPattern compiled = compile(L, limits, pattern, true);
    MeterContext context{L, &limits};
    LuaPattern::Meter meter(&checkTime, &context);
    std::vector<Capture> captures;
    luaL_Buffer out;
    luaL_buffinit(L, &out);
    std::size_t at = 0;
    std::size_t lastEnd = LuaPattern::npos;
    lua_Integer count = 0;
    while (count < most) {
        const std::size_t end = compiled.matchAt(subject, at, captures, meter);
        if (end != LuaPattern::npos && end != lastEnd) {
            ++count;
            addReplacement(L, out, text, {subject, at, end, captures}, meter);
            at = lastEnd = end;
        } else if (at < subject.size()) {
            luaL_addchar(&out, subject[at++]);
        } else {
            break;
        }
        if (compiled.anchored()) break;
    }
    luaL_addlstring(&out, subject.data() + at, subject.size() - at);
    luaL_pushresult(&out);
    lua_pushinteger(L, count);
    return 2;
}

}  // namespace

void LuaLimits::install(lua_State* L, LuaLimits* limits) {
    lua_getfield(L, LUA_REGISTRYINDEX, LUA_LOADED_TABLE);
    const int loaded = lua_gettop(L);
    for (std::size_t i = 0; i < std::size(kGuarded); ++i) {
        const Guarded& guarded = kGuarded[i];
        lua_getfield(L, loaded, guarded.library);
        lua_getfield(L, -1, guarded.name);
        // Lua's own function stays among the loaded modules under its full
        // name, so that its argument errors still say which function failed.
        lua_pushvalue(L, -1);
        lua_setfield(L, loaded, (std::string(guarded.library) + "." + guarded.name).c_str());
        lua_pushlightuserdata(L, limits);
        lua_pushinteger(L, static_cast<lua_Integer>(i));
        lua_rotate(L, -3, 2);
        lua_pushcclosure(L, &guardedCall, 3);
        lua_setfield(L, -2, guarded.name);
        lua_pop(L, 1);
    }
    lua_getfield(L, loaded, LUA_STRLIBNAME);
    const luaL_Reg patternFunctions[] = {{"find", &stringFind},
                                         {"match", &stringMatch},
                                         {"gmatch", &stringGmatch},
                                         {"gsub", &stringGsub},
                                         {nullptr, nullptr}};
    lua_pushlightuserdata(L, limits);
    luaL_setfuncs(L, patternFunctions, 1);
    lua_pop(L, 2);

    lua_createtable(L, 0, 1);
    lua_pushcfunction(L, &collectPattern);
    lua_setfield(L, -2, "__gc");
    lua_rawsetp(L, LUA_REGISTRYINDEX, &kPatternMetaKey);
}
