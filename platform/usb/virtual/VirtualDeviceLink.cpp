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
        if (!link || link->m_path != socketPath || link->gone()) continue;
        if (!link->hungUp()) return link;
        // A link whose device hung up stays with the ports that hold it, so they
        // see their writes fail; newcomers get a connection of their own.
        link->deviceGone();
    }

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        error = "the virtual transceiver's socket path is too long: " + socketPath;
        return nullptr;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);

    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = "cannot create a socket for the virtual transceiver: " + errorText(errno);
        return nullptr;
    }
    // Non-blocking, a device whose backlog is full (its process stopped) refuses
    // at once with EAGAIN instead of holding the event loop.
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
      m_readable(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read)),
      m_writable(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write)) {
    m_readable->setEnabled(false);
    m_writable->setEnabled(false);
    QObject::connect(m_readable.get(), &QSocketNotifier::activated, [this] { onReadable(); });
    QObject::connect(m_writable.get(), &QSocketNotifier::activated, [this] { onWritable(); });
}

VirtualDeviceLink::~VirtualDeviceLink() {
    m_readable.reset();
    m_writable.reset();
    ::close(m_fd);
}

VirtualDeviceLink::Attempt VirtualDeviceLink::trySend(const std::string& packet,
                                                      std::string& error) {
    ssize_t sent = -1;
    do {
        sent = ::send(m_fd, packet.data(), packet.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    if (sent == static_cast<ssize_t>(packet.size())) return Attempt::Sent;
    const int e = sent < 0 ? errno : EIO;
    if (e == EAGAIN || e == EWOULDBLOCK) return Attempt::Full;
    if (isHangUp(e)) {
        setGone();
        error = name() + " hung up";
    } else {
        error = "writing to " + name() + " failed: " + errorText(e);
    }
    return Attempt::Failed;
}

VirtualDeviceLink::SendResult VirtualDeviceLink::send(const Bytes& frame, std::string& error) {
    std::string packet(1, VirtualPacket::kWrite);
    packet.append(frame.begin(), frame.end());
    switch (trySend(packet, error)) {
        case Attempt::Sent:
            return SendResult::Sent;
        case Attempt::Failed:
            return SendResult::Failed;
        case Attempt::Full:
            break;
    }
    m_waiting = std::move(packet);
    m_writable->setEnabled(true);
    return SendResult::Pending;
}

void VirtualDeviceLink::onWritable() {
    if (m_waiting.empty()) {
        m_writable->setEnabled(false);
        return;
    }
    std::string error;
    const Attempt attempt = trySend(m_waiting, error);
    if (attempt == Attempt::Full) return;
    m_writable->setEnabled(false);
    m_waiting.clear();
    sendFinished(attempt == Attempt::Sent, error);
}

// Seen by the read: a frame waiting for room will never get it.
void VirtualDeviceLink::deviceGone() {
    setGone();
    if (m_waiting.empty()) return;
    m_waiting.clear();
    m_writable->setEnabled(false);
    sendFinished(false, name() + " hung up");
}

bool VirtualDeviceLink::startRead(const void* owner, ReadDone done, std::string& error) {
    if (gone()) {
        error = name() + " hung up";
        return false;
    }
    if (m_reader != nullptr) {
        error = "a read is already outstanding on " + name();
        return false;
    }
    m_reader = owner;
    m_done = std::move(done);
    m_readable->setEnabled(true);
    return true;
}

void VirtualDeviceLink::cancelRead(const void* owner) {
    if (m_reader != owner || owner == nullptr) return;
    m_readable->setEnabled(false);
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
        if (isHangUp(e)) deviceGone();
        finishRead(isHangUp(e) ? ReadStatus::DeviceGone : ReadStatus::Error, {});
        return;
    }
    if (n == 0) {
        // Both an empty packet and the end of the connection read as 0 bytes.
        if (hungUp()) {
            deviceGone();
            finishRead(ReadStatus::DeviceGone, {});
        }
        return;
    }
    if (buffer[0] != static_cast<std::uint8_t>(VirtualPacket::kRead)) return;
    finishRead(ReadStatus::Completed, Bytes(buffer + 1, buffer + n));
}

void VirtualDeviceLink::finishRead(ReadStatus status, Bytes bytes) {
    m_readable->setEnabled(false);
    m_reader = nullptr;
    ReadDone done = std::move(m_done);
    m_done = nullptr;
    if (done) done(status, std::move(bytes));
}
