// Host scripts: Run and RunEx load a file of the Scripts folder into a new
// module and call one of its functions; scripts reach the host as `hs`.
#include <gtest/gtest.h>

#include <QTimer>
#include <filesystem>

#include "host/Application.h"
#include "host/Setup.h"
#include "script/ScriptEngine.h"
#include "support/EventLog.h"
#include "support/TempHome.h"
#include "xap/xapGlobal.h"

namespace {

class Scripts : public ::testing::Test {
protected:
    void SetUp() override {
        xapGlobal::reset();
        std::filesystem::create_directories(home.path() + "/Scripts");
        hs = Application::create().shared();
        setup = std::make_shared<::Setup>(hs);
        setup->Form_Load();
        xapGlobal::values().pending.clear();
    }
    void TearDown() override {
        Application::release();
        xapGlobal::reset();
    }
    void script(const std::string& name, const std::string& code) {
        home.write("Scripts/" + name, code);
    }
    ScriptEngine& engine() { return hs->scripts().engine(); }
    std::vector<std::string> logs() { return loggedTexts(); }

    TempHome home;
    std::shared_ptr<Application> hs;
    std::shared_ptr<::Setup> setup;
};

TEST_F(Scripts, MissingFilesRunNothingAndSayNothing) {
    hs->call("Run", "absent.lua");
    EXPECT_TRUE(hs->call("RunEx", "absent.lua", "main", "x").isEmpty());
    script("lonely.lua", "#include \"nowhere.lua\"\nfunction f(p) return 'ran ' .. p end");
    EXPECT_EQ(hs->call("RunEx", "lonely.lua", "f", "x").toString(), "ran x");
    EXPECT_TRUE(logs().empty());
}

TEST_F(Scripts, AnIncludedFileLoadsFirstAndItsDirectiveIsRemoved) {
    std::filesystem::create_directories(home.path() + "/Scripts/lib");
    script("lib/second.lua", "order = 'second'");
    script("first.lua",
           "#INCLUDE \" Lib\\Second.LUA \" -- the rest of the line stays\n"
           "order = order .. ',first'\n"
           "function get(p) return order end\n");
    EXPECT_EQ(hs->call("RunEx", "first.lua", "get", "").toString(), "second,first");
    // Names starting with "\" are below the Scripts folder too; "/" is absolute.
    EXPECT_EQ(hs->call("RunEx", "\\first.lua", "get", "").toString(), "second,first");
    home.write("Data/outside.lua", "function get(p) return 'outside' end");
    EXPECT_EQ(hs->call("RunEx", home.path() + "/Data/outside.lua", "get", "").toString(),
              "outside");
    EXPECT_TRUE(logs().empty());
}

TEST_F(Scripts, IncludeCyclesEnd) {
    script("a.lua", "#include \"b.lua\"\n#include \"a.lua\"\nfunction f(p) return seen end");
    script("b.lua", "#include \"a.lua\"\nseen = (seen or 0) + 1");
    EXPECT_EQ(hs->call("RunEx", "a.lua", "f", "").toLong(), 1);
}

TEST_F(Scripts, EveryRunHasAModuleOfItsOwn) {
    script("count.lua", "function bump(p) counter = (counter or 0) + 1 return counter end");
    EXPECT_EQ(hs->call("RunEx", "count.lua", "bump", "").toLong(), 1);
    EXPECT_EQ(hs->call("RunEx", "count.lua", "bump", "").toLong(), 1);
    // A script may run another, nested, in a module apart from its own.
    script("outer.lua",
           "function main(p) counter = 5 return hs.RunEx('count.lua', 'bump', '') + counter end");
    EXPECT_EQ(hs->call("RunEx", "outer.lua", "main", "").toLong(), 6);
    EXPECT_EQ(hs->scripts().runCount(), 4);
}

TEST_F(Scripts, ManyRunsDoNotGrowTheEngine) {
    // A status-change callback runs a module per change, for months.
    script("tick.lua", "local big = string.rep('x', 4096)\nfunction f(p) return #big end");
    for (int i = 0; i < 20; ++i) hs->call("RunEx", "tick.lua", "f", "");
    const std::size_t settled = engine().memoryUsed();
    for (int i = 0; i < 500; ++i) hs->call("RunEx", "tick.lua", "f", "");
    EXPECT_LT(engine().memoryUsed(), settled + 256 * 1024);
    EXPECT_EQ(hs->call("RunEx", "tick.lua", "f", "").toLong(), 4096);
    EXPECT_TRUE(engine().hasModule("M1"));  // names stay taken
}

TEST_F(Scripts, AScriptThatRunsItselfEnds) {
    script("again.lua", "function main(p) return hs.RunEx('again.lua', 'main', '') end");
    EXPECT_TRUE(hs->call("RunEx", "again.lua", "main", "").isEmpty());
    // The innermost run fails to load; every run around it returns Empty.
    const auto texts = logs();
    ASSERT_FALSE(texts.empty());
    EXPECT_NE(texts[0].find("stack overflow"), std::string::npos) << texts[0];
}

TEST_F(Scripts, SyntaxErrorIsLoggedWithFileLineAndColumn) {
    script("bad.lua", "function main(p)\n  x = = 1\nend\n");
    EXPECT_TRUE(hs->call("RunEx", "bad.lua", "main", "").isEmpty());
    const auto texts = logs();
    ASSERT_FALSE(texts.empty());
    const std::string& first = texts[0];
    EXPECT_EQ(first.rfind("Error in script syntax ", 0), 0u) << first;
    EXPECT_NE(first.find(" / " + home.path() + "/Scripts/bad.lua "), std::string::npos) << first;
    EXPECT_NE(first.find("@ Line 2 col 0"), std::string::npos) << first;
    EXPECT_EQ(engine().error().number, 0);  // cleared once logged
}

// That a script can catch a host fault itself is the engine's to show.
TEST_F(Scripts, RunTimeErrorsAreLoggedWithTheirNumber) {
    script("err.lua",
           "function main(p)\n  error('boom')\nend\n"
           "function member(p) hs.NoSuchMember() end\n");
    hs->call("Run", "err.lua");
    ASSERT_EQ(logs().size(), 1u);
    EXPECT_EQ(logs()[0].rfind("Script Run Error boom / 1000 - boom@ Line 2 col 0", 0), 0u)
        << logs()[0];

    xapGlobal::values().pending.clear();
    EXPECT_TRUE(hs->call("RunEx", "err.lua", "member", "").isEmpty());
    ASSERT_EQ(logs().size(), 1u);
    EXPECT_EQ(logs()[0].rfind("Script Run Error Object doesn't support this property or method / "
                              "438 - ",
                              0),
              0u)
        << logs()[0];
}

TEST_F(Scripts, WaitingThroughTheHostIsNotScriptTime) {
    engine().setTimeout(200);
    script("wait.lua", "function main(p) hs.WaitSecs(1) return 'awake' end");
    bool fired = false;
    QTimer::singleShot(100, [&] { fired = true; });
    EXPECT_EQ(hs->call("RunEx", "wait.lua", "main", "").toString(), "awake");
    EXPECT_TRUE(fired);  // events ran during the wait
    EXPECT_TRUE(logs().empty());
}

TEST_F(Scripts, AScriptWorksTheHost) {
    script("host.lua", R"(
        function main(p)
            hs.SetDeviceString("A1", "from lua")
            hs:WriteLog("lua", "hello " .. p)
            local dv = hs.GetDeviceByCode("A1")
            dv.Name = "Porch"
            return dv.Name .. "/" .. hs.DeviceString("A1") .. "/" .. hs.DebugMode
        end
    )");
    EXPECT_EQ(hs->call("RunEx", "host.lua", "main", "there").toString(), "Porch/from lua/0");
    ASSERT_EQ(logs().size(), 1u);
    EXPECT_EQ(logs()[0], "hello there");
}

TEST_F(Scripts, StatusChangeCallbackGetsTheFourValues) {
    script("register.lua",
           "function main(p) hs.RegisterStatusChangeCB('changed.lua', 'onChange') end");
    script("changed.lua", R"(
        function onChange(hc, unit, status, ref)
            hs.SaveVar("seen", table.concat({hc, unit, status, ref, math.type(status)}, "|"))
        end
    )");
    hs->call("Run", "register.lua");
    hs->call("SetDeviceStatus", "A1", 2);
    const std::string ref = std::to_string(hs->call("GetDeviceRef", "A1").toLong());
    EXPECT_EQ(hs->call("GetVar", "seen").toString(), "A|1|2|" + ref + "|integer");
    EXPECT_TRUE(logs().empty());
}

}  // namespace
