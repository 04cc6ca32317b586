#include "web/TCPServer.h"

#include <QCoreApplication>
#include <fstream>
#include <iterator>

#include "base/Clock.h"
#include "base/Convert.h"
#include "base/DoEvents.h"
#include "base/Err.h"
#include "base/HeapTrim.h"
#include "base/ProgramFolder.h"
#include "base/RuntimeError.h"
#include "host/Application.h"
#include "host/WebSettings.h"
#include "web/HtmlText.h"
#include "web/Request.h"
#include "web/Response.h"
#include "xap/XapLog.h"
#include "xap/XapSettings.h"

namespace {

constexpr const char* kHelpFile = "HTML/Help/brindlehub/brindlehub.htm";

// Every "brindlehub_files", in any case, becomes the folder's address below /help/.
std::string rewritePictureFolder(const std::string& page) {
    static const std::string from = "brindlehub_files";
    static const std::string to = "help/brindlehub/brindlehub_files";
    std::string out;
    out.reserve(page.size());
    size_t i = 0;
    while (i < page.size()) {
        if (page.size() - i >= from.size() &&
            vb::equalsIgnoreCase(std::string_view(page).substr(i, from.size()), from)) {
            out += to;
            i += from.size();
        } else {
            out += page[i++];
        }
    }
    return out;
}

}  // namespace

TCPServer::TCPServer(Application& hs) : m_hs(hs), m_statusPage(hs) {
    loadSocket();  // element 0, the listener, exists from the start
    for (int i = 0; i <= kHighestIndex; ++i)
        m_binarySendTimer[static_cast<size_t>(i)].onTimer(
            [this, i] { TCPBinarySendTimer_Timer(static_cast<int16_t>(i)); });
    m_serverTimer.onTimer([this] { ServerTimer_Timer(); });
    m_sweepTimer.onTimer([this] { CheckConnections(); });
    m_resumeTimer.onTimer([this] {
        m_resumeTimer.setEnabled(false);
        updateAccepting();
    });
}

TCPServer::~TCPServer() {
    Form_Unload();
}

void TCPServer::Form_Load() {
    guarded("Server Form_Load ", [&] {
        m_htmlFolder = ProgramFolder::resolveIgnoringCase(ProgramFolder::path(), "HTML").string();
        StartListening();
        XapSettings::CreateFolders(ProgramFolder::path() + "/Data/brindlehub/");
    });
}

void TCPServer::StartListening() {
    IniCache& ini = m_hs.iniCache();
    m_serverPort = vb::withoutQuotes(ini.GetINISetting("General", "ServerPort", "8012"));
    const std::string address =
        vb::Trim(vb::withoutQuotes(ini.GetINISetting("General", "ServerAddress", "")));
    m_serverTimer.setInterval(0);
    m_serverTimer.setEnabled(false);
    // An empty port leaves the server without a listener, as it always has.
    if (m_serverPort.empty()) return;
    const int port = WebSettings::portNumber(m_serverPort);
    const std::string where = (address.empty() ? std::string("every address") : address) +
                              " port \"" + m_serverPort + "\"";
    if (port == 0) {
        LogError("TCPServer", "The status page is not served: ServerPort \"" + m_serverPort +
                                  "\" is not a port number from 1 to 65535");
        return;
    }
    TcpSocket& listener = *m_socket[0];
    if (port == listener.LocalPort() && listener.State() == TcpSocket::kListening) return;
    try {
        listener.setLocalPort(port);
        listener.setLocalAddress(address);
        listener.Listen();
    } catch (...) {
        Err::capture();
        LogError("TCPServer", "The status page is not served: cannot listen on " + where + ": " +
                                  Err::Description());
        return;
    }
    while (highestIndex() < kInitialHighest) loadSocket();
    m_openSocketCount = 0;
    m_nextSocketIndex = 0;
}

int TCPServer::listeningPort() const {
    return m_socket.empty() || m_socket[0]->State() != TcpSocket::kListening
               ? 0
               : m_socket[0]->LocalPort();
}

