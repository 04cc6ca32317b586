#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "base/DoEvents.h"
#include "base/ProgramFolder.h"
#include "support/FakeDevice.h"
#include "support/RunEvents.h"
#include "usb/UsbDeviceEntry.h"
#include "usb/UsbDeviceNotices.h"
#include "usb/UsbPort.h"

namespace {

using Bytes = UsbPort::Bytes;
using Status = UsbPort::ReadStatus;
using Result = UsbPort::WriteResult;

struct Completion {
    int count = 0;
    Status status = Status::Error;
    Bytes bytes;
    UsbPort::ReadHandler handler() {
        return [this](Status s, const Bytes& b) {
            ++count;
            status = s;
            bytes = b;
        };
    }
};

class VirtualUsbPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        bus = dir.path().toStdString() + "/bus";
        ASSERT_EQ(::mkdir(bus.c_str(), 0700), 0);
        path = bus + "/cm19a";
        entry = "VIRTUAL\\" + bus + "/cm19a";
    }
    QTemporaryDir dir;
    std::string bus, path, entry;
};

const Bytes kA3On{0x20, 0x60, 0x9F, 0x08, 0xF7};

TEST(UsbDeviceEntry, NamesTheUsbDeviceOrTheVirtualSocket) {
    auto e = UsbDeviceEntry::parse("USB\\Vid_1234&Pid_5678\\7");
    EXPECT_EQ(e.kind, UsbDeviceEntry::Kind::Usb);
    EXPECT_EQ(e.vendorId, 0x1234);
    EXPECT_EQ(e.productId, 0x5678);
    e = UsbDeviceEntry::parse("usb\\VID_ABCD&PID_00EF");
    EXPECT_EQ(e.vendorId, 0xabcd);
    EXPECT_EQ(e.productId, 0x00ef);
    for (const char* unusable : {"", "HID\\Vid_1234&Pid_5678", "USB\\Vid_12&Pid_5678\\7",
                                 "USB\\Vid_12345&Pid_5678", "USB\\Pid_5678"}) {
        e = UsbDeviceEntry::parse(unusable);
        EXPECT_EQ(e.kind, UsbDeviceEntry::Kind::Usb) << unusable;
        EXPECT_EQ(e.vendorId, 0x0bc7) << unusable;
        EXPECT_EQ(e.productId, 0x0002) << unusable;
    }

    e = UsbDeviceEntry::parse("VIRTUAL\\/tmp/some bus/dev1");
    EXPECT_EQ(e.kind, UsbDeviceEntry::Kind::Virtual);
    EXPECT_EQ(e.busFolder, "/tmp/some bus");
    EXPECT_EQ(e.socketPath(), "/tmp/some bus/dev1");
    EXPECT_EQ(UsbDeviceEntry::parse("virtual\\/tmp/bus/").socketPath(), "/tmp/bus/cm19a");
    EXPECT_EQ(UsbDeviceEntry::parse("VIRTUAL\\bus\\cm19a").socketPath(),
              ProgramFolder::path() + "/bus/cm19a");
}

TEST_F(VirtualUsbPort, OpenFailsAsForAnAbsentDeviceAndSaysWhy) {
    auto port = UsbPort::create(entry);
    EXPECT_FALSE(port->open());
    EXPECT_FALSE(port->isOpen());
    EXPECT_NE(port->lastError().find(path), std::string::npos) << port->lastError();
    EXPECT_EQ(port->write(kA3On), Result::Failed);
    EXPECT_FALSE(port->armRead([](Status, const Bytes&) {}));

    {  // a socket file left behind with nobody listening refuses
        FakeDevice device(path);
        device.unplug();
        const int stale = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_FALSE(port->open());
        ::close(stale);
    }
}

