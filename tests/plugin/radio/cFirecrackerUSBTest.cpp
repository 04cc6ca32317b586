// The transceiver object against a fake device on the virtual bus: a
// SOCK_SEQPACKET socket in the test's program folder, played step by step.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/RuntimeError.h"
#include "binding/CreateObject.h"
#include "radio/cFirecrackerUSB.h"
#include "registry/Registry.h"
#include "support/FakeDevice.h"
#include "support/FileText.h"
#include "support/RaisedError.h"
#include "support/RunEvents.h"
#include "support/TempHome.h"
#include "usb/UsbPort.h"

namespace {

using Bytes = cFirecrackerUSB::Bytes;
using namespace std::string_view_literals;

const std::string kInit = writtenPacket("\x80\x01\x00\x20\x14\x24\x20\x20"sv);
const std::string kA3On = writtenPacket("\x20\x60\x9F\x08\xF7");
constexpr const char* kEnumKey = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\X10UIF\\Enum";

// What one object's events said, one text each; its trouble lines apart.
struct Heard {
    std::vector<std::string> events;
    std::vector<std::string> trouble;
    void listen(cFirecrackerUSB& fc) {
        fc.events.trouble = [this](const std::string& text) { trouble.push_back(text); };
        fc.events.Connected = [this] { events.push_back("Connected"); };
        fc.events.Disconnected = [this] { events.push_back("Disconnected"); };
        fc.events.Received = [this](const std::string& h, int32_t unit, eX10CMD command) {
            events.push_back("Received " + h + " " + std::to_string(unit) + " " +
                             std::to_string(command));
        };
        fc.events.ReceivedUnknown = [this](const Bytes& bin) {
            std::string s = "Unknown";
            for (auto b : bin) s += " " + std::to_string(b);
            events.push_back(s);
        };
    }
    bool waitFor(const std::string& event) {
        return runUntil([&] { return !events.empty() && events.back() == event; });
    }
};

// A transceiver opened on a device end that has taken its connection and its
// initialisation, with its events heard.
struct Connected {
    explicit Connected(const std::string& socket) : device(socket) {
        heard.listen(fc);
        EXPECT_TRUE(device.accept());
        device.drain();
    }
    FakeDevice device;
    cFirecrackerUSB fc;
    Heard heard;
};

class TransceiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedRegistry = Registry::instance().path();
        Registry::instance().setPath(home.path() + "/Config/registry.reg");
        bus = home.path() + "/bus";
        std::filesystem::create_directories(bus);
        socket = bus + "/cm19a";
        entry = "VIRTUAL\\" + socket;
        Registry::instance().setString(kEnumKey, "0", entry);
        // The recovery's pauses at a tenth of the real ones, so "3 s" is 300 ms.
        // What counts as a working read stays as it is: a busy machine must
        // not turn a run of failed reads into working ones.
        m_savedRecovery = cFirecrackerUSB::recovery();
        auto& r = cFirecrackerUSB::recovery();
        r.readRetryMs = 10;
        r.firstReopenMs = 50;
        r.maxReopenMs = 3000;
        r.arrivalRetryMs = 20;
    }
    void TearDown() override {
        cFirecrackerUSB::recovery() = m_savedRecovery;
        Registry::instance().setPath(m_savedRegistry);
    }

    // Another device coming onto the bus or leaving it.
    void otherDeviceArrives() {
        QFile(QString::fromStdString(bus + "/other")).open(QIODevice::WriteOnly);
    }
    void otherDeviceLeaves() { QFile::remove(QString::fromStdString(bus + "/other")); }

    TempHome home;
    std::string bus, socket, entry;

private:
    std::filesystem::path m_savedRegistry;
    cFirecrackerUSB::Recovery m_savedRecovery;
};

std::string packetOf(const Bytes& frame) {
    return writtenPacket(std::string(frame.begin(), frame.end()));
}

