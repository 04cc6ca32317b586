// Feeds arbitrary bytes to the request parser as the server would: the first
// packet through ParsePage, the rest of the input as a later body packet, and
// the reads the pages make afterwards; the same bytes also go through Decode.
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (useScratchProgramFolder("fuzz-request"), true);
    (void)ready;

    const std::string text(reinterpret_cast<const char*>(data), size);
    // The first byte picks where the input splits into a later packet and the first one.
    const size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    Request r;
    r.ParsePage(text.substr(cut));
    r.AddPostData(text.substr(0, cut));
    for (const auto& [key, pair] : r.FormCol()) r.Form(key);
    for (const auto& [key, pair] : r.QueryStringCol()) r.QueryString(key);
    r.ServerVariables("REMOTE_ADDR");
    r.ServerVariables("http_user_agent");
    r.ServerVariables(text.substr(0, 12));

    const std::string decoded = Request::Decode(text);
    if (decoded.size() > text.size()) std::abort();  // decoding never grows a text
    return 0;
}
