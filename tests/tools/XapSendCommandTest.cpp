#include <gtest/gtest.h>

#include "xap-send/XapSendCommand.h"

namespace {

TEST(XapSendCommand, BuildsOneMessageWithBlocksInTheOrderNamed) {
    XapSendCommand c;
    std::string error;
    ASSERT_TRUE(
        c.parse({"--target", "qix.CM19A.*", "--source", "acme.tester.box", "--uid", "FF123400",
                 "WDT.Echo", "Echo.Query.Query=Ping", "Other.a=1=2", "Echo.Query.Note="},
                &error))
        << error;
    EXPECT_EQ(c.host, "127.0.0.1");
    EXPECT_EQ(c.port, 3639);
    EXPECT_EQ(c.text(),
              "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=WDT.Echo\n"
              "source=acme.tester.box\ntarget=qix.CM19A.*\n}\n"
              "Echo.Query\n{\nQuery=Ping\nNote=\n}\nOther\n{\na=1=2\n}\n");
}

TEST(XapSendCommand, SendsToTheBroadcastAddressWhenAskedAndLeavesOutAnEmptyTarget) {
    XapSendCommand c;
    ASSERT_TRUE(c.parse({"--to", "broadcast", "--port", "3640", "x.y", "b.k=v"}, nullptr));
    EXPECT_EQ(c.host, "255.255.255.255");
    EXPECT_EQ(c.port, 3640);
    EXPECT_EQ(c.text().find("target="), std::string::npos);
    EXPECT_EQ(c.source.rfind("brindle.xap-send.", 0), 0u);
}

TEST(XapSendCommand, RefusesWhatWouldNotBeOneWellFormedMessage) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"WDT.Echo"},                               // no item
        {"WDT.Echo", "Query=Ping"},                 // no block
        {"WDT.Echo", ".Query=Ping"},                // empty block
        {"WDT.Echo", "Echo.=Ping"},                 // empty key
        {"WDT.Echo", "Echo.Query.Query"},           // no value
        {"WDT.Echo", "Echo.Query.Query=a\nb=c"},    // a second line
        {"WDT.Echo", "}.k=v"},                      // a brace ends the block
        {"WDT\r.Echo", "b.k=v"},                    // control character in the class
        {"--source", "a\nb", "WDT.Echo", "b.k=v"},  // ... in an option
        {"--port", "70000", "WDT.Echo", "b.k=v"},
        {"--port", "12x", "WDT.Echo", "b.k=v"},
        {"--bogus", "1", "WDT.Echo", "b.k=v"},
        {"WDT.Echo", "b.k=v", "--target"},  // option without its value
    };
    for (const auto& args : bad) {
        XapSendCommand c;
        std::string error;
        EXPECT_FALSE(c.parse(args, &error)) << (args.empty() ? "" : args.back());
        EXPECT_FALSE(error.empty());
    }
    XapSendCommand help;
    EXPECT_TRUE(help.parse({"WDT.Echo", "--help"}, nullptr));
    EXPECT_TRUE(help.help);
}

}  // namespace
