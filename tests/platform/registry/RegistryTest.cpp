#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QTemporaryDir>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "registry/Registry.h"
#include "support/FileText.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        out.push_back(text.substr(start, nl - start));
    return out;
}

class RegistryTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    fs::path file = fs::path(dir.path().toStdString()) / "Config" / "registry.reg";

    Registry::Value get(Registry& r, const char* key, const char* name) {
        Registry::Value v;
        EXPECT_EQ(r.queryValue(key, name, v), Registry::ERROR_SUCCESS) << key << " " << name;
        return v;
    }
};

constexpr const char* kKey = "HKEY_LOCAL_MACHINE\\Software\\Quillon";

TEST_F(RegistryTest, EveryTypeSurvivesTheFile) {
    std::string longBinary;
    for (int i = 0; i < 60; ++i) longBinary += static_cast<char>(i * 7);
    const std::string multi = "first\0second \xE9\0\0"s;
    {
        Registry r(file);
        ASSERT_EQ(r.setString(kKey, "Path", "C:\\Program Files\\\"x\" \xE9\x80"), 0);
        ASSERT_EQ(r.setString(kKey, "", "default"), 0);
        ASSERT_EQ(r.setValue(kKey, "Expand", Registry::REG_EXPAND_SZ, "%HOME%\\x\0"s), 0);
        ASSERT_EQ(r.setValue(kKey, "Multi", Registry::REG_MULTI_SZ, multi), 0);
        ASSERT_EQ(r.setDword(kKey, "Number", 0xFFFFFFD6u), 0);
        ASSERT_EQ(r.setValue(kKey, "Bin", Registry::REG_BINARY, longBinary), 0);
        ASSERT_EQ(r.setValue(kKey, "Empty", Registry::REG_BINARY, ""), 0);
        ASSERT_EQ(r.setValue(kKey, "Two\nLines", Registry::REG_SZ, "x\0"s),
                  Registry::ERROR_INVALID_PARAMETER);
        ASSERT_EQ(r.setValue(kKey, "Broken", Registry::REG_SZ, "a\r\nb\0"s), 0);
        ASSERT_EQ(r.setValue(kKey, "Qword", 0xB, "12345678"), 0);
    }
    const std::string text = readAll(file);
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n", 0), 0u);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Quillon]\n"), std::string::npos);
    // UTF-8 on disk; backslashes and quotes escaped.
    EXPECT_NE(text.find("\"Path\"=\"C:\\\\Program Files\\\\\\\"x\\\" \xC3\xA9\xE2\x82\xAC\""),
              std::string::npos);
    EXPECT_NE(text.find("@=\"default\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"Number\"=dword:ffffffd6\n"), std::string::npos);
    EXPECT_NE(text.find("\"Expand\"=hex(2):25,00,48,00,4f,00"), std::string::npos);
    EXPECT_NE(text.find("\"Empty\"=hex:\n"), std::string::npos);
    EXPECT_NE(text.find("\"Broken\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\n"), std::string::npos);
    EXPECT_NE(text.find("\"Qword\"=hex(b):31,32"), std::string::npos);
    // Long lists wrap as regedit wraps them: 23 bytes after the name, then 25.
    int binLines = 0;
    for (const std::string& line : lines(text)) {
        EXPECT_LE(line.size(), 80u) << line;
        if (line.rfind("\"Bin\"=hex:", 0) == 0) {
            EXPECT_EQ(line.size(), 80u);
            binLines = 1;
        } else if (binLines > 0 && line.rfind("  ", 0) == 0) {
            ++binLines;
        }
    }
    EXPECT_EQ(binLines, 3);

    Registry again(file);
    EXPECT_EQ(get(again, kKey, "Path").data, "C:\\Program Files\\\"x\" \xE9\x80\0"s);
    EXPECT_EQ(get(again, kKey, "").data, "default\0"s);
    EXPECT_EQ(get(again, kKey, "Expand").type, Registry::REG_EXPAND_SZ);
    EXPECT_EQ(get(again, kKey, "Expand").data, "%HOME%\\x\0"s);
    EXPECT_EQ(get(again, kKey, "Multi").type, Registry::REG_MULTI_SZ);
    EXPECT_EQ(get(again, kKey, "Multi").data, multi);
    EXPECT_EQ(again.queryDword(kKey, "Number"), 0xFFFFFFD6u);
    EXPECT_EQ(get(again, kKey, "Bin").data, longBinary);
    EXPECT_EQ(get(again, kKey, "Empty").data, "");
    EXPECT_EQ(get(again, kKey, "Broken").data, "a\r\nb\0"s);
    EXPECT_EQ(get(again, kKey, "Qword").type, 0xBu);
    EXPECT_TRUE(again.skippedLines().empty());
    EXPECT_EQ(again.text(), text);
}

