#include "script/ScriptEngine.h"

#include <lua.hpp>

#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <new>
#include <optional>
#include <set>
#include <utility>

#include "base/Convert.h"
#include "base/RuntimeError.h"
#include "binding/Dispatch.h"
#include "script/LuaDispatch.h"
#include "script/LuaLimits.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using Body = std::function<void(lua_State*)>;

// VM instructions between two looks at the clock: rare enough to cost nothing,
// frequent enough to stop a loop within a millisecond or so.
constexpr int kHookInterval = 1000;
// Lua shortens chunk names beyond its id size with "..."; keep below it.
constexpr std::size_t kMaxChunkName = 48;
constexpr const char* kSource = "ScriptEngine";

// Registry key of the table of module environments, by lower-cased name.
const char kModulesKey = 0;

// Splits "chunk:12: text" into 12 and "text"; other messages stay whole.
std::string stripLocation(const std::string& message, int* line) {
    constexpr std::size_t kSearchLimit = 200;
    for (std::size_t colon = message.find(':'); colon != std::string::npos && colon < kSearchLimit;
         colon = message.find(':', colon + 1)) {
        std::size_t end = colon + 1;
        while (end < message.size() && std::isdigit(static_cast<unsigned char>(message[end])))
            ++end;
        if (end == colon + 1 || message.compare(end, 2, ": ") != 0) continue;
        int value = 0;
        std::from_chars(message.data() + colon + 1, message.data() + end, value);
        *line = value;
        return message.substr(end + 2);
    }
    return message;
}

std::string chunkNameFor(const std::string& name) {
    const std::string tail =
        name.size() > kMaxChunkName ? name.substr(name.size() - kMaxChunkName) : name;
    return "=" + tail;
}

// An error object as text without running anything: safe outside protected mode.
std::string plainText(lua_State* L, int index) {
    if (lua_type(L, index) != LUA_TSTRING)
        return std::string("(error object is a ") + luaL_typename(L, index) + " value)";
    std::size_t length = 0;
    const char* text = lua_tolstring(L, index, &length);
    return std::string(text, length);
}

// Any value as text, __tostring included: inside protected mode only.
std::string stackText(lua_State* L, int index) {
    std::size_t length = 0;
    const char* text = luaL_tolstring(L, index, &length);
    std::string result(text, length);
    lua_pop(L, 1);
    return result;
}

// `load` as scripts get it: text only, and the module's environment unless the
// caller gives another.
int safeLoad(lua_State* L) {
    std::size_t length = 0;
    const char* code = luaL_checklstring(L, 1, &length);
    const char* chunkName = luaL_optstring(L, 2, "=(load)");
    const int status = luaL_loadbufferx(L, code, length, chunkName, "t");
    if (status != LUA_OK) {
        lua_pushnil(L);
        lua_insert(L, -2);
        return 2;
    }
    if (!lua_isnone(L, 4))
        lua_pushvalue(L, 4);
    else
        lua_pushvalue(L, lua_upvalueindex(1));
    if (lua_setupvalue(L, -2, 1) == nullptr) lua_pop(L, 1);
    return 1;
}

// `setmetatable` as scripts get it: no finalizers. Lua runs __gc with hooks
// off, at any later collection, so an endless one could never be stopped.
int safeSetmetatable(lua_State* L) {
    if (lua_type(L, 2) == LUA_TTABLE) {
        lua_pushliteral(L, "__gc");
        if (lua_rawget(L, 2) != LUA_TNIL)
            return luaL_error(L, "finalizers (__gc) are not available to scripts");
    }
    lua_settop(L, 2);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, 2, 1);
    return 1;
}

