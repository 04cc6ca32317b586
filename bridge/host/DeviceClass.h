#pragma once
// One device record of the host's device list: its name, location, address
// (hc + dc, such as A1 or Q17) and descriptive fields. A plain record: plug-ins
// and scripts read and assign every field by name (hc and HC reach one field);
// the program uses the fields directly. Nothing here validates or interprets a
// value: the device table does that where it matters.
//
// The live status, value and string of a device are not here but in the device
// table's state tables; `Status` is a field of the record only.
//
// Created by the device table, shared with whoever asks for it (std::shared_ptr);
// a record removed from the list lives on while someone holds it. Assigning a
// value of the wrong type raises the conversion's error to the caller.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "binding/Dispatch.h"
#include "binding/Variant.h"
#include "host/CustomStatus.h"

class DeviceClass : public Dispatch {
public:
    std::string className() const override { return "DeviceClass"; }

    // The code fields change through setCode (or by name, "hc" and "dc"), so
    // the tables that find records by code know to look again.
    void setCode(std::string house, std::string unit);
    // Counts every change of any record's code in this process.
    static std::uint64_t codeGeneration() { return s_codeGeneration; }

    // The fields, in the order plug-ins know them.
    std::string buttons;
    bool can_dim = false;
    std::shared_ptr<::CustomStatus> CustomStatus;  // Nothing until a plug-in sets one
    std::string dc;                                // assign through setCode
    std::string dev_type_string;
    std::string hc;  // assign through setCode
    std::string interface;
    std::string iomisc;
    int16_t iotype = 0;
    Variant location;
    int32_t misc = 0;
    std::string name;
    int32_t ref = 0;
    int32_t res1 = 0;
    int16_t sldim = 0;
    int16_t Status = 0;
    bool status_support = false;
    bool status_cool_setpoint = false;
    int16_t tag = 0;
    int16_t tag1 = 0;
    int32_t time_off = 0;
    int32_t time_on = 0;
    std::string ui_action;
    std::string values;
    int16_t zwave_nodeid = 0;
    int16_t zwave_nodetype = 0;
    int16_t zwave_pollrate = 0;
    int16_t zwave_polltimer = 0;

    // The location as text concatenation reads it: Null is nothing.
    std::string locationText() const;

protected:
    const MemberTable& members() const override;

private:
    template <bool House>
    static auto codeField(std::string_view name);

    static inline std::uint64_t s_codeGeneration = 0;
};