void TCPServer::Form_Unload() {
    for (auto& socket : m_socket)
        if (socket->State() != TcpSocket::kClosed) socket->Close();
    m_socket.clear();
    m_requestQueue.clear();
    m_serverTimer.setEnabled(false);
    m_sweepTimer.setEnabled(false);
    m_resumeTimer.setEnabled(false);
    for (Timer& t : m_binarySendTimer) t.setEnabled(false);
}

void TCPServer::loadSocket() {
    const auto index = static_cast<int16_t>(m_socket.size());
    auto socket = std::make_unique<TcpSocket>();
    socket->onConnectionRequest = [this, index](int32_t id) {
        socket_ConnectionRequest(index, id);
    };
    socket->onDataArrival = [this, index](int64_t n) { socket_DataArrival(index, n); };
    socket->onClose = [this, index] { socket_Close(index); };
    socket->onSendComplete = [this, index] { Socket_SendComplete(index); };
    m_socket.push_back(std::move(socket));
}

TcpSocket* TCPServer::socketAt(int index) const {
    if (index < 0 || index >= static_cast<int>(m_socket.size())) return nullptr;
    return m_socket[static_cast<size_t>(index)].get();
}

int64_t TCPServer::nowMs() {
    return Clock::current().epochMs();
}

int TCPServer::freeSocket() {
    const int highest = highestIndex();
    for (int tries = 0; tries < highest; ++tries) {
        m_nextSocketIndex = static_cast<int16_t>((m_nextSocketIndex + 1) % (highest + 1));
        if (m_nextSocketIndex == 0) m_nextSocketIndex = 1;
        if (socketState(m_nextSocketIndex) == TcpSocket::kClosed &&
            m_nextSocketIndex != m_answering)
            return m_nextSocketIndex;
    }
    return -1;
}

int TCPServer::evictable() const {
    // The oldest connection that has sent nothing; failing that, the oldest
    // whose request has stalled. A received request is never a candidate.
    int idle = -1;
    int stalled = -1;
    const int64_t now = nowMs();
    for (int i = 1; i <= highestIndex(); ++i) {
        const Connection& c = m_connection[static_cast<size_t>(i)];
        if (i == m_answering || c.received || socketState(i) == TcpSocket::kClosed) continue;
        // Bytes already waiting, not yet read, tell a request from an idle connection.
        if (c.reader.empty() && socketAt(i)->BytesReceived() > 0) continue;
        int& pick = c.reader.empty() ? idle : stalled;
        if (!c.reader.empty() && now - c.lastByteAt < kStalledMs) continue;
        if (pick < 0 || c.order < m_connection[static_cast<size_t>(pick)].order) pick = i;
    }
    return idle >= 0 ? idle : stalled;
}

void TCPServer::updateAccepting() {
    if (m_socket.empty() || m_socket[0]->State() != TcpSocket::kListening) return;
    const bool room =
        highestIndex() < kHighestIndex || m_openSocketCount < kHighestIndex || evictable() >= 0;
    if (room == !m_holding) return;
    m_holding = !room;
    m_socket[0]->setAccepting(room);
}

void TCPServer::socket_ConnectionRequest(int16_t index, int32_t requestID) {
    (void)index;
    guarded("socket_ConnectionRequest ", [&] {
        while (m_openSocketCount >= highestIndex() - 4 && highestIndex() < kHighestIndex)
            loadSocket();
        int chosen = freeSocket();
        if (chosen < 0) {
            chosen = evictable();
            if (chosen >= 0) closeConnection(static_cast<int16_t>(chosen));
        }
        if (chosen < 0) {
            // Every socket carries a received request: the connection waits
            // in the listener until one of them has been answered.
            m_holding = true;
            m_socket[0]->setAccepting(false);
            return;
        }

        ++m_openSocketCount;
        TcpSocket& socket = *socketAt(chosen);
        const int64_t now = nowMs();
        Connection& c = m_connection[static_cast<size_t>(chosen)];
        c = Connection{};
        c.order = ++m_accepts;
        c.acceptedAt = now;
        socket.Tag.clear();
        socket.Accept(requestID);
        if (!m_sweepTimer.enabled()) {
            m_sweepTimer.setInterval(kSweepMs);
            m_sweepTimer.setEnabled(true);
        }
    });
}

