#include "base/TcpSocket.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <unordered_map>

#include "base/RuntimeError.h"

#include <sys/ioctl.h>

namespace {

// Connections announced to the owner and not yet taken, by request id. Any
// element may accept any of them, so the table belongs to no element.
std::unordered_map<int32_t, QTcpSocket*>& waiting() {
    static std::unordered_map<int32_t, QTcpSocket*> table;
    return table;
}

int32_t nextRequestId() {
    static int32_t last = 0;
    last = last == INT32_MAX ? 1 : last + 1;
    return last;
}

// A closed connection that still has bytes to send is given this long to hand
// them over before it is dropped.
constexpr int kLingerMs = 10000;

void dispose(QTcpSocket* s) {
    QObject::disconnect(s, nullptr, nullptr, nullptr);
    if (s->bytesToWrite() > 0 && s->state() == QAbstractSocket::ConnectedState) {
        QObject::connect(s, &QAbstractSocket::disconnected, s, &QObject::deleteLater);
        QTimer::singleShot(kLingerMs, s, [s] {
            s->abort();
            s->deleteLater();
        });
        s->disconnectFromHost();
        return;
    }
    s->close();
    // Later, because the notice that led here may still be running inside it.
    s->deleteLater();
}

}  // namespace

TcpSocket::~TcpSocket() {
    release();
}

int TcpSocket::LocalPort() const {
    return m_localPort;
}

void TcpSocket::setLocalPort(int port) {
    if (State() != kClosed)
        raiseError(kInvalidOperation, "Invalid operation at current state", "TcpSocket");
    if (port < 0 || port > 65535) raiseError(kInvalidValue, "Invalid property value", "TcpSocket");
    m_localPort = port;
}

void TcpSocket::setLocalAddress(const std::string& address) {
    if (State() != kClosed)
        raiseError(kInvalidOperation, "Invalid operation at current state", "TcpSocket");
    if (!address.empty() && QHostAddress(QString::fromStdString(address)).isNull())
        raiseError(kInvalidValue, "Invalid property value", "TcpSocket");
    m_localAddress = address;
}

void TcpSocket::Listen() {
    if (State() != kClosed)
        raiseError(kInvalidOperation, "Invalid operation at current state", "TcpSocket");
    auto* server = new QTcpServer();
    // A listening port is never reached through a proxy; asking for the
    // system's one would start a lookup thread for nothing.
    server->setProxy(QNetworkProxy::NoProxy);
    const QHostAddress local = m_localAddress.empty()
                                   ? QHostAddress(QHostAddress::Any)
                                   : QHostAddress(QString::fromStdString(m_localAddress));
    if (!server->listen(local, static_cast<quint16>(m_localPort))) {
        const bool inUse = server->serverError() == QAbstractSocket::AddressInUseError;
        const std::string text = server->errorString().toStdString();
        delete server;
        if (inUse) raiseError(kAddressInUse, "Address in use", "TcpSocket");
        raiseError(kInvalidOperation, text, "TcpSocket");
    }
    m_localPort = server->serverPort();
    m_server = server;
    QObject::connect(server, &QTcpServer::newConnection, [this] { acceptPending(); });
}

void TcpSocket::acceptPending() {
    while (m_server && !m_holding) {
        // A connection held back earlier goes first.
        QTcpSocket* s = m_held;
        m_held = nullptr;
        if (s == nullptr && m_server->hasPendingConnections())
            s = m_server->nextPendingConnection();
        if (s == nullptr) break;
        const int32_t id = nextRequestId();
        waiting()[id] = s;
        if (onConnectionRequest) onConnectionRequest(id);
        auto it = waiting().find(id);
        if (it == waiting().end()) continue;
        waiting().erase(it);
        if (m_holding && m_server) {
            // The owner stopped accepting instead of taking it: it waits.
            m_held = s;
            break;
        }
        // Nobody took it: refused.
        s->abort();
        s->deleteLater();
    }
}

