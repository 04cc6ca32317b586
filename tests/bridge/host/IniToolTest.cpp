#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <string>
#include <vector>

#include "base/RuntimeError.h"
#include "host/Application.h"
#include "host/IniTool.h"
#include "support/EventLog.h"
#include "support/FileText.h"
#include "support/TempHome.h"
#include "xap/xapGlobal.h"

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

class IniToolTest : public ::testing::Test {
protected:
    void SetUp() override { xapGlobal::reset(); }
    void TearDown() override {
        Application::release();
        xapGlobal::reset();
    }
    IniTool loaded(const std::string& text) {
        writeAll(m_file, text);
        IniTool t;
        t.Load(m_file);
        return t;
    }

    QTemporaryDir m_temp;
    fs::path m_dir = m_temp.path().toStdString();
    std::string m_file = (m_dir / "test.ini").string();
};

TEST_F(IniToolTest, LoadKeepsFirstDuplicateRawSidesAndStripsCr) {
    const IniTool t = loaded(
        "top=0\r\n; comment=x\r\n\r\n  [General]  \r\na=1\r\na=2\r\n"
        "key = value \r\nempty=\r\nurl=http://h/?x=y\r\n[GENERAL]\r\nb=3");
    EXPECT_EQ(t.Read("", "top", "d"), "0");
    EXPECT_EQ(t.Read("general", "A", "d"), "1");
    EXPECT_EQ(t.Read("General", "key ", "d"), " value");
    EXPECT_EQ(t.Read("General", "key", "d"), "d");
    EXPECT_EQ(t.Read("General", "empty", "d"), "d");
    EXPECT_EQ(t.Read("General", "url", "d"), "http://h/?x=y");
    EXPECT_EQ(t.Read("General", "b", "d"), "3");
    EXPECT_EQ(t.Read("", "; comment", "none"), "none");
    EXPECT_EQ(t.Keys("GENERAL"), (Names{"a", "key ", "empty", "url", "b"}));
    EXPECT_EQ(t.Headers(), Names{"General"});
}

TEST_F(IniToolTest, LineWithoutEqualSignReportedOnlyWithHost) {
    loaded("[S]\njunk line\nk=v\n");
    EXPECT_TRUE(loggedTexts("IniTool").empty());
    Application::create();
    const IniTool t = loaded("[S]\n  junk line \nk=v\n");
    EXPECT_EQ(loggedTexts("IniTool"), Names{" Equal sign not found on line junk line"});
    EXPECT_EQ(t.Read("S", "k", ""), "v");
}

TEST_F(IniToolTest, ListingsAndRemoval) {
    IniTool t;
    EXPECT_EQ(t.Headers(), Names{""});
    t.WriteKey("Plugins", "x", "1");
    t.WriteKey("plugins", "Y", "2");
    t.WriteKey("Empty", "z", "3");
    t.RemoveSection("EMPTY");
    EXPECT_EQ(t.Headers(), (Names{"Plugins", "Empty"}));
    EXPECT_EQ(t.Keys("Empty"), Names{""});
    EXPECT_EQ(t.Keys("PLUGINS"), (Names{"x", "Y"}));
    t.RemoveKey("Plugins", "X");
    EXPECT_EQ(t.Keys("Plugins"), Names{"Y"});
    t.Clear();
    EXPECT_EQ(t.Headers(), Names{""});
}

TEST_F(IniToolTest, KeysTreatsSectionNameAsPattern) {
    IniTool t = loaded("[a[]\nk=1\n[General]\ng=1\n[\xC9t\xE9]\ne=1\n[Gen]\nh=1\n");
    EXPECT_EQ(t.Keys("a["), Names{""});  // not a valid pattern: no keys, no crash
    EXPECT_EQ(t.Read("a[", "k", ""), "1");
    EXPECT_EQ(t.Keys("Gen.*"), (Names{"g", "h"}));
    EXPECT_EQ(t.Keys("GEN"), Names{"h"});
    EXPECT_EQ(t.Keys("\xE9T\xC9"), Names{"e"});  // Windows-1252 letters fold too
    EXPECT_EQ(t.Keys("(a)\\1"), Names{""});

    // Patterns that make a backtracking matcher take exponential time or
    // recurse once per character must still answer promptly.
    t.WriteKey(std::string(40, 'a'), "x", "1");
    t.WriteKey("L", std::string(20000, 'k'), "1");
    EXPECT_EQ(t.Keys("(a*)*b"), Names{""});
    EXPECT_EQ(t.Keys(".*").size(), 6u);
}

