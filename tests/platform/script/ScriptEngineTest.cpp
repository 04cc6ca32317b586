// The Lua script engine: modules, values, errors, limits and the object bridge.
#include <gtest/gtest.h>
#include <lua.hpp>

#include <chrono>
#include <functional>
#include <thread>

#include "base/RuntimeError.h"
#include "binding/Dispatch.h"
#include "script/ScriptEngine.h"

namespace {

using Args = std::vector<Variant>;

// An object scripts reach by late binding.
class Gadget : public Dispatch {
public:
    std::string className() const override { return "Gadget"; }
    std::string name = "gadget";
    int sleepMs = 0;
    std::shared_ptr<Gadget> child;

protected:
    const MemberTable& members() const override {
        static const MemberTable table = MemberTable::of<Gadget>({
            property(
                "Name", [](Gadget& g, Args&) { return g.name; },
                [](Gadget& g, Args& a) { g.name = a.at(0).toString(); }),
            method("Echo", [](Gadget&, Args& a) { return a.empty() ? Variant() : a[0]; }),
            method("Count", [](Gadget&, Args& a) { return static_cast<int32_t>(a.size()); }),
            method("Child", [](Gadget& g, Args&) { return Variant(g.child); }),
            method("Same", [](Gadget& g, Args& a) { return a.at(0).toObject().get() == &g; }),
            method("Sleep",
                   [](Gadget& g, Args&) {
                       std::this_thread::sleep_for(std::chrono::milliseconds(g.sleepMs));
                   }),
            method("Fail",
                   [](Gadget&, Args&) {
                       raiseError(RuntimeError::kInvalidCall, "Invalid procedure call or argument");
                   }),
        });
        return table;
    }
};

class Engine : public ::testing::Test {
protected:
    void SetUp() override {
        gadget = std::make_shared<Gadget>();
        gadget->child = std::make_shared<Gadget>();
        gadget->child->name = "child";
        engine.addObject("g", gadget);
    }
    // A new module holding `code`.
    void module(const std::string& name, const std::string& code) {
        engine.addModule(name);
        engine.addCode(name, code);
    }
    int failure(const std::function<void()>& f) {
        try {
            f();
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), engine.error().number);
            EXPECT_EQ(e.description(), engine.error().description);
            return e.number();
        }
        return 0;
    }

    ScriptEngine engine;
    std::shared_ptr<Gadget> gadget;
};

TEST_F(Engine, ValuesCrossInBothDirections) {
    module("m", R"(
        function id(x) return x end
        function big() return 1 << 40 end
        function kind(x) return math.type(x) or type(x) end
        function dict() return {a = 1} end
        function fn() return print end
    )");
    const std::string bytes("a\0\xff", 3);
    EXPECT_EQ(engine.run("m", "id", {bytes}).toString(), bytes);
    EXPECT_EQ(engine.run("m", "id", {int16_t{3}}).type(), Variant::Type::Long);
    EXPECT_EQ(engine.run("m", "kind", {int16_t{3}}).toString(), "integer");
    EXPECT_EQ(engine.run("m", "kind", {2.5}).toString(), "float");
    EXPECT_EQ(engine.run("m", "id", {2.5}).toDouble(), 2.5);
    EXPECT_EQ(engine.run("m", "id", {true}).type(), Variant::Type::Boolean);
    EXPECT_TRUE(engine.run("m", "id", {Variant()}).isEmpty());
    EXPECT_TRUE(engine.run("m", "id").isEmpty());
    const Variant big = engine.run("m", "big");
    EXPECT_EQ(big.type(), Variant::Type::Double);
    EXPECT_EQ(big.toDouble(), 1099511627776.0);
    const QDateTime when(QDate(2024, 5, 6), QTime(7, 8, 9));
    EXPECT_EQ(engine.run("m", "id", {when}).toString(), "2024-05-06 07:08:09");

    const Variant nested = engine.run("m", "id", {Variant(Args{1, "x", Args{true}})});
    ASSERT_TRUE(nested.isArray());
    const Args items = nested.toArray();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].toString(), "x");
    EXPECT_TRUE(items[2].toArray().at(0).toBool());

    // No array form: a table with keys, a function.
    EXPECT_EQ(failure([&] { engine.run("m", "dict"); }), RuntimeError::kTypeMismatch);
    EXPECT_EQ(failure([&] { engine.run("m", "fn"); }), RuntimeError::kTypeMismatch);
}

