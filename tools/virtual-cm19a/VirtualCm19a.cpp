#include "virtual-cm19a/VirtualCm19a.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "usb/virtual/VirtualPacket.h"

namespace {

bool makeAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool somebodyListens(const sockaddr_un& address) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool answered =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answered;
}

}  // namespace

VirtualCm19a::VirtualCm19a(std::string busFolder, std::string name)
    : m_folder(std::move(busFolder)), m_path(m_folder + "/" + name) {}

VirtualCm19a::~VirtualCm19a() {
    unplug();
}

bool VirtualCm19a::plug(std::string& error) {
    if (plugged()) return true;
    sockaddr_un address;
    if (!makeAddress(m_path, address)) {
        error = "socket path too long: " + m_path;
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(m_folder, ec);
    if (ec) {
        error = "cannot create " + m_folder + ": " + ec.message();
        return false;
    }
    struct stat st {};
    if (::lstat(m_path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            error = m_path + " exists and is not a socket";
            return false;
        }
        if (somebodyListens(address)) {
            error = "another virtual transceiver already plays " + m_path;
            return false;
        }
        ::unlink(m_path.c_str());
    }
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
        error = "cannot listen on " + m_path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    m_listen = fd;
    return true;
}

void VirtualCm19a::unplug() {
    disconnect();
    if (m_listen < 0) return;
    ::close(m_listen);
    m_listen = -1;
    ::unlink(m_path.c_str());
}

bool VirtualCm19a::accept(bool& replaced) {
    replaced = false;
    if (m_listen < 0) return false;
    const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return false;
    replaced = m_client >= 0;
    disconnect();
    m_client = fd;
    return true;
}

bool VirtualCm19a::sendRead(const Bytes& bytes) {
    const std::string_view payload(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return sendPacket(VirtualPacket::make(VirtualPacket::kRead, payload));
}

bool VirtualCm19a::sendPacket(std::string_view packet) {
    if (m_client < 0) return false;
    const ssize_t sent =
        ::send(m_client, packet.data(), packet.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return sent == static_cast<ssize_t>(packet.size());
}

std::optional<VirtualCm19a::Packet> VirtualCm19a::receive() {
    if (m_client < 0) return std::nullopt;
    char buffer[VirtualPacket::kMaxPacket];
    const ssize_t n = ::recv(m_client, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return std::nullopt;
    if (n <= 0) {
        // 0 is both an empty packet and the end of the connection.
        pollfd p{m_client, POLLRDHUP, 0};
        const bool hungUp =
            n < 0 || (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLRDHUP | POLLERR)));
        if (!hungUp) return Packet{};
        return Packet{true, {}};
    }
    return Packet{false, std::string(buffer, static_cast<std::size_t>(n))};
}

void VirtualCm19a::disconnect() {
    if (m_client < 0) return;
    ::close(m_client);
    m_client = -1;
}
