#pragma once
// One event record of the host's event list: a plain store that plug-ins and
// scripts fill and read. The host reads only `Enabled` and `name`; it never
// schedules or fires an event, and nothing here is saved.
//
// Every field is a read-write property of the same name, found ignoring case
// (`ev->let("ENABLED", true)`). Fields start empty, 0, false, the zero date or
// Nothing. Assigning a value that does not fit the field's type raises the
// conversion's error (13, 6, 91). C++ code uses the public fields directly;
// `delete` is spelled `delete_` here only because C++ reserves the word.
//
// Records are shared (std::shared_ptr): the list and every caller that was
// handed one see the same record.

#include <QDateTime>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "binding/Dispatch.h"
#include "binding/Variant.h"

class EventClass : public Dispatch {
public:
    bool Enabled = false;
    int16_t delete_ = 0;
    std::string dtmf;
    std::string eprom_address;
    int16_t ev_abs_time = 0;
    std::string ev_app_path;
    std::shared_ptr<Dispatch> ev_conditions;  // a list of condition records
    std::string ev_date;
    int16_t ev_days = 0;
    std::shared_ptr<Dispatch> ev_devices;  // a list of devFunc records
    int16_t ev_dimpercent = 0;
    bool ev_dimto = false;
    int16_t ev_func = 0;
    std::string ev_hc;
    std::string ev_mail_message;
    std::string ev_mail_subj;
    std::string ev_mail_to;
    std::string ev_offset;
    bool ev_offset_before = false;
    std::string ev_time;
    std::string ev_trig_dc;
    int16_t ev_trig_func = 0;
    std::string ev_trig_hc;
    std::string ev_wav_path;
    std::string events;
    std::string group;
    int16_t handled = 0;
    std::string ir;
    int16_t irmatch = 0;
    QDateTime last_trigger_time = Variant::zeroDate();
    bool last_trigger_time_valid = false;
    std::string mail_attach_path;
    int32_t misc = 0;
    std::string misc_actions;
    int32_t misc2 = 0;
    std::string name;
    int16_t order = 0;
    std::string phone_actions;
    int16_t phone_event = 0;
    int16_t phone_line = 0;
    std::string pi_actions;
    std::string pi_trig_name;
    std::string pi_trigger;
    std::string popfrom;
    QDateTime rec_last = Variant::zeroDate();
    int16_t rec_mins = 0;
    int16_t rec_secs = 0;
    int16_t rec_secs_tmp = 0;
    std::string relay;
    std::string scripts;
    std::string sec_action;
    std::string sec_trigger;
    int16_t security_offset = 0;
    int16_t source_line = 0;
    std::string speak_after_script;
    std::string speak_before_script;
    int16_t speak_device = 0;
    std::string speech;
    Variant tag;
    bool time_handled = false;
    std::string vcmd;

    std::string className() const override { return "EventClass"; }

protected:
    const MemberTable& members() const override;
};
