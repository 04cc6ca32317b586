#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/RuntimeError.h"
#include "binding/Dispatch.h"
#include "host/EventCallbacks.h"
#include "support/RaisedError.h"

namespace {

// A registered object: records every list HSEvent receives, and can act on the
// host from inside the call as a real listener might.
class Listener : public Dispatch {
public:
    std::vector<std::vector<Variant>> calls;
    std::function<void()> during;

    void HSEvent(const std::vector<Variant>& parms) {
        calls.push_back(parms);
        if (during) during();
    }

protected:
    const MemberTable& members() const override {
        static const MemberTable table = MemberTable::of<Listener>({
            method("HSEvent", &Listener::HSEvent),
        });
        return table;
    }
};

class Mute : public Dispatch {};  // no HSEvent at all

std::vector<size_t> counts(const EventCallbacks& cb) {
    std::vector<size_t> n;
    for (int i = 0; i < EventCallbacks::kLists; ++i) n.push_back(cb.listenerCount(i));
    return n;
}

std::vector<std::string> texts(const std::vector<Variant>& parms) {
    std::vector<std::string> out;
    for (const Variant& v : parms) {
        EXPECT_EQ(v.type(), Variant::Type::String);
        out.push_back(v.toString());
    }
    return out;
}

TEST(EventCallbacks, EachOfTheLowSevenBitsNamesAListAndAnObjectInAllHearsOnce) {
    EventCallbacks cb;
    auto a = std::make_shared<Listener>();
    cb.RegisterEventCB(5, a);
    EXPECT_EQ(counts(cb), (std::vector<size_t>{1, 0, 1, 0, 0, 0, 0}));
    cb.RegisterEventCB(127, a);
    EXPECT_EQ(counts(cb), (std::vector<size_t>{2, 1, 2, 1, 1, 1, 1}));
    cb.notify(1, {"2", "2024-05-01 10:00:00", "X", "Y"});
    ASSERT_EQ(a->calls.size(), 1u);
    EXPECT_EQ(texts(a->calls[0]), (std::vector<std::string>{"2", "2024-05-01 10:00:00", "X", "Y"}));
    cb.notify(7, {"x"});  // out of range lists notify nobody
    cb.notify(-1, {"x"});
    EXPECT_EQ(a->calls.size(), 1u);

    // Bits 7 and above are ignored, also the sign bit.
    EventCallbacks high;
    high.RegisterEventCB(0x80 | 0x100 | 0x7FFF0000, a);
    high.RegisterEventCB(INT32_MIN, a);
    EXPECT_EQ(counts(high), (std::vector<size_t>(7, 0)));
    EXPECT_EQ(high.listenerCount(-1), 0u);
    EXPECT_EQ(high.listenerCount(7), 0u);
}

TEST(EventCallbacks, ListenersAreCalledInOrderAndFailuresAreSkipped) {
    EventCallbacks cb;
    auto first = std::make_shared<Listener>();
    auto thrower = std::make_shared<Listener>();
    thrower->during = [] { throw std::runtime_error("listener broke"); };
    auto raiser = std::make_shared<Listener>();
    raiser->during = [] { raiseError(5, "Invalid procedure call or argument"); };
    auto mute = std::make_shared<Mute>();
    auto last = std::make_shared<Listener>();
    std::vector<std::string> order;
    first->during = [&] { order.push_back("first"); };
    last->during = [&] { order.push_back("last"); };

    cb.RegisterEventCB(4, first);
    cb.RegisterEventCB(4, thrower);
    cb.RegisterEventCB(4, raiser);
    cb.RegisterEventCB(4, mute);
    cb.RegisterEventCB(4, nullptr);
    cb.RegisterEventCB(4, last);
    cb.RegisterEventCB(4, first);  // the same object twice in one list hears twice

    EXPECT_NO_THROW(cb.notify(2, {"4", "1", "A", "2"}));
    EXPECT_EQ(thrower->calls.size(), 1u);
    EXPECT_EQ(raiser->calls.size(), 1u);
    EXPECT_EQ(order, (std::vector<std::string>{"first", "last", "first"}));
}

TEST(EventCallbacks, ListenersMayChangeTheListsWhileBeingNotified) {
    EventCallbacks cb;
    auto late = std::make_shared<Listener>();
    auto second = std::make_shared<Listener>();
    {
        auto registrar = std::make_shared<Listener>();
        registrar->during = [&] {
            for (int i = 0; i < 100; ++i) cb.RegisterEventCB(2, late);  // forces reallocation
        };
        cb.RegisterEventCB(2, registrar);
    }
    cb.RegisterEventCB(2, second);

    cb.notify(1, {"2"});
    EXPECT_TRUE(late->calls.empty());  // joined after this notification began
    EXPECT_EQ(second->calls.size(), 1u);
    EXPECT_EQ(cb.listenerCount(1), 102u);

    cb.notify(1, {"2"});
    EXPECT_EQ(late->calls.size(), 100u);

    // A listener that empties every list, dropping the only reference to
    // itself, runs to its end; the rest of the round is still heard.
    EventCallbacks cb2;
    auto after = std::make_shared<Listener>();
    {
        auto clearer = std::make_shared<Listener>();
        Listener* self = clearer.get();
        clearer->during = [&cb2, self] {
            cb2.clear();
            self->calls.push_back({});  // touches the object after the release
        };
        cb2.RegisterEventCB(8, clearer);
    }
    cb2.RegisterEventCB(8, after);
    cb2.notify(3, {"8", "1", "0"});
    EXPECT_EQ(after->calls.size(), 1u);
    EXPECT_EQ(cb2.listenerCount(3), 0u);
}

struct RunRecord {
    std::string script, func;
    std::vector<Variant> params;
};

TEST(EventCallbacks, StatusChangeScriptsRunInOrderUnlessRegisteredOrRunWhileLoading) {
    EventCallbacks cb;
    std::vector<RunRecord> runs;

    // Registrations made while loading are dropped for good.
    cb.setLoading(true);
    EXPECT_TRUE(cb.RegisterStatusChangeCB("early.txt", "Early").isEmpty());
    cb.setLoading(false);
    const Variant registered = cb.RegisterStatusChangeCB("lights.txt", "OnChange");
    EXPECT_TRUE(registered.isEmpty());
    cb.RegisterStatusChangeCB("alarm.txt", "");
    EXPECT_EQ(cb.statusChangeCallbacks(),
              (std::vector<std::string>{std::string("lights.txt\0OnChange", 19),
                                        std::string("alarm.txt\0", 10)}));

    // Without a runner nothing happens.
    EXPECT_NO_THROW(cb.statusChanged("A", "1", 2, 7));

    cb.scriptRunner = [&](const std::string& script, const std::string& func,
                          const std::vector<Variant>& params) {
        runs.push_back({script, func, params});
        return Variant();
    };
    cb.setLoading(true);
    cb.statusChanged("A", "1", 2, 7);
    EXPECT_TRUE(runs.empty());
    cb.setLoading(false);

    // The values themselves are checked where a device changes and a script hears it.
    cb.statusChanged("A", "1", 2, 7);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].script + "/" + runs[0].func, "lights.txt/OnChange");
    EXPECT_EQ(runs[0].params.size(), 4u);
    EXPECT_EQ(runs[1].script + "/" + runs[1].func, "alarm.txt/");
}

TEST(EventCallbacks, StatusChangeRunnerFaultReachesTheCallerAndScriptsMayRegisterMore) {
    EventCallbacks cb;
    cb.RegisterStatusChangeCB("a.txt", "A");
    cb.RegisterStatusChangeCB("b.txt", "B");
    int runs = 0;
    cb.scriptRunner = [&](const std::string& script, const std::string&,
                          const std::vector<Variant>&) -> Variant {
        ++runs;
        cb.RegisterStatusChangeCB("c.txt", "C");  // grows the list mid-walk
        if (script == "b.txt") raiseError(1002, "Script failed");
        return {};
    };
    EXPECT_EQ(errorNumber([&] { cb.statusChanged("B", "2", 3, 1); }), 1002);  // not swallowed
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(cb.statusChangeCallbacks().size(), 4u);
}

}  // namespace
