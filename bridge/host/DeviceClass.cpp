#include "host/DeviceClass.h"

// "hc" or "dc" by name: read as a field, changed through setCode.
template <bool House>
auto DeviceClass::codeField(std::string_view name) {
    using Args = std::vector<Variant>;
    return property(
        name,
        [](DeviceClass& d, Args& a) {
            if (!a.empty()) dispatch_detail::wrongArgumentCount();
            return Variant(House ? d.hc : d.dc);
        },
        [](DeviceClass& d, Args& a) {
            if (a.size() != 1) dispatch_detail::wrongArgumentCount();
            std::string part = dispatch_detail::fromVariant<std::string>(a[0]);
            if (House)
                d.setCode(std::move(part), d.dc);
            else
                d.setCode(d.hc, std::move(part));
        });
}

const MemberTable& DeviceClass::members() const {
    using D = DeviceClass;
    static const MemberTable table = MemberTable::of<DeviceClass>({
        field<&D::buttons>("buttons"),
        field<&D::can_dim>("can_dim"),
        field<&D::CustomStatus>("CustomStatus"),
        codeField<false>("dc"),
        field<&D::dev_type_string>("dev_type_string"),
        codeField<true>("hc"),
        field<&D::interface>("interface"),
        field<&D::iomisc>("iomisc"),
        field<&D::iotype>("iotype"),
        field<&D::location>("location"),
        field<&D::misc>("misc"),
        field<&D::name>("name"),
        field<&D::ref>("ref"),
        field<&D::res1>("res1"),
        field<&D::sldim>("sldim"),
        field<&D::Status>("Status"),
        field<&D::status_support>("status_support"),
        field<&D::status_cool_setpoint>("status_cool_setpoint"),
        field<&D::tag>("tag"),
        field<&D::tag1>("tag1"),
        field<&D::time_off>("time_off"),
        field<&D::time_on>("time_on"),
        field<&D::ui_action>("ui_action"),
        field<&D::values>("values"),
        field<&D::zwave_nodeid>("zwave_nodeid"),
        field<&D::zwave_nodetype>("zwave_nodetype"),
        field<&D::zwave_pollrate>("zwave_pollrate"),
        field<&D::zwave_polltimer>("zwave_polltimer"),
    });
    return table;
}

std::string DeviceClass::locationText() const {
    return location.isNull() ? std::string() : location.toString();
}

void DeviceClass::setCode(std::string house, std::string unit) {
    hc = std::move(house);
    dc = std::move(unit);
    ++s_codeGeneration;
}
