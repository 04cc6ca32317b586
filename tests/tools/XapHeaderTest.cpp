#include <gtest/gtest.h>

#include "xap-hub/XapHeader.h"

namespace {

TEST(XapHeader, ReadsAHeartbeatLeniently) {
    // Upper-case names, blanks, CR LF line ends and a repeated key, as
    // programs on other systems write them.
    const auto h = XapHeader::parse(
        "XAP-HBEAT\r\n{\r\nv=12\r\n Class = xap-hbeat.alive \r\nsource=acme.box.one\r\n"
        "UID=FF123400\r\ninterval=60\r\nPORT=32770\r\nport=1\r\n}\r\n");
    ASSERT_TRUE(h);
    EXPECT_TRUE(h->isHeartbeat());
    EXPECT_EQ(h->msgClass, "xap-hbeat.alive");
    EXPECT_EQ(h->source, "acme.box.one");
    EXPECT_EQ(h->uid, "FF123400");
    EXPECT_EQ(h->interval, 60);
    EXPECT_EQ(h->port, 32770);  // the first of a repeated key counts
}

TEST(XapHeader, ReadsAMessageHeaderAndIgnoresTheBody) {
    const auto h = XapHeader::parse(
        "xap-header\n{\nv=12\nhop=1\nuid=FF008700\nclass=WDT.Echo\nsource=qix.CM19A.box\n"
        "target=acme.tester.box\n}\nEcho.Response\n{\nport=5\n}\n");
    ASSERT_TRUE(h);
    EXPECT_FALSE(h->isHeartbeat());
    EXPECT_EQ(h->target, "acme.tester.box");
    EXPECT_EQ(h->port, 0);
}

TEST(XapHeader, RefusesWhatIsNotAHeader) {
    for (const char* text : {"", "hello", "xap-header", "xap-header\n", "xap-header\nclass=x\n}\n",
                             "xap-header\n{\nclass=x\n", "xap-hbeatx\n{\n}\n", "{\n}\n"})
        EXPECT_FALSE(XapHeader::parse(text)) << text;
}

TEST(XapHeader, KeepsOnlyPlainNumbersInRange) {
    const auto port = [](const std::string& value) {
        return XapHeader::parse("xap-hbeat\n{\nport=" + value + "\ninterval=" + value + "\n}\n");
    };
    EXPECT_EQ(port("65535")->port, 65535);
    for (const char* bad : {"0", "65536", "-1", "+5", "12a", "0x10", "99999999999999999999", ""}) {
        EXPECT_EQ(port(bad)->port, 0) << bad;
    }
    EXPECT_EQ(port("0")->interval, 0);
    EXPECT_EQ(port("999999999")->interval, 999999999);
    EXPECT_EQ(port("9999999999")->interval, 0);
}

}  // namespace
