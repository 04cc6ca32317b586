#pragma once
// The host devices the configuration window creates: a camera the plug-in
// drives, and an X10 device the host commands through the transceiver
// (SetIO). Each asks the host for a new device, fills it and answers whether
// the host made one; a host that cannot is no fault of the caller.

#include <string>

class HostDevices {
public:
    // "Ninja " + house + code, with the camera's value list.
    static bool createCamera(const std::string& house, const std::string& code);
    // "CM19A " + house + code.
    static bool createTransmitter(const std::string& house, const std::string& code);
};
