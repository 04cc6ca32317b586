#include "web/TCPServer.h"

#include <QCoreApplication>
#include <fstream>
#include <iterator>

#include "base/Convert.h"
#include "base/DoEvents.h"
#include "base/ProgramFolder.h"
#include "base/RuntimeError.h"
#include "host/Application.h"
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

TCPServer::TCPServer() {
    loadSocket();  // element 0, the listener, exists from the start
    for (int i = 0; i <= kHighestIndex; ++i)
        m_binarySendTimer[static_cast<size_t>(i)].onTimer(
            [this, i] { TCPBinarySendTimer_Timer(static_cast<int16_t>(i)); });
    m_serverTimer.onTimer([this] { ServerTimer_Timer(); });
}

TCPServer::~TCPServer() {
    Form_Unload();
}

void TCPServer::Form_Load() {
    try {
        m_htmlFolder = ProgramFolder::resolveIgnoringCase(ProgramFolder::path(), "HTML").string();
        StartListening();
        XapSettings::CreateFolders(ProgramFolder::path() + "/Data/brindlehub/");
    } catch (...) {
        LogFault("Server Form_Load ");
    }
}

void TCPServer::StartListening() {
    Application* hs = Application::instance();
    if (hs == nullptr)
        raiseError(RuntimeError::kObjectRequired, "Object variable or With block variable not set");
    m_serverPort = vb::withoutQuotes(hs->iniCache().GetINISetting("General", "ServerPort", "8012"));
    TcpSocket& listener = *m_socket[0];
    if (!m_serverPort.empty() && vb::Val(m_serverPort) != listener.LocalPort()) {
        listener.setLocalPort(vb::CLng(vb::Val(m_serverPort)));
        listener.Listen();
        while (highestIndex() < kInitialHighest) loadSocket();
        m_openSocketCount = 0;
        m_nextSocketIndex = 0;
    }
    m_serverTimer.setInterval(0);
    m_serverTimer.setEnabled(false);
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

void TCPServer::unloadHighestSocket() {
    const int index = highestIndex();
    dropQueued(static_cast<int16_t>(index));
    m_socket.pop_back();
    m_binarySendTimer[static_cast<size_t>(index)].setEnabled(false);
}

TcpSocket* TCPServer::socketAt(int index) const {
    if (index < 0 || index >= static_cast<int>(m_socket.size())) return nullptr;
    return m_socket[static_cast<size_t>(index)].get();
}

void TCPServer::socket_ConnectionRequest(int16_t index, int32_t requestID) {
    (void)index;
    try {
        if (m_openSocketCount >= kResetAtOpen) {
            // The count says the pool is exhausted: start over with every
            // connection dropped and the first five sockets.
            for (int i = 1; i <= highestIndex(); ++i) closeConnection(static_cast<int16_t>(i));
            while (highestIndex() > kInitialHighest) unloadHighestSocket();
            m_openSocketCount = 0;
        }
        while (m_openSocketCount >= highestIndex() - 4 && highestIndex() < kHighestIndex)
            loadSocket();

        // One round over the pool at most: with nothing free the connection is
        // refused (the socket layer closes it) and the server listens on.
        int chosen = -1;
        const int highest = highestIndex();
        for (int tries = 0; tries < highest && chosen < 0; ++tries) {
            m_nextSocketIndex = static_cast<int16_t>((m_nextSocketIndex + 1) % (highest + 1));
            if (m_nextSocketIndex == 0) m_nextSocketIndex = 1;
            if (socketState(m_nextSocketIndex) == TcpSocket::kClosed &&
                m_nextSocketIndex != m_answering)
                chosen = m_nextSocketIndex;
        }
        if (chosen < 0) return;

        ++m_openSocketCount;
        TcpSocket& socket = *socketAt(chosen);
        m_connection[static_cast<size_t>(chosen)] = Connection{};
        socket.Tag.clear();
        socket.Accept(requestID);
    } catch (...) {
        LogFault("socket_ConnectionRequest ");
    }
}

void TCPServer::socket_DataArrival(int16_t index, int64_t bytesTotal) {
    (void)bytesTotal;
    try {
        TcpSocket* socket = socketAt(index);
        if (socket == nullptr) return;
        std::string data = socket->GetData();
        Connection& connection = m_connection[static_cast<size_t>(index)];
        // Once answered, whatever else the connection sends has nowhere to go.
        if (connection.answered || data.empty()) return;
        connection.received += data.size();
        if (connection.received > kMaxRequestBytes) {
            LogEvent("brindlehub", "socket_DataArrival request on socket " + std::to_string(index) +
                                       " exceeds " + std::to_string(kMaxRequestBytes) +
                                       " bytes, closed");
            closeConnection(index);
            return;
        }
        m_requestQueue.push_back(Packet{index, std::move(data)});
        if (!m_serverTimer.enabled()) {
            m_serverTimer.setInterval(kDrainDelayMs);
            m_serverTimer.setEnabled(true);
        }
    } catch (...) {
        LogFault("socket_DataArrival ");
    }
}

void TCPServer::socket_Close(int16_t index) {
    try {
        closeConnection(index);
    } catch (...) {
        LogFault("socket_Close ");
    }
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
}

void TCPServer::dropQueued(int16_t index) {
    std::erase_if(m_requestQueue, [index](const Packet& p) { return p.index == index; });
}

void TCPServer::Socket_SendComplete(int index) {
    try {
        if (index < 0 || index > kHighestIndex) return;
        m_binarySendTimer[static_cast<size_t>(index)].setEnabled(false);
        m_binarySendDone[static_cast<size_t>(index)] = true;
        if (socketTag(index) != "1") socket_Close(static_cast<int16_t>(index));
    } catch (...) {
        LogFault("Socket_SendComplete");
    }
}

void TCPServer::TCPBinarySendTimer_Timer(int16_t index) {
    try {
        m_binarySendTimer[static_cast<size_t>(index)].setEnabled(false);
        m_binarySendDone[static_cast<size_t>(index)] = true;
    } catch (...) {
        LogFault("TCPBinarySendTimer_Timer");
    }
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
        try {
            answer(packet);
        } catch (...) {
            // One bad request must not keep the next from its answer.
            LogFault("ProcessRequestQueue ");
        }
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
    if (request.Method().compare(0, 3, "POS") == 0) {
        // Body packets that arrived while the request waited; later ones are
        // not waited for.
        while (!m_requestQueue.empty() && m_requestQueue.front().index == index) {
            request.AddPostData(m_requestQueue.front().data);
            m_requestQueue.pop_front();
        }
    }
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

void TCPServer::sendData(int index, const std::string& data) {
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