TEST_F(RegistryTest, NamesIgnoreCaseKeepTheirFirstSpellingAndEnumerateInOrder) {
    Registry r(file);
    ASSERT_EQ(r.createKey("HKLM\\Software\\Quillon\\Custom"), 0);
    ASSERT_EQ(r.setString("hkey_local_machine\\SOFTWARE\\quillon", "Remap A", "B"), 0);
    ASSERT_EQ(r.setString(kKey, "zeta", "1"), 0);
    ASSERT_EQ(r.setString(kKey, "REMAP a", "C"), 0);
    ASSERT_EQ(r.createKey("HKLM\\Software\\Quillon\\alpha"), 0);
    ASSERT_EQ(r.createKey("HKLM\\Software\\Quillon\\Beta"), 0);

    std::vector<std::string> names;
    ASSERT_EQ(r.enumValues(kKey, names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"Remap A", "zeta"}));
    EXPECT_EQ(r.queryString(kKey, "remap a"), "C");
    ASSERT_EQ(r.enumKeys("HKLM\\Software\\QUILLON", names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Beta", "Custom"}));
    EXPECT_NE(readAll(file).find("[HKEY_LOCAL_MACHINE\\Software\\Quillon\\Custom]"),
              std::string::npos);

    Registry::Value v;
    EXPECT_EQ(r.queryValue(kKey, "missing", v), Registry::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(r.queryValue("HKLM\\Nowhere", "x", v), Registry::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(r.queryValue("HKEY_NOWHERE\\x", "x", v), Registry::ERROR_INVALID_HANDLE);
    EXPECT_EQ(r.deleteValue(kKey, "missing"), Registry::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(r.deleteKey("HKLM"), Registry::ERROR_ACCESS_DENIED);
    EXPECT_EQ(r.deleteKey("HKLM\\Software\\quillon"), 0);
    EXPECT_FALSE(r.keyExists("HKLM\\Software\\Quillon\\Custom"));
    EXPECT_TRUE(r.keyExists("HKLM\\Software"));
    EXPECT_EQ(r.deleteKey(kKey), Registry::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Registry(file).text(),
              "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software]\n\n");
}

TEST_F(RegistryTest, ReadsAHandEditedFile) {
    fs::create_directories(file.parent_path());
    writeAll(file,
             "Windows Registry Editor Version 5.00\r\n\r\n"
             "; settings written by hand\r\n"
             "  [ HKEY_LOCAL_MACHINE\\Software\\Quillon ]  \r\n"
             "  \"A\" = \"x\"  \r\n"
             "\"Dir\"=\"C:\\Temp\\new\"\r\n"
             "\"B\"=DWORD: 2A\r\n"
             "\"C\"=hex: 01, 02 ,\\\r\n"
             "      03,\\\r\n"
             "  04\r\n"
             "@=\"caf\xC3\xA9\"\r\n"
             "\"Latin\"=\"caf\xE9\"\r\n"
             "[HKEY_CLASSES_ROOT\\Kestrel.hspi\\InprocServer32]\r\n"
             "@=\"libkestrel.so\"\r\n");
    Registry r(file);
    EXPECT_EQ(r.queryString(kKey, "A"), "x");
    EXPECT_EQ(r.queryString(kKey, "Dir"), "C:\\Temp\\new");  // lone backslashes are kept
    EXPECT_EQ(r.queryDword(kKey, "B"), 42u);
    EXPECT_EQ(get(r, kKey, "C").data, "\x01\x02\x03\x04");
    EXPECT_EQ(r.queryString(kKey, ""), "caf\xE9");
    EXPECT_EQ(r.queryString(kKey, "Latin"), "caf\xE9");
    EXPECT_EQ(r.queryString("HKCR\\Kestrel.hspi\\InprocServer32", ""), "libkestrel.so");
    EXPECT_TRUE(r.skippedLines().empty());
}

TEST_F(RegistryTest, ReadsARegeditUnicodeExportWithDeletions) {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Old]\r\n\"x\"=\"1\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Old\\Child]\r\n\r\n"
        "[HKEY_CURRENT_USER\\Keep]\r\n\"gone\"=\"1\"\r\n\"stay\"=\"\xE9\"\r\n@=\"d\"\r\n\r\n"
        "[-HKEY_CURRENT_USER\\Old]\r\n"
        "[-HKEY_CURRENT_USER\\NeverThere]\r\n"
        "[HKEY_CURRENT_USER\\Keep]\r\n\"gone\"=-\r\n@=-\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : text) utf16 += {c, '\0'};
    fs::create_directories(file.parent_path());
    writeAll(file, utf16);
    Registry r(file);
    EXPECT_FALSE(r.keyExists("HKCU\\Old"));
    EXPECT_FALSE(r.keyExists("HKCU\\Old\\Child"));
    std::vector<std::string> names;
    ASSERT_EQ(r.enumValues("HKCU\\Keep", names), 0);
    EXPECT_EQ(names, std::vector<std::string>{"stay"});
    EXPECT_EQ(r.queryString("HKCU\\Keep", "stay"), "\xE9");
    EXPECT_TRUE(r.skippedLines().empty());
}

TEST_F(RegistryTest, ABadLineLosesOnlyItselfAndTheOriginalIsBackedUp) {
    const std::string original =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Quillon]\n"
        "\"A\"=\"1\"\n"
        "\"B\"=dword:xyz\n"
        "garbage\n"
        "\"C\"=\"unterminated\n"
        "\"D\"=\n"
        "\"E\"=hex:01,zz\n"
        "\"F\"=dword:00000002\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Other\n"
        "\"Stray\"=\"1\"\n"
        "[HKEY_NOWHERE\\X]\n"
        "\"Lost\"=\"1\"\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Quillon]\n"
        "\"G\"=\"3\"\n";
    fs::create_directories(file.parent_path());
    writeAll(file, original);
    Registry r(file);
    std::vector<std::string> names;
    ASSERT_EQ(r.enumValues(kKey, names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "F", "G"}));
    EXPECT_FALSE(r.keyExists("HKLM\\Software\\Other"));
    ASSERT_EQ(r.skippedLines().size(), 9u);
    EXPECT_EQ(r.skippedLines().front(), "line 5: \"B\"=dword:xyz");

    ASSERT_EQ(r.setString(kKey, "H", "4"), 0);
    EXPECT_EQ(readAll(fs::path(file.string() + ".bak")), original);
    Registry again(file);
    EXPECT_EQ(again.queryString(kKey, "A"), "1");
    EXPECT_EQ(again.queryString(kKey, "H"), "4");
}

TEST_F(RegistryTest, AFailedSaveKeepsTheOldFileAndIsRetried) {
    Registry r(file);
    ASSERT_EQ(r.setString(kKey, "A", "old"), 0);
    const std::string before = readAll(file);

    // A file size limit makes the temporary file's write fail, whoever runs the test.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = saved;
    tiny.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &tiny);
    const long result = r.setString(kKey, "A", "new");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, Registry::ERROR_REGISTRY_IO_FAILED);
    EXPECT_FALSE(r.lastError().empty());
    EXPECT_EQ(readAll(file), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), {}), 1);
    EXPECT_EQ(r.queryString(kKey, "A"), "new");  // kept in memory, not reloaded over
    EXPECT_EQ(r.flush(), 0);
    EXPECT_EQ(Registry(file).queryString(kKey, "A"), "new");
}

