#include "base/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/RuntimeError.h"

namespace {
[[noreturn]] void fail(const std::filesystem::path& file, const char* what, int err) {
    raiseError(
        75, "Path/File access error: " + file.string() + ": " + what + ": " + std::strerror(err));
}
}  // namespace

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
