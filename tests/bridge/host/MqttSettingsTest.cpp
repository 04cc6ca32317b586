// The MQTT settings as the file holds them: defaults, and values a hand edit
// can get wrong falling back rather than stopping the link.
#include <gtest/gtest.h>

#include "base/DoEvents.h"
#include "host/IniCache.h"
#include "host/MqttSettings.h"
#include "support/TempHome.h"
#include "xap/XapSettings.h"

namespace {

TEST(MqttSettings, DefaultsAndBadValuesFallBack) {
    TempHome home;
    XapSettings::InitXap();
    IniCache ini;
    const MqttSettings none = MqttSettings::read(ini);
    EXPECT_FALSE(none.enabled());
    EXPECT_EQ(none, MqttSettings());

    home.write("Config/qixBrindle.ini",
               "[MQTT]\nHost= \"broker.lan\" \nPort=99999\nTLS=maybe\nPrefix=/house/den/\n"
               "Discovery=False\nDiscoveryPrefix=home#\n");
    DoEvents();  // an edit on disk is read from the next event-loop turn on
    const MqttSettings s = MqttSettings::read(ini);
    EXPECT_EQ(s.Host, "broker.lan");
    EXPECT_EQ(s.Port, 1883);
    EXPECT_FALSE(s.TLS);
    EXPECT_EQ(s.Prefix, "house/den");
    EXPECT_FALSE(s.Discovery);
    EXPECT_EQ(s.DiscoveryPrefix, "homeassistant");

    for (const char* bad : {"0", "-1", "65536", "18x", "", "123456"})
        EXPECT_EQ(MqttSettings::portOf(bad, 7), 7) << bad;
    EXPECT_EQ(MqttSettings::portOf(" 8883 ", 7), 8883);
    for (const std::string& bad :
         std::vector<std::string>{"", "/", "a/+/b", "#", "a\tb", std::string(201, 'p')})
        EXPECT_EQ(MqttSettings::prefixOf(bad, "d"), "d") << bad;
}

TEST(MqttSettings, WhatIsWrittenReadsBack) {
    TempHome home;
    XapSettings::InitXap();
    IniCache ini;
    // Built whole: GCC 12 at -O2 takes the short texts assigned one by one to
    // a default-made object for uninitialised reads (a false alarm).
    const MqttSettings s{.Host = "10.0.0.2",
                         .Port = 8883,
                         .User = "gw",
                         .Password = "p=w;d",
                         .TLS = true,
                         .CAFile = "/etc/ssl/ca.pem",
                         .Prefix = "x10",
                         .Discovery = false,
                         .DiscoveryPrefix = "ha"};
    s.write(ini);
    ini.FlushIniCache();
    IniCache again;
    EXPECT_EQ(MqttSettings::read(again), s);
}

}  // namespace
