#pragma once
// The xAP transport: two UDP sockets, the heartbeat and the receive queue.
//
// Winsock1 receives on 127.0.0.1 at the gateway's port, found by searching
// upwards from 32768; the local hub relays the network's traffic there.
// Winsock2 sends every message to the broadcast target on port 3639 and, bound
// to the local interface address at the same port, receives what is addressed
// to that interface. The local address is one of the machine's interfaces that
// are up, so a broadcast leaves through that interface. A loopback choice with
// a broadcast target elsewhere, and each distinct send failure, get one line
// in the error log. Received texts are queued and handed over 50 ms later
// through the registered callback's onMessage, never inside the socket's own
// notice. The queue holds at most kMaxQueued texts and kMaxQueuedBytes bytes;
// beyond that the oldest are dropped, so a burst cannot bury what comes after
// it. One instance exists while the program runs (xapGlobal::values().transport).

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "base/Timer.h"
#include "base/UdpSocket.h"

class XapMessageCallback;

class xap {
public:
    static constexpr int kXapPort = 3639;
    static constexpr int kFirstPort = 32768;
    static constexpr int kPortsToTry = 200;
    static constexpr size_t kMaxQueued = 10000;
    // The texts waiting are bounded in bytes too: what a burst can make the
    // program hold, and how far behind it can fall, stay small.
    static constexpr size_t kMaxQueuedBytes = 64 * 1024;

    // Loading the transport: addresses "Default", heartbeat filter on, no callback.
    xap();
    // Unloading: once a heartbeat has gone out, sends the same heartbeat with
    // the class "xap-hbeat.stopped"; then closes both sockets and drops the queue.
    ~xap();
    xap(const xap&) = delete;
    xap& operator=(const xap&) = delete;

    // Binds both sockets. Returns the port (> 0), -1 when no port in the search
    // range could be bound, or the negated error number of the second bind.
    int Init();
    void SendHeartbeat(long LongInterval);
    std::string SendXap(const std::string& sTarget, const std::string& sClass,
                        const std::string& sSection, const std::string& sData,
                        const std::string& sSubaddress = {}, const std::string& sUID = {});
    std::string GetMessage();
    // The text SendXap sends: one message with one block, from `source` (":"
    // and the sub-address added when there is one), items taken from the data
    // argument (key, code 1, value, code 0, ...; an item without code 1 is dropped).
    static std::string BuildXap(const std::string& source, const std::string& uid,
                                const std::string& sTarget, const std::string& sClass,
                                const std::string& sSection, const std::string& sData,
                                const std::string& sSubaddress);
    void RegisterNewMessageCallback(XapMessageCallback* oForm) { m_callback = oForm; }

    bool FilterHeartbeats = true;
    std::string BroadcastAddress = "Default";
    std::string InterfaceAddress = "Default";

    void setXapSource(const std::string& v);
    void setXapTarget(const std::string& v);
    void setXapUID(const std::string& v);
    void setXapClass(const std::string& v);
    const std::string& XapSource() const;
    const std::string& XapUID() const;

    // What Init chose; for the program's own reports and for tests.
    int port() const { return m_port; }
    const std::string& localAddress() const { return m_localAddress; }
    const std::string& broadcastTarget() const { return m_broadcastTarget; }
    int heartbeatIntervalMs() const { return m_hbeatTimer.interval(); }
    bool heartbeatEnabled() const { return m_hbeatTimer.enabled(); }
    size_t queuedCount() const { return m_queue.size(); }

    // Picks the first address that carries every bit of the pattern, part by
    // part; the first address when none does (always so for "Default").
    // Init offers the addresses of the interfaces that are up, loopback last.
    static std::string chooseLocalAddress(const std::vector<std::string>& addresses,
                                          const std::string& pattern);
    // The error-log line for a local address on loopback while the broadcast
    // target is not (xAP then never leaves the machine); empty otherwise.
    static std::string loopbackNotice(const std::vector<std::string>& candidates,
                                      const std::string& pattern, const std::string& localAddress,
                                      const std::string& broadcastTarget);

    void HBeatTimer_Timer();
    void ReceiveTimer_Timer();

private:
    void rebuildHeartbeat();
    void socketDataArrival(UdpSocket& socket);
    bool sendDatagram(const std::string& text);

    UdpSocket m_winsock1;
    UdpSocket m_winsock2;
    Timer m_hbeatTimer;
    Timer m_receiveTimer;
    int m_heartbeatCount = 0;
    std::string m_receiveBuffer;
    std::deque<std::string> m_queue;
    size_t m_queuedBytes = 0;
    XapMessageCallback* m_callback = nullptr;
    std::string m_broadcastTarget;
    std::string m_localAddress;
    int m_port = 0;
    std::string m_heartbeatText;
    std::string m_heartbeatTail;
    std::string m_stoppedText;  // m_heartbeatText saying "stopped"
    bool m_heartbeatSent = false;
    long m_lastInterval = 0;
    std::set<std::string> m_sendErrorsLogged;  // since the last Init
};
