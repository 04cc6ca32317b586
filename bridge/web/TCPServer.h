#pragma once
// The web server: one listening socket on "ServerPort" and a pool of connection
// sockets (1 to 5 at first, growing to 25, cut back when 24 are counted open).
// Every received packet becomes one queue entry; 50 ms after the first one the
// queue is drained, each request parsed and answered by its path (images and
// style sheets from the HTML folder, the status page, the help page, else the
// not-found page), and the connection closed once the answer has gone.
//
// Loaded by the host window at start-up; listens until it is destroyed. One
// thread: answers yield to the event loop, so socket notices run in the middle
// of a drain and only append to the queue.
//
// Bounds: a connection is answered once; a connection that sends more than
// kMaxRequestBytes is closed unanswered; when no connection socket is free a
// new connection is refused and the server keeps listening. A failing request
// is logged and the next one is answered.

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "base/TcpSocket.h"
#include "base/Timer.h"
#include "web/ConnectionPool.h"
#include "web/StatusPage.h"

class TCPServer : public ConnectionPool {
public:
    static constexpr int kHighestIndex = 25;
    static constexpr int kInitialHighest = 5;
    static constexpr int kResetAtOpen = 24;
    static constexpr int kDrainDelayMs = 50;
    static constexpr size_t kMaxRequestBytes = 512 * 1024;

    TCPServer();
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
    void sendData(int index, const std::string& data) override;
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
        bool answered = false;
        size_t received = 0;
    };

    void StartListening();
    void loadSocket();
    void unloadHighestSocket();
    TcpSocket* socketAt(int index) const;
    void answer(Packet& packet);
    void dropQueued(int16_t index);
    void closeConnection(int16_t index);

    std::vector<std::unique_ptr<TcpSocket>> m_socket;
    std::array<Timer, kHighestIndex + 1> m_binarySendTimer;
    std::array<bool, kHighestIndex + 1> m_binarySendDone{};
    std::array<Connection, kHighestIndex + 1> m_connection{};
    Timer m_serverTimer;
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
