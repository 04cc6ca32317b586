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

#include "Dispatch.h"

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

    template <auto Field>
    using FieldType = std::remove_cvref_t<decltype(std::declval<condition&>().*Field)>;
    template <auto Field>
    FieldType<Field> getField() const {
        return this->*Field;
    }
    template <auto Field>
    void setField(FieldType<Field> value) {
        this->*Field = std::move(value);
    }
    template <auto Field>
    static auto field(std::string_view name) {
        return property(name, &condition::getField<Field>, &condition::setField<Field>);
    }
};
