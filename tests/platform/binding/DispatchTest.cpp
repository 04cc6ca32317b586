#include <gtest/gtest.h>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "base/RuntimeError.h"
#include "binding/CreateObject.h"
#include "binding/Dispatch.h"
#include "registry/Registry.h"
#include "support/RaisedError.h"

// At namespace scope, so that its default class name is plain.
class DispatchTestBareObject : public Dispatch {};

namespace {

// A small device with one member of every shape the tables allow.
class Lamp : public Dispatch {
public:
    std::string className() const override { return "Lamp"; }

    std::string getName() const { return m_name; }
    void setName(std::string name) { m_name = std::move(name); }
    int16_t getLevel() const { return m_level; }
    void setSecret(std::string secret) { m_secret = std::move(secret); }
    int32_t getCell(std::string code) const { return code == "A1" ? m_cell : -1; }
    void setCell(std::string code, int32_t value) {
        if (code == "A1") m_cell = value;
    }

    void Dim(std::string code, int16_t level, bool fast) {
        m_lastCode = code;
        m_level = level;
        m_fast = fast;
    }
    void Swap(Variant& a, Variant& b) { std::swap(a, b); }
    void Append(std::string& text, const std::string& suffix) { text += suffix; }
    std::string Probe(Variant v) const { return v.isMissing() ? "missing" : v.typeName(); }
    void Attach(std::shared_ptr<Lamp> other) { m_partner = std::move(other); }

