#include "base/UdpSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <cerrno>
#include <cstring>

#include "base/HostName.h"

namespace {

int errorNumber(QAbstractSocket::SocketError e) {
    switch (e) {
        case QAbstractSocket::AddressInUseError:
            return UdpSocket::kAddressInUse;
        case QAbstractSocket::SocketAddressNotAvailableError:
            return UdpSocket::kAddressNotAvailable;
        case QAbstractSocket::SocketAccessError:
            return UdpSocket::kAccessDenied;
        default:
            return UdpSocket::kInvalidArgument;
    }
}

QHostAddress toAddress(const std::string& host) {
    QHostAddress addr;
    if (addr.setAddress(QString::fromLatin1(host.c_str()))) return addr;
    const auto resolved = resolveIPv4(host);
    if (!resolved.empty()) addr.setAddress(QString::fromLatin1(resolved.front().c_str()));
    return addr;
}

}  // namespace

UdpSocket::UdpSocket() {
    // Datagrams go straight to the LAN. Asking for the system's proxy would
    // also start a lookup thread and load the proxy library's back ends.
    m_socket.setProxy(QNetworkProxy::NoProxy);
    QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] {
        if (m_onData) m_onData();
    });
}

int UdpSocket::bind(const std::string& address, int port) {
    if (m_socket.state() != QAbstractSocket::UnconnectedState) m_socket.close();
    const QHostAddress addr =
        address.empty() ? QHostAddress(QHostAddress::AnyIPv4) : toAddress(address);
    if (addr.isNull()) return kAddressNotAvailable;
    if (port < 0 || port > 65535) return kInvalidArgument;
    if (m_socket.bind(addr, static_cast<quint16>(port), QAbstractSocket::DontShareAddress)) {
        // Said outright rather than left to the socket layer's defaults: without
        // it every datagram to a broadcast address is refused.
        const int on = 1;
        ::setsockopt(static_cast<int>(m_socket.socketDescriptor()), SOL_SOCKET, SO_BROADCAST, &on,
                     sizeof on);
        return 0;
    }
    const int e = errorNumber(m_socket.error());
    m_socket.close();
    return e;
}

bool UdpSocket::isBound() const {
    return m_socket.state() == QAbstractSocket::BoundState;
}

int UdpSocket::localPort() const {
    return m_socket.localPort();
}

std::string UdpSocket::localAddress() const {
    return m_socket.localAddress().toString().toStdString();
}

void UdpSocket::close() {
    m_socket.close();
}

bool UdpSocket::send(const std::string& data) {
    m_sendError.clear();
    bool isIPv4 = false;
    const quint32 ipv4 = toAddress(m_remoteHost).toIPv4Address(&isIPv4);
    if (!isIPv4) {
        m_sendError = "no IPv4 address for \"" + m_remoteHost + "\"";
        return false;
    }
    if (m_remotePort <= 0 || m_remotePort > 65535) {
        m_sendError = "invalid port " + std::to_string(m_remotePort);
        return false;
    }
    const int fd = static_cast<int>(m_socket.socketDescriptor());
    if (fd < 0) {
        m_sendError = "socket not bound";
        return false;
    }
    // Sent on the descriptor itself: the socket layer above folds most
    // failures into one "unable to send" and loses the system's reason.
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(m_remotePort));
    to.sin_addr.s_addr = htonl(ipv4);
    ssize_t n;
    do {
        n = ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                     sizeof to);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        m_sendError = std::strerror(errno);
        return false;
    }
    if (static_cast<size_t>(n) != data.size()) {
        m_sendError = "datagram cut short";
        return false;
    }
    return true;
}

bool UdpSocket::hasPendingDatagram() const {
    return m_socket.hasPendingDatagrams();
}

std::string UdpSocket::readDatagram() {
    if (!m_socket.hasPendingDatagrams()) return {};
    const qint64 size = m_socket.pendingDatagramSize();
    std::string buf(static_cast<size_t>(size > 0 ? size : 0), '\0');
    const qint64 n = m_socket.readDatagram(buf.data(), static_cast<qint64>(buf.size()));
    buf.resize(static_cast<size_t>(n > 0 ? n : 0));
    return buf;
}