TEST_F(RegistryTest, BatchesSaveOnceAndChangesByOthersAreSeen) {
    Registry r(file);
    {
        Registry::Batch outer(r);
        {
            Registry::Batch inner(r);
            ASSERT_EQ(r.setString(kKey, "A", "1"), 0);
        }
        ASSERT_EQ(r.setString(kKey, "B", "2"), 0);
        EXPECT_FALSE(fs::exists(file));
        EXPECT_EQ(outer.commit(), 0);
    }
    EXPECT_EQ(Registry(file).queryString(kKey, "B"), "2");

    writeAll(file, "Windows Registry Editor Version 5.00\n\n[" + std::string(kKey) +
                       "]\n\"A\"=\"edited by hand\"\n");
    EXPECT_EQ(r.queryString(kKey, "A"), "edited by hand");
    EXPECT_FALSE(r.queryString(kKey, "B"));

    // The program and the plug-in library each hold a registry on the one file.
    Registry other(file);
    ASSERT_EQ(other.setString(kKey, "A", "edited by hand"), 0);
    ASSERT_EQ(other.setString(kKey, "C", "from the other"), 0);
    EXPECT_EQ(r.queryString(kKey, "C"), "from the other");
}

// A process killed in the middle of saving leaves the old or the new file,
// never a mix: a child saves two alternating versions as fast as it can and is
// killed at varying moments; every time, the file reads back whole.
TEST_F(RegistryTest, AKillDuringSaveLeavesOldOrNewContents) {
    const std::string small = "short";
    const std::string large(20000, 'x');
    {
        Registry r(file);
        ASSERT_EQ(r.setString(kKey, "v", small), Registry::ERROR_SUCCESS);
    }
    for (int round = 0; round < 12; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Registry r(file);
            for (int i = 0;; ++i) r.setString(kKey, "v", i % 2 == 0 ? large : small);
        }
        ::usleep(static_cast<useconds_t>(2000 + round * 1500));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);

        Registry reader(file);
        Registry::Value v = get(reader, kKey, "v");
        const std::string text = v.data.substr(0, v.data.find('\0'));
        EXPECT_TRUE(text == small || text == large) << "round " << round << ": " << text.size();
        EXPECT_TRUE(reader.skippedLines().empty());
    }
}

}  // namespace
