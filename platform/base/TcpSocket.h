#pragma once
// One element of a TCP socket control array: either the listening socket or one
// accepted connection. Notices arrive on the event loop of the thread that
// created the element:
//   - connection request (listening element): a new connection waits under a
//     request id. Any element may Accept that id while the notice runs; a
//     connection nobody accepted by the end of the notice is refused (closed).
//   - data arrival: bytes are ready for GetData.
//   - close: the peer closed or dropped the connection; the element stays in
//     state 8 until Close is called. Never raised for our own Close.
//   - send complete: everything handed to SendData so far has reached the
//     system's socket.
// States: 0 closed, 2 listening, 7 connected, 8 the peer has closed.
// Failures raise RuntimeError with the socket-layer numbers (10048 address in
// use, 40006 wrong state for the request, 40020 invalid operation, 380 bad value).
//
// Closing or destroying an element from inside one of its own notices is safe:
// the system socket is released once the notice has returned.

#include <QByteArray>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <string>

class QTcpServer;
class QTcpSocket;

class TcpSocket {
public:
    static constexpr int kClosed = 0;
    static constexpr int kListening = 2;
    static constexpr int kConnected = 7;
    static constexpr int kPeerClosed = 8;

    static constexpr int kInvalidValue = 380;
    static constexpr int kAddressInUse = 10048;
    static constexpr int kWrongState = 40006;
    static constexpr int kInvalidOperation = 40020;

    // At most this many received bytes wait inside the element between two
    // data-arrival notices, so a peer that sends faster than we read cannot
    // make the element hold more.
    static constexpr int64_t kReadBufferBytes = 64 * 1024;

    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    int LocalPort() const;
    // Only while closed; 0 to 65535, else error 380.
    void setLocalPort(int port);
    // Only while closed; empty (every local address, the default) or one
    // numeric address, else error 380.
    void setLocalAddress(const std::string& address);
    // Listens on the local address (every one when empty) at LocalPort.
    void Listen();
    // A listener that holds off: new connections wait in the system's backlog,
    // unannounced, until accepting resumes. Called from inside a connection
    // request notice instead of accepting, it keeps that connection waiting
    // too; it is announced again first when accepting resumes (which may
    // announce connections at once, from inside this call).
    void setAccepting(bool accepting);
    // The peer's numeric address ("127.0.0.1"; an IPv4 peer reached over IPv6
    // in its IPv4 form); empty when not connected.
    std::string RemoteHostIP() const;
    // Takes the connection waiting under requestID; the element must be closed.
    void Accept(int32_t requestID);
    int State() const;
    // Every byte received and not yet read.
    std::string GetData();
    int64_t BytesReceived() const;
    // Queues the bytes for sending; only while connected (else error 40006).
    // A large byte array is queued as it is, shared rather than copied.
    void SendData(const QByteArray& data);
    // Closes the listener or the connection; unsent bytes still go out.
    void Close();

    // Free for the owner; the socket itself never looks at it.
    std::string Tag;

    std::function<void(int32_t requestID)> onConnectionRequest;
    std::function<void(int64_t bytesTotal)> onDataArrival;
    std::function<void()> onClose;
    std::function<void()> onSendComplete;

private:
    void acceptPending();
    void release();

    QPointer<QTcpServer> m_server;
    QPointer<QTcpSocket> m_socket;
    int m_localPort = 0;
    std::string m_localAddress;
    QTcpSocket* m_held = nullptr;
    bool m_holding = false;
    bool m_peerClosed = false;
};
