#include "base/UdpSocket.h"

#include <QHostAddress>
#include <QNetworkDatagram>

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
    if (m_socket.bind(addr, static_cast<quint16>(port), QAbstractSocket::DontShareAddress))
        return 0;
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
    const QHostAddress addr = toAddress(m_remoteHost);
    if (addr.isNull() || m_remotePort <= 0 || m_remotePort > 65535) return false;
    const qint64 n = m_socket.writeDatagram(data.data(), static_cast<qint64>(data.size()), addr,
                                            static_cast<quint16>(m_remotePort));
    return n == static_cast<qint64>(data.size());
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
