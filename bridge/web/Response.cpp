#include "web/Response.h"

#include <QFileInfo>
#include <fstream>
#include <iterator>

#include "base/Clock.h"
#include "base/RuntimeError.h"
#include "base/TcpSocket.h"
#include "web/ConnectionPool.h"
#include "web/HtmlFolder.h"
#include "web/WebDates.h"
#include "xap/FastString.h"
#include "xap/XapLog.h"

namespace {

constexpr const char* kCrLf = "\r\n";
// Every page and text this server writes is UTF-8, and says so.
constexpr const char* kHtmlType = "text/html; charset=utf-8";

std::string today() {
    return WebDates::mediumDate(Clock::current().today());
}

std::string lastModified(const std::filesystem::path& file) {
    return WebDates::generalDate(QFileInfo(QString::fromStdString(file.string())).lastModified());
}

// The lines joined by CR LF, then the blank line that ends the header.
std::string header(std::initializer_list<std::string> lines) {
    FastString s;
    for (const std::string& line : lines) {
        s.Add(line);
        s.Add(kCrLf);
    }
    s.Add(kCrLf);
    return s.Value();
}

}  // namespace

bool Response::connected(int16_t index) const {
    return m_pool.socketState(index) == TcpSocket::kConnected;
}

void Response::deliver(int16_t index, const std::string& answer, const std::string& source) {
    deliver(index, QByteArray::fromStdString(answer), source);
}

void Response::deliver(int16_t index, const QByteArray& answer, const std::string& source) {
    m_pool.setSocketTag(index, "0");
    if (!connected(index)) {
        LogEvent("brindlehub", source + " socket " + std::to_string(index) + " is not connected");
        return;
    }
    m_pool.sendData(index, answer);
    m_pool.yield();
}

void Response::SendTextString(const std::string& sResponse, int16_t index) {
    guarded("TCPSever_SendTextString ", [&] {
        const std::string head = header(
            {"HTTP/1.1 200 OK", "Server: qix", "Date: " + today(),
             "Expires: Tue, 04 Dec 1993 21:29:02 GMT", "Accept-Ranges: bytes",
             std::string("Content-Type: ") + kHtmlType,
             "Content-Length: " + std::to_string(sResponse.size()), "Cache-Control: no-cache"});
        // A status page is half a megabyte: it is copied once, into the buffer
        // the socket then sends from.
        QByteArray answer;
        answer.reserve(static_cast<qsizetype>(head.size() + sResponse.size()));
        answer.append(head.data(), static_cast<qsizetype>(head.size()));
        answer.append(sResponse.data(), static_cast<qsizetype>(sResponse.size()));
        deliver(index, answer, "TCPSever_SendTextString");
    });
}

void Response::SendStatus(int16_t index, int code, const std::string& reason,
                          const std::string& extraHeader) {
    guarded("TCPServer_SendStatus ", [&] {
        const std::string status = std::to_string(code) + " " + reason;
        const std::string body = "<html><h1>" + status + "</h1></html>";
        std::string head = "HTTP/1.1 " + status + "\r\nServer: qix\r\nDate: " + today() +
                           "\r\nConnection: Close\r\nContent-Type: " + kHtmlType +
                           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
        if (!extraHeader.empty()) head += extraHeader + "\r\n";
        deliver(index, head + "\r\n" + body, "TCPServer_SendStatus");
    });
}

void Response::Redirect(const std::string&) {
    SendTextString("<HTML>Unauthorized Access<HTML>", m_index);
}

void Response::SendTextFile(const std::string& sFile, int16_t index) {
    guarded("TCPServer_SendTextFile ", [&] {
        const auto file = HtmlFolder::find(m_pool.htmlFolder(), sFile);
        if (!file) {
            SendErrorResponse(index);
            return;
        }
        std::ifstream in(*file, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        deliver(index,
                header({"HTTP/1.0 200 OK", "Server: qix", "Date: " + today(),
                        "Accept-Ranges: bytes", std::string("Content-Type: ") + kHtmlType,
                        "Last-Modified: " + lastModified(*file),
                        "Content-Length: " + std::to_string(text.size())}) +
                    text,
                "TCPServer Unable to send TextFile " + file->string() + ", ");
    });
}

void Response::SendErrorResponse(int16_t index) {
    guarded("TCPServer_SendError_Response ", [&] {
        const std::string body = kNotFoundBody;
        deliver(index,
                header({"HTTP/1.1 200 Object Not Found", "Server: qix", "Date: " + today(),
                        "Connection: Close", std::string("Content-Type: ") + kHtmlType,
                        "Content-Length: " + std::to_string(body.size())}) +
                    body,
                "TCPServer_SendError_Response");
    });
}

void Response::SendBinaryFile(const std::string& sFile, int16_t index) {
    guarded("TCPServer_SendBinaryFile " + sFile + " ", [&] {
        const auto file = HtmlFolder::find(m_pool.htmlFolder(), sFile);
        if (!file) {
            m_pool.sendData(
                index, QByteArray::fromStdString(
                           header({"HTTP/1.1 404 Not Found", "Server: qix", "Date:" + today()})));
            m_pool.yield();
            return;
        }
        std::ifstream in(*file, std::ios::binary);
        if (!in) raiseError(RuntimeError::kFileNotFound, "File not found");
        const auto size = std::filesystem::file_size(*file);
        m_pool.setSocketTag(index, "1");
        m_pool.sendData(index, QByteArray::fromStdString(header(
                                   {"HTTP/1.1 200 OK", "Server: qix", "Date:" + today(),
                                    "Last-Modified: " + lastModified(*file), "Accept-Ranges: bytes",
                                    "Content-Length: " + std::to_string(size), "Connection: Close",
                                    "Content-Type: " + contentType(sFile)})));
        m_pool.yield();

        m_pool.setBinarySendDone(index, true);
        while (connected(index) && in.peek() != std::char_traits<char>::eof()) {
            // A block of its own each time: the socket keeps the one it was
            // handed until it has gone out.
            QByteArray block(static_cast<qsizetype>(kBlockBytes), Qt::Uninitialized);
            in.read(block.data(), static_cast<std::streamsize>(kBlockBytes));
            block.truncate(static_cast<qsizetype>(in.gcount()));
            m_pool.startBinarySendTimer(index, kBlockTimeoutMs);
            while (connected(index) && !m_pool.binarySendDone(index)) m_pool.waitForEvents();
            m_pool.setBinarySendDone(index, false);
            if (connected(index)) {
                m_pool.sendData(index, block);
                m_pool.yield();
            }
        }
        in.close();
        m_pool.setSocketTag(index, "0");
        m_pool.Socket_SendComplete(index);
    });
}

std::string Response::contentType(const std::string& path) {
    static const std::pair<const char*, const char*> kTypes[] = {
        {".txt", "text/plain"}, {".htm", "text/html"}, {".jpg", "image/jpg"},
        {".gif", "image/gif"},  {".bmp", "image/bmp"}, {".php", "text/html"}};
    for (const auto& [ext, type] : kTypes)
        if (path.find(ext) != std::string::npos) return type;
    return "unknown/binary";
}
