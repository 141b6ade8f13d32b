// Windows: full and short path names, the temporary directory, and the directory junction made
// with a mount-point reparse point.
#include "platform/paths.h"

#include "windows_headers.h"
// windows_headers.h must come first.
#include <winioctl.h>

namespace platform {

const char16_t kPathSeparator = u'\\';
const char16_t* const kSharedDataDirectory = u"C:\\ProgramData";

struct LinkTarget {
    HANDLE directory;
};

namespace {

const wchar_t* W(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
wchar_t* W(char16_t* text) {
    return reinterpret_cast<wchar_t*>(text);
}

}  // namespace

std::uint32_t FullPathName(const char16_t* path, char16_t* buffer, std::uint32_t size) {
    return GetFullPathNameW(W(path), size, W(buffer), nullptr);
}

std::uint32_t ShortPathName(const char16_t* path, char16_t* buffer, std::uint32_t size) {
    return GetShortPathNameW(W(path), W(buffer), size);
}

std::uint32_t TempPath(char16_t* buffer, std::uint32_t size) {
    return GetTempPathW(size, W(buffer));
}

bool PrepareLinkLocation(const char16_t* link) {
    if (GetFileAttributesW(W(link)) != INVALID_FILE_ATTRIBUTES) {
        RemoveDirectoryW(W(link));  // an earlier junction; never its target
    }
    return CreateDirectoryW(W(link), nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
}

LinkHandle OpenLink(const char16_t* link) {
    HANDLE directory =
        CreateFileW(W(link), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (directory == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return new LinkTarget{directory};
}

bool SetLinkTarget(LinkHandle handle, const std::vector<std::uint8_t>& mount_point,
                   const char16_t*) {
    DWORD returned = 0;
    return DeviceIoControl(handle->directory, FSCTL_SET_REPARSE_POINT,
                           const_cast<std::uint8_t*>(mount_point.data()),
                           static_cast<DWORD>(mount_point.size()), nullptr, 0, &returned,
                           nullptr) != 0;
}

void CloseLink(LinkHandle handle) {
    CloseHandle(handle->directory);
    delete handle;
}

void DiscardLinkLocation(const char16_t* link) {
    RemoveDirectoryW(W(link));
}

std::uint32_t LastPathError() {
    return GetLastError();
}

}  // namespace platform
