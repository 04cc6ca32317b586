#pragma once
// The gateway's radio on an MQTT broker, beside xAP and with the same
// meaning (the topic tree is in MqttTopics):
//   - every X10 event the gateway reports on xAP is published as an event on
//     each unit it names (or on its house, for a house-wide one), and the
//     state it leaves the units in as their retained states; every command
//     the gateway transmits updates the states alone; a camera remote's
//     button is published as the camera's event;
//   - a set message is handed to the gateway as the equivalent xAP request
//     or camera command would be; bad topics and payloads are logged once
//     per topic (at most kMaxLoggedTopics) and ignored, and so is a retained
//     set message, which would otherwise act again at every reconnect;
//   - with discovery on, the gateway itself, each device marked used and a
//     house-wide trigger set per house in use are announced, retained, and
//     withdrawn when unmarked; announcements this gateway left on the broker
//     that no longer match a used device are withdrawn when found.
// The gateway's status is "online" while connected and "offline" through
// the last will or an orderly stop. While the broker is away, events are
// dropped and states kept: each unit's last state (from the host's table at
// start, then from events) is published again on every connection. The broker going away and each
// failure to reach it are one error-log line per outage.
//
// Created by the program when the settings have a host; every entry point
// catches its own faults.

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gateway/GatewayDevices.h"
#include "host/MqttSettings.h"
#include "mqtt/MqttDiscovery.h"

class MqttClient;

class MqttLink {
public:
    static constexpr std::size_t kMaxLoggedTopics = 64;

    using UsedDevice = GatewayDevices::Used;
    struct Hooks {
        // As an "xAP-X10.request" with one device, its command and count.
        std::function<void(const std::string& device, const std::string& command,
                           const std::string& count)>
            x10Request;
        // As an "xAPBSC.cmd" for one camera (1 to 254) with a command word.
        std::function<void(int camera, const std::string& word)> cameraCommand;
        // The devices the host marks used, for discovery.
        std::function<std::vector<UsedDevice>()> usedDevices;
        // Each unit's last event as the host kept it from earlier runs
        // ("A1" -> "on"), so a hub sees the state before the next press.
        std::function<std::map<std::string, std::string>()> lastEvents;
    };

    MqttLink(MqttSettings settings, std::string computer, std::string version, Hooks hooks);
    ~MqttLink();

    void start();
    // Says "offline" and leaves the broker.
    void stop();

    // Radio to MQTT. `devices` as the xAP event's Device item ("A1,A2,A3";
    // "B0" for a house-wide event); `event` as its Event item ("on",
    // "all_lights_off", "Dim"). A unit's event goes on its event topic, a
    // house-wide one on the house's; the states follow as the modules would
    // act (see applyToHouse).
    void x10Event(const std::string& devices, const std::string& event);
    // A command the gateway transmitted: the same states, no event, since no
    // remote was pressed.
    void x10Command(const std::string& devices, const std::string& event);
    // A camera remote's button: the radio address and the transceiver's
    // camera command code (5 Up ... 20 Sweep Program).
    void cameraPress(const std::string& code, int command);
    // Announces and withdraws after the used marks may have changed.
    void syncDiscovery();

    const MqttSettings& settings() const { return m_settings; }
    const std::string& baseTopic() const { return m_context.base; }
    bool connected() const;
    // Inside the client's library: not to be destroyed until it returns.
    bool busy() const;

private:
    void onBrokerConnected();
    void message(const std::string& topic, const std::string& payload, bool retained);
    void report(const std::string& devices, const std::string& event, bool pressed);
    // A house-wide command on the units known in `house` (with a state or
    // marked used): all units off switches every one, all lights on and off
    // every one not marked as an appliance.
    void applyToHouse(char house, const std::string& payload, const std::string& state);
    void publishState(const std::string& code, const std::string& state);
    void ignore(const std::string& topic, const std::string& why);

    MqttSettings m_settings;
    MqttDiscovery::Context m_context;
    Hooks m_hooks;
    std::unique_ptr<MqttClient> m_client;
    // Each unit's last state ("A1" -> "ON"), at most 256 entries.
    std::map<std::string, std::string> m_states;
    // What is announced now: config topic -> payload.
    std::map<std::string, std::string> m_announced;
    std::set<std::string> m_loggedTopics;
    bool m_loggingStopped = false;
};
