// The transceiver object against a fake device on the virtual bus: a
// SOCK_SEQPACKET socket in the test's program folder, played step by step.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/DoEvents.h"
#include "base/RuntimeError.h"
#include "binding/CreateObject.h"
#include "registry/Registry.h"
#include "support/FakeDevice.h"
#include "support/RaisedError.h"
#include "support/RunEvents.h"
#include "support/TempHome.h"
#include "usb/UsbPort.h"
#include "usb/cFirecrackerUSB.h"

namespace {

using Bytes = cFirecrackerUSB::Bytes;
using namespace std::string_view_literals;

const std::string kInit = writtenPacket("\x80\x01\x00\x20\x14\x24\x20\x20"sv);
const std::string kA3On = writtenPacket("\x20\x60\x9F\x08\xF7");
constexpr const char* kEnumKey = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\X10UIF\\Enum";

// What one object's events said, one text each.
struct Heard {
    std::vector<std::string> events;
    void listen(cFirecrackerUSB& fc) {
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
    }
    void TearDown() override { Registry::instance().setPath(m_savedRegistry); }

    // Another device coming onto the bus or leaving it.
    void otherDeviceArrives() {
        QFile(QString::fromStdString(bus + "/other")).open(QIODevice::WriteOnly);
    }
    void otherDeviceLeaves() { QFile::remove(QString::fromStdString(bus + "/other")); }

    TempHome home;
    std::string bus, socket, entry;

private:
    std::filesystem::path m_savedRegistry;
};

TEST_F(TransceiverTest, InitialisesOnOpenAndWritesEachFrameAsOftenAsAsked) {
    FakeDevice device(socket);
    cFirecrackerUSB fc;
    EXPECT_EQ(cFirecrackerUSB::ActiveTransceiver(), &fc);
    ASSERT_TRUE(fc.Connected()) << fc.lastConnectError();
    ASSERT_TRUE(device.accept());
    EXPECT_EQ(device.drain(), std::vector<std::string>{kInit});

    fc.setDevicecode(3);
    ASSERT_TRUE(fc.SendCmd(0, 3));
    EXPECT_EQ(device.drain(), std::vector<std::string>(3, kA3On));
    ASSERT_TRUE(fc.SendRaw({0x01, 0x02, 0x03}));
    EXPECT_EQ(device.drain(), std::vector<std::string>{writtenPacket("\x01\x02\x03")});
}

TEST_F(TransceiverTest, ReadsAreDecodedUntilAReadBringsNoBytes) {
    FakeDevice device(socket);
    cFirecrackerUSB fc;
    Heard heard;
    heard.listen(fc);
    ASSERT_TRUE(device.accept());

    device.send(readPacket("\x20\x60\x9F\x08\xF7"));
    ASSERT_TRUE(heard.waitFor("Received A 3 1"));
    device.send(readPacket("\x20\x60\x9F\x00\xFE"sv));  // bad complement: dropped
    device.send(readPacket("\xFF"));                    // dropped
    device.send(readPacket("\x01\x02\x03"));
    ASSERT_TRUE(heard.waitFor("Unknown 1 2 3"));
    EXPECT_EQ(heard.events.size(), 2u);

    // An empty read ends the read loop; the next open picks up what waited.
    device.send(readPacket(""));
    device.send(readPacket("\x14\x97\x62\x60"));
    runFor(150);
    EXPECT_EQ(heard.events.size(), 2u);
    fc.Connect(false);
    ASSERT_TRUE(heard.waitFor("Received A 0 5"));
    EXPECT_EQ(heard.events[2], "Connected");
    EXPECT_EQ(device.drain().back(), kInit);
}

TEST_F(TransceiverTest, AnyRemovalDisconnectsAnyArrivalAndTheNextSendReopen) {
    FakeDevice device(socket);
    cFirecrackerUSB fc;
    Heard heard;
    heard.listen(fc);
    ASSERT_TRUE(device.accept());
    device.drain();

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
    EXPECT_EQ(heard.events.size(), before);
    EXPECT_FALSE(fc.lastConnectError().empty());
    device.plug();
    ASSERT_TRUE(heard.waitFor("Connected"));
    EXPECT_TRUE(fc.Connected());
    EXPECT_TRUE(fc.lastConnectError().empty());
}

TEST_F(TransceiverTest, AFailedWriteReconnectsAndIsNotCounted) {
    FakeDevice device(socket);
    cFirecrackerUSB fc;
    Heard heard;
    heard.listen(fc);
    fc.setDevicecode(3);
    ASSERT_TRUE(device.accept());
    device.drain();

    device.hangUp();
    runFor(50);  // the outstanding read sees the hang-up and ends the read loop
    EXPECT_TRUE(heard.events.empty());
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

TEST_F(TransceiverTest, AnAbsentDeviceRaisesNothingAndSendsFail) {
    cFirecrackerUSB fc;
    Heard heard;
    heard.listen(fc);
    EXPECT_FALSE(fc.Connected());
    EXPECT_NE(fc.lastConnectError().find(socket), std::string::npos) << fc.lastConnectError();
    EXPECT_FALSE(fc.SendCmd(0, 3));
    EXPECT_FALSE(fc.SendRaw({0x01}));
    otherDeviceArrives();
    runFor(150);
    EXPECT_TRUE(heard.events.empty());
    EXPECT_FALSE(fc.Connected());
}

TEST_F(TransceiverTest, AReadPipeThatKeepsRefusingReopensOncePerFailure) {
    FakeDevice device(socket);
    cFirecrackerUSB fc;
    ASSERT_TRUE(device.accept());
    device.drain();

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
    Heard heard;
    heard.listen(fc);
    fc.Connect(true);
    EXPECT_EQ(device.drain(), std::vector<std::string>{kInit});
    device.send(readPacket("\x20\x60\x9F\x08\xF7"));
    ASSERT_TRUE(heard.waitFor("Received A 3 1"));
}

TEST_F(TransceiverTest, MembersByNameCheckTheirValues) {
    std::shared_ptr<Dispatch> fc = std::make_shared<cFirecrackerUSB>();
    fc->let("HouseCode", "c");
    EXPECT_EQ(fc->get("housecode").toString(), "C");
    for (const char* bad : {"Q", "1", ""}) {
        const RuntimeError e = errorOf([&] { fc->let("housecode", bad); });
        EXPECT_EQ(e.number(), 1) << bad;
        EXPECT_EQ(e.description(), "Invalid House Code, Only Values A-P are allowed.");
    }
    EXPECT_EQ(fc->get("housecode").toString(), "C");

    fc->let("devicecode", 16);
    for (int bad : {0, 17}) {
        const RuntimeError e = errorOf([&] { fc->let("devicecode", bad); });
        EXPECT_EQ(e.number(), 2) << bad;
        EXPECT_EQ(e.description(), "Invalid Device Code, Only values 1-16 are allowed.");
    }
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
    EXPECT_EQ(errorOf([&] { fc->let("devicecode", 0); }).number(), 2);
#if __has_include("hspi.h")
    EXPECT_NE(CreateObject("Kestrel.hspi"), nullptr);
#endif

    registerClass("Kestrel.Nothing", KESTREL_LIBRARY);
    EXPECT_EQ(errorOf([] { CreateObject("Kestrel.Nothing"); }).number(),
              RuntimeError::kCannotCreateObject);
}

}  // namespace
