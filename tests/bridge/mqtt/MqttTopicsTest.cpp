// The topic tree: which set messages are commands, and what events and states
// are published as.
#include <gtest/gtest.h>

#include "mqtt/MqttTopics.h"

namespace {

const std::string kBase = "brindle/box";

struct SetCase {
    std::string topic;
    std::string payload;
    bool ok;
    bool ninja = false;
    std::string code = {};
    std::string command = {};
    std::string count = {};
};

TEST(MqttTopics, SetMessagesAreCommandsOnlyWhenTopicCodeAndWordAllFit) {
    const SetCase cases[] = {
        {"brindle/box/x10/A1/set", "on", true, false, "A1", "on", ""},
        {"brindle/box/x10/p16/set", " OFF ", true, false, "P16", "off", ""},
        {"brindle/box/x10/B2/set", "dim", true, false, "B2", "dim", ""},
        {"brindle/box/x10/B2/set", "Bright 5", true, false, "B2", "bright", "5"},
        {"brindle/box/x10/B2/set", "dim  100", true, false, "B2", "dim", "100"},
        {"brindle/box/ninja/A1/set", "Left", true, true, "A1", "left", ""},
        {"brindle/box/ninja/P14/set", "center", true, true, "P14", "center", ""},
        // Codes outside the radio's range, or spelled another way.
        {"brindle/box/x10/Q1/set", "on", false},
        {"brindle/box/x10/A17/set", "on", false},
        {"brindle/box/x10/A0/set", "on", false},
        {"brindle/box/x10/A01/set", "on", false},
        {"brindle/box/ninja/P15/set", "left", false},
        {"brindle/box/x10//set", "on", false},
        // Wrong kind, depth or gateway.
        {"brindle/box/lamp/A1/set", "on", false},
        {"brindle/box/x10/A1/B/set", "on", false},
        {"brindle/other/x10/A1/set", "on", false},
        {"brindle/box/x10/A1/state", "on", false},
        // Payloads that are no command of that kind.
        {"brindle/box/x10/A1/set", "", false},
        {"brindle/box/x10/A1/set", "on 5", false},
        {"brindle/box/x10/A1/set", "dim five", false},
        {"brindle/box/x10/A1/set", "dim 1000", false},
        {"brindle/box/x10/A1/set", "dim -1", false},
        {"brindle/box/x10/A1/set", "left", false},
        {"brindle/box/ninja/A1/set", "on", false},
        {"brindle/box/ninja/A1/set", "sweep", false},
        {"brindle/box/x10/A1/set", std::string(100, 'o') + "n", false},
        {"brindle/box/x10/A1/set", std::string("on\0x", 4), false},
    };
    for (const SetCase& c : cases) {
        std::string why;
        const auto command = MqttTopics::parseSet(kBase, c.topic, c.payload, why);
        ASSERT_EQ(command.has_value(), c.ok) << c.topic << " '" << c.payload << "'";
        if (!command) {
            EXPECT_FALSE(why.empty());
            continue;
        }
        EXPECT_EQ(command->ninja, c.ninja) << c.topic;
        EXPECT_EQ(command->code, c.code) << c.topic;
        EXPECT_EQ(command->command, c.command) << c.topic;
        EXPECT_EQ(command->count, c.count) << c.topic;
    }
}

TEST(MqttTopics, NamesBecomeSafeTopicLevelsAndPayloads) {
    EXPECT_EQ(MqttTopics::base("brindle", "den"), "brindle/den");
    EXPECT_EQ(MqttTopics::level("a+b#c/d\ne"), "a_b_c_d_e");
    EXPECT_EQ(MqttTopics::level(""), "_");
    EXPECT_EQ(MqttTopics::eventPayload("All Lights Off"), "all_lights_off");
    EXPECT_EQ(MqttTopics::eventPayload("Sweep_Program"), "sweep_program");
    EXPECT_EQ(MqttTopics::cameraIndex("A1"), 1);
    EXPECT_EQ(MqttTopics::cameraIndex("B2"), 18);
    EXPECT_EQ(MqttTopics::cameraIndex("P14"), 254);
}

TEST(MqttTopics, OnlyEventsThatSayHowTheUnitIsGiveAState) {
    for (const char* on : {"on", "all_lights_on", "dim", "bright"})
        EXPECT_EQ(MqttTopics::stateOf(on), "ON") << on;
    for (const char* off : {"off", "all_units_off", "all_lights_off"})
        EXPECT_EQ(MqttTopics::stateOf(off), "OFF") << off;
    for (const char* none : {"hail_request", "status_request", "extended", "up", ""})
        EXPECT_FALSE(MqttTopics::stateOf(none)) << none;
}

}  // namespace