TEST_F(Engine, ModulesKeepGlobalsAndLibrariesApart) {
    module("one", "shared = 1\nstring.upper = nil\nfunction get() return shared end");
    module("Two", R"(
        function get() return shared end
        function upper() return string.upper("a") .. ("b"):upper() end
        function meta() return getmetatable("") end
    )");
    EXPECT_EQ(engine.run("one", "get").toLong(), 1);
    EXPECT_TRUE(engine.run("two", "get").isEmpty());
    EXPECT_EQ(engine.run("TWO", "upper").toString(), "AB");
    EXPECT_FALSE(engine.run("two", "meta").toBool());
    EXPECT_EQ(engine.moduleCount(), 2u);
    EXPECT_EQ(failure([&] { engine.addModule("ONE"); }), ScriptEngine::kModuleExists);
    EXPECT_EQ(failure([&] { engine.run("three", "get"); }), ScriptEngine::kNoSuchModule);
}

TEST_F(Engine, ScriptsCannotReachFilesProcessesOrBytecode) {
    module("m", R"(
        x = 7
        function probe()
            return type(os) .. type(io) .. type(require) .. type(package) .. type(debug) ..
                   type(dofile) .. type(loadfile) .. type(collectgarbage) .. type(string.dump)
        end
        function binary() return load("\27Lua") end
        function text() return load("return x")() end
        function finalizer() setmetatable({}, {__gc = function() while true do end end}) end
    )");
    EXPECT_EQ(engine.run("m", "probe").toString(), "nilnilnilnilnilnilnilnilnil");
    EXPECT_TRUE(engine.run("m", "binary").isEmpty());
    EXPECT_EQ(engine.run("m", "text").toLong(), 7);  // loaded code sees the module
    // Finalizers run where no time-out reaches them.
    EXPECT_EQ(failure([&] { engine.run("m", "finalizer"); }), ScriptEngine::kScriptError);
}

TEST_F(Engine, SyntaxErrorsReportLineAndNoColumn) {
    engine.addModule("m");
    EXPECT_EQ(failure([&] { engine.addCode("m", "local a = 1\n\nx = = 2\n", "bad.lua"); }),
              ScriptEngine::kSyntaxError);
    EXPECT_EQ(engine.error().line, 3);
    EXPECT_EQ(engine.error().column, 0);
    EXPECT_EQ(engine.error().source, "bad.lua");
    EXPECT_EQ(engine.error().description.find("bad.lua"), std::string::npos);
    engine.clearError();
    EXPECT_EQ(engine.error().number, 0);
    engine.addCode("m", "function ok() return 1 end");  // the module goes on
    EXPECT_EQ(engine.run("m", "ok").toLong(), 1);
}

TEST_F(Engine, RunTimeErrorsReportNumberLineAndDescription) {
    module("m",
           "function boom()\n  local t = nil\n  return t.x\nend\n"
           "function raise()\n  error('custom')\nend\n");
    EXPECT_EQ(failure([&] { engine.run("m", "boom"); }), ScriptEngine::kScriptError);
    EXPECT_EQ(engine.error().line, 3);
    EXPECT_EQ(engine.error().description, "attempt to index a nil value (local 't')");
    EXPECT_EQ(failure([&] { engine.run("m", "raise"); }), ScriptEngine::kScriptError);
    EXPECT_EQ(engine.error().description, "custom");
    EXPECT_EQ(engine.error().line, 6);
    EXPECT_EQ(failure([&] { engine.run("m", "missing"); }), ScriptEngine::kProcedureNotFound);
    // Scripts written for a case-blind language name their functions loosely.
    EXPECT_EQ(failure([&] { engine.run("m", "BOOM"); }), ScriptEngine::kScriptError);
    // Top-level code runs when added, and its errors fail the adding.
    engine.addModule("top");
    EXPECT_EQ(failure([&] { engine.addCode("top", "\nerror('at load')"); }),
              ScriptEngine::kScriptError);
    EXPECT_EQ(engine.error().line, 2);
}