// Counts and back-reference numbers beyond what the regex compiler can hold
// once overflowed inside it; they now list nothing, as any invalid pattern
// does, while the same digits as plain characters still match.
TEST_F(IniToolTest, PatternsTooLargeToBuildListNoKeys) {
    const std::string huge = "99999999999999999999";
    IniTool t;
    for (const std::string& file : {"[W{" + huge + "}]\nl=", "[W{2," + huge + "}]\nl="}) {
        t.LoadText(file);
        EXPECT_EQ(t.Keys(t.Headers().front()), Names{""}) << file;
    }
    t.LoadText("[(a)\\1144444444444444444444444]\nl=\n[WW]\nk=1\n[S{" + huge + "}]\nn=1\n");
    EXPECT_EQ(t.Keys(t.Headers().front()), Names{""});
    EXPECT_EQ(t.Keys("W{2}"), Names{"k"});
    EXPECT_EQ(t.Keys("W{1,3}"), Names{"k"});
    // Repeats that write the pattern out beyond a thousand steps, however
    // nested, are refused as well: building and running them is what costs.
    for (const char* big : {"W{1001}", "(W{30}){40}", "(W{30})*{40}", "((W|S){9}){9}{9}"})
        EXPECT_EQ(t.Keys(big), Names{""}) << big;
    EXPECT_EQ(t.Keys("(W{1}){2}"), Names{"k"});
    // Groups nested a hundred thousand deep, closed or not, or long sequences around
    // nested groups, would overflow the compiler's stack.
    for (const std::string& deep :
         {std::string(100000, '(') + "W" + std::string(100000, ')'), std::string(100000, '('),
          "(" + std::string(900, 'W') + "(" + std::string(900, 'W') + "))"})
        EXPECT_EQ(t.Keys(deep), Names{""});
    EXPECT_EQ(t.Keys(std::string(60, '(') + "W+" + std::string(60, ')')), Names{"k"});
    EXPECT_EQ(t.Keys("S\\{" + huge + "\\}"), Names{"n"});
    EXPECT_EQ(t.Keys("S[{" + huge + "}]+"), Names{"n"});
    EXPECT_EQ(t.Keys("S[[:punct:]{]\\d+}"), Names{"n"});
}

TEST_F(IniToolTest, SaveSortsUpperCasesAndBacksUp) {
    IniTool t = loaded(
        "; lost\nnoSection=1\n[Zeta]\nb=2\nB2=x\n[General]\nzz=1\nA=2\n_u=3\n[plugins]\nk=v\n");
    t.WriteKey("General", "a2", "4");
    t.Save();
    EXPECT_EQ(readAll(m_file),
              "noSection=1\n[GENERAL]\n_u=3\nA=2\na2=4\nzz=1\n[PLUGINS]\nk=v\n[ZETA]\nb=2\nB2=x\n");
    EXPECT_EQ(readAll(m_file + "_bck").substr(0, 6), "; lost");

    IniTool back;
    back.Load(m_file);
    EXPECT_EQ(back.Keys("general"), (Names{"_u", "A", "a2", "zz"}));
    EXPECT_EQ(back.Read("", "noSection", ""), "1");
}

TEST_F(IniToolTest, KeylessStoreSavesEmptyFileAndKeepsOldInBackup) {
    IniTool t = loaded("[General]\na=1\n");
    t.RemoveSection("General");
    t.Save();
    EXPECT_EQ(readAll(m_file), "");
    EXPECT_EQ(readAll(m_file + "_bck"), "[General]\na=1\n");
}

