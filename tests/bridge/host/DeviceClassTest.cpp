#include <gtest/gtest.h>

#include <memory>

#include "base/RuntimeError.h"
#include "host/DeviceClass.h"

namespace {

TEST(DeviceClass, FieldsAreReachedByNameInAnyCaseWithTheirTypes) {
    auto dev = std::make_shared<DeviceClass>();
    dev->let("HC", "q");
    EXPECT_EQ(dev->get("hc").toString(), "q");
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

}  // namespace
