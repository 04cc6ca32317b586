// The records plug-ins and scripts fill in by name: devices, events and the
// events' parts. Each field keeps its declared type.
#include <gtest/gtest.h>

#include <cfloat>
#include <memory>

#include "base/RuntimeError.h"
#include "host/DeviceClass.h"
#include "host/EventClass.h"
#include "host/condition.h"
#include "host/devFunc.h"
#include "host/objcb.h"
#include "support/RaisedError.h"

namespace {

TEST(EventRecords, FieldsConvertToTheirTypesAndObjectFieldsTakeOnlyObjects) {
    auto ev = std::make_shared<EventClass>();
    ev->let("ev_days", "127");
    EXPECT_EQ(ev->ev_days, 127);
    EXPECT_EQ(errorNumber([&] { ev->let("ev_days", 40000); }), RuntimeError::kOverflow);
    EXPECT_EQ(errorNumber([&] { ev->let("order", "first"); }), RuntimeError::kTypeMismatch);
    EXPECT_EQ(ev->get("last_trigger_time").toDate(), Variant::zeroDate());
    auto cond = std::make_shared<condition>();
    ev->let("Ev_Conditions", cond);
    EXPECT_EQ(ev->get("ev_conditions").toObject(), cond);
    ev->let("tag", 2.5);  // a variant field keeps what it is given
    EXPECT_EQ(ev->get("TAG").type(), Variant::Type::Double);
    EXPECT_EQ(errorNumber([&] { ev->let("ev_devices", "x"); }), RuntimeError::kObjectRequired);
    auto o = std::make_shared<objcb>();
    o->let("Obj", ev);
    EXPECT_EQ(o->get("obj").toObject(), ev);

    auto dev = std::make_shared<DeviceClass>();
    EXPECT_THROW(dev->let("iotype", 40000), RuntimeError);
    auto custom = std::make_shared<CustomStatus>();
    custom->let("status", 123456);
    dev->let("customstatus", custom);
    EXPECT_EQ(dev->get("CustomStatus").toObject()->get("STATUS").toLong(), 123456);
    EXPECT_THROW(dev->let("CustomStatus", std::make_shared<DeviceClass>()), RuntimeError);
    // Text concatenation reads Null as nothing, so a plug-in's Null location saves.
    dev->let("location", Variant::null());
    EXPECT_EQ(dev->locationText(), "");
}

TEST(EventRecords, SinglePrecisionFieldsRoundAndCheckTheirRange) {
    auto c = std::make_shared<condition>();
    c->let("Dev_Ref", 0.1);
    EXPECT_EQ(c->get("dev_ref").toDouble(), static_cast<double>(0.1f));
    EXPECT_EQ(errorNumber([&] { c->let("dev_ref", 1e39); }), RuntimeError::kOverflow);
    c->let("dev_ref", static_cast<double>(FLT_MAX));
    EXPECT_EQ(c->dev_ref, FLT_MAX);

    auto d = std::make_shared<devFunc>();
    EXPECT_EQ(errorNumber([&] { d->let("devid", -1e300); }), RuntimeError::kOverflow);
    d->let("secs_delay", 70000);
    EXPECT_EQ(d->secs_delay, 70000);
    EXPECT_EQ(errorNumber([&] { d->let("dim_percent", 70000); }), RuntimeError::kOverflow);
}

}  // namespace
