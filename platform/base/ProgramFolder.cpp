#include "base/ProgramFolder.h"

#include <cstdlib>
#include <system_error>

#include "base/Convert.h"

namespace fs = std::filesystem;

namespace ProgramFolder {

std::string executablePath() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

std::string path() {
    if (const char* home = std::getenv("BRINDLE_HOME"); home != nullptr && *home != '\0') {
        std::string p = home;
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        return p;
    }
    return fs::path(executablePath()).parent_path().string();
}

std::string programName() {
    return fs::path(executablePath()).filename().string();
}

std::string mapPath(std::string_view systemPath) {
    std::string p(systemPath);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

fs::path resolveIgnoringCase(const fs::path& base, std::string_view relative,
                             std::vector<fs::path>* folders) {
    fs::path current = base;
    const fs::path rel(mapPath(relative));
    for (const auto& part : rel) {
        const std::string name = part.string();
        if (name.empty() || name == "/" || name == ".") continue;
        if (folders != nullptr) folders->push_back(current);
        std::error_code ec;
        fs::path exact = current / part;
        if (fs::exists(exact, ec)) {
            current = exact;
            continue;
        }
        bool found = false;
        for (fs::directory_iterator it(current, ec), end; !ec && it != end; it.increment(ec)) {
            if (vb::equalsIgnoreCase(it->path().filename().string(), name)) {
                current = it->path();
                found = true;
                break;
            }
        }
        if (!found) return base / rel.relative_path();
    }
    return current;
}

}  // namespace ProgramFolder
