#pragma once
// A minimal xAP client: binds a port on 127.0.0.1, announces it to the hub on
// this computer with heartbeats, and hands every received xAP text that passes
// the filters to a callback. stop() sends "xap-hbeat.stopped" so the hub drops
// the client at once rather than after twice the interval.
//
// Filters: the source and the class each match with the xAP address wildcards
// ("*" one part, ">" the rest) ignoring case; an empty filter matches all.

#include <functional>
#include <string>

#include "base/Timer.h"
#include "base/UdpSocket.h"
#include "xap-hub/XapHeader.h"

class XapListener {
public:
    struct Options {
        int port = 0;  // 0: any free port
        int hubPort = 3639;
        int intervalS = 60;
        std::string source;  // this client's own xAP source
        std::string uid = "FF00D800";
        std::string sourceFilter;
        std::string classFilter;
        bool heartbeats = true;  // hand over heartbeats too
    };

    explicit XapListener(Options options);
    ~XapListener();
    XapListener(const XapListener&) = delete;
    XapListener& operator=(const XapListener&) = delete;

    // Binds and sends the first heartbeat; false with the reason in *error.
    bool start(std::string* error);
    void stop();
    int port() const { return m_socket.localPort(); }

    void onMessage(std::function<void(const std::string& text)> handler) {
        m_onMessage = std::move(handler);
    }

    // Whether a received header passes the filters of these options.
    static bool wanted(const Options& options, const XapHeader& header);
    // The heartbeat text for a class ("xap-hbeat.alive", "xap-hbeat.stopped").
    std::string heartbeat(const std::string& hbClass) const;

private:
    void readPending();
    void sendHeartbeat(const std::string& hbClass);

    Options m_options;
    UdpSocket m_socket;
    Timer m_heartbeat;
    bool m_running = false;
    std::function<void(const std::string&)> m_onMessage;
};
