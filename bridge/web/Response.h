#pragma once
// Writes one HTTP answer to one connection of the pool: a generated page, a
// text file, the not-found page, or a binary file in blocks of 1000 bytes, each
// sent once the one before has completed or 5 s have passed. Header lines and
// their order are fixed; the connection is closed once the answer has gone.
//
// Every send yields to the event loop once, and a binary send keeps yielding
// while it waits, so everything else (other connections included) goes on
// meanwhile. Faults are logged under the operation's name and end it.
// Lives for one request; the pool outlives it.

#include <QByteArray>
#include <cstdint>
#include <string>

class ConnectionPool;

class Response {
public:
    static constexpr size_t kBlockBytes = 1000;
    static constexpr int kBlockTimeoutMs = 5000;
    static constexpr const char* kNotFoundBody = "<html><h1>404 File Not Found</h1></html>";

    explicit Response(ConnectionPool& pool) : m_pool(pool) {}

    void setIndex(int16_t index) { m_index = index; }
    int16_t index() const { return m_index; }

    void SendTextString(const std::string& sResponse, int16_t index);
    void Send(const std::string& sData) { SendTextString(sData, m_index); }
    void Redirect(const std::string& sData);
    // sFile is the request path as the server forms it ("\brindlehub\x.css").
    void SendTextFile(const std::string& sFile, int16_t index);
    void SendErrorResponse(int16_t index);
    // A short answer with its status line ("401 Unauthorized") and one extra
    // header line when given; the connection closes after it.
    void SendStatus(int16_t index, int code, const std::string& reason,
                    const std::string& extraHeader = {});
    void SendBinaryFile(const std::string& sFile, int16_t index);

    // By the first of ".txt", ".htm", ".jpg", ".gif", ".bmp", ".php" found
    // anywhere in the path; "unknown/binary" for none.
    static std::string contentType(const std::string& path);

private:
    bool connected(int16_t index) const;
    // The tail every whole answer shares: tag "0", then the bytes when the
    // connection is still there (else a log line under source), then a yield.
    void deliver(int16_t index, const QByteArray& answer, const std::string& source);
    void deliver(int16_t index, const std::string& answer, const std::string& source);

    ConnectionPool& m_pool;
    int16_t m_index = 0;
};
