#include <gtest/gtest.h>

#include <cfloat>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/RuntimeError.h"
#include "host/EventClass.h"
#include "host/EventList.h"
#include "host/condition.h"
#include "host/devFunc.h"
#include "host/objcb.h"
#include "support/RaisedError.h"
#include "xap/xapGlobal.h"

namespace {

// Event-log messages written since the last reset; held back because no
// transport is up in these tests.
std::vector<std::string> loggedTexts() {
    std::vector<std::string> out;
    for (const auto& m : xapGlobal::values().pending) out.push_back(m.MsgData);
    return out;
}

bool logged(const std::string& fragment) {
    for (const std::string& text : loggedTexts())
        if (text.find(fragment) != std::string::npos) return true;
    return false;
}

std::vector<std::string> names(const EventList& list) {
    std::vector<std::string> out;
    for (const Variant& v : list.GetEventList())
        out.push_back(std::dynamic_pointer_cast<EventClass>(v.toObject())->name);
    return out;
}

TEST(EventList, NewEventAppendsAndPositionsCountFromOne) {
    EventList list;
    EXPECT_EQ(list.EventCount(), 0);
    EXPECT_EQ(list.NewEvent("Porch"), 1);
    EXPECT_EQ(list.NewEvent("Garden"), 2);
    auto ex = list.NewEventEx("Garage");
    ASSERT_TRUE(ex);
    EXPECT_EQ(ex->name, "Garage");
    EXPECT_EQ(list.EventCount(), 3);
    EXPECT_EQ(list.GetEvent(3), ex);  // the list's own record, not a copy

    EXPECT_EQ(list.GetEvent(0), nullptr);
    EXPECT_EQ(list.GetEvent(4), nullptr);
    EXPECT_EQ(list.GetEvent(-1), nullptr);

    list.setEventCount(10);  // the write side is ignored
    EXPECT_EQ(list.EventCount(), 3);

    const std::vector<Variant> all = list.GetEventList();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2].toObject(), ex);
    EXPECT_EQ(names(list), (std::vector<std::string>{"Porch", "Garden", "Garage"}));
}

TEST(EventList, NamesAreFoundIgnoringCaseFirstMatchWins) {
    EventList list;
    list.NewEvent("Garden");
    list.NewEvent("Porch");
    list.NewEvent("PORCH");
    EXPECT_EQ(list.GetEventIndex("PORCH"), 2);
    EXPECT_EQ(list.GetEventIndex("porch"), 2);
    EXPECT_EQ(list.GetEventEx("pOrCh"), list.GetEvent(2));
    EXPECT_TRUE(list.EventExists("GARDEN"));
    // No trimming, no prefix matching.
    EXPECT_EQ(list.GetEventIndex("Porch "), -1);
    EXPECT_EQ(list.GetEventIndex("Porc"), -1);
    EXPECT_EQ(list.GetEventEx("Shed"), nullptr);
    EXPECT_FALSE(list.EventExists("Shed"));
}

TEST(EventList, DeleteEventRemovesOnlyTheFirstRecordOfThatName) {
    EventList list;
    list.NewEvent("Porch");
    list.NewEvent("Garden");
    list.NewEvent("porch");
    list.DeleteEvent("Shed");
    EXPECT_EQ(names(list), (std::vector<std::string>{"Porch", "Garden", "porch"}));

    auto garden = list.GetEventEx("Garden");
    list.DeleteEvent("PORCH");
    EXPECT_EQ(names(list), (std::vector<std::string>{"Garden", "porch"}));
    EXPECT_EQ(list.GetEvent(1), garden);  // later records move up
    list.DeleteEvent("porch");
    list.DeleteEvent("garden");
    EXPECT_EQ(list.EventCount(), 0);
    list.DeleteEvent("garden");  // on an empty list
    EXPECT_EQ(list.EventCount(), 0);
}

TEST(EventList, EnableAndDisableSetTheFirstMatchOnly) {
    EventList list;
    auto first = list.NewEventEx("Porch");
    auto second = list.NewEventEx("Porch");
    EXPECT_FALSE(first->Enabled);
    list.EnableEvent("PORCH");
    EXPECT_TRUE(first->Enabled);
    EXPECT_FALSE(second->Enabled);
    list.EnableEvent("Shed");  // nothing to do, nothing raised
    list.DisableEvent("porch");
    EXPECT_FALSE(first->Enabled);
    first->Enabled = true;
    list.DisableEvent("Shed");
    EXPECT_TRUE(first->Enabled);
}

TEST(EventList, CountsBeyondSixteenBitsAreLoggedAndAnswerWhatTheMemberHad) {
    xapGlobal::reset();
    EventList list;
    for (int i = 0; i < 32767; ++i) list.NewEvent("e");
    EXPECT_TRUE(loggedTexts().empty());
    EXPECT_EQ(list.NewEvent("Last"), 0);  // appended, but its position overflows
    EXPECT_TRUE(logged("NewEvent "));
    EXPECT_EQ(list.EventCount(), 0);
    EXPECT_TRUE(logged("EventCount "));
    EXPECT_EQ(list.GetEventIndex("LAST"), -1);
    EXPECT_TRUE(logged("GetEventIndex "));
    EXPECT_EQ(list.NewEventEx("Later"), nullptr);  // GetEvent(0) after the overflow
    // The record itself is there and reachable by name.
    ASSERT_TRUE(list.GetEventEx("last"));
    EXPECT_TRUE(list.EventExists("Later"));
    EXPECT_EQ(list.GetEventList().size(), 32769u);
    list.DeleteEvent("Last");  // its index cannot be expressed: nothing removed
    EXPECT_EQ(list.GetEventList().size(), 32769u);
    xapGlobal::reset();
}

