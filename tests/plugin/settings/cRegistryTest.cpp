#include <gtest/gtest.h>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>

#include "base/RuntimeError.h"
#include "registry/Registry.h"
#include "settings/cRegistry.h"
#include "support/RaisedError.h"

namespace fs = std::filesystem;
using namespace std::string_literals;
using Bytes = std::vector<uint8_t>;

namespace {

// The type and the text of a value, so one comparison checks both.
std::string shown(const Variant& v) {
    return v.typeName() + ":" + v.toString();
}

class cRegistryTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Registry registry{fs::path(dir.path().toStdString()) / "registry.reg"};
    cRegistry reg{registry};

    void SetUp() override {
        reg.ClassKey(Registry::HKEY_LOCAL_MACHINE);
        reg.SectionKey("SYSTEM\\CurrentControlSet\\Services\\X10UIF\\Enum");
    }
    std::string write(const char* name, uint32_t type, const Variant& value) {
        reg.ValueKey(name);
        reg.ValueType(type);
        reg.Value(value);
        return shown(reg.Value());
    }
};

TEST_F(cRegistryTest, ValuesReadBackByTheTypeTheyAreStoredWith) {
    EXPECT_FALSE(reg.KeyExists());
    reg.ValueKey("0");
    reg.Default("none");
    EXPECT_EQ(shown(reg.Value()), "String:none");  // missing key

    EXPECT_EQ(write("0", Registry::REG_SZ, "USB\\Vid_0bc7&Pid_0002\\6&1"),
              "String:USB\\Vid_0bc7&Pid_0002\\6&1");
    EXPECT_TRUE(reg.KeyExists());
    EXPECT_EQ(write("flag", Registry::REG_SZ, true), "String:True");
    EXPECT_EQ(write("n", Registry::REG_SZ, -5), "String:-5");
    EXPECT_EQ(write("d", Registry::REG_DWORD, true), "Long:-1");
    EXPECT_EQ(write("d", Registry::REG_DWORD, 2.5), "Long:2");
    EXPECT_EQ(write("d", Registry::REG_DWORD, " 42 "), "Long:42");
    reg.ValueKey("b");
    reg.ValueType(Registry::REG_BINARY);
    reg.Value(Bytes{1, 0, 2});
    EXPECT_EQ(reg.Value().toBytes(), (Bytes{1, 0, 2}));
    EXPECT_EQ(write("m", Registry::REG_MULTI_SZ, "a\0b\0"s), "String:"s + "a\0b\0"s);
    setenv("KESTREL_REG_TEST", "/opt/x", 1);
    EXPECT_EQ(write("e", Registry::REG_EXPAND_SZ, "%KESTREL_REG_TEST%/lib 100% %NOPE_X%"),
              "String:/opt/x/lib 100% %NOPE_X%");
    // The stored type decides, not ValueType.
    reg.ValueKey("d");
    reg.ValueType(Registry::REG_SZ);
    EXPECT_EQ(shown(reg.Value()), "Long:42");

    reg.ValueType(Registry::REG_DWORD);
    EXPECT_EQ(errorNumber([&] { reg.Value("soon"); }), RuntimeError::kTypeMismatch);
    EXPECT_EQ(shown(reg.Value()), "Long:42");
    reg.ClassKey(0x80000099u);
    EXPECT_EQ(shown(reg.Value()), "String:none");
    EXPECT_FALSE(reg.KeyExists());
    EXPECT_FALSE(reg.CreateKey());
}

TEST_F(cRegistryTest, EnumeratesAndDeletesKeysAndValues) {
    write("b", Registry::REG_SZ, "1");
    write("a", Registry::REG_SZ, "2");
    std::vector<std::string> names{"stale"};
    int32_t count = -1;
    EXPECT_TRUE(reg.EnumerateValues(names, count));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(names, (std::vector<std::string>{"b", "a"}));

    reg.SectionKey("SYSTEM\\CurrentControlSet\\Services");
    EXPECT_TRUE(reg.EnumerateSections(names, count));
    EXPECT_EQ(names, std::vector<std::string>{"X10UIF"});
    EXPECT_TRUE(reg.EnumerateValues(names, count));
    EXPECT_EQ(count, 0);

    reg.SectionKey("SYSTEM\\CurrentControlSet\\Services\\X10UIF\\Enum");
    reg.ValueKey("b");
    EXPECT_TRUE(reg.DeleteValue());
    EXPECT_FALSE(reg.DeleteValue());
    reg.SectionKey("SYSTEM\\CurrentControlSet\\Services\\X10UIF");
    EXPECT_TRUE(reg.DeleteKey());
    EXPECT_FALSE(reg.DeleteKey());
    reg.SectionKey("SYSTEM\\CurrentControlSet\\Services\\X10UIF\\Enum");
    EXPECT_FALSE(reg.EnumerateValues(names, count));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(names.empty());
}

}  // namespace
