#include "xap/xap.h"

#include <QLoggingCategory>
#include <algorithm>
#include <sstream>

#include "base/Convert.h"
#include "base/Err.h"
#include "base/HostName.h"
#include "base/NetworkInterfaces.h"
#include "xap/XapLog.h"
#include "xap/XapMessage.h"
#include "xap/XapMessageCallback.h"
#include "xap/xapGlobal.h"

Q_LOGGING_CATEGORY(lcXapTransport, "brindle.xap.transport")

namespace {

// Splits a dotted quad into its four numbers; false unless there are exactly four.
bool quadParts(const std::string& text, long parts[4]) {
    std::stringstream in(text);
    std::string part;
    int n = 0;
    while (std::getline(in, part, '.')) {
        if (n == 4) return false;
        parts[n++] = static_cast<long>(vb::Val(part));
    }
    return n == 4;
}

// The transport's own notes are not about a fault a caller may be handling at
// the time; that fault stays pending for the caller's report.
void logNote(const std::string& text) {
    const int number = Err::Number();
    const int line = Err::Erl();
    const std::string description = Err::Description();
    Err::Clear();
    LogError("brindlehub", text);
    if (number != 0) Err::set(number, description, line);
}

}  // namespace

xap::xap() {
    m_hbeatTimer.onTimer([this] { HBeatTimer_Timer(); });
    m_receiveTimer.onTimer([this] { ReceiveTimer_Timer(); });
    m_winsock1.onDataArrival([this] { socketDataArrival(m_winsock1); });
    m_winsock2.onDataArrival([this] { socketDataArrival(m_winsock2); });
    m_winsock2.setRemotePort(kXapPort);
    m_winsock1.setRemotePort(kXapPort);
    xapGlobal::values().transport = this;
    rebuildHeartbeat();
}

xap::~xap() {
    // Peers and the hub drop the gateway at once instead of waiting out two
    // heartbeat intervals.
    if (m_heartbeatSent) {
        m_winsock2.setRemoteHost(m_broadcastTarget);
        sendDatagram(m_stoppedText + std::to_string(m_lastInterval) + m_heartbeatTail);
    }
    m_hbeatTimer.setEnabled(false);
    m_receiveTimer.setEnabled(false);
    m_queue.clear();
    m_queuedBytes = 0;
    m_winsock1.close();
    m_winsock2.close();
    auto& v = xapGlobal::values();
    if (v.transport == this) {
        v.transport = nullptr;
        v.XapReady = false;
    }
}

std::string xap::chooseLocalAddress(const std::vector<std::string>& addresses,
                                    const std::string& pattern) {
    if (addresses.empty()) return {};
    long want[4];
    if (quadParts(pattern, want)) {
        for (const auto& address : addresses) {
            long have[4];
            if (!quadParts(address, have)) continue;
            bool match = true;
            for (int i = 0; i < 4 && match; ++i) match = (want[i] & have[i]) == want[i];
            if (match) return address;
        }
    }
    return addresses.front();
}

std::string xap::loopbackNotice(const std::vector<std::string>& candidates,
                                const std::string& pattern, const std::string& localAddress,
                                const std::string& broadcastTarget) {
    if (!NetworkInterfaces::isLoopback(localAddress)) return {};
    std::string target = broadcastTarget;
    if (!NetworkInterfaces::isLoopback(target)) {
        const auto resolved = resolveIPv4(target);
        if (!resolved.empty()) target = resolved.front();
    }
    if (NetworkInterfaces::isLoopback(target)) return {};
    const bool othersUp = std::any_of(candidates.begin(), candidates.end(), [](const auto& a) {
        return !NetworkInterfaces::isLoopback(a);
    });
    const std::string why = othersUp
                                ? "InterfaceAddress " + pattern + " in Config/qixXap.ini selects it"
                                : "no network interface other than loopback is up";
    return "xAP stays on this machine: it sends from the loopback address " + localAddress +
           " because " + why + ", so messages to " + broadcastTarget +
           " reach no other computer; set InterfaceAddress to the network's address (for "
           "example 192.168.1.0) to use that network";
}