// A copy of the pristine globals: library tables copied one level deep.
void pushNewEnvironment(lua_State* L) {
    lua_createtable(L, 0, 40);
    const int env = lua_gettop(L);
    lua_pushglobaltable(L);
    const int globals = env + 1;
    lua_pushnil(L);
    while (lua_next(L, globals) != 0) {
        if (lua_type(L, -1) == LUA_TTABLE) {
            if (lua_rawequal(L, -1, globals)) {  // _G, set to the module below
                lua_pop(L, 1);
                continue;
            }
            const int library = lua_gettop(L);
            lua_createtable(L, 0, 32);
            lua_pushnil(L);
            while (lua_next(L, library) != 0) {
                lua_pushvalue(L, -2);
                lua_insert(L, -2);
                lua_rawset(L, library + 1);
            }
            lua_remove(L, library);
        }
        lua_pushvalue(L, -2);
        lua_insert(L, -2);
        lua_rawset(L, env);
    }
    lua_pop(L, 1);
    lua_pushvalue(L, env);
    lua_setfield(L, env, "_G");
    lua_pushvalue(L, env);
    lua_pushcclosure(L, safeLoad, 1);
    lua_setfield(L, env, "load");
}

void pushModule(lua_State* L, const std::string& key) {
    lua_rawgetp(L, LUA_REGISTRYINDEX, &kModulesKey);
    lua_pushlstring(L, key.data(), key.size());
    lua_rawget(L, -2);
    lua_remove(L, -2);
}

// The module's function `name`, or else its one function whose name equals it
// ignoring case (scripts written for a case-blind language call "Main").
bool pushProcedure(lua_State* L, int env, const std::string& name) {
    lua_pushlstring(L, name.data(), name.size());
    if (lua_rawget(L, env) == LUA_TFUNCTION) return true;
    lua_pop(L, 1);
    int found = 0;
    lua_pushnil(L);
    while (lua_next(L, env) != 0) {
        if (lua_type(L, -2) == LUA_TSTRING && lua_type(L, -1) == LUA_TFUNCTION &&
            vb::equalsIgnoreCase(lua_tostring(L, -2), name)) {
            if (++found == 1)
                lua_insert(L, -2);  // keep it below the key
            else
                lua_pop(L, 1);
        } else {
            lua_pop(L, 1);
        }
    }
    if (found == 1) return true;
    if (found > 1) lua_pop(L, 1);
    return false;
}

}  // namespace

struct ScriptEngine::Impl final : LuaDispatch::Engine, LuaLimits {
    // One engine operation in progress. Operations nest when a host member that
    // a script called runs another script; each has its own deadline and its
    // own error, and the outer deadline is put back when the inner one ends.
    struct Operation {
        Impl& impl;
        Operation* outer;
        std::optional<SteadyClock::time_point> outerDeadline;
        bool failed = false;
        ScriptError error;
        bool timedOut = false;
        // The last fault our side raised, to know its message when it arrives.
        int faultNumber = 0;
        std::string faultDescription;
        std::string faultMessage;

        explicit Operation(Impl& owner)
            : impl(owner), outer(owner.current), outerDeadline(owner.deadline) {
            impl.current = this;
            if (impl.timeoutMs > 0)
                impl.deadline = SteadyClock::now() + std::chrono::milliseconds(impl.timeoutMs);
            else
                impl.deadline.reset();
            impl.watch(kHookInterval);
        }
        ~Operation() {
            impl.current = outer;
            impl.deadline = outerDeadline;
            impl.watch(kHookInterval);
        }
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;
    };

    lua_State* L = nullptr;
    std::size_t used = 0;
    std::size_t limit = kDefaultMemoryLimit;
    int timeoutMs = kDefaultTimeoutMs;
    std::optional<SteadyClock::time_point> deadline;
    Operation* current = nullptr;
    ScriptError lastError;
    std::set<std::string> modules;   // lower-cased names
    std::set<std::string> released;  // names whose code was let go after their run
    std::vector<std::pair<std::string, std::weak_ptr<Dispatch>>> objects;

    Impl() {
        L = lua_newstate(&Impl::allocate, this);
        if (L == nullptr) raiseError(kOutOfMemory, "Out of memory", kSource);
        // The message handler finds the engine here even if opening fails.
        *static_cast<LuaDispatch::Engine**>(lua_getextraspace(L)) = this;
        try {
            execute({}, [this](lua_State* S) { openLibraries(S); });
        } catch (...) {
            lua_close(L);
            throw;
        }
    }

    ~Impl() override { lua_close(L); }

