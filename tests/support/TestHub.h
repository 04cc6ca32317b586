#pragma once
// A small xAP hub for tests: listens on 127.0.0.1:3639, where the gateway
// sends everything, collects the datagrams, and can send to the gateway's port.

#include <QElapsedTimer>
#include <deque>
#include <string>

#include "base/DoEvents.h"
#include "base/UdpSocket.h"

class TestHub {
public:
    TestHub() {
        m_bindError = m_socket.bind("127.0.0.1", 3639);
        m_socket.onDataArrival([this] {
            while (m_socket.hasPendingDatagram()) m_received.push_back(m_socket.readDatagram());
        });
    }
    bool ok() const { return m_bindError == 0; }

    // The next datagram, waiting up to limitMs while events run; empty on time-out.
    std::string next(int limitMs = 3000) {
        QElapsedTimer t;
        t.start();
        while (m_received.empty() && t.elapsed() < limitMs) DoEvents();
        if (m_received.empty()) return {};
        std::string d = std::move(m_received.front());
        m_received.pop_front();
        return d;
    }
    // The next datagram whose text contains the fragment, skipping others.
    std::string nextContaining(const std::string& fragment, int limitMs = 3000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < limitMs) {
            std::string d = next(static_cast<int>(limitMs - t.elapsed()));
            if (d.find(fragment) != std::string::npos) return d;
        }
        return {};
    }
    size_t pending() {
        DoEvents();
        return m_received.size();
    }
    void clear() {
        DoEvents();
        m_received.clear();
    }
    bool sendTo(int port, const std::string& text) {
        m_socket.setRemoteHost("127.0.0.1");
        m_socket.setRemotePort(port);
        return m_socket.send(text);
    }

private:
    UdpSocket m_socket;
    int m_bindError = 0;
    std::deque<std::string> m_received;
};
