// File-system paths and the directory link that gives the engine an ASCII path to the model
// directory. Paths are UTF-16. Lookups follow the contract of the Windows path functions: they
// answer the length written without the terminator when the result fits `size` units, a larger
// number (the size needed) when it does not, and 0 on failure.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// The platform's path separator, and the folder that holds the directory link when the
// temporary directory has no ASCII form.
extern const char16_t kPathSeparator;
extern const char16_t* const kSharedDataDirectory;

std::uint32_t FullPathName(const char16_t* path, char16_t* buffer, std::uint32_t size);
std::uint32_t ShortPathName(const char16_t* path, char16_t* buffer, std::uint32_t size);
// The temporary directory, as a rule with a trailing separator.
std::uint32_t TempPath(char16_t* buffer, std::uint32_t size);

// Makes `link` ready to carry a directory link: clears an earlier link of ours and creates the
// directory the link is set on. False when no link can be made there; LastPathError tells why.
bool PrepareLinkLocation(const char16_t* link);

struct LinkTarget;
using LinkHandle = LinkTarget*;
// Opens the prepared link location for setting the link; null on failure.
LinkHandle OpenLink(const char16_t* link);
// Points the link at `target` (full path, no trailing separator). `mount_point` is the reparse
// data describing the same target, for platforms that set links that way. False on failure;
// LastPathError tells why.
bool SetLinkTarget(LinkHandle handle, const std::vector<std::uint8_t>& mount_point,
                   const char16_t* target);
void CloseLink(LinkHandle handle);
// Removes what PrepareLinkLocation created when the link could not be set. Never touches the
// link's target.
void DiscardLinkLocation(const char16_t* link);

// The calling thread's last error code of the operations above.
std::uint32_t LastPathError();

}  // namespace platform
