#pragma once
// A device's custom status: an object and a number that plug-ins may attach to
// a DeviceClass record. The host keeps both and interprets neither.
//
// Reached by name (itemStatus, Status, any letter case). Assigning a value of
// the wrong type raises the conversion's error to the caller.

#include <cstdint>
#include <memory>
#include <string>

#include "binding/Dispatch.h"

class CustomStatus : public Dispatch {
public:
    std::string className() const override { return "CustomStatus"; }

    std::shared_ptr<Dispatch> getItemStatus() const { return itemStatus; }
    void setItemStatus(std::shared_ptr<Dispatch> value) { itemStatus = std::move(value); }
    int32_t getStatus() const { return Status; }
    void setStatus(int32_t value) { Status = value; }

    std::shared_ptr<Dispatch> itemStatus;  // Nothing until a plug-in sets it
    int32_t Status = 0;

protected:
    const MemberTable& members() const override;
};
