#include "pack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "config/config_container.h"
#include "config/token_check.h"
#include "platform/aes_cbc.h"

namespace {

void SetReason(std::string* reason, std::string text) {
    if (reason != nullptr) {
        *reason = std::move(text);
    }
}

std::size_t NonBlankLines(const std::string& text) {
    std::size_t count = 0;
    bool blank = true;
    for (const char c : text) {
        if (c == '\n') {
            count += blank ? 0 : 1;
            blank = true;
        } else if (c != ' ' && c != '\t' && c != '\r' && c != '\v' && c != '\f') {
            blank = false;
        }
    }
    return count + (blank ? 0 : 1);
}

std::string ErrnoText() {
    return std::strerror(errno);
}

}  // namespace

ContainerSummary Summarize(const std::string& tokens, const std::string& keywords) {
    return {NonBlankLines(tokens), NonBlankLines(keywords)};
}

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

bool PackContainer(const std::string& tokens, const std::string& keywords,
                   const std::string& out_path, std::string* reason) {
    std::string check;
    if (!ValidateTokens(tokens.data(), tokens.size(), check) ||
        !ValidateKeywords(keywords.data(), keywords.size(), tokens.data(), tokens.size(), check)) {
        SetReason(reason, std::move(check));
        return false;
    }
    std::uint8_t iv[kConfigIvSize];
    if (platform::CryptFailed(platform::GenRandom(iv, sizeof iv))) {
        SetReason(reason, "failed to get random bytes for the IV");
        return false;
    }
    std::vector<std::uint8_t> container;
    return BuildContainer(tokens, keywords, iv, &container, reason) &&
           WriteFileAtomically(out_path, container, reason);
}

bool CheckContainer(const std::string& path, ContainerSummary* summary, std::string* reason) {
    ConfigPayload payload;
    if (!LoadEncryptedConfig(path, &payload, reason)) {
        return false;
    }
    const std::string tokens(payload.tokens.begin(), payload.tokens.end());
    const std::string keywords(payload.keywords.begin(), payload.keywords.end());
    std::string check;
    if (!ValidateTokens(tokens.data(), tokens.size(), check) ||
        !ValidateKeywords(keywords.data(), keywords.size(), tokens.data(), tokens.size(), check)) {
        SetReason(reason, std::move(check));
        return false;
    }
    *summary = Summarize(tokens, keywords);
    return true;
}