void TCPServer::socket_DataArrival(int16_t index, int64_t bytesTotal) {
    (void)bytesTotal;
    guarded("socket_DataArrival ", [&] {
        TcpSocket* socket = socketAt(index);
        if (socket == nullptr) return;
        std::string data = socket->GetData();
        Connection& c = m_connection[static_cast<size_t>(index)];
        // Once received, whatever else the connection sends has nowhere to go.
        if (c.received || data.empty()) return;
        const int64_t now = nowMs();
        if (c.reader.empty()) c.firstByteAt = now;
        c.lastByteAt = now;
        switch (c.reader.feed(data)) {
            case RequestReader::State::Reading:
                if (now - c.firstByteAt >= kRequestTimeoutMs)
                    refuse(index, 408, "Request Timeout", "was not complete within 5 s");
                return;
            case RequestReader::State::TooLarge:
                refuse(index, 413, "Payload Too Large",
                       "exceeds " + std::to_string(RequestReader::kMaxBytes) + " bytes");
                return;
            case RequestReader::State::Malformed:
                refuse(index, 400, "Bad Request", "has an unreadable Content-Length");
                return;
            case RequestReader::State::Complete:
                break;
        }
        c.received = true;
        m_requestQueue.push_back(Packet{index, c.reader.text()});
        updateAccepting();
        if (!m_serverTimer.enabled()) {
            m_serverTimer.setInterval(kDrainDelayMs);
            m_serverTimer.setEnabled(true);
        }
    });
}

void TCPServer::refuse(int16_t index, int code, const std::string& reason, const std::string& why) {
    Connection& c = m_connection[static_cast<size_t>(index)];
    c.received = true;
    c.answered = true;
    LogError("TCPServer", "Request from " + socketAt(index)->RemoteHostIP() + " " + why +
                              ", answered " + std::to_string(code));
    Response response(*this);
    response.setIndex(index);
    response.SendStatus(index, code, reason);
}

void TCPServer::CheckConnections() {
    guarded("CheckConnections ", [&] {
        const int64_t now = nowMs();
        bool open = false;
        for (int i = 1; i <= highestIndex(); ++i) {
            const auto index = static_cast<int16_t>(i);
            if (socketState(i) == TcpSocket::kClosed) continue;
            open = true;
            const Connection& c = m_connection[static_cast<size_t>(i)];
            if (c.received) continue;
            if (c.reader.empty() && now - c.acceptedAt >= kRequestTimeoutMs)
                closeConnection(index);
            else if (!c.reader.empty() && now - c.firstByteAt >= kRequestTimeoutMs)
                refuse(index, 408, "Request Timeout", "was not complete within 5 s");
        }
        if (!open) m_sweepTimer.setEnabled(false);
    });
}

void TCPServer::socket_Close(int16_t index) {
    guarded("socket_Close ", [&] { closeConnection(index); });
}

void TCPServer::closeConnection(int16_t index) {
    TcpSocket* socket = socketAt(index);
    if (socket != nullptr && socket->State() != TcpSocket::kClosed) {
        --m_openSocketCount;
        socket->Close();
    }
    // Every packet of the connection goes with it, so none can be taken for
    // a request of the next connection on this socket.
    dropQueued(index);
    // The page's buffers are freed by now.
    HeapTrim::soon();
    if (m_holding && !m_resumeTimer.enabled()) {
        m_resumeTimer.setInterval(1);
        m_resumeTimer.setEnabled(true);
    }
}

void TCPServer::dropQueued(int16_t index) {
    std::erase_if(m_requestQueue, [index](const Packet& p) { return p.index == index; });
}

void TCPServer::Socket_SendComplete(int index) {
    guarded("Socket_SendComplete", [&] {
        if (index < 0 || index > kHighestIndex) return;
        m_binarySendTimer[static_cast<size_t>(index)].setEnabled(false);
        m_binarySendDone[static_cast<size_t>(index)] = true;
        if (socketTag(index) != "1") socket_Close(static_cast<int16_t>(index));
    });
}

void TCPServer::TCPBinarySendTimer_Timer(int16_t index) {
    guarded("TCPBinarySendTimer_Timer", [&] {
        m_binarySendTimer[static_cast<size_t>(index)].setEnabled(false);
        m_binarySendDone[static_cast<size_t>(index)] = true;
    });
}

