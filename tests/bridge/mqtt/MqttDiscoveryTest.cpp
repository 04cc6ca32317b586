// What hubs are told about used devices.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "mqtt/MqttDiscovery.h"

namespace {

QJsonObject parsed(const std::string& payload) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object();
}

const MqttDiscovery::Context kContext{"homeassistant", "brindle/den box", "den box", "1.2.3"};

TEST(MqttDiscovery, AnX10UnitIsALightWithItsTwoButtons) {
    const auto configs = MqttDiscovery::x10Unit(kContext, "A1", "Hall \"lamp\"");
    ASSERT_EQ(configs.size(), 3u);
    const auto light = parsed(configs.at("homeassistant/light/brindle_den_box/x10_a1/config"));
    EXPECT_EQ(light["command_topic"].toString(), "brindle/den box/x10/A1/set");
    EXPECT_EQ(light["state_topic"].toString(), "brindle/den box/x10/A1/state");
    EXPECT_EQ(light["payload_on"].toString(), "on");
    EXPECT_EQ(light["availability_topic"].toString(), "brindle/den box/status");
    EXPECT_EQ(light["unique_id"].toString(), "brindle_den_box_x10_a1");
    // The name travels as JSON, quotes and all.
    EXPECT_EQ(light["device"].toObject()["name"].toString(), "Hall \"lamp\"");
    EXPECT_EQ(light["device"].toObject()["via_device"].toString(), "brindle_den_box");

    const auto on =
        parsed(configs.at("homeassistant/device_automation/brindle_den_box/x10_a1_on/config"));
    EXPECT_EQ(on["automation_type"].toString(), "trigger");
    EXPECT_EQ(on["topic"].toString(), "brindle/den box/x10/A1/event");
    EXPECT_EQ(on["payload"].toString(), "on");
    EXPECT_EQ(on["device"], light["device"]);
    EXPECT_TRUE(
        configs.contains("homeassistant/device_automation/brindle_den_box/x10_a1_off/config"));
}

TEST(MqttDiscovery, ACameraIsFiveButtonsAndUnnamedDevicesGetTheirCode) {
    const auto configs = MqttDiscovery::camera(kContext, "B2", "");
    ASSERT_EQ(configs.size(), 5u);
    const auto left =
        parsed(configs.at("homeassistant/device_automation/brindle_den_box/ninja_b2_left/config"));
    EXPECT_EQ(left["topic"].toString(), "brindle/den box/ninja/B2/event");
    EXPECT_EQ(left["payload"].toString(), "left");
    EXPECT_EQ(left["device"].toObject()["name"].toString(), "Ninja B2");
    EXPECT_EQ(MqttDiscovery::pattern(kContext), "homeassistant/+/brindle_den_box/+/config");
}

TEST(MqttDiscovery, TheGatewayIsTheDeviceUnitsHangOffAndOwnsTheHouseTriggers) {
    const auto sensor = parsed(MqttDiscovery::gateway(kContext).at(
        "homeassistant/binary_sensor/brindle_den_box/status/config"));
    EXPECT_EQ(sensor["state_topic"].toString(), "brindle/den box/status");
    EXPECT_EQ(sensor["device_class"].toString(), "connectivity");
    const QJsonObject device = sensor["device"].toObject();
    EXPECT_EQ(device["identifiers"].toArray().first().toString(), "brindle_den_box");  // via_device
    const auto off = parsed(
        MqttDiscovery::house(kContext, 'B')
            .at("homeassistant/device_automation/brindle_den_box/house_b_all_lights_off/config"));
    EXPECT_EQ(off["topic"].toString(), "brindle/den box/x10/B/event");
    EXPECT_EQ(off["payload"].toString(), "all_lights_off");
    EXPECT_EQ(off["device"].toObject(), device);
}

}  // namespace