// What the codec drops or cannot decode is the codec's test, and an empty read
// going on is the libusb gateway test's; here each decoded kind reaches its event.
TEST_F(TransceiverTest, ReadsRaiseTheirEvents) {
    Connected rig(socket);
    auto& [device, fc, heard] = rig;
    device.send(readPacket("\x20\x60\x9F\x08\xF7"));
    ASSERT_TRUE(heard.waitFor("Received A 3 1"));
    device.send(readPacket("\x01\x02\x03"));
    ASSERT_TRUE(heard.waitFor("Unknown 1 2 3"));
    EXPECT_TRUE(device.drain().empty());  // not reopened
    EXPECT_TRUE(heard.trouble.empty());
}

TEST_F(TransceiverTest, ADeviceThatHangsUpIsReopenedWithoutANotice) {
    Connected rig(socket);
    auto& [device, fc, heard] = rig;

    device.hangUp();  // still plugged in: its file stays, so no notice comes
    ASSERT_TRUE(runUntil([&] { return device.connectionWaiting(); }));
    ASSERT_TRUE(device.accept());
    EXPECT_EQ(device.drain(), std::vector<std::string>{kInit});
    device.send(readPacket("\x20\x60\x9F\x08\xF7"));
    ASSERT_TRUE(heard.waitFor("Received A 3 1"));
    EXPECT_EQ(heard.events.size(), 1u);
    ASSERT_FALSE(heard.trouble.empty());
    EXPECT_NE(heard.trouble[0].find("the device went away"), std::string::npos);
}

TEST_F(TransceiverTest, ADeviceThatStopsTakingFramesNeverHoldsUpTheSends) {
    Connected rig(socket);
    auto& [device, fc, heard] = rig;

    // The device stops reading: every send returns at once, true while its
    // frames can wait, false once too many do. (The port keeps their order.)
    std::size_t taken = 0, refused = 0;
    fc.setDevicecode(3);
    for (int i = 0; i < 2000 && refused < 3; ++i) (fc.SendCmd(0, 1) ? taken : refused)++;
    ASSERT_EQ(refused, 3u);
    EXPECT_GT(taken, UsbPort::kWriteQueueLimit);
    ASSERT_EQ(heard.trouble.size(), 1u);
    EXPECT_NE(heard.trouble[0].find("is not taking frames: 256 are waiting; new frames are "
                                    "dropped until it takes them again"),
              std::string::npos)
        << heard.trouble[0];

    // Reading again, it gets every frame that was taken.
    std::vector<std::string> got;
    runUntil(
        [&] {
            while (auto p = device.receive(0)) got.push_back(*p);
            return got.size() >= taken;
        },
        5000);
    EXPECT_EQ(got, std::vector<std::string>(taken, kA3On));
    EXPECT_TRUE(fc.SendCmd(0, 1));
    EXPECT_EQ(heard.trouble.back(), "the device takes frames again; 3 were dropped");
    EXPECT_TRUE(heard.events.empty());
}

TEST_F(TransceiverTest, FramesWaitingWhenTheDeviceHangsUpGoOutAfterTheReopen) {
    Connected rig(socket);
    auto& [device, fc, heard] = rig;
    // A port of the test's own on the same device shows how many frames wait.
    auto probe = UsbPort::create(entry);
    ASSERT_TRUE(probe->open());

    std::vector<std::string> waiting;
    for (int i = 0; i < 2000 && waiting.size() < 4; ++i) {
        ASSERT_TRUE(fc.SendRaw(
            {0x5a, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i & 0xff)}));
        if (probe->writesWaiting() > 0)
            waiting.push_back(packetOf(
                {0x5a, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i & 0xff)}));
    }
    ASSERT_EQ(waiting.size(), 4u);
    EXPECT_TRUE(heard.events.empty());

    device.hangUp();
    ASSERT_TRUE(heard.waitFor("Connected"));
    EXPECT_EQ(heard.events, (std::vector<std::string>{"Disconnected", "Connected"}));
    ASSERT_TRUE(device.accept());
    waiting.insert(waiting.begin(), kInit);
    EXPECT_EQ(device.drain(), waiting);
}

