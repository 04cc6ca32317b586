#pragma once
// The packets of the virtual bus, shared by both of its ends: the program's
// side (VirtualDeviceLink) and the device's side (the virtual transceiver).
// The socket is SOCK_SEQPACKET, so one packet is one message:
//   'W' + frame   the program wrote one frame to the device's OUT pipe
//   'R' + bytes   one read completed on the device's IN pipe; 'R' alone is a
//                 read of 0 bytes
// A packet is at most kMaxPacket bytes; a longer one is cut there by the
// receiving end, as a USB transfer is cut at its buffer.

#include <cstddef>
#include <string>
#include <string_view>

namespace VirtualPacket {

constexpr char kWrite = 'W';
constexpr char kRead = 'R';
constexpr std::size_t kMaxPacket = 4096;

inline std::string make(char kind, std::string_view payload) {
    std::string packet(1, kind);
    packet.append(payload);
    return packet;
}

}  // namespace VirtualPacket
