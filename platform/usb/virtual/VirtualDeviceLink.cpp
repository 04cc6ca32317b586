#include "usb/virtual/VirtualDeviceLink.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "usb/UsbPort.h"
#include "usb/virtual/VirtualPacket.h"

namespace {

// Open links, so a second port on the same device joins the first connection
// instead of making the device replace it.
std::vector<std::weak_ptr<VirtualDeviceLink>>& openLinks() {
    static std::vector<std::weak_ptr<VirtualDeviceLink>> links;
    return links;
}

bool isHangUp(int error) {
    return error == EPIPE || error == ECONNRESET || error == ENOTCONN;
}

std::string errorText(int error) {
    return std::strerror(error);
}

}  // namespace

std::shared_ptr<UsbDeviceLink> VirtualDeviceLink::open(const std::string& socketPath,
                                                       std::string& error) {
    auto& links = openLinks();
    std::erase_if(links, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : links) {
        auto link = weak.lock();
        if (!link || link->m_path != socketPath) continue;
        if (!link->m_gone && !link->hungUp()) return link;
        // A link whose device hung up stays with the ports that hold it, so they
        // see their writes fail; newcomers get a connection of their own.
        link->m_gone = true;
    }

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        error = "the virtual transceiver's socket path is too long: " + socketPath;
        return nullptr;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);

    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = "cannot create a socket for the virtual transceiver: " + errorText(errno);
        return nullptr;
    }
    // Bounds both a connect to a device whose backlog is full and every write,
    // as the USB write timeout does.
    timeval timeout{};
    timeout.tv_sec = UsbPort::kWriteTimeoutMs / 1000;
    timeout.tv_usec = (UsbPort::kWriteTimeoutMs % 1000) * 1000;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int e = errno;
        ::close(fd);
        error = "no virtual transceiver at " + socketPath + ": " + errorText(e);
        return nullptr;
    }
    auto link = std::make_shared<VirtualDeviceLink>(fd, socketPath);
    links.push_back(link);
    return link;
}

VirtualDeviceLink::VirtualDeviceLink(int fd, std::string socketPath)
    : m_fd(fd),
      m_path(std::move(socketPath)),
      m_notifier(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read)) {
    m_notifier->setEnabled(false);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { onReadable(); });
}

VirtualDeviceLink::~VirtualDeviceLink() {
    m_notifier.reset();
    ::close(m_fd);
}

bool VirtualDeviceLink::write(const Bytes& frame, std::string& error) {
    if (m_gone) {
        error = "the virtual transceiver at " + m_path + " hung up";
        return false;
    }
    std::string packet(1, VirtualPacket::kWrite);
    packet.append(frame.begin(), frame.end());
    ssize_t sent = -1;
    do {
        sent = ::send(m_fd, packet.data(), packet.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent == static_cast<ssize_t>(packet.size())) return true;
    const int e = sent < 0 ? errno : EIO;
    if (isHangUp(e)) {
        m_gone = true;
        error = "the virtual transceiver at " + m_path + " hung up";
    } else if (e == EAGAIN || e == EWOULDBLOCK) {
        error = "writing to the virtual transceiver at " + m_path + " timed out";
    } else {
        error = "writing to the virtual transceiver at " + m_path + " failed: " + errorText(e);
    }
    return false;
}

bool VirtualDeviceLink::startRead(const void* owner, ReadDone done, std::string& error) {
    if (m_gone) {
        error = "the virtual transceiver at " + m_path + " hung up";
        return false;
    }
    if (m_reader != nullptr) {
        error = "a read is already outstanding on the virtual transceiver at " + m_path;
        return false;
    }
    m_reader = owner;
    m_done = std::move(done);
    m_notifier->setEnabled(true);
    return true;
}

void VirtualDeviceLink::cancelRead(const void* owner) {
    if (m_reader != owner || owner == nullptr) return;
    m_notifier->setEnabled(false);
    m_reader = nullptr;
    m_done = nullptr;
}

bool VirtualDeviceLink::hungUp() const {
    pollfd p{m_fd, POLLRDHUP, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    return (p.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0;
}

void VirtualDeviceLink::onReadable() {
    if (m_reader == nullptr) return;
    std::uint8_t buffer[1 + UsbPort::kReadSize];
    const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0) {
        const int e = errno;
        if (e == EAGAIN || e == EWOULDBLOCK || e == EINTR) return;
        if (isHangUp(e)) m_gone = true;
        finishRead(isHangUp(e) ? ReadStatus::DeviceGone : ReadStatus::Error, {});
        return;
    }
    if (n == 0) {
        // Both an empty packet and the end of the connection read as 0 bytes.
        if (hungUp()) {
            m_gone = true;
            finishRead(ReadStatus::DeviceGone, {});
        }
        return;
    }
    if (buffer[0] != static_cast<std::uint8_t>(VirtualPacket::kRead)) return;
    finishRead(ReadStatus::Completed, Bytes(buffer + 1, buffer + n));
}

void VirtualDeviceLink::finishRead(ReadStatus status, Bytes bytes) {
    m_notifier->setEnabled(false);
    m_reader = nullptr;
    ReadDone done = std::move(m_done);
    m_done = nullptr;
    if (done) done(status, std::move(bytes));
}
