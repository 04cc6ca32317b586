#pragma once
// The xAP hub: one UDP socket on the xAP port (all addresses, broadcasts
// received), a table of local clients learnt from their heartbeats, and a
// relay of every xAP datagram, from the network or from a local client, to
// each live client on 127.0.0.1 once, never back to the client it came from.
// Texts that are not xAP are dropped. Everything runs on the event loop;
// memory is bounded by the client table (HubClients).
//
// Log lines (client joined, left, expired, refused, datagrams dropped) go to
// the "xap.hub" logging category, so the program's message filter writes them
// to standard error with their level.

#include <QElapsedTimer>
#include <QUdpSocket>
#include <cstdint>
#include <string>

#include "base/Timer.h"
#include "xap-hub/HubClients.h"
#include "xap-hub/OwnAddresses.h"

class XapHub {
public:
    static constexpr int kXapPort = 3639;
    // Datagrams read per arrival notice, so timers still run during a flood.
    static constexpr int kReadsPerNotice = 256;
    static constexpr int kExpiryCheckMs = 250;

    explicit XapHub(int port = kXapPort);

    // Binds the port on the address ("" or "0.0.0.0" for all); false with the
    // reason in *error when the port is taken or the address is not ours.
    bool start(const std::string& address, std::string* error);

private:
    void readPending();
    void handle(const QByteArray& data, const QHostAddress& from, int fromPort);
    void expireClients();
    int64_t nowMs() const { return m_monotonic.elapsed(); }

    int m_port;
    QUdpSocket m_socket;
    Timer m_expiry;
    // Client silence is measured on a monotonic clock: a step of the wall
    // clock must neither expire every client nor keep dead ones.
    QElapsedTimer m_monotonic;
    HubClients m_clients;
    OwnAddresses m_own;
};