    void openLibraries(lua_State* S) {
        static const luaL_Reg libraries[] = {
            {LUA_GNAME, luaopen_base},       {LUA_STRLIBNAME, luaopen_string},
            {LUA_TABLIBNAME, luaopen_table}, {LUA_MATHLIBNAME, luaopen_math},
            {LUA_UTF8LIBNAME, luaopen_utf8},
        };
        for (const luaL_Reg& library : libraries) {
            luaL_requiref(S, library.name, library.func, 1);
            lua_pop(S, 1);
        }
        // What reaches files, compiles bytecode or steers the shared collector.
        lua_pushglobaltable(S);
        for (const char* name : {"dofile", "loadfile", "load", "collectgarbage"}) {
            lua_pushnil(S);
            lua_setfield(S, -2, name);
        }
        lua_getfield(S, -1, "setmetatable");
        lua_pushcclosure(S, safeSetmetatable, 1);
        lua_setfield(S, -2, "setmetatable");
        lua_getfield(S, -1, LUA_STRLIBNAME);
        lua_pushnil(S);
        lua_setfield(S, -2, "dump");
        lua_pop(S, 2);
        // Every string shares one metatable; a module must not be able to change
        // string methods for the others through it.
        lua_pushliteral(S, "");
        lua_getmetatable(S, -1);
        lua_pushboolean(S, 0);
        lua_setfield(S, -2, "__metatable");
        lua_pop(S, 2);
        LuaLimits::install(S, this);
        lua_newtable(S);
        lua_rawsetp(S, LUA_REGISTRYINDEX, &kModulesKey);
        LuaDispatch::install(S, this);
    }

    // LuaDispatch::Engine
    std::optional<std::chrono::nanoseconds> pauseTimeout() override {
        if (!deadline) return std::nullopt;
        const std::chrono::nanoseconds remaining = *deadline - SteadyClock::now();
        deadline.reset();
        return remaining;
    }
    void resumeTimeout(std::optional<std::chrono::nanoseconds> remaining) override {
        if (remaining)
            deadline = SteadyClock::now() + *remaining;
        else
            deadline.reset();
    }
    void faultRaised(int number, const std::string& description,
                     const std::string& message) override {
        if (current == nullptr) return;
        current->faultNumber = number;
        current->faultDescription = description;
        current->faultMessage = message;
    }

    // LuaLimits
    void checkTime(lua_State* S) override { hook(S, nullptr); }
    std::optional<std::chrono::nanoseconds> timeLeft() override {
        if (!deadline) return std::nullopt;
        return *deadline - SteadyClock::now();
    }
    std::size_t memoryLeft() override {
        if (limit == 0) return static_cast<std::size_t>(-1);
        return used < limit ? limit - used : 0;
    }

    [[noreturn]] void fail(ScriptError error) {
        lastError = std::move(error);
        throw RuntimeError(lastError.number, lastError.description, kSource);
    }

    // Runs body in protected mode as one operation; raises its failure.
    void execute(const std::string& source, const Body& body) {
        Operation op(*this);
        if (lua_checkstack(L, 4) == 0) fail({kOutOfMemory, "Out of memory", source, 0, 0});
        const int base = lua_gettop(L);
        lua_pushcfunction(L, &Impl::messageHandler);
        lua_pushcfunction(L, &Impl::trampoline);
        lua_pushlightuserdata(L, const_cast<Body*>(&body));
        const int status = lua_pcall(L, 1, 0, base + 1);
        if (status == LUA_OK && !op.failed) {
            lua_settop(L, base);
            return;
        }
        ScriptError error;
        if (status == LUA_ERRMEM) {
            // Lua calls no message handler for these: no line is known.
            error = {kOutOfMemory, "Out of memory", source, 0, 0};
        } else if (op.failed) {
            error = op.error;
        } else if (op.timedOut) {
            error = {kTimeout, op.faultDescription, source, 0, 0};
        } else {
            error.number = kScriptError;
            error.description = stripLocation(plainText(L, -1), &error.line);
        }
        if (error.source.empty()) error.source = source;
        lua_settop(L, base);
        fail(std::move(error));
    }