TEST_F(TransceiverTest, AnyRemovalDisconnectsAnyArrivalAndTheNextSendReopen) {
    Connected rig(socket);
    auto& [device, fc, heard] = rig;

    otherDeviceArrives();
    ASSERT_TRUE(heard.waitFor("Connected"));
    EXPECT_EQ(device.drain(), std::vector<std::string>{kInit});
    otherDeviceLeaves();
    ASSERT_TRUE(heard.waitFor("Disconnected"));
    EXPECT_FALSE(fc.Connected());

    fc.setDevicecode(3);
    ASSERT_TRUE(fc.SendCmd(0, 1));
    EXPECT_EQ(heard.events.back(), "Connected");
    ASSERT_TRUE(device.accept());
    EXPECT_EQ(device.drain(), (std::vector<std::string>{kInit, kA3On}));

    // The transceiver itself unplugged: sends fail quietly until it is back.
    device.unplug();
    ASSERT_TRUE(heard.waitFor("Disconnected"));
    const auto before = heard.events.size();
    EXPECT_FALSE(fc.SendCmd(0, 1));
    EXPECT_FALSE(fc.SendRaw({0x01}));
    otherDeviceArrives();  // another arrival does not bring an absent transceiver back
    runFor(150);
    EXPECT_EQ(heard.events.size(), before);
    EXPECT_NE(fc.lastConnectError().find(socket), std::string::npos) << fc.lastConnectError();
    device.plug();
    ASSERT_TRUE(heard.waitFor("Connected"));
    EXPECT_TRUE(fc.Connected());
    EXPECT_TRUE(fc.lastConnectError().empty());
}

TEST_F(TransceiverTest, AFailedWriteReconnectsAndIsNotCounted) {
    Connected rig(socket);
    auto& [device, fc, heard] = rig;
    fc.setDevicecode(3);

    // The send finds the hang-up before the outstanding read reports it.
    device.hangUp();
    ASSERT_TRUE(fc.SendCmd(0, 3));
    EXPECT_EQ(heard.events, (std::vector<std::string>{"Disconnected", "Connected"}));
    ASSERT_TRUE(device.accept());
    EXPECT_EQ(device.drain(), (std::vector<std::string>{kInit, kA3On, kA3On, kA3On}));
    device.send(readPacket("\x20\x60\x9F\x08\xF7"));  // and reading again
    ASSERT_TRUE(heard.waitFor("Received A 3 1"));

    device.hangUp();
    device.unplug();
    heard.events.clear();
    EXPECT_FALSE(fc.SendRaw({0x01}));  // no second try for raw bytes
    EXPECT_FALSE(fc.SendCmd(0, 3));
    EXPECT_EQ(heard.events.front(), "Disconnected");
    EXPECT_FALSE(fc.Connected());
}

TEST_F(TransceiverTest, TheNewestObjectAloneHearsWhileEachWritesThroughItsOwnPipe) {
    FakeDevice device(socket);
    auto first = std::make_unique<cFirecrackerUSB>();
    auto second = std::make_unique<cFirecrackerUSB>();
    EXPECT_EQ(cFirecrackerUSB::ActiveTransceiver(), second.get());
    Heard heard1, heard2;
    heard1.listen(*first);
    heard2.listen(*second);
    ASSERT_TRUE(device.accept());
    device.drain();

    device.send(readPacket("\x20\x60\x9F\x08\xF7"));
    ASSERT_TRUE(heard2.waitFor("Received A 3 1"));
    otherDeviceArrives();
    ASSERT_TRUE(heard2.waitFor("Connected"));
    otherDeviceLeaves();
    ASSERT_TRUE(heard2.waitFor("Disconnected"));
    EXPECT_TRUE(heard1.events.empty());
    device.drain();

    // The second's pipe closed with the removal; the first's still writes.
    EXPECT_TRUE(first->Connected());
    first->setHousecode("b");
    ASSERT_TRUE(first->SendCmd(0, 1));
    EXPECT_EQ(device.drain(), std::vector<std::string>{writtenPacket("\x20\x70\x8F\x00\xFF"sv)});

    // An older object going away leaves the newest one reading.
    ASSERT_TRUE(second->SendCmd(0, 1));
    first.reset();
    device.send(readPacket("\x20\x60\x9F\x08\xF7"));
    ASSERT_TRUE(heard2.waitFor("Received A 3 1"));

    second.reset();
    EXPECT_EQ(cFirecrackerUSB::ActiveTransceiver(), nullptr);
    otherDeviceArrives();  // a notice with no transceiver left does nothing
    runFor(100);
}

