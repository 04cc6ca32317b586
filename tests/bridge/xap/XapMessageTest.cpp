#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "base/Err.h"
#include "base/RuntimeError.h"
#include "support/RaisedError.h"
#include "support/TempHome.h"
#include "xap/ErrorLogFile.h"
#include "xap/XapLog.h"
#include "xap/XapMessage.h"

namespace {

using Names = std::vector<std::string>;

const std::string kHeader =
    "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=xAPBSC.cmd\n"
    "source=acme.switch.den\ntarget = qix.CM19A.host:A1 \n}\n";

// A program folder of its own, so the error-log lines a test causes can be read back.
class XapMessageTest : public ::testing::Test {
protected:
    void SetUp() override { Err::Clear(); }
    std::vector<std::string> errorLog() const {
        std::ifstream in(m_home.path() + "/Data/brindlehub.txt");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    static XapMessage parsed(const std::string& text) {
        XapMessage m;
        m.Init("");
        m.Reset();
        m.FromXap(text);
        return m;
    }

    TempHome m_home;
};

TEST_F(XapMessageTest, BuildsHeaderAndBlocksExactly) {
    XapMessage m;
    m.MsgClass = "xAP-X10.event";
    m.msgSource = "qix.CM19A.host:A3";
    m.MsgUID = "FF008700";
    m.AddHeader();
    m.AddSection("xAP-X10.event");
    m.AddItem("ignored", "device", "A3");
    m.AddItem("", " event ", "on=1");
    m.AddSection("second");
    const std::string head =
        "xap-header\n{\nv=12\nhop=1\nuid=FF008700\nclass=xAP-X10.event\n"
        "source=qix.CM19A.host:A3\n";
    EXPECT_EQ(m.ToXap(), head +
                             "target=Unknown\n}\n"
                             "xAP-X10.event\n{\ndevice=A3\n event =on=1\n}\nsecond\n{\n}\n");

    // Init starts a new text but keeps the fields; an empty target writes no line.
    m.Init("");
    m.MsgTarget = "";
    m.AddHeader();
    EXPECT_EQ(m.ToXap(), head + "}\n}\n");

    // AddHeader forgets an open block, so the next section is not preceded by "}".
    m.Init("");
    m.AddSection("a");
    m.AddHeader();
    m.AddSection("b");
    EXPECT_EQ(m.ToXap(), "a\n{\n" + head + "}\nb\n{\n}\n");
}

TEST_F(XapMessageTest, ParsesHeaderTrimmedAndItemsUntrimmedIgnoringCase) {
    const XapMessage m = parsed(kHeader +
                                "Output.State\n{\nSTATE = on \nText=a=b\nnoequals\n}\n"
                                "second\n{\n=empty key\n}\n");
    EXPECT_EQ(m.MsgUID + m.MsgClass + m.msgSource, "FF123400xAPBSC.cmdacme.switch.den");
    EXPECT_EQ(m.MsgTarget, "qix.CM19A.host:A1");
    EXPECT_EQ(m.GetItem("output.state", "state"), " on ");
    EXPECT_EQ(m.GetItem("OUTPUT.STATE", "text"), "a=b");
    EXPECT_EQ(m.GetItem("second", ""), "empty key");
    EXPECT_EQ(m.GetItem("output.state", "noequals"), "Unknown");
    EXPECT_EQ(m.GetItem("missing", "state"), "Unknown");
    EXPECT_EQ(m.MsgSection(), (Names{"output.state", "second"}));
    EXPECT_EQ(*m.msgCollection(0).find("state"), "STATE = on ");
    EXPECT_EQ(m.msgCollection(2).Count(), 0u);  // the nameless block after the last "}"
    EXPECT_EQ(errorNumber([&] { m.msgCollection(3); }), 9);
    EXPECT_TRUE(errorLog().empty());
}

TEST_F(XapMessageTest, HalfUnderstandsOrIgnoresOddTexts) {
    std::string crlf = kHeader + "blk\n{\nk=v\n}\n";
    for (size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2))
        crlf.insert(at, "\r");
    const XapMessage m = parsed(crlf);
    EXPECT_EQ(m.MsgClass, "xAPBSC.cmd\r");
    EXPECT_EQ(m.GetItem("blk", "k"), "Unknown");
    EXPECT_EQ(m.MsgSection(), Names{""});

