#include "host/devFunc.h"

#include "base/Convert.h"

void devFunc::setDevid(double value) {
    devid = vb::CSng(value);
}

const MemberTable& devFunc::members() const {
    using D = devFunc;
    static const MemberTable table = MemberTable::of<devFunc>({
        property("devid", &D::getDevid, &D::setDevid),
        field<&D::dim_percent>("dim_percent"),
        field<&D::dimto>("dimto"),
        field<&D::eprom_address>("eprom_address"),
        field<&D::func>("func"),
        field<&D::new_string>("new_string"),
        field<&D::secs_delay>("secs_delay"),
        field<&D::setpoint_action>("setpoint_action"),
        field<&D::tag>("tag"),
    });
    return table;
}