TEST_F(IniToolTest, FailedSaveLeavesFileAndReportsEverywhere) {
    TempHome home;
    Application::create();
    const std::string old = "[S]\nk=v\n";

    IniTool backupBlocked = loaded(old);
    backupBlocked.WriteKey("S", "n", "new");
    fs::create_directory(m_file + "_bck");
    backupBlocked.Save();
    EXPECT_EQ(readAll(m_file), old);

    IniTool intoFolder;
    intoFolder.Load(m_dir.string());
    intoFolder.WriteKey("S", "k", "v");
    intoFolder.Save();
    EXPECT_TRUE(fs::is_directory(m_dir));

    ASSERT_EQ(loggedTexts("brindlehub").size(), 2u);
    EXPECT_EQ(loggedTexts("brindlehub")[0].rfind("IniTool Save " + m_file, 0), 0u);
    // The error log hears of it too, which still works once the transport is gone.
    Application::release();
    backupBlocked.Save();
    const std::string log = home.read("Data/brindlehub.txt");
    EXPECT_NE(log.find("IniTool Save " + m_file + " failed"), std::string::npos) << log;
    EXPECT_NE(log.find("IniTool Save " + m_dir.string() + " failed"), std::string::npos);
}

TEST_F(IniToolTest, OneOddNameDoesNotCostTheRestOfTheSave) {
    TempHome home;
    IniTool t = loaded("[S]\nk=v\n[" + std::string(120, 's') + "]\nx=1\n");
    t.WriteKey("S", std::string(66, 'k'), "long");
    t.WriteKey("S", "n", "new");
    t.Save();
    IniTool back;
    back.Load(m_file);
    EXPECT_EQ(back.Read("S", "n", ""), "new");
    EXPECT_EQ(back.Read("S", std::string(66, 'k'), ""), "long");
    EXPECT_EQ(back.Read(std::string(120, 's'), "x", ""), "1");
    EXPECT_NE(home.read("Data/brindlehub.txt").find("long name kept"), std::string::npos);
}

TEST_F(IniToolTest, WrittenTextsCannotRewriteTheFile) {
    TempHome home;
    IniTool t = loaded("[Devices]\nA1=lamp\nA2=fan\n");
    t.WriteKey("Devices", "A1", "x\n[Devices]\nA2=hijacked\r");
    for (const std::string& key : {std::string("[x"), std::string("; note"), std::string("a=b")}) {
        try {
            t.WriteKey("Devices", key, key == "[x" ? "y]" : "v");
            ADD_FAILURE() << "accepted " << key;
        } catch (const RuntimeError&) {
        }
    }
    t.WriteKey("Dev\nices", "A3", "ok");
    t.Save();
    IniTool back;
    back.Load(m_file);
    EXPECT_EQ(back.Read("Devices", "A1", ""), "x [Devices] A2=hijacked");  // trailing blank trimmed
    EXPECT_EQ(back.Read("Devices", "A2", ""), "fan");
    EXPECT_EQ(back.Read("Dev ices", "A3", ""), "ok");
    EXPECT_EQ(back.Keys("Devices"), (Names{"A1", "A2"}));
    const std::string log = home.read("Data/brindlehub.txt");
    EXPECT_NE(log.find("WriteKey refused key [x"), std::string::npos) << log;
    EXPECT_NE(log.find("WriteKey refused key a=b"), std::string::npos);
}

TEST_F(IniToolTest, AByteOrderMarkDoesNotHideTheFirstSection) {
    IniTool t = loaded("\xEF\xBB\xBF[Devices]\r\nA1=lamp\r\n");
    EXPECT_EQ(t.Read("Devices", "A1", ""), "lamp");
    EXPECT_EQ(t.Headers(), (Names{"Devices"}));
}

TEST_F(IniToolTest, MissingFileLoadsEmptyAndClearsPreviousContents) {
    IniTool t = loaded("[S]\nk=v\n");
    t.Load((m_dir / "absent.ini").string());
    EXPECT_EQ(t.path(), (m_dir / "absent.ini").string());
    EXPECT_EQ(t.Read("S", "k", "d"), "d");
}

}  // namespace
