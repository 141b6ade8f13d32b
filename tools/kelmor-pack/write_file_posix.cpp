// Writing a file atomically on POSIX: a temporary file beside the target, renamed over it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "pack.h"

namespace {

void SetReason(std::string* reason, std::string text) {
    if (reason != nullptr) {
        *reason = std::move(text);
    }
}

std::string ErrnoText() {
    return std::strerror(errno);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                         std::string* reason) {
    // The temporary file lies beside the target so that the rename stays within one file system.
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        SetReason(reason, "failed to create a file beside " + path + ": " + ErrnoText());
        return false;
    }
    // mkstemp creates the file for its owner only; a container is as readable as any new file.
    const mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(fd, 0666 & ~mask) == 0;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && fsync(fd) == 0;
    std::string failure = ok ? std::string() : ErrnoText();
    if (close(fd) != 0 && ok) {
        ok = false;
        failure = ErrnoText();
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        failure = ErrnoText();
    }
    if (!ok) {
        unlink(temp.c_str());
        SetReason(reason, "failed to write " + path + ": " + failure);
        return false;
    }
    return true;
}
