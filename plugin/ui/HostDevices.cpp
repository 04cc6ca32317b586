#include "ui/HostDevices.h"

#include <exception>
#include <memory>

#include "hspi/HostLink.h"
#include "hspi/hspi.h"

namespace {

std::shared_ptr<Dispatch> newDevice(const std::string& name) {
    const auto made = HostLink::hsCall("NewDeviceEx", name);
    return made && made->isObject() ? made->toObject() : nullptr;
}

}  // namespace

bool HostDevices::createCamera(const std::string& house, const std::string& code) {
    const std::shared_ptr<Dispatch> dv = newDevice("Ninja " + house + code);
    if (!dv) return false;
    try {
        dv->let("HC", house);
        dv->let("DC", code);
        dv->let("iotype", int16_t{3});
        dv->let("interface", std::string(HostLink::kPluginName));
        dv->let("Status", int16_t{19});
        dv->let("iomisc", std::string("100"));
        dv->let("misc", int32_t{0});
        dv->let("dev_type_string", std::string(hspi::kCameraDeviceType));
    } catch (const std::exception&) {
        return false;
    }
    // Our host has no DeviceValuesAdd; the device works without its list.
    HostLink::hsCall("DeviceValuesAdd", house + code, hspi::cameraValueList(), true);
    return true;
}

bool HostDevices::createTransmitter(const std::string& house, const std::string& code) {
    const std::shared_ptr<Dispatch> dv = newDevice("CM19A " + house + code);
    if (!dv) return false;
    try {
        dv->let("HC", house);
        dv->let("DC", code);
        dv->let("iotype", int16_t{1});
        dv->let("interface", std::string(HostLink::kPluginName));
        dv->let("iomisc", std::string("1"));
        dv->let("dev_type_string", std::string(hspi::kTransmitterDeviceType));
    } catch (const std::exception&) {
        return false;
    }
    return true;
}
