// Section patterns have one meaning: the standard library's reading of them,
// which ran every pattern before the own matcher did. Both read each input's
// first line as a pattern and match it against the lines after it; any
// difference in what is valid or what matches stops the run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/SectionPattern.h"
#include "support/StandardSectionPattern.h"

namespace {

[[noreturn]] void differ(std::string_view what, std::string_view pattern, std::string_view text) {
    std::fprintf(stderr,
                 "SectionPattern differs from the standard library (%.*s)\n"
                 "pattern (%zu bytes): %.*s\ntext (%zu bytes): %.*s\n",
                 static_cast<int>(what.size()), what.data(), pattern.size(),
                 static_cast<int>(pattern.size()), pattern.data(), text.size(),
                 static_cast<int>(text.size()), text.data());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t firstLine = input.find('\n');
    const std::string_view pattern = input.substr(0, firstLine);
    input = firstLine == std::string_view::npos ? std::string_view{} : input.substr(firstLine + 1);

    const SectionPattern own(pattern);
    const StandardSectionPattern standard(pattern);
    if (own.valid() != standard.valid()) differ("validity", pattern, {});
    if (!own.valid()) return 0;
    // A handful of texts: each match costs the pattern's size times the text's.
    for (int lines = 0; lines < 8; ++lines) {
        const size_t end = input.find('\n');
        const std::string_view text = input.substr(0, end);
        if (own.matchesStart(text) != standard.matchesStart(text)) differ("match", pattern, text);
        if (end == std::string_view::npos) break;
        input.remove_prefix(end + 1);
    }
    return 0;
}
