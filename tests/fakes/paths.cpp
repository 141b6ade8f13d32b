#include "platform/paths.h"
#include "platform/answer.h"

#include "common/utf.h"
#include "fake_paths.h"

namespace fake {

PathsState& Paths() {
    static PathsState state;
    return state;
}

}  // namespace fake

namespace platform {

const char16_t kPathSeparator = u'\\';
const char16_t* const kSharedDataDirectory = u"C:\\ProgramData";

struct LinkTarget {
    std::u16string path;
};

namespace {

fake::PathsState& P() {
    return fake::Paths();
}

std::uint32_t Fail(std::uint32_t error) {
    P().last_error = error;
    return 0;
}

}  // namespace

std::uint32_t FullPathName(const char16_t* path, char16_t* buffer, std::uint32_t size) {
    if (P().full_path_fails) {
        return Fail(3);
    }
    const auto found = P().full_paths.find(path);
    return AnswerLookup(found != P().full_paths.end() ? found->second : path, buffer, size);
}

std::uint32_t ShortPathName(const char16_t* path, char16_t* buffer, std::uint32_t size) {
    const auto found = P().short_names.find(path);
    if (found == P().short_names.end()) {
        return Fail(2);
    }
    return AnswerLookup(found->second, buffer, size);
}

std::uint32_t TempPath(char16_t* buffer, std::uint32_t size) {
    if (P().temp_fails) {
        return Fail(5);
    }
    return AnswerLookup(P().temp_path, buffer, size);
}

bool PrepareLinkLocation(const char16_t* link) {
    P().calls.push_back("Prepare " + EncodeUtf8(link));
    if (P().prepare_fails) {
        Fail(P().prepare_error);
        return false;
    }
    return true;
}

LinkHandle OpenLink(const char16_t* link) {
    P().calls.push_back("Open " + EncodeUtf8(link));
    if (P().open_fails) {
        Fail(P().open_error);
        return nullptr;
    }
    return new LinkTarget{link};
}

bool SetLinkTarget(LinkHandle, const std::vector<std::uint8_t>& mount_point,
                   const char16_t* target) {
    P().calls.push_back("Set");
    P().mount_point = mount_point;
    P().link_target = target;
    if (P().set_fails) {
        Fail(P().set_error);
        return false;
    }
    return true;
}

void CloseLink(LinkHandle handle) {
    P().calls.push_back("Close");
    delete handle;
}

void DiscardLinkLocation(const char16_t* link) {
    P().calls.push_back("Discard " + EncodeUtf8(link));
    if (P().discard_error != 0) {
        P().last_error = P().discard_error;
    }
}

std::uint32_t LastPathError() {
    return P().last_error;
}

}  // namespace platform
