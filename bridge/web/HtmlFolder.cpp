#include "web/HtmlFolder.h"

#include <system_error>

#include "base/ProgramFolder.h"

namespace fs = std::filesystem;

namespace HtmlFolder {

std::optional<fs::path> find(const std::string& folder, std::string_view requestPath) {
    std::string relative;
    size_t start = 0;
    while (start <= requestPath.size()) {
        size_t end = requestPath.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = requestPath.size();
        const std::string_view part = requestPath.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        // ".." climbs out; "." and dot-files are hidden; a NUL would cut the
        // name short on its way to the system.
        if (part.front() == '.' || part.find('\0') != std::string_view::npos) return std::nullopt;
        if (!relative.empty()) relative += '/';
        relative += part;
    }
    if (relative.empty()) return std::nullopt;
    const fs::path file = ProgramFolder::resolveIgnoringCase(folder, relative);
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::nullopt;
    // A link inside the folder may still point anywhere: what is served must
    // lie inside the folder once every link is followed.
    const fs::path real = fs::canonical(file, ec);
    const fs::path root = fs::canonical(folder, ec);
    if (ec) return std::nullopt;
    const std::string r = root.string() + "/";
    if (real.string().compare(0, r.size(), r) != 0) return std::nullopt;
    return file;
}

}  // namespace HtmlFolder