TEST_F(VirtualUsbPort, FramesTravelAsPacketsAndReadsCompleteFromTheEventLoop) {
    FakeDevice device(path);
    auto port = UsbPort::create(entry);
    ASSERT_TRUE(port->open()) << port->lastError();
    EXPECT_TRUE(port->lastError().empty());
    ASSERT_TRUE(device.accept());

    ASSERT_EQ(port->write(kA3On), Result::Written);
    EXPECT_EQ(device.receive(), writtenPacket("\x20\x60\x9F\x08\xF7"));
    ASSERT_EQ(port->write({}), Result::Written);
    EXPECT_EQ(device.receive(), writtenPacket(""));

    // A packet sent before the read is armed waits for it, as a USB device holds
    // its data until asked.
    device.send(readPacket("\x14\x97\x62\x60"));
    Completion c;
    ASSERT_TRUE(port->armRead(c.handler()));
    EXPECT_TRUE(port->readPending());
    EXPECT_FALSE(port->armRead(c.handler()));  // one read at a time
    EXPECT_FALSE(port->lastError().empty());
    EXPECT_EQ(c.count, 0);  // never from inside armRead
    ASSERT_TRUE(runUntil([&] { return c.count == 1; }));
    EXPECT_EQ(c.status, Status::Completed);
    EXPECT_EQ(c.bytes, (Bytes{0x14, 0x97, 0x62, 0x60}));
    EXPECT_FALSE(port->readPending());

    // Packets with another lead byte are not reads; "R" alone is a read of 0 bytes.
    device.send("X\x01");
    device.send(readPacket(""));
    ASSERT_TRUE(port->armRead(c.handler()));
    ASSERT_TRUE(runUntil([&] { return c.count == 2; }));
    EXPECT_EQ(c.status, Status::Completed);
    EXPECT_TRUE(c.bytes.empty());

    // A read of the largest size the pipe delivers.
    device.send(readPacket(std::string(UsbPort::kReadSize, '\x5a')));
    ASSERT_TRUE(port->armRead(c.handler()));
    ASSERT_TRUE(runUntil([&] { return c.count == 3; }));
    EXPECT_EQ(c.bytes.size(), UsbPort::kReadSize);
}

TEST_F(VirtualUsbPort, PortsOnOneDeviceShareItsConnectionAndItsOneRead) {
    FakeDevice device(path);
    auto first = UsbPort::create(entry);
    auto second = UsbPort::create(entry);
    ASSERT_TRUE(first->open());
    ASSERT_TRUE(second->open());
    ASSERT_TRUE(device.accept());
    EXPECT_FALSE(device.connectionWaiting());

    ASSERT_EQ(first->write({0x01}), Result::Written);
    ASSERT_EQ(second->write({0x02}), Result::Written);
    EXPECT_EQ(device.receive(), writtenPacket("\x01"));
    EXPECT_EQ(device.receive(), writtenPacket("\x02"));

    Completion c1, c2;
    ASSERT_TRUE(first->armRead(c1.handler()));
    EXPECT_FALSE(second->armRead(c2.handler()));
    first->close();  // lets go of the read; the second port keeps the connection
    EXPECT_FALSE(first->isOpen());
    EXPECT_FALSE(first->readPending());
    ASSERT_TRUE(second->armRead(c2.handler()));
    device.send(readPacket("\x07"));
    ASSERT_TRUE(runUntil([&] { return c2.count == 1; }));
    EXPECT_EQ(c2.bytes, Bytes{0x07});
    EXPECT_EQ(c1.count, 0);
    EXPECT_FALSE(device.connectionWaiting());
}

// The transceiver's tests see a hang-up end the read and fail the next write;
// the port's own part is that nobody joins the dead connection.
TEST_F(VirtualUsbPort, APortOpenedAfterAHangUpConnectsAfresh) {
    FakeDevice device(path);
    auto port = UsbPort::create(entry);
    ASSERT_TRUE(port->open());
    ASSERT_TRUE(device.accept());
    device.hangUp();
    EXPECT_EQ(port->write(kA3On), Result::Failed);  // and the process is still alive: no SIGPIPE
    EXPECT_FALSE(port->lastError().empty());

    auto other = UsbPort::create(entry);
    ASSERT_TRUE(other->open());
    ASSERT_TRUE(device.accept());
    EXPECT_EQ(other->write(kA3On), Result::Written);
    EXPECT_EQ(port->write(kA3On), Result::Failed);
}

