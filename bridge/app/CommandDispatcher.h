#pragma once
// Receives every xAP text the main window takes from the transport's queue.
// It parses the text and decides whether the message concerns the gateway;
// acting on the classes the gateway answers comes with the command handling.
// Never raises: a fault is reported as "Readmessage " on the event log.

#include <string>

class CommandDispatcher {
public:
    void Readmessage(const std::string& text);

    // How many texts reached the dispatcher; for the program's own diagnostics.
    unsigned long received() const { return m_received; }

private:
    unsigned long m_received = 0;
};