int xap::Init() {
    const std::vector<std::string> candidates = NetworkInterfaces::upIPv4();
    m_localAddress = chooseLocalAddress(candidates, InterfaceAddress);
    m_broadcastTarget =
        vb::equalsIgnoreCase(BroadcastAddress, "default") ? "255.255.255.255" : BroadcastAddress;
    m_winsock1.setRemoteHost(m_broadcastTarget);
    m_sendErrorsLogged.clear();
    if (const std::string notice =
            loopbackNotice(candidates, InterfaceAddress, m_localAddress, m_broadcastTarget);
        !notice.empty())
        logNote(notice);

    int port = 0;
    for (int candidate = kFirstPort; candidate < kFirstPort + kPortsToTry; ++candidate) {
        if (m_winsock1.bind("127.0.0.1", candidate) == 0) {
            port = candidate;
            break;
        }
    }
    if (port == 0) return -1;

    m_winsock2.setRemoteHost(m_broadcastTarget);
    int e = m_winsock2.bind(m_localAddress, port);
    if (e == UdpSocket::kAddressInUse &&
        (m_localAddress.empty() || m_localAddress == "127.0.0.1")) {
        // The chosen address is the loopback address Winsock1 already holds at
        // this port, so Winsock1 receives everything addressed there; Winsock2
        // only needs a socket to send from.
        qCInfo(lcXapTransport,
               "interface address %s is the receiving address; sending from a "
               "separate port",
               m_localAddress.empty() ? "(any)" : m_localAddress.c_str());
        e = m_winsock2.bind(m_localAddress.empty() ? "127.0.0.1" : m_localAddress, 0);
    }
    if (e != 0) return e > 0 ? -e : e;

    m_port = port;
    m_heartbeatTail = "0\nport=" + std::to_string(port) + "\n}\n";
    return port;
}

void xap::rebuildHeartbeat() {
    const auto& v = xapGlobal::values();
    const auto text = [&](const char* state) {
        std::string out = "xap-hbeat|{|v=12|hop=1|uid=" + v.XapUID + "|class=xap-hbeat." + state +
                          "|source=" + v.XapSource + "|interval=";
        for (char& c : out)
            if (c == '|') c = '\n';
        return out;
    };
    m_heartbeatText = text("alive");
    m_stoppedText = text("stopped");
}

void xap::setXapSource(const std::string& v) {
    xapGlobal::values().XapSource = v;
    rebuildHeartbeat();
}

void xap::setXapTarget(const std::string& v) {
    xapGlobal::values().XapTarget = v;
    rebuildHeartbeat();
}

void xap::setXapUID(const std::string& v) {
    xapGlobal::values().XapUID = v;
    rebuildHeartbeat();
}

void xap::setXapClass(const std::string& v) {
    xapGlobal::values().XapClass = v;
}

const std::string& xap::XapSource() const {
    return xapGlobal::values().XapSource;
}
const std::string& xap::XapUID() const {
    return xapGlobal::values().XapUID;
}

void xap::SendHeartbeat(long LongInterval) {
    long n = LongInterval;
    if (n > 60)
        n = 60;
    else if (n <= 0)
        n = 0;
    else if (n < 5)
        n = 5;
    m_hbeatTimer.setInterval(static_cast<int>(n * 1000));
    m_hbeatTimer.setEnabled(n >= 1);
    m_winsock2.setRemoteHost(m_broadcastTarget);
    sendDatagram(m_heartbeatText + std::to_string(n) + m_heartbeatTail);
    m_heartbeatSent = true;
    m_lastInterval = n;
}

void xap::HBeatTimer_Timer() {
    m_heartbeatCount = (m_heartbeatCount + 1) % 10;
    if (m_heartbeatCount == 0) SendHeartbeat(m_hbeatTimer.interval() / 1000);
}

