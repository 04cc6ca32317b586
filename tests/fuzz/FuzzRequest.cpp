// Feeds arbitrary bytes to the request reading as the server does: through the
// RequestReader in pieces (the first byte picks the piece size), then, once it
// is whole, through ParsePage and the reads the pages make, the Basic
// credentials of its Authorization header among them; the same bytes also go
// through Decode, AddPostData and the credentials parser directly.
// Any crash, leak, undefined behaviour or runaway allocation is a finding.
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "ScratchProgramFolder.h"
#include "web/Request.h"
#include "web/RequestReader.h"
#include "web/WebUsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (useScratchProgramFolder("fuzz-request"), true);
    (void)ready;

    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t piece = size == 0 ? 1 : data[0] % 64 + 1;
    RequestReader reader;
    for (size_t at = 0; at < size && reader.state() == RequestReader::State::Reading; at += piece)
        reader.feed(std::string_view(text).substr(at, piece));
    if (reader.text().size() > RequestReader::kMaxBytes + 1) std::abort();
    if (reader.state() == RequestReader::State::Complete && reader.text().size() > text.size())
        std::abort();  // a request is never longer than what came in

    Request r;
    r.ParsePage(reader.state() == RequestReader::State::Complete ? reader.text() : text);
    r.AddPostData(text.substr(0, piece));
    for (const auto& [key, pair] : r.FormCol()) r.Form(key);
    for (const auto& [key, pair] : r.QueryStringCol()) r.QueryString(key);
    r.ServerVariables("REMOTE_ADDR");
    r.ServerVariables("http_user_agent");
    r.ServerVariables(text.substr(0, 12));
    WebUsers::basicCredentials(r.ServerVariables("Authorization"));
    WebUsers::basicCredentials(text);

    const std::string decoded = Request::Decode(text);
    if (decoded.size() > text.size()) std::abort();  // decoding never grows a text
    return 0;
}
