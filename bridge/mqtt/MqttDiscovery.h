#pragma once
// What the gateway announces to home-automation hubs for the devices marked
// used, in the retained discovery form the common hubs read:
//   an X10 unit     a light (on/off through its set topic, state from its
//                   state topic) and two remote-button triggers, on and off;
//   a camera        a remote-button trigger for each of its five moves.
//   the gateway     a hub device of its own, with a connectivity sensor on
//                   its status topic;
//   a house in use  triggers for its house-wide commands (all units off, all
//                   lights on, all lights off), on the gateway device.
// Every unit and camera announcement names the gateway's status topic for
// availability, and belongs to one hub device per unit or camera, which hangs
// off the gateway (via_device is the gateway's identifier).
// Withdrawing is the same topics with an empty retained payload. Pure.

#include <map>
#include <string>

class MqttDiscovery {
public:
    struct Context {
        std::string discoveryPrefix;  // "homeassistant"
        std::string base;             // "<prefix>/<computer>"
        std::string computer;
        std::string version;
    };

    // Config topic -> payload for one device. `code` is "A1"; `name` the
    // host's name for it (empty: "X10 A1" or "Ninja A1").
    static std::map<std::string, std::string> x10Unit(const Context& context,
                                                      const std::string& code,
                                                      const std::string& name);
    static std::map<std::string, std::string> camera(const Context& context,
                                                     const std::string& code,
                                                     const std::string& name);

    static std::map<std::string, std::string> gateway(const Context& context);
    // `house` is "A" to "P".
    static std::map<std::string, std::string> house(const Context& context, char house);

    // The hubs' node id of this gateway: "brindle_" and the computer name
    // with anything but letters, digits, "_" and "-" as "_".
    static std::string nodeId(const std::string& computer);
    // "<discoveryPrefix>/+/<node>/+/config": every announcement this gateway
    // may have left on the broker.
    static std::string pattern(const Context& context);
};
