#include "host/condition.h"

#include <cmath>
#include <limits>

#include "base/RuntimeError.h"

void condition::setDevRef(double value) {
    // Narrowing silently to infinity would hide a wrong device reference.
    if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max())
        raiseError(RuntimeError::kOverflow, "Overflow");
    dev_ref = static_cast<float>(value);
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