TEST_F(TransceiverTest, AReadPipeThatKeepsRefusingReopensOncePerFailure) {
    Connected rig(socket);
    auto& [device, fc, heard] = rig;

    // Another port takes the device's one read, so every read the object arms
    // is refused.
    auto holder = UsbPort::create(entry);
    ASSERT_TRUE(holder->open());
    fc.SetConnected(false);
    ASSERT_TRUE(holder->armRead([](UsbPort::ReadStatus, const Bytes&) {}));

    fc.Connect(false);  // refused, one quiet reopen, refused again: stop
    EXPECT_TRUE(fc.Connected());
    EXPECT_EQ(device.drain(), std::vector<std::string>(2, kInit));
    fc.Connect(true);  // a later failure gets its own reopen
    EXPECT_EQ(device.drain(), std::vector<std::string>(2, kInit));

    holder.reset();
    fc.Connect(true);
    EXPECT_EQ(device.drain(), std::vector<std::string>{kInit});
    device.send(readPacket("\x20\x60\x9F\x08\xF7"));
    ASSERT_TRUE(heard.waitFor("Received A 3 1"));
}

TEST_F(TransceiverTest, MembersByNameCheckTheirValues) {
    std::shared_ptr<Dispatch> fc = std::make_shared<cFirecrackerUSB>();
    // The ranges themselves are the codec's; here only that the members check.
    fc->let("HouseCode", "c");
    EXPECT_EQ(errorOf([&] { fc->let("housecode", "Q"); }).number(), 1);
    EXPECT_EQ(fc->get("housecode").toString(), "C");
    fc->let("devicecode", 16);
    EXPECT_EQ(errorOf([&] { fc->let("devicecode", 17); }).number(), 2);
    EXPECT_EQ(fc->get("DeviceCode").toLong(), 16);
    fc->let("command", 24);  // not checked
    EXPECT_EQ(fc->get("command").toLong(), 24);

    EXPECT_FALSE(fc->get("Connected").toBool());
    EXPECT_FALSE(fc->call("SendCmd").toBool());
    EXPECT_FALSE(fc->call("SendRaw", Bytes{0x01}).toBool());
    EXPECT_EQ(errorOf([&] { fc->let("Connected", true); }).number(), RuntimeError::kMemberNotFound);
}

// The library as the program loads it, registered by the registration tool.
TEST_F(TransceiverTest, TheRegisteredLibraryMakesItsClassesByProgId) {
    const QString tool = QFileInfo(QStringLiteral(BRINDLE_EXE)).dir().filePath("kestrel-register");
    if (!QFileInfo(tool).isExecutable()) GTEST_SKIP() << "kestrel-register is not built";
    QProcess reg;
    reg.start(tool, {QString::fromStdString(home.path()), QStringLiteral(KESTREL_LIBRARY)});
    ASSERT_TRUE(reg.waitForFinished(10000));
    ASSERT_EQ(reg.exitCode(), 0) << reg.readAllStandardError().toStdString();
    EXPECT_EQ(Registry::instance().queryString(
                  "HKEY_CLASSES_ROOT\\Kestrel.cFireCrackerUSB\\InprocServer32", ""),
              KESTREL_LIBRARY);
    EXPECT_EQ(Registry::instance().queryString(kEnumKey, "0"), entry);  // the rest is kept

    FakeDevice device(socket);
    std::shared_ptr<Dispatch> fc = CreateObject("kestrel.CFIRECRACKERUSB");
    ASSERT_NE(fc, nullptr);
    EXPECT_EQ(fc->className(), "cFirecrackerUSB");
    EXPECT_TRUE(fc->get("Connected").toBool());

    // The configuration window is a module of its own beside the library,
    // loaded the first time the window is asked for on a widget application
    // (here offscreen, where the window opens nothing and returns at once).
    std::shared_ptr<Dispatch> plugin = CreateObject("Kestrel.hspi");
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(readAll("/proc/self/maps").find("libkestrel-ui.so"), std::string::npos);
    plugin->call("SelectMenu", std::string("Configure..."));
    EXPECT_NE(readAll("/proc/self/maps").find("libkestrel-ui.so"), std::string::npos);
}

}  // namespace
