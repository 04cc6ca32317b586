#pragma once
// Gathers one request from the bytes a connection delivers, in whatever pieces
// TCP cuts them: first the header up to the blank line, then exactly as many
// body bytes as its Content-Length says (none without one). Only a whole
// request is handed on, so no field is ever cut at a packet edge.
//
// Bounds: the header and the body together may not exceed kMaxBytes; a request
// that says or sends more is TooLarge before its body is read. Bytes after the
// request are dropped (one request per connection). Linear in the bytes fed.

#include <cstddef>
#include <string>
#include <string_view>

class RequestReader {
public:
    static constexpr size_t kMaxBytes = 512 * 1024;

    enum class State { Reading, Complete, TooLarge, Malformed };

    // Appends bytes; returns the state after them. Bytes fed once the state is
    // no longer Reading are ignored.
    State feed(std::string_view bytes);
    State state() const { return m_state; }
    // Nothing received yet.
    bool empty() const { return m_text.empty(); }
    // The whole request, once Complete.
    const std::string& text() const { return m_text; }

private:
    void readHeader();

    std::string m_text;
    size_t m_bodyStart = std::string::npos;
    size_t m_total = 0;
    State m_state = State::Reading;
};
