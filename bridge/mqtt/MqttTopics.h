#pragma once
// The gateway's topic tree and what may be said on it. Under
// <prefix>/<computer>/:
//   status                  "online" / "offline" (retained; the last will)
//   x10/<A1..P16>/event     each X10 command heard or sent: "on", "off", "dim"…
//   x10/<A1..P16>/state     "ON" / "OFF" (retained)
//   x10/<A1..P16>/set       in: "on", "off", "dim", "bright", "dim 5"…
//   x10/<A..P>/event        house-wide: "all_units_off", "all_lights_on"…
//   ninja/<A1..P14>/event   a camera remote's button: "up", "left", "center"…
//   ninja/<A1..P14>/set     in: "left", "right", "up", "down", "center"
// Codes are written upper-case and read in any case. Pure functions.

#include <optional>
#include <string>

class MqttTopics {
public:
    // The computer name as one topic level: wildcards, "/" and control bytes
    // become "_".
    static std::string level(const std::string& text);
    // "<prefix>/<computer>".
    static std::string base(const std::string& prefix, const std::string& computer);

    // "A1" to "P16" in any case, upper-cased; nothing for anything else.
    static std::optional<std::string> x10Code(const std::string& text);
    // The house of a house-wide event's device: "B", or "B" with a unit
    // number ("B0", "B12"), in any case; nothing for anything else.
    static std::optional<char> house(const std::string& text);
    // "all_units_off", "all_lights_on", "all_lights_off".
    static bool houseWide(const std::string& eventPayload);
    // A camera's radio address, "A1" to "P14" (cameras 1 to 254).
    static std::optional<std::string> ninjaCode(const std::string& text);
    // The camera number of a radio address (A1 is 1, P14 is 254).
    static int cameraIndex(const std::string& ninjaCode);

    // An event name ("On", "all_lights_off", "Sweep_Program") as a payload:
    // lower case, blanks as "_".
    static std::string eventPayload(const std::string& eventName);
    // The state an X10 event leaves a unit in, or nothing for an event that
    // says nothing about it (hail, status request…).
    static std::optional<std::string> stateOf(const std::string& eventPayload);

    // A message on a set topic, understood.
    struct SetCommand {
        bool ninja = false;
        std::string code;     // "A1"
        std::string command;  // X10: "on", "off", "dim", "bright"; camera: "Left"…
        std::string count;    // X10 dim and bright only; may be empty
    };
    // The command a set message carries, or nothing with the reason in `why`:
    // a topic outside <base>/x10/+/set and <base>/ninja/+/set, an unknown code,
    // or a payload that is not one of the words above.
    static std::optional<SetCommand> parseSet(const std::string& base, const std::string& topic,
                                              const std::string& payload, std::string& why);
};
