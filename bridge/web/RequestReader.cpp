#include "web/RequestReader.h"

#include "base/Convert.h"

namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";

}  // namespace

RequestReader::State RequestReader::feed(std::string_view bytes) {
    if (m_state != State::Reading) return m_state;
    if (m_bodyStart == std::string::npos) {
        // Search only where the blank line can end now: the new bytes and the
        // three before them.
        const size_t from = m_text.size() >= 3 ? m_text.size() - 3 : 0;
        m_text.append(bytes.substr(0, kMaxBytes + 1 - m_text.size()));
        const size_t blank = m_text.find(kBlankLine, from);
        if (blank == std::string::npos) {
            if (m_text.size() > kMaxBytes) m_state = State::TooLarge;
            return m_state;
        }
        m_bodyStart = blank + kBlankLine.size();
        readHeader();
        if (m_state != State::Reading) return m_state;
    } else {
        m_text.append(bytes.substr(0, m_total - m_text.size()));
    }
    if (m_text.size() >= m_total) {
        m_text.resize(m_total);
        m_state = State::Complete;
    }
    return m_state;
}

void RequestReader::readHeader() {
    // Header lines after the request line; a Content-Length given twice must
    // say the same, or the body's end would be a guess.
    const std::string_view header = std::string_view(m_text).substr(0, m_bodyStart - 2);
    bool seen = false;
    size_t length = 0;
    for (size_t start = header.find("\r\n"); start != std::string_view::npos;) {
        start += 2;
        const size_t end = header.find("\r\n", start);
        const std::string_view line = header.substr(start, end - start);
        start = end;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos ||
            !vb::equalsIgnoreCase(vb::Trim(line.substr(0, colon)), "Content-Length"))
            continue;
        const std::string value = vb::Trim(line.substr(colon + 1));
        if (value.empty() || value.size() > 9 ||
            value.find_first_not_of("0123456789") != std::string::npos) {
            m_state = State::Malformed;
            return;
        }
        const size_t n = std::stoul(value);
        if (seen && n != length) {
            m_state = State::Malformed;
            return;
        }
        seen = true;
        length = n;
    }
    if (length > kMaxBytes || m_bodyStart + length > kMaxBytes) {
        m_state = State::TooLarge;
        return;
    }
    m_total = m_bodyStart + length;
}