    std::string m_name, m_secret, m_lastCode;
    int16_t m_level = 0;
    int32_t m_cell = 0;
    bool m_fast = false;
    std::shared_ptr<Lamp> m_partner;

protected:
    const MemberTable& members() const override {
        static const MemberTable table = MemberTable::of<Lamp>({
            // state
            property("Name", &Lamp::getName, &Lamp::setName),
            property("Level", &Lamp::getLevel),
            property("Secret", nullptr, &Lamp::setSecret),
            property("Cell", &Lamp::getCell, &Lamp::setCell),
            // behaviour
            method("Dim", &Lamp::Dim, {50, false}),
            method("Swap", &Lamp::Swap),
            method("Append", &Lamp::Append, {"", "!"}),
            method("Probe", &Lamp::Probe, {Variant::missing()}),
            method("Attach", &Lamp::Attach),
        });
        return table;
    }
};

TEST(Dispatch, AnUnknownMemberRaises438WithTheClassNameAsSource) {
    Lamp lamp;
    const RuntimeError e = errorOf([&] { lamp.call("DeviceValuesAdd", "A1", 3); });
    EXPECT_EQ(e.number(), RuntimeError::kMemberNotFound);
    EXPECT_EQ(e.description(), "Object doesn't support this property or method");
    EXPECT_EQ(e.source(), "Lamp");
    DispatchTestBareObject bare;  // an object without a table has no members
    EXPECT_EQ(errorOf([&] { bare.get("anything"); }).source(), "DispatchTestBareObject");
}

TEST(Dispatch, OptionalArgumentsTakeTheirDefaults) {
    Lamp lamp;
    lamp.call("dIM", "B2");  // names are found ignoring case
    EXPECT_EQ(lamp.m_lastCode, "B2");
    EXPECT_EQ(lamp.m_level, 50);
    EXPECT_FALSE(lamp.m_fast);

    // A Missing argument before a given one takes its default as well.
    lamp.call("Dim", "B3", Variant::missing(), true);
    EXPECT_EQ(lamp.m_level, 50);
    EXPECT_TRUE(lamp.m_fast);

    EXPECT_EQ(lamp.call("Probe").toString(), "missing");
    EXPECT_EQ(lamp.call("Probe", Variant::missing()).toString(), "missing");
    EXPECT_EQ(lamp.call("Probe", 1).toString(), "Long");
}

TEST(Dispatch, WrongArgumentsRaiseTheirErrors) {
    Lamp lamp;
    EXPECT_EQ(errorNumber([&] { lamp.call("Dim"); }), 450);
    EXPECT_EQ(errorNumber([&] { lamp.call("Dim", "A1", 1, true, 4); }), 450);
    EXPECT_EQ(errorNumber([&] { lamp.call("Dim", Variant::missing(), 1); }), 449);
    EXPECT_EQ(errorNumber([&] { lamp.let("Name", "a", "b"); }), 450);
    // Conversion faults of the arguments reach the caller as they are.
    EXPECT_EQ(errorNumber([&] { lamp.call("Dim", "A1", "bright"); }), RuntimeError::kTypeMismatch);
    EXPECT_EQ(errorNumber([&] { lamp.call("Dim", "A1", 70000); }), RuntimeError::kOverflow);
    EXPECT_EQ(lamp.m_lastCode, "");  // nothing ran
}

TEST(Dispatch, ByReferenceArgumentsAreWrittenBack) {
    Lamp lamp;
    std::vector<Variant> args{"left", 2};
    lamp.Invoke("Swap", args);
    EXPECT_EQ(args[0].toLong(), 2);
    EXPECT_EQ(args[1].toString(), "left");

    // A typed reference is converted in and its new value written back.
    std::vector<Variant> text{"ab", "cd"};
    lamp.Invoke("append", text);
    EXPECT_EQ(text[0].toString(), "abcd");
    EXPECT_EQ(text[1].toString(), "cd");
    std::vector<Variant> number{41};
    lamp.Invoke("Append", number);
    EXPECT_EQ(number[0].type(), Variant::Type::String);
    EXPECT_EQ(number[0].toString(), "41!");

    // A defaulted reference changes its own copy, not the caller's list.
    std::vector<Variant> none;
    lamp.Invoke("Append", none);
    EXPECT_TRUE(none.empty());
}

TEST(Dispatch, PropertiesReadAndAssign) {
    Lamp lamp;
    lamp.m_level = 7;
    EXPECT_EQ(lamp.get("Level").toInt(), 7);
    EXPECT_EQ(lamp.call("Level").toInt(), 7);  // `x = obj.Level` may arrive as a call
    EXPECT_EQ(errorNumber([&] { lamp.let("Level", 3); }), RuntimeError::kMemberNotFound);

    lamp.let("Secret", "s");
    EXPECT_EQ(lamp.m_secret, "s");
    EXPECT_EQ(errorNumber([&] { lamp.get("Secret"); }), RuntimeError::kMemberNotFound);
    EXPECT_EQ(errorNumber([&] { lamp.let("Dim", 1); }), RuntimeError::kMemberNotFound);

    // Indexed: the index first, the value last.
    lamp.let("Cell", "A1", 99);
    EXPECT_EQ(lamp.m_cell, 99);
    EXPECT_EQ(lamp.get("cell", "A1").toLong(), 99);
    EXPECT_EQ(lamp.get("Cell", "B1").toLong(), -1);
    EXPECT_EQ(errorNumber([&] { lamp.get("Cell"); }), 450);
}

TEST(Dispatch, ObjectArgumentsAreCheckedForTheirClass) {
    auto lamp = std::make_shared<Lamp>();
    auto other = std::make_shared<Lamp>();
    lamp->call("Attach", other);
    EXPECT_EQ(lamp->m_partner, other);
    lamp->call("Attach", nullptr);  // Nothing
    EXPECT_EQ(lamp->m_partner, nullptr);
    EXPECT_EQ(
        errorNumber([&] { lamp->call("Attach", std::make_shared<DispatchTestBareObject>()); }),
        RuntimeError::kTypeMismatch);
    EXPECT_EQ(errorNumber([&] { lamp->call("Attach", 1); }), RuntimeError::kObjectRequired);
}

TEST(Dispatch, TablesRejectMistakesAndJoinPropertyHalves) {
    struct Box : Dispatch {
        int32_t get() const { return value; }
        void set(int32_t v) { value = v; }
        void act(int32_t) {}
        int32_t value = 0;
        static MemberTable halves() {
            return MemberTable::of<Box>(
                {property("v", &Box::get), property("V", nullptr, &Box::set)});
        }
        static MemberTable twice() {
            return MemberTable::of<Box>({method("act", &Box::act), method("ACT", &Box::act)});
        }
        static MemberTable tooManyDefaults() {
            return MemberTable::of<Box>({method("act", &Box::act, {1, 2})});
        }
    };
    const MemberTable table = Box::halves();
    EXPECT_EQ(table.size(), 1u);
    Box box;
    std::vector<Variant> value{5};
    table.find("v")->assign(box, value);
    std::vector<Variant> none;
    EXPECT_EQ(table.find("V")->invoke(box, none).toLong(), 5);
    EXPECT_THROW(Box::twice(), std::logic_error);
    EXPECT_THROW(Box::tooManyDefaults(), std::logic_error);
}

// --- CreateObject ---

class CreateObjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedRegistry = Registry::instance().path();
        Registry::instance().setPath(std::filesystem::path(m_dir.path().toStdString()) /
                                     "registry.reg");
    }
    void TearDown() override { Registry::instance().setPath(m_savedRegistry); }

    QTemporaryDir m_dir;
    std::filesystem::path m_savedRegistry;
};