    for (const std::string& text : {std::string(), std::string("xap-hbeat\n{\nclass=x\n}\n")}) {
        const XapMessage h = parsed(text);
        EXPECT_EQ(h.MsgClass, "Unknown");
        EXPECT_EQ(h.MsgSection(), Names{""});
        EXPECT_TRUE(h.CompareTarget("Unknown"));
    }

    const XapMessage nul = parsed(kHeader + std::string("b\0x\n{\nk=\0v\n}\n", 14));
    EXPECT_EQ(nul.GetItem(std::string("B\0X", 3), "k"), std::string("\0v", 2));

    // 64 KiB of line breaks, braces, "=", NUL, CR and random bytes.
    std::string noise = "XAP-HEADER\n{\n";
    for (unsigned seed = 7; noise.size() < 64 * 1024;) {
        seed = seed * 1103515245u + 12345u;
        const char pick[] = {'\n', '}', '{', '=', '\0', '\r', 'a', static_cast<char>(seed >> 24)};
        noise += pick[(seed >> 16) % 8];
    }
    const XapMessage big = parsed(noise);
    for (const std::string& name : big.MsgSection()) big.GetItem(name, "a");
    EXPECT_LE(errorLog().size(), 1u);
}

TEST_F(XapMessageTest, FaultEndsParseKeepsWhatWasReadAndLogsOnce) {
    struct Case {
        std::string text, oneK;  // oneK: item k of block one after the parse
        Names sections;
        std::string logged;
    };
    const std::string one = "one\n{\nk=1\n}\n";
    const std::string dup = "This key is already associated", end = "Subscript out of range";
    // MsgSection drops the last registered name even when the fault came before
    // the trailing nameless block.
    for (const Case& c : std::vector<Case>{
             {kHeader + one + "ONE\n{\nk=2\n}\n", "1", {""}, dup},
             {kHeader + "one\n{\nk=1\n K =2\nz=3\n}\n", "1", {""}, dup},
             {kHeader + one + "two\n{\nk=2\n}", "1", {"one"}, end},
             {"xap-header\n{\nclass=c\n}", "Unknown", {""}, end},
         }) {
        SCOPED_TRACE(c.text);
        // The log collapses repeats of a line; a flush forgets what it saw,
        // so each case's fault is written.
        ErrorLogFile::instance().flush();
        const size_t before = errorLog().size();
        const XapMessage m = parsed(c.text);
        EXPECT_EQ(m.MsgSection(), c.sections);
        EXPECT_EQ(m.GetItem("one", "k"), c.oneK);
        EXPECT_EQ(m.GetItem("one", "z"), "Unknown");
        EXPECT_NE(m.MsgClass, "Unknown");
        const auto log = errorLog();
        ASSERT_EQ(log.size(), before + 1);
        EXPECT_EQ(log.back().rfind("From XAP  0 " + c.logged, 0), 0u) << log.back();
        EXPECT_FALSE(Err::pending());
    }
}

// Enough blocks and items that names are found by hash rather than by a scan,
// with the code page's own case folding: E-acute in upper (0xC9) and lower case
// (0xE9) is one letter, the multiplication (0xD7) and division (0xF7) signs are not.
TEST_F(XapMessageTest, FindsAndRejectsNamesAlikeInLargeMessages) {
    const std::string upperE = "Blk\xC9", lowerE = "blk\xE9", times = "\xD7", divide = "\xF7";
    std::string text = "XAP-Header\n{\nCLASS = big \n}\n";
    for (int b = 0; b < 40; ++b) {
        text += upperE + std::to_string(b) + "\n{\n";
        for (int i = 0; i < 20; ++i)
            text += " Key" + std::to_string(i) + " =" + std::to_string(b * 100 + i) + "\n";
        text += times + "=times\n}\n";
    }
    const XapMessage m = parsed(text);
    EXPECT_EQ(m.MsgClass, "big");
    ASSERT_EQ(m.MsgSection().size(), 40u);
    EXPECT_EQ(m.MsgSection()[39], lowerE + "39");
    for (int b = 0; b < 40; b += 13)
        for (int i = 0; i < 20; i += 7)
            EXPECT_EQ(m.GetItem("BLK\xE9" + std::to_string(b), "kEY" + std::to_string(i)),
                      std::to_string(b * 100 + i));
    EXPECT_EQ(m.GetItem(upperE + "1", times), "times");
    EXPECT_EQ(m.GetItem(upperE + "1", divide), "Unknown");
    EXPECT_EQ(m.GetItem(upperE + "40", "key1"), "Unknown");
    EXPECT_EQ(*m.msgCollection(39).find("KEY19"), " Key19 =3919");
    EXPECT_TRUE(errorLog().empty());

    // A repeat far into a block, and a block name repeated in other case.
    std::string last = "last\n{\n";
    for (int i = 0; i < 20; ++i) last += "key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    const XapMessage dupKey = parsed(text + last + "KEY3=again\nkey20=x\n}\n");
    EXPECT_EQ(dupKey.GetItem("last", "key3"), "3");
    EXPECT_EQ(dupKey.GetItem("last", "key20"), "Unknown");
    EXPECT_EQ(errorLog().size(), 1u);
    const XapMessage dupBlock = parsed(text + "BLK\xE9" + "7\n{\nkey1=x\n}\n");
    EXPECT_EQ(dupBlock.MsgSection().size(), 39u);  // the last name is dropped, as always
    EXPECT_EQ(dupBlock.GetItem(lowerE + "7", "key1"), "701");
}

