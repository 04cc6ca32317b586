#pragma once
// Plays the transceiver on the device end of a virtual bus socket with the
// command-line virtual transceiver's own device end (VirtualCm19a), but step by
// step under the test's control: listens while plugged in, accepts the
// program's connection, receives the packets written and sends packets as
// completed reads. readPacket and writtenPacket spell the packets.

#include <gtest/gtest.h>
#include <poll.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "usb/virtual/VirtualPacket.h"
#include "virtual-cm19a/VirtualCm19a.h"

inline bool waitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & events) != 0;
}

// The packet of one completed read of these bytes, and of one frame written.
inline std::string readPacket(std::string_view bytes) {
    return VirtualPacket::make(VirtualPacket::kRead, bytes);
}
inline std::string writtenPacket(std::string_view frame) {
    return VirtualPacket::make(VirtualPacket::kWrite, frame);
}

class FakeDevice {
public:
    explicit FakeDevice(std::string path)
        : m_device(path.substr(0, path.rfind('/')), path.substr(path.rfind('/') + 1)) {
        plug();
    }
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    void plug() {
        std::string error;
        EXPECT_TRUE(m_device.plug(error)) << error;
    }
    void unplug() { m_device.unplug(); }
    bool connectionWaiting() const { return waitFor(m_device.listenFd(), POLLIN, 0); }
    bool accept() {
        if (!waitFor(m_device.listenFd(), POLLIN, 1000)) return false;
        bool replaced = false;
        return m_device.accept(replaced);
    }
    // Drops the program's connection while staying plugged in.
    void hangUp() { m_device.disconnect(); }
    void send(const std::string& packet) { ASSERT_TRUE(m_device.sendPacket(packet)); }
    // The next packet the program wrote, or nothing within the time.
    std::optional<std::string> receive(int timeoutMs = 1000) {
        if (!waitFor(m_device.clientFd(), POLLIN, timeoutMs)) return std::nullopt;
        const auto packet = m_device.receive();
        if (!packet || packet->hungUp || packet->data.empty()) return std::nullopt;
        return packet->data;
    }
    // Every packet written until the program goes quiet.
    std::vector<std::string> drain() {
        std::vector<std::string> packets;
        while (auto p = receive(150)) packets.push_back(*p);
        return packets;
    }

private:
    VirtualCm19a m_device;
};
