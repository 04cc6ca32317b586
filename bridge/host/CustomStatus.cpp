#include "host/CustomStatus.h"

const MemberTable& CustomStatus::members() const {
    static const MemberTable table = MemberTable::of<CustomStatus>({
        property("itemStatus", &CustomStatus::getItemStatus, &CustomStatus::setItemStatus),
        property("Status", &CustomStatus::getStatus, &CustomStatus::setStatus),
    });
    return table;
}