    void watch(int instructions) { lua_sethook(L, &Impl::hook, LUA_MASKCOUNT, instructions); }

    static Impl& of(lua_State* L) { return *static_cast<Impl*>(LuaDispatch::engine(L)); }

    static int trampoline(lua_State* L) {
        const auto* body = static_cast<const Body*>(lua_touserdata(L, 1));
        lua_pop(L, 1);
        int number = 0;
        std::string description;
        try {
            (*body)(L);
            return 0;
        } catch (const RuntimeError& e) {
            number = e.number();
            description = e.description();
        } catch (const std::bad_alloc&) {
            number = kOutOfMemory;
            description = "Out of memory";
        } catch (const std::exception& e) {
            number = 51;
            description = std::string("Internal error: ") + e.what();
        }
        LuaDispatch::raise(L, number, description);
    }

    // Records where an error that ends the operation arose, while the stack
    // still shows it.
    static int messageHandler(lua_State* L) {
        Operation* op = of(L).current;
        if (op == nullptr || op->failed) return 1;
        const std::string message = stackText(L, 1);
        ScriptError error;
        lua_Debug ar;
        for (int level = 1; lua_getstack(L, level, &ar) != 0; ++level) {
            lua_getinfo(L, "Slf", &ar);
            // Below this operation's entry lie the frames of the script whose
            // host call started it: not where this error arose.
            const bool entry = lua_tocfunction(L, -1) == &Impl::trampoline;
            lua_pop(L, 1);
            if (entry) break;
            if (ar.currentline > 0) {
                error.line = ar.currentline;
                error.source = ar.short_src;
                break;
            }
        }
        if (op->faultNumber != 0 && message == op->faultMessage) {
            error.number = op->faultNumber;
            error.description = op->faultDescription;
        } else {
            int line = 0;
            error.number = kScriptError;
            error.description = stripLocation(message, &line);
            if (error.line == 0) error.line = line;
        }
        op->failed = true;
        op->error = std::move(error);
        lua_settop(L, 1);
        return 1;
    }

    static void hook(lua_State* L, lua_Debug* /*ar*/) {
        Impl& impl = of(L);
        if (!impl.deadline || SteadyClock::now() < *impl.deadline) return;
        if (impl.current != nullptr) impl.current->timedOut = true;
        // From now on every instruction raises again: a script that pcalls the
        // error away is stopped at its next instruction outside the pcall.
        impl.watch(1);
        const std::string text = "Script timed out after " + std::to_string(impl.timeoutMs) + " ms";
        impl.faultRaised(kTimeout, text, text);
        lua_pushlstring(L, text.data(), text.size());
        lua_error(L);
    }

    static void* allocate(void* ud, void* block, std::size_t oldSize, std::size_t newSize) {
        Impl& impl = *static_cast<Impl*>(ud);
        const std::size_t old = block != nullptr ? oldSize : 0;
        if (newSize == 0) {
            std::free(block);
            impl.used -= old;
            return nullptr;
        }
        // Shrinking must never fail; growing fails beyond the limit, which Lua
        // turns into a memory error after a full collection.
        if (newSize > old && impl.limit != 0) {
            const std::size_t others = impl.used - old;
            if (others > impl.limit || newSize > impl.limit - others) return nullptr;
        }
        void* grown = std::realloc(block, newSize);
        if (grown == nullptr) return nullptr;
        impl.used = impl.used - old + newSize;
        return grown;
    }
};

ScriptEngine::ScriptEngine() : m_impl(std::make_unique<Impl>()) {}
ScriptEngine::~ScriptEngine() = default;

int ScriptEngine::timeout() const {
    return m_impl->timeoutMs;
}
void ScriptEngine::setTimeout(int milliseconds) {
    m_impl->timeoutMs = milliseconds;
}
std::size_t ScriptEngine::memoryLimit() const {
    return m_impl->limit;
}
void ScriptEngine::setMemoryLimit(std::size_t bytes) {
    m_impl->limit = bytes;
}
std::size_t ScriptEngine::memoryUsed() const {
    return m_impl->used;
}

