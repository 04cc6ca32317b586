#include "xap-listen/XapListener.h"

#include <QLoggingCategory>

#include "xap/XapMessage.h"

Q_LOGGING_CATEGORY(lcListen, "xap.listen", QtInfoMsg)

XapListener::XapListener(Options options) : m_options(std::move(options)) {
    m_socket.onDataArrival([this] { readPending(); });
    m_heartbeat.onTimer([this] { sendHeartbeat("xap-hbeat.alive"); });
}

XapListener::~XapListener() {
    stop();
}

bool XapListener::start(std::string* error) {
    if (const int e = m_socket.bind("127.0.0.1", m_options.port); e != 0) {
        if (error)
            *error = "cannot bind 127.0.0.1:" + std::to_string(m_options.port) + " (error " +
                     std::to_string(e) + ")";
        return false;
    }
    m_socket.setRemoteHost("127.0.0.1");
    m_socket.setRemotePort(m_options.hubPort);
    m_running = true;
    sendHeartbeat("xap-hbeat.alive");
    m_heartbeat.setInterval(m_options.intervalS * 1000);
    m_heartbeat.setEnabled(true);
    return true;
}

void XapListener::stop() {
    if (!m_running) return;
    m_running = false;
    m_heartbeat.setEnabled(false);
    sendHeartbeat("xap-hbeat.stopped");
}

std::string XapListener::heartbeat(const std::string& hbClass) const {
    return "xap-hbeat\n{\nv=12\nhop=1\nuid=" + m_options.uid + "\nclass=" + hbClass +
           "\nsource=" + m_options.source + "\ninterval=" + std::to_string(m_options.intervalS) +
           "\nport=" + std::to_string(port()) + "\n}\n";
}

void XapListener::sendHeartbeat(const std::string& hbClass) {
    // Sent from the listening socket itself, so the hub knows this port as the
    // client's and never relays the client's own datagrams back to it.
    if (!m_socket.send(heartbeat(hbClass)))
        qCWarning(lcListen, "could not send a heartbeat to 127.0.0.1:%d", m_options.hubPort);
}

bool XapListener::wanted(const Options& options, const XapHeader& header) {
    if (header.isHeartbeat() && !options.heartbeats) return false;
    const XapMessage matcher;
    if (!options.sourceFilter.empty() &&
        !matcher.CompareAddress(options.sourceFilter, header.source))
        return false;
    if (!options.classFilter.empty() &&
        !matcher.CompareAddress(options.classFilter, header.msgClass))
        return false;
    return true;
}

void XapListener::readPending() {
    while (m_socket.hasPendingDatagram()) {
        const std::string text = m_socket.readDatagram();
        const auto header = XapHeader::parse(text);
        if (!header || !wanted(m_options, *header)) continue;
        if (m_onMessage) m_onMessage(text);
    }
}
