#pragma once
// What the transport calls when received texts are waiting in its queue.

class XapMessageCallback {
public:
    virtual ~XapMessageCallback() = default;
    virtual void onMessage() = 0;
};
