#pragma once
// The device end of the virtual transceiver: a listening SOCK_SEQPACKET UNIX
// socket in the virtual bus folder, and at most one program connected to it.
// A new connection replaces the old one, as a transceiver serves one driver.
// The packets are those of usb/virtual/VirtualPacket.h.
//
// Plugging creates the socket file (and the bus folder); unplugging closes the
// connection and removes the file, which the program sees as the device going
// away. A socket file left behind by a run that died is replaced; one that
// still answers belongs to another device and is left alone.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class VirtualCm19a {
public:
    using Bytes = std::vector<std::uint8_t>;

    VirtualCm19a(std::string busFolder, std::string name);
    ~VirtualCm19a();
    VirtualCm19a(const VirtualCm19a&) = delete;
    VirtualCm19a& operator=(const VirtualCm19a&) = delete;

    const std::string& path() const { return m_path; }

    // False with `error` set when the socket cannot be made.
    bool plug(std::string& error);
    void unplug();
    bool plugged() const { return m_listen >= 0; }
    bool connected() const { return m_client >= 0; }

    // Descriptors to wait on; -1 when absent.
    int listenFd() const { return m_listen; }
    int clientFd() const { return m_client; }

    // Takes the waiting connection; true when it replaced an older one.
    bool accept(bool& replaced);
    // One completed read for the program; false when nobody is connected or the
    // program has gone.
    bool sendRead(const Bytes& bytes);
    // Any packet as it stands, for tests of what the program makes of odd ones.
    bool sendPacket(std::string_view packet);

    // What the program sent, after clientFd() became readable.
    struct Packet {
        bool hungUp = false;
        std::string data;  // lead byte and payload
    };
    std::optional<Packet> receive();
    void disconnect();

private:
    std::string m_folder;
    std::string m_path;
    int m_listen = -1;
    int m_client = -1;
};