// Endless loops, loops that catch their own stop, backtracking or huge pattern
// searches, and library calls whose work their arguments do not bound: each
// stops at the time-out or is refused as beyond the script's limits (a Lua error
// the script can catch); time spent in host calls does not count; the engine
// goes on afterwards.
TEST_F(Engine, RunawayScriptsAndLibraryCallsStopAtTheLimits) {
    engine.setTimeout(200);
    gadget->sleepMs = 120;
    module("m", R"(
        local slow = '.-.-.-.-x'
        local long = setmetatable({}, {__len = function() return 1e15 end})
        local blank = setmetatable({}, {__index = function() return '' end})
        function spin() while true do end end
        function stubborn()
            while true do pcall(function() while true do end end) end
        end
        function find() return string.find(string.rep('a', 2000), slow) end
        function match() return string.match(string.rep('a', 2000), slow) end
        function gmatch() for _ in string.gmatch(string.rep('a', 2000), slow) do end end
        function gsub() return (string.rep('a', 3000)):gsub(slow, '') end
        function plain()
            local hay = ('a'):rep(1000):rep(4000)
            return hay:find(('a'):rep(1000):rep(2000) .. 'b', 1, true)
        end
        function rep() return #string.rep('', 1e10) end
        function rep53() return #string.rep('x', 2^53) end
        function repSeparated() return #string.rep('', 1e12, '') end
        function pack() return #string.pack('c99999999999', '') end
        function move() return table.move({}, 1, 1e9, 2) end
        function concat() return table.concat(blank, '', 1, 1e12) end
        function insert() table.insert(long, 1, 'x') end
        function remove() table.remove(long, 1) end
        function unpack() return table.unpack({}, 1, 1e8) end
        function caught() return select(2, pcall(string.rep, '', 1e10)) end
        function slowHost() for i = 1, 3 do g.Sleep() end return 'done' end
    )");
    for (const char* name : {"spin", "stubborn", "find", "match", "gmatch", "gsub", "plain"}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(failure([&] { engine.run("m", name); }), ScriptEngine::kTimeout) << name;
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190)) << name;
    }
    for (const char* name :
         {"rep", "rep53", "repSeparated", "pack", "move", "concat", "insert", "remove", "unpack"}) {
        EXPECT_EQ(failure([&] { engine.run("m", name); }), ScriptEngine::kScriptError) << name;
        EXPECT_NE(engine.error().description.find("exceeds the script's limits"), std::string::npos)
            << name << ": " << engine.error().description;
    }
    EXPECT_EQ(engine.run("m", "caught").toString(), "string.rep exceeds the script's limits");
    EXPECT_EQ(engine.run("m", "slowHost").toString(), "done");
}