void ScriptEngine::addObject(const std::string& name, std::weak_ptr<Dispatch> object) {
    m_impl->objects.emplace_back(name, std::move(object));
}

void ScriptEngine::addModule(const std::string& name) {
    const std::string key = vb::LCase(name);
    if (m_impl->modules.count(key) != 0 || m_impl->released.count(key) != 0)
        m_impl->fail({kModuleExists,
                      "This key is already associated with an element of this collection", name, 0,
                      0});
    m_impl->execute(name, [&](lua_State* L) {
        lua_rawgetp(L, LUA_REGISTRYINDEX, &kModulesKey);
        lua_pushlstring(L, key.data(), key.size());
        pushNewEnvironment(L);
        const int env = lua_gettop(L);
        for (const auto& [global, object] : m_impl->objects) {
            LuaDispatch::pushWeakObject(L, object);
            lua_setfield(L, env, global.c_str());
        }
        lua_rawset(L, -3);
    });
    m_impl->modules.insert(key);
}

bool ScriptEngine::hasModule(const std::string& name) const {
    const std::string key = vb::LCase(name);
    return m_impl->modules.count(key) != 0 || m_impl->released.count(key) != 0;
}

void ScriptEngine::releaseModule(const std::string& name) {
    const std::string key = vb::LCase(name);
    if (m_impl->modules.erase(key) == 0) return;
    m_impl->released.insert(key);
    try {
        m_impl->execute(name, [&](lua_State* L) {
            lua_rawgetp(L, LUA_REGISTRYINDEX, &kModulesKey);
            lua_pushlstring(L, key.data(), key.size());
            lua_pushnil(L);
            lua_rawset(L, -3);
        });
    } catch (...) {
        // Out of memory while letting go: the code stays, the name is taken anyway.
    }
}

std::size_t ScriptEngine::moduleCount() const {
    return m_impl->modules.size() + m_impl->released.size();
}

void ScriptEngine::addCode(const std::string& module, std::string_view code,
                           const std::string& chunkName) {
    const std::string key = vb::LCase(module);
    const std::string name = chunkName.empty() ? module : chunkName;
    if (m_impl->modules.count(key) == 0)
        m_impl->fail({kNoSuchModule, "Subscript out of range", name, 0, 0});
    m_impl->execute(name, [&](lua_State* L) {
        pushModule(L, key);
        const int env = lua_gettop(L);
        const std::string chunk = chunkNameFor(name);
        const int status = luaL_loadbufferx(L, code.data(), code.size(), chunk.c_str(), "t");
        if (status == LUA_ERRSYNTAX) {
            ScriptError error{kSyntaxError, {}, name, 0, 0};
            error.description = stripLocation(stackText(L, -1), &error.line);
            m_impl->current->failed = true;
            m_impl->current->error = std::move(error);
            return;
        }
        if (status != LUA_OK) raiseError(kOutOfMemory, "Out of memory");
        lua_pushvalue(L, env);
        if (lua_setupvalue(L, -2, 1) == nullptr) lua_pop(L, 1);
        lua_call(L, 0, 0);
    });
}

Variant ScriptEngine::run(const std::string& module, const std::string& procedure,
                          const std::vector<Variant>& args) {
    const std::string key = vb::LCase(module);
    if (m_impl->modules.count(key) == 0)
        m_impl->fail({kNoSuchModule, "Subscript out of range", module, 0, 0});
    Variant result;
    m_impl->execute(module, [&](lua_State* L) {
        pushModule(L, key);
        const int env = lua_gettop(L);
        if (!pushProcedure(L, env, procedure))
            raiseError(kProcedureNotFound, "Sub or Function not defined");
        luaL_checkstack(L, static_cast<int>(args.size()) + 1, nullptr);
        for (const Variant& arg : args) LuaDispatch::push(L, arg);
        lua_call(L, static_cast<int>(args.size()), 1);
        result = LuaDispatch::toVariant(L, -1);
    });
    return result;
}

const ScriptError& ScriptEngine::error() const {
    return m_impl->lastError;
}
void ScriptEngine::clearError() {
    m_impl->lastError = {};
}
