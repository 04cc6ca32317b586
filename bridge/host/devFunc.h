#pragma once
// One device action of an event (an element of EventClass::ev_devices), offered
// to plug-ins and scripts through NewDevFunc. The host never carries it out.
//
// Every field is a read-write property of the same name, found ignoring case.
// `devid` is kept in single precision, as the record defines it, and reads as
// a Double; a value beyond single range raises error 6.

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "binding/Dispatch.h"
#include "binding/Variant.h"

class devFunc : public Dispatch {
public:
    float devid = 0;
    int16_t dim_percent = 0;
    int16_t dimto = 0;
    int16_t eprom_address = 0;
    int16_t func = 0;
    std::string new_string;
    int32_t secs_delay = 0;
    int16_t setpoint_action = 0;
    Variant tag;

    std::string className() const override { return "devFunc"; }

protected:
    const MemberTable& members() const override;

private:
    double getDevid() const { return devid; }
    void setDevid(double value);
};