// Collects what an object of the program is told by the library.
class Host : public Dispatch {
public:
    void WriteLog(std::string type, std::string message) { log += type + ": " + message; }
    std::string log;

protected:
    const MemberTable& members() const override {
        static const MemberTable table =
            MemberTable::of<Host>({method("WriteLog", &Host::WriteLog)});
        return table;
    }
};

TEST_F(CreateObjectTest, ARegisteredClassIsCreatedAndCalledByName) {
    ASSERT_EQ(registerClass("BrindleTest.Greeter", CREATEOBJECT_TESTLIB), Registry::ERROR_SUCCESS);
    std::shared_ptr<Dispatch> greeter = CreateObject("brindletest.greeter");
    ASSERT_NE(greeter, nullptr);
    EXPECT_EQ(greeter->className(), "Greeter");
    EXPECT_EQ(greeter->call("greet", "Ann").toString(), "Hello, Ann!");
    greeter->let("GREETING", "Hi");
    EXPECT_EQ(greeter->call("Greet", "Bo", "?").toString(), "Hi, Bo?");

    // The library is loaded once: a second object is a fresh one of the same code.
    EXPECT_EQ(CreateObject("BrindleTest.Greeter")->get("Greeting").toString(), "Hello");

    // Faults and calls cross the library boundary in both directions.
    EXPECT_EQ(errorNumber([&] { greeter->call("Fail"); }), RuntimeError::kInvalidCall);
    EXPECT_EQ(errorNumber([&] { greeter->call("NoSuchMember"); }), RuntimeError::kMemberNotFound);
    auto host = std::make_shared<Host>();
    greeter->call("Tell", host, "ready");
    EXPECT_EQ(host->log, "Greeter: ready");
}

TEST_F(CreateObjectTest, ARelativeLibraryPathIsBelowTheProgramFolder) {
    const std::filesystem::path library(CREATEOBJECT_TESTLIB);
    const char* oldHome = std::getenv("BRINDLE_HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    setenv("BRINDLE_HOME", library.parent_path().parent_path().c_str(), 1);
    registerClass("BrindleTest.Greeter",
                  library.parent_path().filename().string() + "\\" + library.filename().string());
    std::shared_ptr<Dispatch> greeter;
    EXPECT_NO_THROW(greeter = CreateObject("BrindleTest.Greeter"));
    if (oldHome)
        setenv("BRINDLE_HOME", savedHome.c_str(), 1);
    else
        unsetenv("BRINDLE_HOME");
    ASSERT_NE(greeter, nullptr);
}

TEST_F(CreateObjectTest, WhatCannotBeCreatedRaises429WithTheProgId) {
    auto expect429 = [](const std::string& progId) {
        const RuntimeError e = errorOf([&] { CreateObject(progId); });
        EXPECT_EQ(e.number(), RuntimeError::kCannotCreateObject) << progId;
        EXPECT_EQ(e.description(), "ActiveX component can't create object");
        EXPECT_EQ(e.source(), progId);
    };
    expect429("Kestrel.hspi");  // not registered
    registerClass("BrindleTest.Gone",
                  (std::filesystem::path(m_dir.path().toStdString()) / "gone.so").string());
    expect429("BrindleTest.Gone");  // the library is missing
    registerClass("BrindleTest.Unknown", CREATEOBJECT_TESTLIB);
    expect429("BrindleTest.Unknown");  // the library does not make that class
}

TEST_F(CreateObjectTest, AnInProcessFactoryStandsInForALibrary) {
    auto made = std::make_shared<Host>();
    registerFactory("Kestrel.hspi", [made] { return made; });
    EXPECT_EQ(CreateObject("KESTREL.HSPI"), made);
    registerFactory("Kestrel.hspi", nullptr);
    EXPECT_EQ(errorNumber([] { CreateObject("Kestrel.hspi"); }), RuntimeError::kCannotCreateObject);
}

}  // namespace
