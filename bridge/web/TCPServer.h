#pragma once
// The web server: one listening socket on "ServerPort" (on "ServerAddress",
// every local address when empty) and a pool of connection sockets (1 to 5 at
// first, growing to 25). Each connection's bytes are gathered until its request
// is whole (header, then Content-Length bytes of body); only then is the
// request queued, and 50 ms after the first one the queue is drained, each
// request parsed and answered by its path (images and style sheets from the
// HTML folder, the status page, the help page, else the not-found page), and
// the connection closed once the answer has gone.
//
// Loaded by the host window at start-up; listens until it is destroyed. One
// thread: answers yield to the event loop, so socket notices run in the middle
// of a drain and only append to the queue.
//
// Bounds: one request per connection, at most RequestReader::kMaxBytes (else
// 413) and kRequestTimeoutMs from its first byte (else 408); a connection that
// sends nothing for kRequestTimeoutMs is closed. When every socket is taken, a
// new connection takes the place of the oldest one that has sent nothing (or
// whose request has stalled for kStalledMs); a connection whose request has
// been received is never dropped: when all of them are, the listener holds new
// connections in the system's backlog until a socket is free. A failing
// request is logged and the next one is answered.

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "base/TcpSocket.h"
#include "base/Timer.h"
#include "web/ConnectionPool.h"
#include "web/RequestReader.h"
#include "web/StatusPage.h"

class Application;

class TCPServer : public ConnectionPool {
public:
    static constexpr int kHighestIndex = 25;
    static constexpr int kInitialHighest = 5;
    static constexpr int kDrainDelayMs = 50;
    static constexpr int64_t kRequestTimeoutMs = 5000;
    static constexpr int64_t kStalledMs = 1000;
    static constexpr int kSweepMs = 500;

    explicit TCPServer(Application& hs);
    ~TCPServer() override;

    void Form_Load();
    void Form_Unload();

    void socket_ConnectionRequest(int16_t index, int32_t requestID);
    void socket_DataArrival(int16_t index, int64_t bytesTotal);
    void socket_Close(int16_t index);
    void Socket_SendComplete(int index) override;
    void TCPBinarySendTimer_Timer(int16_t index);
    void ServerTimer_Timer();
    void ProcessRequestQueue();
    // Answers 408 to requests past their time and closes connections that
    // sent nothing in it; run by a timer while connections are open.
    void CheckConnections();
    // The help page with its pictures' folder rewritten below /help/, or the
    // "Sorry, Help from ..." text when the file is missing.
    std::string HelpPage();

    StatusPage& statusPage() { return m_statusPage; }
    // The port setting as read (quotes removed), and the port actually listened on
    // (0 when nothing listens).
    const std::string& serverPort() const { return m_serverPort; }
    int listeningPort() const;
    int16_t OpenSocketCount() const { return m_openSocketCount; }
    int highestIndex() const { return static_cast<int>(m_socket.size()) - 1; }
    size_t queuedPackets() const { return m_requestQueue.size(); }

    // ConnectionPool
    int socketState(int index) const override;
    std::string socketTag(int index) const override;
    void setSocketTag(int index, const std::string& tag) override;
    void sendData(int index, const QByteArray& data) override;
    bool binarySendDone(int index) const override;
    void setBinarySendDone(int index, bool done) override;
    void startBinarySendTimer(int index, int milliseconds) override;
    void yield() override;
    void waitForEvents() override;
    std::string htmlFolder() const override { return m_htmlFolder; }

private:
    struct Packet {
        int16_t index;
        std::string data;
    };
    // What the server knows of the connection a socket carries now.
    struct Connection {
        RequestReader reader;
        // Queued or answered: the request has been received whole.
        bool received = false;
        bool answered = false;
        uint64_t order = 0;  // accept order, oldest first
        int64_t acceptedAt = 0;
        int64_t firstByteAt = 0;
        int64_t lastByteAt = 0;
    };

    void StartListening();
    void loadSocket();
    void unloadHighestSocket();
    TcpSocket* socketAt(int index) const;
    void answer(Packet& packet);
    void dropQueued(int16_t index);
    void closeConnection(int16_t index);
    int freeSocket();
    int evictable() const;
    void refuse(int16_t index, int code, const std::string& reason, const std::string& why);
    void updateAccepting();
    static int64_t nowMs();

    std::vector<std::unique_ptr<TcpSocket>> m_socket;
    std::array<Timer, kHighestIndex + 1> m_binarySendTimer;
    std::array<bool, kHighestIndex + 1> m_binarySendDone{};
    std::array<Connection, kHighestIndex + 1> m_connection{};
    Timer m_serverTimer;
    Timer m_sweepTimer;
    // Lets the listener take connections again, from the event loop rather
    // than from inside the close that freed a socket.
    Timer m_resumeTimer;
    bool m_holding = false;
    uint64_t m_accepts = 0;
    Application& m_hs;
    std::deque<Packet> m_requestQueue;
    int16_t m_openSocketCount = 0;
    int16_t m_nextSocketIndex = 0;
    // The socket whose answer is being written; it is not handed a new
    // connection until that answer is done, even if it closes meanwhile.
    int m_answering = -1;
    bool m_draining = false;
    std::string m_serverPort;
    std::string m_htmlFolder;
    StatusPage m_statusPage;
};