void TCPServer::ServerTimer_Timer() {
    ProcessRequestQueue();
}

void TCPServer::ProcessRequestQueue() {
    if (m_draining) return;
    m_draining = true;
    // Interval 0 keeps the timer enabled but silent: packets arriving while the
    // queue drains are appended and taken by this same loop.
    m_serverTimer.setInterval(0);
    while (!m_requestQueue.empty()) {
        Packet packet = std::move(m_requestQueue.front());
        m_requestQueue.pop_front();
        // One bad request must not keep the next from its answer.
        guarded("ProcessRequestQueue ", [&] { answer(packet); });
        m_answering = -1;
    }
    m_serverTimer.setEnabled(false);
    m_draining = false;
}

void TCPServer::answer(Packet& packet) {
    const int16_t index = packet.index;
    if (socketAt(index) == nullptr || m_connection[static_cast<size_t>(index)].answered) return;

    Request request;
    request.ParsePage(packet.data);
    request.setRemoteAddress(socketAt(index)->RemoteHostIP());
    Response response(*this);
    response.setIndex(index);

    std::string path = vb::LCase(request.page());
    for (char& c : path)
        if (c == '/') c = '\\';
    const std::string extension = path.size() >= 4 ? path.substr(path.size() - 4) : path;

    m_connection[static_cast<size_t>(index)].answered = true;
    m_answering = index;
    if (extension == ".jpg" || extension == ".gif" || extension == ".png" || extension == ".wmz") {
        response.SendBinaryFile(path, index);
    } else if (extension == ".css") {
        response.SendTextFile(path, index);
    } else if (path.compare(0, 6, "\\statu") == 0 || path == "\\") {
        const std::string page = m_statusPage.Render(request, response);
        if (!m_statusPage.refused()) response.SendTextString(page, index);
    } else if (path == "\\help") {
        response.SendTextString(HelpPage(), index);
    } else {
        // Unanswered, the browser would hold the socket until it gave up.
        response.SendErrorResponse(index);
    }
}

std::string TCPServer::HelpPage() {
    const std::string folder = ProgramFolder::path();
    const auto file = ProgramFolder::resolveIgnoringCase(folder, kHelpFile);
    std::error_code ec;
    if (std::filesystem::is_regular_file(file, ec)) {
        std::ifstream in(file, std::ios::binary);
        return rewritePictureFolder(
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }
    return "Sorry, Help from " + HtmlText::escape(folder + "/" + kHelpFile) + " is not available";
}

int TCPServer::socketState(int index) const {
    const TcpSocket* socket = socketAt(index);
    return socket == nullptr ? TcpSocket::kClosed : socket->State();
}

std::string TCPServer::socketTag(int index) const {
    const TcpSocket* socket = socketAt(index);
    return socket == nullptr ? std::string() : socket->Tag;
}

void TCPServer::setSocketTag(int index, const std::string& tag) {
    if (TcpSocket* socket = socketAt(index)) socket->Tag = tag;
}

void TCPServer::sendData(int index, const QByteArray& data) {
    TcpSocket* socket = socketAt(index);
    if (socket == nullptr)
        raiseError(RuntimeError::kSubscriptOutOfRange, "Control array element does not exist");
    socket->SendData(data);
}

bool TCPServer::binarySendDone(int index) const {
    return index >= 0 && index <= kHighestIndex && m_binarySendDone[static_cast<size_t>(index)];
}

void TCPServer::setBinarySendDone(int index, bool done) {
    if (index >= 0 && index <= kHighestIndex) m_binarySendDone[static_cast<size_t>(index)] = done;
}

void TCPServer::startBinarySendTimer(int index, int milliseconds) {
    if (index < 0 || index > kHighestIndex) return;
    Timer& t = m_binarySendTimer[static_cast<size_t>(index)];
    t.setInterval(milliseconds);
    t.setEnabled(true);
}

void TCPServer::yield() {
    DoEvents();
}

void TCPServer::waitForEvents() {
    // Blocks until something happens, instead of spinning: the block's
    // completion or its time-out is always on its way.
    NestedEventScope scope;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}
