#include "host/objcb.h"

const MemberTable& objcb::members() const {
    using O = objcb;
    static const MemberTable table = MemberTable::of<objcb>({
        field<&O::evtype>("evtype"),
        field<&O::Handle>("Handle"),
        field<&O::obj>("obj"),
    });
    return table;
}
