#pragma once
// Holds the standard library's long-running calls to the script's limits.
//
// The engine's time-out is checked between Lua instructions, so a library
// function that works long inside one C call (string.rep('', 1e10),
// table.move({}, 1, 1e9, 2), a backtracking pattern) used to run past it with
// the whole gateway frozen. install() puts two kinds of guard in the library
// tables (which strings also reach as methods):
//
// - string.find, match, gmatch and gsub match with LuaPattern, which counts its
//   steps and lets the engine raise its time-out while it works;
// - string.rep, string.pack, table.concat, insert, move, remove, sort and
//   unpack keep Lua's own function, but first weigh the call by its arguments
//   (how many elements, repeats or padding bytes) against the script time
//   left. A call that would not end in time raises a Lua error the script can
//   catch: "string.rep exceeds the script's limits". (The memory they make is
//   held to the cap by the engine's allocator.)
//
// The rest of the loaded libraries do work bounded by their arguments' size:
// string.format refuses widths and precisions beyond two digits, utf8 and
// string.byte work within the string they are given, and what calls back into
// script code (sort's comparator, __index functions) is under the instruction
// time-out again.

#include <chrono>
#include <cstddef>
#include <optional>

struct lua_State;

class LuaLimits {
public:
    // Table elements a library call is taken to move per microsecond: a low
    // figure (a sanitised build on a busy machine moves twice as many), so that
    // a call admitted ends before the time-out.
    static constexpr double kStepsPerMicrosecond = 20.0;

    virtual ~LuaLimits() = default;
    // Raises the engine's time-out (a Lua error) once it has passed.
    virtual void checkTime(lua_State* L) = 0;
    // Script time the running call has left; nullopt without a time-out.
    virtual std::optional<std::chrono::nanoseconds> timeLeft() = 0;
    // Bytes the scripts may still allocate.
    virtual std::size_t memoryLeft() = 0;

    // Replaces the guarded functions in the loaded string and table libraries.
    static void install(lua_State* L, LuaLimits* limits);
};
