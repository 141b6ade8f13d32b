#include "engine/model_directory.h"

#include <cstring>

#include "common/text_convert.h"
#include "log/logger.h"
#include "platform/paths.h"

namespace {

constexpr std::uint32_t kLongLookup = 520;
constexpr std::uint32_t kTempLookup = 260;
constexpr std::uint32_t kMountPointTag = 0xA0000003;  // IO_REPARSE_TAG_MOUNT_POINT
constexpr const char16_t* kLinkName = u"dova_km_sherpa";

using LookupFn = std::uint32_t (*)(const char16_t*, char16_t*, std::uint32_t);

// Runs a path lookup into a buffer of `size` units. True when the answer fits (1 to size - 1).
bool Lookup(LookupFn lookup, const std::u16string& path, std::uint32_t size, std::u16string& out) {
    std::vector<char16_t> buffer(size, u'\0');
    const std::uint32_t length = lookup(path.c_str(), buffer.data(), size);
    if (length == 0 || length >= size) {
        return false;
    }
    out.assign(buffer.data(), length);
    return true;
}

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

void PutLe16(std::vector<std::uint8_t>& data, size_t offset, std::uint16_t value) {
    data[offset] = static_cast<std::uint8_t>(value & 0xFF);
    data[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::vector<std::uint8_t>& data, size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        data[offset + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
    }
}

}  // namespace

std::u16string StripTrailingSeparators(std::u16string path) {
    while (!path.empty() && IsSeparator(path.back())) {
        path.pop_back();
    }
    return path;
}

bool IsAscii(const std::u16string& text) {
    for (char16_t c : text) {
        if (c > 0x7F) {
            return false;
        }
    }
    return true;
}

std::string ToAcpDirPath(std::u16string path) {
    if (path.empty()) {
        return std::string();
    }
    if (path.back() != platform::kPathSeparator) {
        path.push_back(platform::kPathSeparator);
    }
    return WideToAcp(path);
}

std::vector<std::uint8_t> BuildMountPointData(const std::u16string& substitute_name) {
    const auto name_bytes = static_cast<std::uint16_t>(2 * substitute_name.size());
    std::vector<std::uint8_t> data(name_bytes + 20u, 0);
    PutLe32(data, 0, kMountPointTag);
    PutLe16(data, 4, static_cast<std::uint16_t>(name_bytes + 12));
    PutLe16(data, 8, 0);  // substitute name offset
    PutLe16(data, 10, name_bytes);
    PutLe16(data, 12, static_cast<std::uint16_t>(name_bytes + 2));  // print name offset
    PutLe16(data, 14, 0);                                           // no print name
    for (size_t i = 0; i < substitute_name.size(); ++i) {
        PutLe16(data, 16 + 2 * i, substitute_name[i]);
    }
    return data;
}

bool MakeAsciiJunction(const std::u16string& link, const std::u16string& target) {
    const std::u16string target_path = StripTrailingSeparators(target);
    const std::u16string substitute_name = u"\\??\\" + target_path;

    if (!platform::PrepareLinkLocation(link.c_str())) {
        return false;
    }
    platform::LinkHandle handle = platform::OpenLink(link.c_str());
    if (handle == nullptr) {
        platform::DiscardLinkLocation(link.c_str());
        return false;
    }
    const std::vector<std::uint8_t> mount_point = BuildMountPointData(substitute_name);
    const bool linked = platform::SetLinkTarget(handle, mount_point, target_path.c_str());
    const std::uint32_t error = platform::LastPathError();
    platform::CloseLink(handle);
    if (!linked) {
        Log(LogLevel::Error, "FSCTL_SET_REPARSE_POINT failed, err=", error);
        platform::DiscardLinkLocation(link.c_str());
        return false;
    }
    return true;
}

std::u16string AliasViaJunction(const std::u16string& target) {
    std::u16string temp;
    {
        std::vector<char16_t> buffer(kTempLookup, u'\0');
        platform::TempPath(buffer.data(), kTempLookup);
        buffer.back() = u'\0';
        temp = StripTrailingSeparators(buffer.data());
    }
    std::u16string temp_short;
    const bool short_counts = Lookup(platform::ShortPathName, temp, kTempLookup, temp_short);

    // An unknown temporary directory would put the link at the root of the current drive.
    std::u16string base = platform::kSharedDataDirectory;
    if (short_counts && IsAscii(temp_short)) {
        base = temp_short;
    } else if (!temp.empty() && IsAscii(temp)) {
        base = temp;
    }
    const std::u16string link = base + platform::kPathSeparator + kLinkName;

    if (MakeAsciiJunction(link, target)) {
        Log(LogLevel::Info, "sherpa model dir aliased via junction: ", WideToAcp(link));
        return link;
    }
    Log(LogLevel::Error, "MakeAsciiJunction failed, err=", platform::LastPathError(),
        " link=", WideToAcp(link));
    return std::u16string();
}

std::string ResolveSherpaRootPath(const std::string& utf8_path) {
    const std::u16string wide = Utf8ToWide(utf8_path);
    if (wide.empty()) {
        return std::string();
    }
    const std::u16string input = StripTrailingSeparators(wide);

    std::u16string full;
    if (!Lookup(platform::FullPathName, input, kLongLookup, full)) {
        return ToAcpDirPath(input);
    }
    full = StripTrailingSeparators(full);

    std::u16string short_form;
    if (Lookup(platform::ShortPathName, full, kLongLookup, short_form) && IsAscii(short_form)) {
        return ToAcpDirPath(short_form);
    }

    const std::u16string link = AliasViaJunction(full);
    if (!link.empty()) {
        std::u16string link_short;
        if (Lookup(platform::ShortPathName, link, kLongLookup, link_short) && IsAscii(link_short)) {
            return ToAcpDirPath(link_short);
        }
        return ToAcpDirPath(link);
    }
    Log(LogLevel::Error, "no ASCII path for sherpa models, falling back to ACP long path");
    return ToAcpDirPath(full);
}
