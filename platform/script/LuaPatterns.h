#pragma once
// The string library's pattern functions (find, match, gmatch, gsub) with the
// same results and errors as Lua's own, but with their work counted: Lua's
// matcher backtracks inside one C call, where the engine's instruction hook
// never runs, so a pattern such as '.-.-.-.-x' on a long subject would hold the
// one thread for minutes. Every few thousand matching steps these call `check`,
// which raises the engine's time-out once its deadline has passed.
//
// install() replaces the four functions in the string library table, which
// strings also reach as methods.

struct lua_State;

namespace LuaPatterns {

using Check = void (*)(lua_State* L);

// Every this many steps of matching, `check` runs.
inline constexpr unsigned kStepsPerCheck = 1u << 14;

void install(lua_State* L, Check check);

}  // namespace LuaPatterns