// The engine's pattern functions and guarded table functions answer as Lua's
// own library does: the same script runs in a bare Lua state for comparison.
TEST_F(Engine, LibraryFunctionsAnswerAsLuasOwn) {
    const std::string code = R"lua(
        local cases = {
            {"hello world", "o w"}, {"hello world", "(o)%s(w)"}, {"a.b", "."}, {"abc", "b", -1},
            {"key = value", "^(%w+)%s*=%s*(%w+)$"}, {"  x", "()x"}, {"THE (quick) fox", "%((%a+)%)"},
            {"[[nested]]", "%b[]"}, {"THE quick", "%f[%a]%a+", 4}, {"abab", "(ab)%1"},
            {"aaa", "a-$"}, {"x", "y"}, {"a=1, b=2", "(%w+)=(%w+)"}, {"abc", ""}, {"hello", "l+"},
            {"", ""}, {"abc", "b*"}, {"x", "()"}, {"aaab", "a-b"}, {"aaab", "a*b"},
            {"aaab", "a+ab"}, {"ab", "a?b"}, {"b", "a?b"}, {"aab", "^a?ab"}, {"f(a(b)c)d", "%b()"},
            {"f(a(b c)d", "%b()"}, {"''x''", "%b''"}, {"THE (quick) fox", "%f[%l]%a+"},
            {"end. now", "%f[%W]"}, {"x = [[a]b]", "[]]"}, {"a-b", "[a-]"}, {"a^b", "[%^^]+"},
            {"A1b2", "[^%d]+"}, {"hex FF09", "%x+", 5}, {"$x$", "%$x%$"}, {"a$b", "a$b"},
            {"a.b.c", "%.(.-)%."}, {"one two  three", "(%S+)%s*"}, {"caf\xc3\xa9!", "[\x80-\xff]+"},
            {"a\0b\0", "%c"}, {"abc", "^(a)(b)(c)$"}, {"abcabc", "(a)(b)%2", 2}, {"aXbX", "(.)X", 3},
            {"hello", "", 10}, {"hello", "l", -100}, {"x^y", "^x^y"}, {"^a^a", "^a"},
            {"a+b", "a+b", 1, true}, {"aaa", "(a*(.)%w(%s*))"}, {"  trim me  ", "^%s*(.-)%s*$"},
            {"a,b,,c", "([^,]*)"}, {"[x]", "[%]x]+"}, {"12ab", "%D+"}, {"Ab", "%u%l"},
            {"a", "(%"}, {"a", "%"}, {"a", "[a"}, {"a", "[%"}, {"a", "%b"}, {"a", "%bx"}, {"a", "%f"},
            {"a", "%fa"}, {"a", "a)"}, {"a", "(a"}, {"a", "%1"}, {"aa", "(a)%0"}, {"aa", "(a%1)"},
            {"aa", "()%1"},
        }
        local out = {}
        local function add(...)
            local t = table.pack(...)
            for i = 1, t.n do out[#out + 1] = tostring(t[i]) end
            out[#out + 1] = "/"
        end
        local function try(...) add(pcall(...)) end
        local function each(s, p, init)
            local r = {}
            for a, b in string.gmatch(s, p, init) do r[#r + 1] = tostring(a) .. "," .. tostring(b) end
            return table.concat(r, ";")
        end
        function run()
            for _, c in ipairs(cases) do
                local s, p, init = c[1], c[2], c[3]
                try(string.find, s, p, init, c[4])
                try(string.match, s, p, init)
                try(each, s, p, init)
                try(string.gsub, s, p, "<%0>")
                try(string.gsub, s, p, "%1%%")
                try(string.gsub, s, p, "%2")
                try(string.gsub, s, p, function(a, b) return b or tostring(a):upper() end)
                try(string.gsub, s, p, {a = "A", b = false, [""] = "E", l = 1}, 2)
            end
            try(string.gsub, "abc", "b", true)
            try(string.gsub, "abc", "b", {b = {}})
            try(string.gsub, "abc", "", "x", 1.5)
            try(string.gsub, "abc", "%w", "%x")
            try(string.gsub, "abc", "%w", 7)
            try(string.rep, "ab", 3, ","); try(string.rep, "x", -1); try(string.rep, "x", "y")
            try(string.pack, "i4c3", 7, "ab"); try(string.pack, "c2", "abc")
            try(table.concat, {1, 2, "c"}, "-"); try(table.concat, {1, {}}); try(table.unpack, {1, 2, 3}, 2)
            local t = {1, 2, 3}
            try(table.insert, t, 1, 0); try(table.remove, t, 2); try(function() return #table.move(t, 1, 3, 2) end)
            try(table.sort, t, function(a, b) return a > b end); try(table.concat, t, ",")
            try(table.insert, t, 9, 1); try(table.move, {}, 1, 2)
            return table.concat(out, " ")
        end
    )lua";
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    const std::string chunk = code + "\nreturn run()";
    ASSERT_EQ(luaL_loadbuffer(L, chunk.data(), chunk.size(), "=m"), LUA_OK);
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK) << lua_tostring(L, -1);
    std::size_t length = 0;
    const char* text = lua_tolstring(L, -1, &length);
    const std::string expected(text, length);
    lua_close(L);
    module("m", code);
    EXPECT_EQ(engine.run("m", "run").toString(), expected);
}

TEST_F(Engine, MemoryCapFailsTheCallNotTheEngine) {
    module("m", R"(
        function hog()
            local t = {}
            for i = 1, 1e8 do t[i] = ("x"):rep(64) .. i end
        end
        function small() return #("abc"):rep(10) end
    )");
    engine.setMemoryLimit(engine.memoryUsed() + (std::size_t{4} << 20));
    EXPECT_EQ(failure([&] { engine.run("m", "hog"); }), ScriptEngine::kOutOfMemory);
    EXPECT_LE(engine.memoryUsed(), engine.memoryLimit());
    EXPECT_EQ(engine.run("m", "small").toLong(), 30);
}

TEST_F(Engine, ObjectsAreReachedByLateBinding) {
    module("m", R"(
        function props()
            local before = g.Name
            g.Name = "renamed"
            return before .. "," .. g.Name .. "," .. g.Child().Name
        end
        function calls()
            return g.Echo(5) + g:Echo(5) + g.Count(1, 2) + g:Count(1, 2)
        end
        function objects() return g:Same(g) and g.Child() == g.Child() and g.Child() ~= g end
        function give() return g.Child() end
        function caught()
            local ok, message = pcall(g.Fail)
            return tostring(ok) .. ":" .. message
        end
        function uncaught()
            g.Fail()
        end
        function unknown() return g.Nope() end
    )");
    EXPECT_EQ(engine.run("m", "props").toString(), "gadget,renamed,child");
    EXPECT_EQ(gadget->name, "renamed");
    EXPECT_EQ(engine.run("m", "calls").toLong(), 14);
    EXPECT_TRUE(engine.run("m", "objects").toBool());
    EXPECT_EQ(engine.run("m", "give").toObject(), gadget->child);

    const std::string caught = engine.run("m", "caught").toString();
    EXPECT_EQ(caught.rfind("false:", 0), 0u) << caught;
    EXPECT_NE(caught.find("Invalid procedure call or argument"), std::string::npos) << caught;
    // Uncaught, the fault keeps its own number.
    EXPECT_EQ(failure([&] { engine.run("m", "uncaught"); }), RuntimeError::kInvalidCall);
    EXPECT_EQ(engine.error().line, 17);
    EXPECT_EQ(failure([&] { engine.run("m", "unknown"); }), RuntimeError::kMemberNotFound);
}

TEST_F(Engine, AnObjectThatIsGoneIsNotSet) {
    auto temporary = std::make_shared<Gadget>();
    engine.addObject("temp", temporary);
    module("m", "function name() return temp.Name end");
    EXPECT_EQ(engine.run("m", "name").toString(), "gadget");
    temporary.reset();  // the engine does not keep it alive
    EXPECT_EQ(failure([&] { engine.run("m", "name"); }), RuntimeError::kObjectRequired);
}

}  // namespace
