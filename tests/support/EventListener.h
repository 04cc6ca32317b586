#pragma once
// A plug-in's callback object as the host's event lists see it: records every
// HSEvent list it is given, as texts, after running onEvent (where a test can
// look at the host as the listener would).

#include <functional>
#include <string>
#include <vector>

#include "binding/Dispatch.h"

class EventListener : public Dispatch {
public:
    using Texts = std::vector<std::string>;
    std::vector<Texts> heard;
    std::function<void()> onEvent;

    void HSEvent(std::vector<Variant> list) {
        if (onEvent) onEvent();
        Texts texts;
        for (const Variant& v : list) texts.push_back(v.toString());
        heard.push_back(std::move(texts));
    }

protected:
    const MemberTable& members() const override {
        static const MemberTable table =
            MemberTable::of<EventListener>({method("HSEvent", &EventListener::HSEvent)});
        return table;
    }
};