// Numbered frames, so the order they arrive in can be checked.
Bytes numbered(unsigned n) {
    return {0x5a, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n & 0xff)};
}
// Writes numbered frames from `first` until the device's socket has no room
// left, so the next one waits; returns the next number.
unsigned fillSocket(UsbPort& port, unsigned first) {
    for (unsigned n = first; n < first + 100000; ++n) {
        const Result r = port.write(numbered(n));
        if (r == Result::Queued) return n + 1;
        EXPECT_EQ(r, Result::Written);
        if (r != Result::Written) return n;
    }
    ADD_FAILURE() << "the socket never filled";
    return first;
}

TEST_F(VirtualUsbPort, WaitingFramesOfAGoneDeviceGoBackToTheirPortsInOrder) {
    FakeDevice device(path);
    auto a = UsbPort::create(entry);
    auto b = UsbPort::create(entry);
    ASSERT_TRUE(a->open());
    ASSERT_TRUE(b->open());
    ASSERT_TRUE(device.accept());
    std::vector<Bytes> failedA, failedB;
    int calls = 0;
    auto collect = [&calls](std::vector<Bytes>& into) {
        return [&into, &calls](std::vector<UsbPort::WriteJob> jobs, const std::string& error) {
            ++calls;
            EXPECT_FALSE(error.empty());
            for (const auto& job : jobs) into.push_back(job.frame);
        };
    };
    a->onWriteFailure(collect(failedA));
    b->onWriteFailure(collect(failedB));

    const unsigned next = fillSocket(*a, 0);
    ASSERT_EQ(b->write(numbered(1000)), Result::Queued);
    ASSERT_EQ(a->write(numbered(1001)), Result::Queued);
    ASSERT_EQ(b->write(numbered(1002)), Result::Queued);
    EXPECT_EQ(calls, 0);
    device.hangUp();
    ASSERT_TRUE(runUntil([&] { return calls == 2; }));
    EXPECT_EQ(failedA, (std::vector<Bytes>{numbered(next - 1), numbered(1001)}));
    EXPECT_EQ(failedB, (std::vector<Bytes>{numbered(1000), numbered(1002)}));
    EXPECT_EQ(a->writesWaiting(), 0u);
    EXPECT_EQ(a->write(kA3On), Result::Failed);

    // A port closed before the failure hears nothing of it, while its frames
    // stayed queued for the port that kept the device open.
    ASSERT_TRUE(a->open());
    ASSERT_TRUE(b->open());
    ASSERT_TRUE(device.accept());
    fillSocket(*a, 0);
    a->close();
    EXPECT_EQ(b->writesWaiting(), 1u);
    calls = 0;
    device.hangUp();
    runFor(100);
    EXPECT_EQ(calls, 0);
}

TEST_F(VirtualUsbPort, CloseEndsTheReadWithoutACompletionEvenFromInsideOne) {
    FakeDevice device(path);
    auto port = UsbPort::create(entry);
    ASSERT_TRUE(port->open());
    ASSERT_TRUE(device.accept());

    // The read loop of the transceiver: re-arm from the completion, and on the
    // third read close from inside it.
    int reads = 0;
    std::function<void(Status, const Bytes&)> loop = [&](Status, const Bytes&) {
        if (++reads < 3) {
            EXPECT_TRUE(port->armRead(loop));
        } else {
            port->close();
            port->close();
        }
    };
    ASSERT_TRUE(port->armRead(loop));
    for (int i = 0; i < 5; ++i) device.send(readPacket("\x02"));
    runFor(200);
    EXPECT_EQ(reads, 3);
    EXPECT_FALSE(port->isOpen());

    // Even the end of the port from inside its own completion.
    ASSERT_TRUE(port->open());
    ASSERT_TRUE(device.accept());
    bool ended = false;
    ASSERT_TRUE(port->armRead([&](Status, const Bytes&) {
        port.reset();
        ended = true;
    }));
    device.send(readPacket("\x03"));
    ASSERT_TRUE(runUntil([&] { return ended; }));
    EXPECT_EQ(port, nullptr);
}

