#pragma once
// Stand-ins for the transceiver plug-in's two classes, registered in-process
// under their class names so the program's start-up binds them as it would
// the real library, and recording what the program asks of them.

#include <memory>
#include <string>
#include <vector>

#include "binding/CreateObject.h"
#include "binding/Dispatch.h"

class FakeTransceiver : public Dispatch {
public:
    struct Send {
        std::string house;
        int unit;
        int command;
        int frames;  // SendCmd's repeats, 3 when not given
    };
    std::string house = "A";
    int unit = 1;
    int command = 1;
    std::vector<Send> sends;
    std::string className() const override { return "cFirecrackerUSB"; }

protected:
    const MemberTable& members() const override {
        using Args = std::vector<Variant>;
        static const MemberTable table = MemberTable::of<FakeTransceiver>({
            property(
                "housecode", [](FakeTransceiver& t, Args&) { return t.house; },
                [](FakeTransceiver& t, Args& a) { t.house = a.back().toString(); }),
            property(
                "devicecode", [](FakeTransceiver& t, Args&) { return int32_t{t.unit}; },
                [](FakeTransceiver& t, Args& a) { t.unit = a.back().toLong(); }),
            property(
                "command", [](FakeTransceiver& t, Args&) { return int32_t{t.command}; },
                [](FakeTransceiver& t, Args& a) { t.command = a.back().toLong(); }),
            method("SendCmd",
                   [](FakeTransceiver& t, Args& a) {
                       const int frames = a.size() >= 2 ? static_cast<int>(a[1].toLong()) : 3;
                       t.sends.push_back({t.house, t.unit, t.command, frames});
                       return true;
                   }),
        });
        return table;
    }
};

class FakePlugin : public Dispatch {
public:
    std::shared_ptr<Dispatch> callback;
    std::shared_ptr<Dispatch> hs;
    std::vector<std::vector<Variant>> execs;
    std::vector<std::string> menuSelections;
    int inits = 0;
    std::string className() const override { return "hspi"; }

protected:
    const MemberTable& members() const override {
        using Args = std::vector<Variant>;
        static const MemberTable table = MemberTable::of<FakePlugin>({
            method("RegisterCallback",
                   [](FakePlugin& p, Args& a) {
                       p.callback = a.at(0).toObject();
                       p.hs = p.callback->call("GetHSIface").toObject();
                   }),
            method("InitX10",
                   [](FakePlugin& p, Args&) {
                       ++p.inits;
                       p.callback->call("RegisterMenu", std::string("X10 CM19A FireCracker USB"),
                                        std::string("Configure..."));
                       return std::string();
                   }),
            method("SelectMenu",
                   [](FakePlugin& p, Args& a) { p.menuSelections.push_back(a.at(0).toString()); }),
            method("Exec", [](FakePlugin& p, Args& a) { p.execs.push_back(a); }),
        });
        return table;
    }
};

// Registers both classes for the life of the object; the last created
// instances are kept for inspection.
class FakeKestrel {
public:
    FakeKestrel() {
        registerFactory("Kestrel.hspi", [this] {
            plugin = std::make_shared<FakePlugin>();
            return plugin;
        });
        registerFactory("Kestrel.cFireCrackerUSB", [this] {
            transceiver = std::make_shared<FakeTransceiver>();
            return transceiver;
        });
    }
    ~FakeKestrel() {
        registerFactory("Kestrel.hspi", {});
        registerFactory("Kestrel.cFireCrackerUSB", {});
    }
    std::shared_ptr<FakePlugin> plugin;
    std::shared_ptr<FakeTransceiver> transceiver;
};
