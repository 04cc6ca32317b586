#pragma once
// What an answer needs of the server's socket pool: the state and tag of a
// connection, sending on it, the per-connection flag and timer of a binary send,
// the send-complete handling, and yielding to the event loop. The server is
// the pool; tests put a recording pool in its place.

#include <QByteArray>
#include <string>

class ConnectionPool {
public:
    virtual ~ConnectionPool() = default;

    // 0 closed, 7 connected, anything else in between; 0 for an index not in the pool.
    virtual int socketState(int index) const = 0;
    virtual std::string socketTag(int index) const = 0;
    virtual void setSocketTag(int index, const std::string& tag) = 0;
    // Hands the bytes to the connection; raises when it cannot take them. A
    // page is handed over as it is, not copied again.
    virtual void sendData(int index, const QByteArray& data) = 0;

    virtual bool binarySendDone(int index) const = 0;
    virtual void setBinarySendDone(int index, bool done) = 0;
    // (Re)starts the time-out that marks a binary block as sent.
    virtual void startBinarySendTimer(int index, int milliseconds) = 0;
    // Marks the binary send done and closes the connection unless its tag is "1".
    virtual void Socket_SendComplete(int index) = 0;

    // Runs pending events once.
    virtual void yield() = 0;
    // Runs events until at least one has happened (or a short while passed).
    virtual void waitForEvents() = 0;

    // The folder static files are served from.
    virtual std::string htmlFolder() const = 0;
};
