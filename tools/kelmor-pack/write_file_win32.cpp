// Writing a file atomically on Windows: a temporary file beside the target, moved over it.
// Paths are narrow strings in the ANSI code page, as everywhere else in kelmor-pack.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "pack.h"

namespace {

void SetReason(std::string* reason, std::string text) {
    if (reason != nullptr) {
        *reason = std::move(text);
    }
}

std::string ErrorText(DWORD error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = "error " + std::to_string(error);
    if (length > 0 && text != nullptr) {
        std::string described(text, length);
        while (!described.empty() && (described.back() == '\n' || described.back() == '\r' ||
                                      described.back() == ' ' || described.back() == '.')) {
            described.pop_back();
        }
        message = described + " (" + message + ")";
    }
    LocalFree(text);
    return message;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                         std::string* reason) {
    // The temporary file lies beside the target so that the move stays within one volume.
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string temp;
    for (unsigned attempt = 0; file == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
        temp = path + "." + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(GetTickCount() + attempt) + ".tmp";
        file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        SetReason(reason,
                  "failed to create a file beside " + path + ": " + ErrorText(GetLastError()));
        return false;
    }
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const std::size_t chunk = std::min<std::size_t>(bytes.size() - done, 1u << 30);
        DWORD written = 0;
        ok = WriteFile(file, bytes.data() + done, static_cast<DWORD>(chunk), &written, nullptr) !=
                 0 &&
             written > 0;
        done += written;
    }
    ok = ok && FlushFileBuffers(file) != 0;
    DWORD error = ok ? 0 : GetLastError();
    if (CloseHandle(file) == 0 && ok) {
        ok = false;
        error = GetLastError();
    }
    if (ok && MoveFileExA(temp.c_str(), path.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        ok = false;
        error = GetLastError();
    }
    if (!ok) {
        DeleteFileA(temp.c_str());
        SetReason(reason, "failed to write " + path + ": " + ErrorText(error));
        return false;
    }
    return true;
}