// --- the records through late binding ---

TEST(EventRecords, EventFieldsAreReachableByNameIgnoringCase) {
    auto ev = std::make_shared<EventClass>();
    EXPECT_EQ(ev->className(), "EventClass");
    ev->let("ENABLED", true);
    EXPECT_TRUE(ev->Enabled);
    EXPECT_EQ(ev->get("enabled").type(), Variant::Type::Boolean);
    ev->let("Name", "Porch");
    EXPECT_EQ(ev->name, "Porch");
    ev->let("DELETE", 1);
    EXPECT_EQ(ev->delete_, 1);
    EXPECT_EQ(ev->get("delete").type(), Variant::Type::Integer);

    // Each field keeps its declared type: a text becomes a number only when it is one.
    ev->let("ev_days", "127");
    EXPECT_EQ(ev->ev_days, 127);
    EXPECT_EQ(errorNumber([&] { ev->let("ev_days", 40000); }), RuntimeError::kOverflow);
    EXPECT_EQ(errorNumber([&] { ev->let("order", "first"); }), RuntimeError::kTypeMismatch);

    // Starting values.
    EXPECT_EQ(ev->get("last_trigger_time").toDate(), Variant::zeroDate());
    EXPECT_TRUE(ev->get("tag").isEmpty());
    EXPECT_EQ(ev->get("ev_conditions").toObject(), nullptr);

    // Object and variant fields hold what was put in.
    auto cond = std::make_shared<condition>();
    ev->let("Ev_Conditions", cond);
    EXPECT_EQ(ev->get("ev_conditions").toObject(), cond);
    ev->let("tag", 2.5);
    EXPECT_EQ(ev->get("TAG").type(), Variant::Type::Double);
    EXPECT_EQ(errorNumber([&] { ev->let("ev_devices", "x"); }), RuntimeError::kObjectRequired);

    EXPECT_EQ(errorNumber([&] { ev->get("ev_nothing"); }), RuntimeError::kMemberNotFound);
}

TEST(EventRecords, EveryEventFieldIsAProperty) {
    // clang-format off
    const std::vector<std::string> fields = {
        "Enabled", "delete", "dtmf", "eprom_address", "ev_abs_time", "ev_app_path",
        "ev_conditions", "ev_date", "ev_days", "ev_devices", "ev_dimpercent", "ev_dimto",
        "ev_func", "ev_hc", "ev_mail_message", "ev_mail_subj", "ev_mail_to", "ev_offset",
        "ev_offset_before", "ev_time", "ev_trig_dc", "ev_trig_func", "ev_trig_hc",
        "ev_wav_path", "events", "group", "handled", "ir", "irmatch", "last_trigger_time",
        "last_trigger_time_valid", "mail_attach_path", "misc", "misc_actions", "misc2", "name",
        "order", "phone_actions", "phone_event", "phone_line", "pi_actions", "pi_trig_name",
        "pi_trigger", "popfrom", "rec_last", "rec_mins", "rec_secs", "rec_secs_tmp", "relay",
        "scripts", "sec_action", "sec_trigger", "security_offset", "source_line",
        "speak_after_script", "speak_before_script", "speak_device", "speech", "tag",
        "time_handled", "vcmd"};
    // clang-format on
    auto ev = std::make_shared<EventClass>();
    for (const std::string& f : fields) {
        SCOPED_TRACE(f);
        const Variant before = ev->get(f);
        EXPECT_NO_THROW(ev->let(f, before));  // each reads and writes back its own value
        EXPECT_EQ(ev->get(f).type(), before.type());
    }
}

TEST(EventRecords, SmallRecordsKeepTheirTypesAndSinglePrecision) {
    auto c = std::make_shared<condition>();
    EXPECT_EQ(c->className(), "condition");
    c->let("CONDITION", 3);
    EXPECT_EQ(c->condition_, 3);
    c->let("Dev_Ref", 0.1);
    EXPECT_FLOAT_EQ(c->dev_ref, 0.1f);
    const Variant ref = c->get("dev_ref");
    EXPECT_EQ(ref.type(), Variant::Type::Double);
    EXPECT_EQ(ref.toDouble(), static_cast<double>(0.1f));  // stored in single precision
    EXPECT_EQ(errorNumber([&] { c->let("dev_ref", 1e39); }), RuntimeError::kOverflow);
    c->let("dev_ref", static_cast<double>(FLT_MAX));
    EXPECT_EQ(c->dev_ref, FLT_MAX);

    auto d = std::make_shared<devFunc>();
    d->let("DEVID", 12.25);
    EXPECT_EQ(d->get("devid").toDouble(), 12.25);
    EXPECT_EQ(errorNumber([&] { d->let("devid", -1e300); }), RuntimeError::kOverflow);
    d->let("secs_delay", 70000);
    EXPECT_EQ(d->secs_delay, 70000);
    EXPECT_EQ(errorNumber([&] { d->let("dim_percent", 70000); }), RuntimeError::kOverflow);

    auto o = std::make_shared<objcb>();
    EXPECT_EQ(o->className(), "objcb");
    o->let("EVTYPE", 127);
    o->let("handle", 4);
    o->let("Obj", d);
    EXPECT_EQ(o->evtype, 127);
    EXPECT_EQ(o->get("HANDLE").type(), Variant::Type::Integer);
    EXPECT_EQ(o->get("obj").toObject(), d);
}

}  // namespace