// A second text parsed into the same message adds to it; what the first one
// gave stays readable.
TEST_F(XapMessageTest, SecondParseKeepsTheFirstTextsItems) {
    XapMessage m;
    m.FromXap(kHeader + "one\n{\nk=1\n}");
    m.FromXap(std::string(kHeader).replace(kHeader.find("xAPBSC.cmd"), 10, "other") +
              "two\n{\nk=2\n}\n");
    EXPECT_EQ(m.MsgClass, "other");
    EXPECT_EQ(m.GetItem("one", "k"), "1");
    EXPECT_EQ(m.GetItem("two", "k"), "2");
    EXPECT_EQ(m.MsgSection(), (Names{"one", "two"}));
}

TEST_F(XapMessageTest, ComparesAddressesWithWildcardsAndClassesWithout) {
    const XapMessage m;
    struct Case {
        const char *a, *b;
        bool match;
    };
    for (const Case& c : std::vector<Case>{{"qix.CM19A.host", "qix.*.HOST", true},
                                           {"qix.>", "qix.CM19A.host", true},
                                           {"qix.CM19A.host", "qix.>", true},
                                           {"qix.CM19A", "qix.CM19A.host", false},
                                           {"qix.CM19A.host:kitchen", "qix.CM19A.host", true},
                                           {"qix.CM19A.host", "qix.CM19A.den:host", false},
                                           {"*.*", "a.b.c", false},
                                           {">", "anything.at.all", true},
                                           {">", ":sub", true},
                                           {"", ">", false},
                                           {">", "", false},
                                           {"a.b", "a.c", false}}) {
        EXPECT_EQ(m.CompareAddress(c.a, c.b), c.match) << c.a << " vs " << c.b;
    }
    const XapMessage p = parsed(kHeader);
    EXPECT_TRUE(p.CompareTarget("QIX.cm19a.*"));
    EXPECT_TRUE(p.CompareSource("acme.>"));
    EXPECT_TRUE(p.CompareClass("xapbsc.CMD"));
    EXPECT_FALSE(p.CompareClass("xAPBSC.*"));
}

}  // namespace
