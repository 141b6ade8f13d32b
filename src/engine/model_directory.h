// Resolution of the model directory into a narrow path the engine can open. The engine opens its
// files through narrow strings in the platform's narrow encoding, which may not represent every
// character of the library's directory; an ASCII path is preferred: the directory's short form,
// else a directory link made at an ASCII location, else the long path as it converts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Answers the narrow path of `utf8_path` with one trailing separator, or the empty string when
// no path could be produced. Never fails.
std::string ResolveSherpaRootPath(const std::string& utf8_path);

// Makes the directory link for `target` (full long path, no trailing separator) in the temporary
// directory or the shared data directory; answers the link's path, or empty when none was made.
std::u16string AliasViaJunction(const std::u16string& target);

// Points a directory link at `link` to `target`; true when the link now leads there.
bool MakeAsciiJunction(const std::u16string& link, const std::u16string& target);

std::u16string StripTrailingSeparators(std::u16string path);
bool IsAscii(const std::u16string& text);
// `path` with one trailing separator, in the narrow encoding; empty for an empty path.
std::string ToAcpDirPath(std::u16string path);

// The mount-point reparse data for `substitute_name` ("\??\" and the target path).
std::vector<std::uint8_t> BuildMountPointData(const std::u16string& substitute_name);