TEST_F(VirtualUsbPort, FilesComingAndGoingInTheBusFolderAreArrivalsAndRemovals) {
    ::rmdir(bus.c_str());  // the notices make a missing bus folder
    auto notices = UsbDeviceNotices::create(entry);
    ASSERT_TRUE(notices->isWatching()) << notices->lastError();
    int arrivals = 0, removals = 0;
    notices->onArrival([&] { ++arrivals; });
    notices->onRemoval([&] { ++removals; });

    {
        FakeDevice device(path);  // its socket file appears
        ASSERT_TRUE(runUntil([&] { return arrivals == 1; }));
        EXPECT_EQ(removals, 0);
        device.unplug();
        ASSERT_TRUE(runUntil([&] { return removals == 1; }));
    }
    // Any file, not only the transceiver's, as on a real bus.
    QFile other(QString::fromStdString(bus + "/another-device"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();
    ASSERT_TRUE(runUntil([&] { return arrivals == 2; }));
    ASSERT_TRUE(other.remove());
    ASSERT_TRUE(runUntil([&] { return removals == 2; }));
    runFor(100);
    EXPECT_EQ(arrivals, 2);
    EXPECT_EQ(removals, 2);

    // A handler may end the notices; the ones still queued are dropped.
    notices->onArrival([&] {
        ++arrivals;
        notices.reset();
    });
    QFile a(QString::fromStdString(bus + "/a")), b(QString::fromStdString(bus + "/b"));
    ASSERT_TRUE(a.open(QIODevice::WriteOnly));
    ASSERT_TRUE(b.open(QIODevice::WriteOnly));
    ASSERT_TRUE(runUntil([&] { return notices == nullptr; }));
    runFor(100);
    EXPECT_EQ(arrivals, 3);
}

// The command-line virtual transceiver, built next to the program, against a
// port: the two ends must agree on every packet.
TEST_F(VirtualUsbPort, TheCommandLineVirtualTransceiverPlaysTheDevice) {
    const QString tool = QFileInfo(QStringLiteral(BRINDLE_EXE)).dir().filePath("virtual-cm19a");
    if (!QFileInfo(tool).isExecutable()) GTEST_SKIP() << "virtual-cm19a is not built";

    auto notices = UsbDeviceNotices::create(entry);
    int arrivals = 0, removals = 0;
    notices->onArrival([&] { ++arrivals; });
    notices->onRemoval([&] { ++removals; });

    QProcess device;
    device.start(tool, {QString::fromStdString(bus), "--send", "A3 on", "--send", "empty", "--send",
                        "wait 300", "--send", "unplug", "--exit-after-ms", "10000"});
    QByteArray out;
    ASSERT_TRUE(runUntil([&] {
        out += device.readAllStandardOutput();
        return out.contains("ready " + QByteArray::fromStdString(path) + "\n");
    }));
    ASSERT_TRUE(runUntil([&] { return arrivals == 1; }));

    auto port = UsbPort::create(entry);
    ASSERT_TRUE(port->open()) << port->lastError();
    ASSERT_EQ(port->write({0x80, 0x01, 0x00, 0x20, 0x14, 0x24, 0x20, 0x20}), Result::Written);
    std::vector<std::pair<Status, Bytes>> reads;
    std::function<void(Status, const Bytes&)> loop = [&](Status s, const Bytes& b) {
        reads.emplace_back(s, b);
        if (s == Status::Completed) port->armRead(loop);
    };
    ASSERT_TRUE(port->armRead(loop));
    ASSERT_TRUE(runUntil([&] { return reads.size() == 3; }, 5000));
    EXPECT_EQ(reads[0], std::make_pair(Status::Completed, kA3On));
    EXPECT_EQ(reads[1], std::make_pair(Status::Completed, Bytes{}));
    EXPECT_EQ(reads[2].first, Status::DeviceGone);
    EXPECT_EQ(port->write(kA3On), Result::Failed);
    ASSERT_TRUE(runUntil([&] { return removals == 1; }));

    device.terminate();
    ASSERT_TRUE(device.waitForFinished(5000));
    EXPECT_EQ(device.exitCode(), 0);
    out += device.readAllStandardOutput();
    EXPECT_TRUE(out.contains("\nconnected\n")) << out.toStdString();
    EXPECT_TRUE(out.contains("\nW 80 01 00 20 14 24 20 20  initialisation\n"));
    EXPECT_TRUE(out.contains("\nR 20 60 9F 08 F7  A3 On\n"));
    EXPECT_TRUE(out.contains("\nR  empty\n"));
    EXPECT_TRUE(out.contains("\nunplugged\n"));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path)));
}

}  // namespace
