#include "gateway/GatewayDevices.h"

#include "base/Convert.h"
#include "gateway/NinjaCamera.h"
#include "host/DeviceClass.h"
#include "host/DeviceTable.h"
#include "xap/X10Words.h"

const std::vector<std::string>& GatewayDevices::x10Codes() {
    static const std::vector<std::string> codes = [] {
        std::vector<std::string> all;
        for (char house = 'A'; house <= 'P'; ++house)
            for (int unit = 1; unit <= 16; ++unit) all.push_back(house + std::to_string(unit));
        return all;
    }();
    return codes;
}

std::vector<GatewayDevices::Used> GatewayDevices::used(const DeviceTable& devices) {
    std::vector<Used> out;
    auto usedRecord = [&](const std::string& code) -> std::shared_ptr<DeviceClass> {
        auto device = devices.GetDeviceByCode(code);
        return device && device->iotype != 0 ? device : nullptr;
    };
    for (const std::string& code : x10Codes())
        if (const auto d = usedRecord(code))
            out.push_back({false, code, d->name,
                           vb::LCase(d->dev_type_string).find("appliance") != std::string::npos});
    for (int index = NinjaCamera::kFirst; index <= NinjaCamera::kLast; ++index) {
        if (const auto d = usedRecord(NinjaCamera::hostCode(index)))
            out.push_back({true, NinjaCamera::rfAddress(index), d->name, false});
    }
    return out;
}

std::map<std::string, std::string> GatewayDevices::lastEvents(const DeviceTable& devices) {
    std::map<std::string, std::string> events;
    // A unit's stored status is the function code of its last event; 0 (All
    // Units Off) is also "never heard", so only a recorded change counts.
    for (const std::string& code : x10Codes()) {
        const DeviceTable::Cell& cell = devices.cell(code);
        if (cell.lastChange != Variant::zeroDate())
            events[code] = X10Words::FunctionName(cell.status);
    }
    return events;
}
