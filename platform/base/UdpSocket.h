#pragma once
// A UDP socket as the transport uses it: bound to one address and port, sends
// datagrams to a remote host and port, and reports arrivals on the event loop.
// Binding never shares an address with another socket, so a port taken by
// anyone else fails to bind. A bound socket may send broadcasts; a broadcast
// leaves through the interface that owns the bound address. Errors are
// socket-layer numbers (10048 "address in use", 10049 "address not
// available", 10013 "permission denied").

#include <QUdpSocket>
#include <functional>
#include <string>

class UdpSocket {
public:
    static constexpr int kAddressInUse = 10048;
    static constexpr int kAddressNotAvailable = 10049;
    static constexpr int kAccessDenied = 10013;
    static constexpr int kInvalidArgument = 10022;

    UdpSocket();

    // Returns 0 on success, else the error number; the socket stays unbound then.
    int bind(const std::string& address, int port);
    bool isBound() const;
    int localPort() const;
    std::string localAddress() const;
    void close();

    void setRemoteHost(const std::string& host) { m_remoteHost = host; }
    const std::string& remoteHost() const { return m_remoteHost; }
    void setRemotePort(int port) { m_remotePort = port; }
    int remotePort() const { return m_remotePort; }

    // Sends one datagram to the remote host and port. A host name is resolved
    // to its first IPv4 address. Returns false when nothing could be sent;
    // sendError() then says why in the system's words.
    bool send(const std::string& data);
    const std::string& sendError() const { return m_sendError; }

    // Called once per arrival notice; read every pending datagram in it.
    void onDataArrival(std::function<void()> handler) { m_onData = std::move(handler); }
    bool hasPendingDatagram() const;
    // The next datagram as bytes; empty when none is pending.
    std::string readDatagram();

private:
    QUdpSocket m_socket;
    std::string m_remoteHost;
    int m_remotePort = 0;
    std::string m_sendError;
    std::function<void()> m_onData;
};
