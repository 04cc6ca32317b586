#include "base/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <system_error>

#include "base/RuntimeError.h"

namespace {
[[noreturn]] void fail(const std::filesystem::path& file, const char* what, int err) {
    raiseError(
        75, "Path/File access error: " + file.string() + ": " + what + ": " + std::strerror(err));
}
}  // namespace

namespace {
constexpr std::string_view kTemporaryMark = ".tmp-";
constexpr std::size_t kTemporarySuffix = 6;  // mkstemp's XXXXXX

bool isOurTemporary(const std::string& name) {
    if (name.size() <= kTemporaryMark.size() + kTemporarySuffix) return false;
    const std::size_t mark = name.size() - kTemporarySuffix - kTemporaryMark.size();
    if (name.compare(mark, kTemporaryMark.size(), kTemporaryMark) != 0) return false;
    for (std::size_t i = name.size() - kTemporarySuffix; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}
}  // namespace

int removeStaleTemporaryFiles(const std::filesystem::path& folder, int minAgeSeconds) {
    namespace fs = std::filesystem;
    int removed = 0;
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fileError;
        if (!it->is_regular_file(fileError) || !isOurTemporary(it->path().filename().string()))
            continue;
        const auto changed = it->last_write_time(fileError);
        if (fileError || now - changed < std::chrono::seconds(minAgeSeconds)) continue;
        if (fs::remove(it->path(), fileError)) ++removed;
    }
    return removed;
}

void writeFileAtomically(const std::filesystem::path& file, std::string_view content) {
    std::string tmpl = file.string() + ".tmp-XXXXXX";
    const int fd = mkstemp(tmpl.data());
    if (fd < 0) fail(file, "create", errno);
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            ::unlink(tmpl.c_str());
            fail(file, "write", err);
        }
        done += static_cast<size_t>(n);
    }
    // Keep the permissions an existing file had; new files get the usual 0644.
    struct stat st {};
    const mode_t mode = ::stat(file.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    ::fchmod(fd, mode);
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpl.c_str());
        fail(file, "flush", err);
    }
    if (::rename(tmpl.c_str(), file.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmpl.c_str());
        fail(file, "rename", err);
    }
}
