#include "host/DeviceClass.h"

const MemberTable& DeviceClass::members() const {
    using D = DeviceClass;
    static const MemberTable table = MemberTable::of<DeviceClass>({
        field<&D::buttons>("buttons"),
        field<&D::can_dim>("can_dim"),
        field<&D::CustomStatus>("CustomStatus"),
        field<&D::dc>("dc"),
        field<&D::dev_type_string>("dev_type_string"),
        field<&D::hc>("hc"),
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