std::string xap::BuildXap(const std::string& source, const std::string& uid,
                          const std::string& sTarget, const std::string& sClass,
                          const std::string& sSection, const std::string& sData,
                          const std::string& sSubaddress) {
    XapMessage msg;
    msg.MsgClass = sClass;
    msg.msgSource = sSubaddress.empty() ? source : source + ":" + sSubaddress;
    msg.MsgTarget = sTarget;
    msg.MsgUID = uid;
    msg.AddHeader();
    msg.AddSection(sSection);
    size_t start = 0;
    while (start < sData.size()) {
        size_t end = sData.find('\0', start);
        if (end == std::string::npos) end = sData.size();
        const std::string_view itemText(sData.data() + start, end - start);
        const size_t sep = itemText.find('\x01');
        if (sep != std::string_view::npos)
            msg.AddItem(sSection, std::string(itemText.substr(0, sep)),
                        std::string(itemText.substr(sep + 1)));
        start = end + 1;
    }
    return msg.ToXap();
}

std::string xap::SendXap(const std::string& sTarget, const std::string& sClass,
                         const std::string& sSection, const std::string& sData,
                         const std::string& sSubaddress, const std::string& sUID) {
    const auto& v = xapGlobal::values();
    m_winsock2.setRemoteHost(m_broadcastTarget);
    sendDatagram(BuildXap(v.XapSource, sUID.empty() ? v.XapUID : sUID, sTarget, sClass, sSection,
                          sData, sSubaddress));
    return {};
}

bool xap::sendDatagram(const std::string& text) {
    if (!m_winsock2.isBound()) return false;
    const bool sent = m_winsock2.send(text);
    // A network that is gone fails every datagram alike; one line says so
    // without filling the disk at the rate messages are sent.
    if (!sent && m_sendErrorsLogged.insert(m_winsock2.sendError()).second) {
        const std::string line = "xAP send from " + m_winsock2.localAddress() + " to " +
                                 m_broadcastTarget + ":" + std::to_string(kXapPort) +
                                 " failed: " + m_winsock2.sendError();
        qCWarning(lcXapTransport, "%s", line.c_str());
        logNote(line);
    }
    return sent;
}

std::string xap::GetMessage() {
    if (m_queue.empty()) return {};
    std::string text = std::move(m_queue.front());
    m_queue.pop_front();
    m_queuedBytes -= text.size();
    return text;
}

void xap::socketDataArrival(UdpSocket& socket) {
    while (socket.hasPendingDatagram()) {
        m_receiveBuffer = socket.readDatagram();
        const bool wanted =
            !FilterHeartbeats ||
            (m_receiveBuffer.size() >= 8 &&
             vb::LCase(std::string_view(m_receiveBuffer).substr(0, 8)) == "xap-head");
        if (!wanted) continue;
        // A flood the program cannot keep up with must not eat the memory of a
        // box that runs for months: beyond the bound the oldest texts make
        // room, so what comes after a burst is still heard.
        if (m_receiveBuffer.size() > kMaxQueuedBytes) continue;
        while (!m_queue.empty() && (m_queue.size() >= kMaxQueued ||
                                    m_queuedBytes + m_receiveBuffer.size() > kMaxQueuedBytes)) {
            qCWarning(lcXapTransport, "receive queue full; oldest datagram dropped");
            m_queuedBytes -= m_queue.front().size();
            m_queue.pop_front();
        }
        m_queuedBytes += m_receiveBuffer.size();
        m_queue.push_back(m_receiveBuffer);
        // Armed by the first arrival only: re-arming on every datagram would let
        // steady traffic postpone the hand-over for ever.
        if (!m_receiveTimer.enabled()) {
            m_receiveTimer.setInterval(50);
            m_receiveTimer.setEnabled(true);
        }
    }
}

void xap::ReceiveTimer_Timer() {
    m_receiveTimer.setEnabled(false);
    if (m_callback != nullptr) m_callback->onMessage();
}