void TcpSocket::Accept(int32_t requestID) {
    if (State() != kClosed)
        raiseError(kInvalidOperation, "Invalid operation at current state", "TcpSocket");
    auto it = waiting().find(requestID);
    if (it == waiting().end())
        raiseError(kWrongState,
                   "Wrong protocol or connection state for the requested transaction or request",
                   "TcpSocket");
    QTcpSocket* s = it->second;
    waiting().erase(it);
    // The listener may go before the connection does.
    s->setParent(nullptr);
    s->setReadBufferSize(kReadBufferBytes);
    m_socket = s;
    m_peerClosed = false;
    QObject::connect(s, &QTcpSocket::readyRead, [this, s] {
        if (onDataArrival) onDataArrival(s->bytesAvailable());
    });
    QObject::connect(s, &QTcpSocket::bytesWritten, [this, s](qint64) {
        if (s->bytesToWrite() == 0 && onSendComplete) onSendComplete();
    });
    QObject::connect(s, &QAbstractSocket::stateChanged, [this](QAbstractSocket::SocketState state) {
        if (state != QAbstractSocket::UnconnectedState || m_peerClosed) return;
        m_peerClosed = true;
        if (onClose) onClose();
    });
    // A connection that waited before it was taken may have read its bytes
    // already, and no new notice comes for them: announce them from the event
    // loop (a signal of the socket, so a close before then cancels it).
    if (s->bytesAvailable() > 0)
        QMetaObject::invokeMethod(s, &QIODevice::readyRead, Qt::QueuedConnection);
}

void TcpSocket::setAccepting(bool accepting) {
    if (!m_server) return;
    // Every connection the server took from the system has been announced
    // (acceptPending empties its queue), so the waiting ones are all in the
    // system's backlog, announced once the listener watches it again.
    m_holding = !accepting;
    if (accepting) {
        m_server->resumeAccepting();
        acceptPending();
    } else {
        m_server->pauseAccepting();
    }
}

std::string TcpSocket::RemoteHostIP() const {
    if (!m_socket) return {};
    QHostAddress peer = m_socket->peerAddress();
    bool mapped = false;
    const quint32 v4 = peer.toIPv4Address(&mapped);
    if (mapped) peer = QHostAddress(v4);
    return peer.toString().toStdString();
}

int TcpSocket::State() const {
    if (m_server) return m_server->isListening() ? kListening : kClosed;
    if (!m_socket) return kClosed;
    if (m_peerClosed) return kPeerClosed;
    return m_socket->state() == QAbstractSocket::ConnectedState ? kConnected : kPeerClosed;
}

std::string TcpSocket::GetData() {
    if (!m_socket) return {};
    const QByteArray bytes = m_socket->readAll();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

int64_t TcpSocket::BytesReceived() const {
    if (!m_socket) return 0;
    // Bytes the system holds and the socket has not read in yet count too.
    int pending = 0;
    if (m_socket->socketDescriptor() >= 0)
        ::ioctl(static_cast<int>(m_socket->socketDescriptor()), FIONREAD, &pending);
    return m_socket->bytesAvailable() + pending;
}

void TcpSocket::SendData(const QByteArray& data) {
    if (State() != kConnected)
        raiseError(kWrongState,
                   "Wrong protocol or connection state for the requested transaction or request",
                   "TcpSocket");
    m_socket->write(data);
}

void TcpSocket::Close() {
    release();
}

void TcpSocket::release() {
    if (m_held) {
        m_held->abort();
        m_held->deleteLater();
        m_held = nullptr;
    }
    m_holding = false;
    if (m_server) {
        QTcpServer* server = m_server;
        m_server = nullptr;
        QObject::disconnect(server, nullptr, nullptr, nullptr);
        server->close();
        server->deleteLater();
    }
    if (m_socket) {
        QTcpSocket* s = m_socket;
        m_socket = nullptr;
        dispose(s);
    }
    m_peerClosed = false;
}
