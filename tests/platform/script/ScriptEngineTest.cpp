// The Lua script engine: modules, values, errors, limits and the object bridge.
#include <gtest/gtest.h>

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

// Endless loops, loops that catch their own stop, and backtracking or huge
// pattern searches all stop at the time-out; time spent in host calls does not
// count; the engine goes on afterwards.
TEST_F(Engine, RunawayScriptsAndPatternsStopAtTheTimeOut) {
    engine.setTimeout(200);
    gadget->sleepMs = 120;
    module("m", R"(
        function spin() while true do end end
        function stubborn()
            while true do pcall(function() while true do end end) end
        end
        function find() return string.find(string.rep('a', 2000), '.-.-.-.-x') end
        function gsub() return (string.rep('a', 3000)):gsub('.-.-.-.-x', '') end
        function plain()
            local hay = string.rep('a', 4000000)
            return hay:find(string.rep('a', 2000000) .. 'b', 1, true)
        end
        function slow() for i = 1, 3 do g.Sleep() end return 'done' end
    )");
    for (const char* name : {"spin", "stubborn", "find", "gsub", "plain"}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(failure([&] { engine.run("m", name); }), ScriptEngine::kTimeout) << name;
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(190)) << name;
        EXPECT_LT(elapsed, std::chrono::seconds(5)) << name;
    }
    EXPECT_EQ(engine.run("m", "slow").toString(), "done");
}

// The counted matcher must answer as Lua's own does.
TEST_F(Engine, PatternFunctionsKeepTheirResults) {
    module("m", R"lua(
        function run()
            local out = {}
            local function add(...) for _, v in ipairs({...}) do out[#out + 1] = tostring(v) end end
            add(string.find("hello world", "o w"))
            add(string.find("hello world", "(o)%s(w)"))
            add(string.find("a.b", ".", 1, true), string.find("abc", "b", -1))
            add(string.match("key = value", "^(%w+)%s*=%s*(%w+)$"))
            add(string.match("  x", "()x"), string.match("THE (quick) fox", "%((%a+)%)"))
            add(string.match("[[nested]]", "%b[]"), string.match("THE quick", "%f[%a]%a+", 4))
            add(string.match("abab", "(ab)%1"), string.match("aaa", "a-$"), string.match("x", "y"))
            for k, v in string.gmatch("a=1, b=2", "(%w+)=(%w+)") do add(k, v) end
            add(("abc"):gsub("", "-"))
            add(("hello world"):gsub("o", {o = "0"}))
            add(("hello"):gsub("l+", function(s) return #s end))
            add(("abc"):gsub("%w", "%0%0", 2))
            add(("x y"):gsub("(%w)", "<%1>"))
            add(select(2, pcall(string.find, "a", "(%")))
            add(select(2, pcall(string.gsub, "a", "a", "%2")))
            add(select(2, pcall(string.match, "a", "[a")), select(2, pcall(string.gsub, "a", "(", "")))
            add(string.gsub("abc", "b*", "-"), string.find("", ""), string.match("x", "()"))
            return table.concat(out, "|")
        end
    )lua");
    EXPECT_EQ(engine.run("m", "run").toString(),
              "5|7|5|7|o|w|2|key|value|3|quick|[[nested]]|quick|ab|aaa|a|1|b|2|-a-b-c-|4|"
              "hell0 w0rld|2|he2o|1|aabbc|2|<x> <y>|2|malformed pattern (ends with '%')|"
              "invalid capture index %2|malformed pattern (missing ']')|a|2|-a-c-|1|1");
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
