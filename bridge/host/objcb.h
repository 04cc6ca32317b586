#pragma once
// A callback record offered to plug-ins for their own bookkeeping: an event
// type, a handle and an object. The host keeps no list of them and never
// calls `obj`; registration goes through RegisterEventCB instead.
//
// Every field is a read-write property of the same name, found ignoring case.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "binding/Dispatch.h"

class objcb : public Dispatch {
public:
    int32_t evtype = 0;
    int16_t Handle = 0;
    std::shared_ptr<Dispatch> obj;

    std::string className() const override { return "objcb"; }

protected:
    const MemberTable& members() const override;
};
