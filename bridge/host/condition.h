#pragma once
// One condition of an event (an element of EventClass::ev_conditions), offered
// to plug-ins and scripts through NewCondition. The host never evaluates it.
//
// Every field is a read-write property of the same name, found ignoring case.
// `dev_ref` is kept in single precision, as the record defines it, and reads
// as a Double; a value beyond single range raises error 6. The field named
// like the record is spelled `condition_` in C++.

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "binding/Dispatch.h"

class condition : public Dispatch {
public:
    int16_t condition_ = 0;
    int16_t ctype = 0;
    float dev_ref = 0;
    int16_t orindex = 0;
    std::string plugin;
    std::string time;

    std::string className() const override { return "condition"; }

protected:
    const MemberTable& members() const override;

private:
    double getDevRef() const { return dev_ref; }
    void setDevRef(double value);
};
