#include "host/condition.h"

#include "base/Convert.h"

void condition::setDevRef(double value) {
    dev_ref = vb::CSng(value);
}

const MemberTable& condition::members() const {
    using C = condition;
    static const MemberTable table = MemberTable::of<condition>({
        field<&C::condition_>("condition"),
        field<&C::ctype>("ctype"),
        property("dev_ref", &C::getDevRef, &C::setDevRef),
        field<&C::orindex>("orindex"),
        field<&C::plugin>("plugin"),
        field<&C::time>("time"),
    });
    return table;
}
