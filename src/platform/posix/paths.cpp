// Linux paths: no short names (a path's short form is the path itself when it exists), the
// temporary directory from TMPDIR, and a symbolic link in place of the directory junction.
//
// The link lives in a directory other users share, so nothing here removes, reuses or follows an
// entry the current user does not own: our own earlier link is replaced atomically (a new link
// under a unique name renamed over it), and anything else at the link path makes the link fail.
#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "common/utf.h"
#include "platform/answer.h"

namespace platform {

const char16_t kPathSeparator = u'/';
const char16_t* const kSharedDataDirectory = u"/var/tmp";

struct LinkTarget {
    std::string path;
};

namespace {

thread_local std::uint32_t t_last_error = 0;

void SetError(int error) {
    t_last_error = static_cast<std::uint32_t>(error);
}

std::uint32_t Answer(const std::string& utf8, char16_t* buffer, std::uint32_t size) {
    return AnswerLookup(DecodeUtf8(utf8), buffer, size);
}

// Collapses repeated separators, "." and ".." without looking at the file system, so that links
// along the path are kept, as the Windows full-path lookup does.
std::string Normalise(const std::string& absolute) {
    std::string out;
    size_t i = 0;
    while (i < absolute.size()) {
        while (i < absolute.size() && absolute[i] == '/') {
            ++i;
        }
        const size_t end = absolute.find('/', i);
        const std::string part = absolute.substr(i, end == std::string::npos ? end : end - i);
        i = end == std::string::npos ? absolute.size() : end;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            const size_t slash = out.find_last_of('/');
            out.erase(slash == std::string::npos ? 0 : slash);
            continue;
        }
        out += '/';
        out += part;
    }
    if (out.empty()) {
        out = "/";
    } else if (!absolute.empty() && absolute.back() == '/') {
        out += '/';
    }
    return out;
}

std::string CurrentDirectory() {
    std::string dir(256, '\0');
    while (getcwd(dir.data(), dir.size()) == nullptr) {
        if (errno != ERANGE) {
            return std::string();
        }
        dir.resize(dir.size() * 2);
    }
    dir.resize(dir.find('\0'));
    return dir;
}

}  // namespace

std::uint32_t FullPathName(const char16_t* path, char16_t* buffer, std::uint32_t size) {
    std::string utf8 = EncodeUtf8(path);
    if (utf8.empty()) {
        SetError(ENOENT);
        return 0;
    }
    if (utf8.front() != '/') {
        const std::string cwd = CurrentDirectory();
        if (cwd.empty()) {
            SetError(errno);
            return 0;
        }
        utf8 = cwd + "/" + utf8;
    }
    return Answer(Normalise(utf8), buffer, size);
}

std::uint32_t ShortPathName(const char16_t* path, char16_t* buffer, std::uint32_t size) {
    const std::string utf8 = EncodeUtf8(path);
    struct stat info {};
    if (utf8.empty() || stat(utf8.c_str(), &info) != 0) {
        SetError(utf8.empty() ? ENOENT : errno);
        return 0;
    }
    return Answer(utf8, buffer, size);
}

std::uint32_t TempPath(char16_t* buffer, std::uint32_t size) {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string dir = tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
    if (dir.back() != '/') {
        dir += '/';
    }
    return Answer(dir, buffer, size);
}

bool PrepareLinkLocation(const char16_t* link) {
    const std::string utf8 = EncodeUtf8(link);
    struct stat info {};
    if (lstat(utf8.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            return true;
        }
        SetError(errno);
        return false;
    }
    if (!S_ISLNK(info.st_mode)) {
        SetError(EEXIST);
        return false;
    }
    if (info.st_uid != geteuid()) {
        SetError(EACCES);
        return false;
    }
    return true;
}

LinkHandle OpenLink(const char16_t* link) {
    return new LinkTarget{EncodeUtf8(link)};
}

bool SetLinkTarget(LinkHandle handle, const std::vector<std::uint8_t>&, const char16_t* target) {
    static std::atomic<unsigned> counter{0};
    const std::string temporary = handle->path + ".new." + std::to_string(getpid()) + "." +
                                  std::to_string(counter.fetch_add(1));
    if (symlink(EncodeUtf8(target).c_str(), temporary.c_str()) != 0) {
        SetError(errno);
        return false;
    }
    // rename() replaces a link of ours atomically; in a sticky temporary directory it refuses to
    // replace another user's entry, and it never replaces a directory with a link.
    int error = 0;
    if (!PrepareLinkLocation(DecodeUtf8(handle->path).c_str())) {
        error = static_cast<int>(t_last_error);
    } else if (rename(temporary.c_str(), handle->path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temporary.c_str());
        SetError(error);
        return false;
    }
    return true;
}

void CloseLink(LinkHandle handle) {
    delete handle;
}

void DiscardLinkLocation(const char16_t*) {
    // PrepareLinkLocation creates nothing on this platform, so there is nothing to take back.
}

std::uint32_t LastPathError() {
    return t_last_error;
}

}  // namespace platform
