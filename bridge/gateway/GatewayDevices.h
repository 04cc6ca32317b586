#pragma once
// Which of the host's devices the gateway speaks for, as the MQTT link and
// other outside views want them: the X10 units and cameras marked used, and
// each unit's last event as the host kept it. Reads the device table only.

#include <map>
#include <string>
#include <vector>

class DeviceTable;

class GatewayDevices {
public:
    struct Used {
        bool camera = false;
        std::string code;  // X10 "A1".."P16"; camera radio address "A1".."P14"
        std::string name;
        // A unit whose device type names an appliance module: all-lights
        // commands leave it as it is. Every other unit may be a lamp.
        bool appliance = false;
    };

    // The X10 addresses A1 ... P16, house by house.
    static const std::vector<std::string>& x10Codes();
    // Units first (A1 ... P16), then cameras by index; a device counts as
    // used when its record exists with an I/O type other than 0.
    static std::vector<Used> used(const DeviceTable& devices);
    // "A1" -> "on" for each unit whose state changed at least once.
    static std::map<std::string, std::string> lastEvents(const DeviceTable& devices);
};
