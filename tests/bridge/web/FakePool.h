#pragma once
// A connection pool that records what an answer sends, for tests of the
// answers without sockets. A block's completion arrives at the first wait.

#include <functional>
#include <string>
#include <vector>

#include "base/RuntimeError.h"
#include "web/ConnectionPool.h"

class FakePool : public ConnectionPool {
public:
    explicit FakePool(std::string folder) : m_folder(std::move(folder)) {}

    int state = 7;
    std::string tag;
    bool done = false;
    bool closed = false;
    int waits = 0;
    int timerStarts = 0;
    int completes = 0;
    std::vector<std::string> sends;
    // Runs after every send, for a peer that goes away mid-answer.
    std::function<void(FakePool&)> afterSend;

    int socketState(int) const override { return state; }
    std::string socketTag(int) const override { return tag; }
    void setSocketTag(int, const std::string& t) override { tag = t; }
    void sendData(int, const QByteArray& data) override {
        if (state != 7) raiseError(40006, "Wrong protocol or connection state");
        sends.push_back(data.toStdString());
        if (afterSend) afterSend(*this);
    }
    bool binarySendDone(int) const override { return done; }
    void setBinarySendDone(int, bool d) override { done = d; }
    void startBinarySendTimer(int, int) override { ++timerStarts; }
    void Socket_SendComplete(int) override {
        ++completes;
        done = true;
        if (tag != "1") closed = true;
    }
    void yield() override {}
    void waitForEvents() override {
        ++waits;
        done = true;
    }
    std::string htmlFolder() const override { return m_folder; }

private:
    std::string m_folder;
};
