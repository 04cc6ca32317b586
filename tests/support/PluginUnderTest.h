#pragma once
// The plug-in object against a fake host: a callback object and an "hs" that
// record every call, a transceiver that records its sends instead of writing,
// settings on a temporary registry and a manual clock.

#include <gtest/gtest.h>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "host/DeviceClass.h"
#include "hspi/hspi.h"
#include "registry/Registry.h"
#include "settings/cSettings.h"

// Answers the members it was given and records each call with its arguments;
// any other name raises 438, as an object of the real host does.
class FakeObject : public Dispatch {
public:
    using Args = std::vector<Variant>;
    struct Call {
        std::string member;
        Args args;
    };
    std::map<std::string, std::function<Variant(Args&)>> handlers;
    std::vector<Call> calls;

    Variant Invoke(std::string_view name, Args& args, CallKind) override {
        auto it = handlers.find(std::string(name));
        if (it == handlers.end()) memberNotFound(name);
        calls.push_back({std::string(name), args});
        return it->second(args);
    }
    // Each call to `member`, its arguments as texts joined by "|".
    std::vector<std::string> callsTo(const std::string& member) const {
        std::vector<std::string> out;
        for (const Call& c : calls) {
            if (c.member != member) continue;
            std::string line;
            for (size_t i = 0; i < c.args.size(); ++i)
                line += (i ? "|" : "") + c.args[i].toString();
            out.push_back(line);
        }
        return out;
    }
    std::vector<std::string> memberNames() const {
        std::vector<std::string> out;
        for (const Call& c : calls) out.push_back(c.member);
        return out;
    }
};

class RecordingFC : public cFirecrackerUSB {
public:
    std::vector<std::string> sends;  // "house unit command repeats"
    std::vector<Bytes> raws;
    bool SendCmd(int32_t /*lngDuration*/, int32_t lngRepeats) override {
        sends.push_back(housecode() + " " + std::to_string(devicecode()) + " " +
                        std::to_string(command()) + " x" + std::to_string(lngRepeats));
        return true;
    }
    bool SendRaw(const Bytes& Bin) override {
        raws.push_back(Bin);
        return true;
    }
};

class PluginTest : public ::testing::Test {
protected:
    using Args = std::vector<Variant>;
    using Bytes = std::vector<uint8_t>;
    using Lines = std::vector<std::string>;

    QTemporaryDir dir;
    Registry registry{std::filesystem::path(dir.path().toStdString()) / "registry.reg"};
    std::shared_ptr<cSettings> settings = std::make_shared<cSettings>(registry);
    ManualClock clock{QDateTime(QDate(2024, 5, 1), QTime(12, 0, 0))};
    std::shared_ptr<FakeObject> hs = std::make_shared<FakeObject>();
    std::shared_ptr<FakeObject> callback = std::make_shared<FakeObject>();
    std::shared_ptr<RecordingFC> fc;
    std::shared_ptr<hspi> plugin = std::make_shared<hspi>();
    std::map<std::string, int32_t> refs;  // what GetDeviceRef knows
    std::vector<std::shared_ptr<DeviceClass>> devices;
    int16_t interfaceVersion = 2;

    void SetUp() override {
        Clock::install(&clock);
        for (const char* m : {"WriteLog", "ExecX10", "WaitSecs", "SetDeviceValue"})
            hs->handlers[m] = [](Args&) { return Variant(); };
        hs->handlers["InterfaceVersion"] = [this](Args&) { return Variant(interfaceVersion); };
        hs->handlers["GetDeviceRef"] = [this](Args& a) {
            auto it = refs.find(a[0].toString());
            return Variant(it == refs.end() ? int32_t{-1} : it->second);
        };
        hs->handlers["GetDeviceByRef"] = [this](Args& a) {
            for (const auto& d : devices)
                if (d->ref == a[0].toLong()) return Variant(d);
            return Variant(nullptr);
        };
        hs->handlers["DeviceCount"] = [this](Args&) {
            return Variant(static_cast<int16_t>(devices.size()));
        };
        hs->handlers["GetDevice"] = [this](Args& a) {
            return Variant(devices.at(static_cast<size_t>(a[0].toLong() - 1)));
        };
        callback->handlers["GetHSIface"] = [this](Args&) { return Variant(hs); };
        for (const char* m : {"X10Event", "ValueChangeEvent", "WriteSplash", "CheckTrigger"})
            callback->handlers[m] = [](Args&) { return Variant(); };

        plugin->RegisterCallback(callback);
        fc = std::make_shared<RecordingFC>();
        plugin->setFC(fc);
        plugin->setSettings(settings);
    }
    void TearDown() override { Clock::install(nullptr); }

    // Through the transceiver's event, as a decoded frame arrives.
    void receive(const std::string& house, int unit, eX10CMD command) {
        fc->events.Received(house, unit, command);
    }
    void advance(int ms) { clock.advanceMs(ms); }
    Lines logs() const { return hs->callsTo("WriteLog"); }
    Lines x10Events() const { return callback->callsTo("X10Event"); }
};
