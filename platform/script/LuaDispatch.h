#pragma once
// The bridge between Lua values and late-bound objects, used by ScriptEngine.
//
// Values: nil <-> Empty (Null and Missing also read as nil); booleans; integers
// that fit 32 bits -> Long, other numbers -> Double, and back as Lua integers or
// floats; strings are byte strings both ways (a byte array reaches Lua as a
// string); a date reaches Lua as its fixed text form; an array is a table
// 1..n, and a table converts only when it is such a sequence; an object is a
// userdata, and Nothing is nil. Functions, coroutines and foreign userdata do not
// convert: the script sees error 13 "Type mismatch".
//
// Objects: `obj.X` reads a property at once when the object's member table says
// X is one (`dv.Name`, `hs.DebugMode`); for any other name it gives a function
// that calls the member X, so `hs.WriteLog("t", "x")` and `hs:WriteLog("t", "x")`
// both work: a first argument that is the object itself is taken as the colon
// call's self and dropped. `obj.X = v` assigns the property. Arguments that a
// member takes by reference are not written back: Lua has no such arguments.
//
// A fault raised by a member (any std::exception) is caught at the C function
// boundary and raised in the script as a Lua error whose message is the fault's
// description with the script's position in front, so a script can pcall it. The
// engine hears of it first (faultRaised), to report the fault's own number when
// the error ends the call. The engine also brackets every member call, so that
// the time a member takes (and whatever it lets run) is not charged to the
// script's time-out.
//
// Needs Lua built as C++ (its errors are exceptions), so that a Lua error raised
// in the bridge unwinds the C++ frames it crosses instead of jumping over them.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "binding/Variant.h"

struct lua_State;
class Dispatch;

class LuaDispatch {
public:
    // What the bridge needs from the engine that owns the Lua state.
    class Engine {
    public:
        virtual ~Engine() = default;
        // Called before a member runs; returns the script's remaining time (none
        // when no time-out is running), which is handed back afterwards.
        virtual std::optional<std::chrono::nanoseconds> pauseTimeout() = 0;
        virtual void resumeTimeout(std::optional<std::chrono::nanoseconds> remaining) = 0;
        // A fault about to be raised in the script as a Lua error with `message`.
        virtual void faultRaised(int number, const std::string& description,
                                 const std::string& message) = 0;
    };

    // Prepares a new state: the object metatable, and the engine kept in the
    // state's extra space.
    static void install(lua_State* L, Engine* engine);
    static Engine* engine(lua_State* L);

    // Pushes a value; raises a Lua error when it cannot.
    static void push(lua_State* L, const Variant& value);
    // The value at `index` as a Variant; raises a Lua error (13) when it has no
    // Variant form.
    static Variant toVariant(lua_State* L, int index);

    static void pushObject(lua_State* L, std::shared_ptr<Dispatch> object);
    // An object the script may use but does not keep alive (the host object,
    // which owns the engine): once it is gone, using it raises error 91.
    static void pushWeakObject(lua_State* L, std::weak_ptr<Dispatch> object);

    // Raises a Lua error for a fault: the message is the position of the calling
    // script line followed by the description.
    [[noreturn]] static void raise(lua_State* L, int number, const std::string& description);
};
