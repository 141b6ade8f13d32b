// Model directory resolution on the real file system: short names, the temporary directory and
// the junction. Under Wine the mount-point request is refused, so only the failure path of the
// junction runs there; both outcomes are checked for what Windows and Wine have in common.
#include <gtest/gtest.h>

#include <fstream>

#include "common/text_convert.h"
#include "engine/model_directory.h"
#include "platform/paths.h"
#include "win32_support.h"

namespace {

using win32_test::Utf8;
using win32_test::Wide;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool AllDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::u16string LongPathOf(const std::u16string& path) {
    wchar_t buffer[1024] = {};
    const DWORD length = GetLongPathNameW(Wide(path).c_str(), buffer, 1024);
    return win32_test::U16(std::wstring(buffer, length));
}

bool IsAsciiWide(const std::wstring& text) {
    for (const wchar_t c : text) {
        if (c > 0x7F) {
            return false;
        }
    }
    return true;
}

// Where the library puts its link when `temp` is the temporary directory.
std::u16string AliasLinkFor(const std::wstring& temp) {
    wchar_t short_form[260] = {};
    const DWORD length = GetShortPathNameW(temp.c_str(), short_form, 260);
    std::wstring base = L"C:\\ProgramData";
    if (length > 0 && length < 260 && IsAsciiWide(short_form)) {
        base = short_form;
    } else if (IsAsciiWide(temp)) {
        base = temp;
    }
    return win32_test::U16(base + L"\\dova_km_sherpa");
}

TEST(Win32PathsTest, ShortNamesNameTheSameFolder) {
    const win32_test::PrivateTemp temp;
    for (const std::wstring name : {L"sherpa-onnx models", L"\u65E5\u672C\u8A9E\u30D5\u30A9"}) {
        SCOPED_TRACE(Utf8(name));
        const std::wstring folder = temp.path() + L"\\" + name;
        ASSERT_NE(CreateDirectoryW(folder.c_str(), nullptr), 0);
        char16_t buffer[520] = {};
        const std::uint32_t length =
            platform::ShortPathName(win32_test::U16(folder).c_str(), buffer, 520);
        ASSERT_GT(length, 0u);
        ASSERT_LT(length, 520u);
        const std::u16string short_form(buffer, length);
        EXPECT_EQ(LongPathOf(short_form), LongPathOf(win32_test::U16(folder)));

        // Too small a buffer: the size needed, terminator included.
        char16_t small[4] = {};
        EXPECT_EQ(platform::ShortPathName(win32_test::U16(folder).c_str(), small, 4), length + 1);
    }
    char16_t buffer[520] = {};
    const std::wstring absent = temp.path() + L"\\absent";
    EXPECT_EQ(platform::ShortPathName(win32_test::U16(absent).c_str(), buffer, 520), 0u);
}

// Whatever the folder is called, the engine gets an ASCII path through which the files open.
TEST(Win32PathsTest, ModelFoldersResolveToAsciiPathsThatOpen) {
    const win32_test::PrivateTemp temp;
    for (const std::wstring name :
         {L"models", L"sherpa-onnx models", L"Modell \u00FC \u6A21\u578B"}) {
        SCOPED_TRACE(Utf8(name));
        const std::wstring model_dir = temp.path() + L"\\" + name + L"\\sherpa-onnx";
        ASSERT_NE(CreateDirectoryW((temp.path() + L"\\" + name).c_str(), nullptr), 0);
        ASSERT_NE(CreateDirectoryW(model_dir.c_str(), nullptr), 0);
        win32_test::WriteFileBytes(model_dir + L"\\kelmor_config.bin", "container");

        const win32_test::LogLines log;
        const std::string root = ResolveSherpaRootPath(Utf8(model_dir) + "\\/\\");
        EXPECT_TRUE(win32_test::IsAscii(root)) << root;
        ASSERT_FALSE(root.empty());
        EXPECT_EQ(root.back(), '\\');
        std::string content;
        std::getline(std::ifstream(root + "kelmor_config.bin", std::ios::binary), content);
        EXPECT_EQ(content, "container");
        for (const std::string& message : log.Messages()) {
            EXPECT_FALSE(StartsWith(message, "no ASCII path")) << message;
        }
    }
}

// A model folder that does not exist has no short form, so the resolution goes to the junction,
// which is made whether or not its target exists. A directory left at the link location by an
// earlier run is replaced.
TEST(Win32PathsTest, JunctionIsMadeOrItsRefusalFallsBackToTheLongPath) {
    const win32_test::PrivateTemp temp;
    const std::u16string link = AliasLinkFor(temp.path());
    ASSERT_NE(CreateDirectoryW(Wide(link).c_str(), nullptr), 0);
    const std::wstring model_dir = temp.path() + L"\\absent \u00FC\\sherpa-onnx";

    const win32_test::LogLines log;
    const std::string root = ResolveSherpaRootPath(Utf8(model_dir));
    const std::vector<std::string> messages = log.Messages();
    ASSERT_FALSE(messages.empty());

    const std::string aliased = "sherpa model dir aliased via junction: ";
    if (StartsWith(messages[0], aliased)) {
        // Windows: the link carries the mount point and the root is the link, in ASCII.
        EXPECT_EQ(messages[0], aliased + WideToAcp(link));
        const DWORD attributes = GetFileAttributesW(Wide(link).c_str());
        EXPECT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        EXPECT_TRUE(win32_test::IsAscii(root)) << root;
        RemoveDirectoryW(Wide(link).c_str());
        return;
    }
    // Refused (as by Wine): three errors in this order, the link location taken back, and the
    // long path in the ANSI code page.
    ASSERT_EQ(messages.size(), 3u) << ::testing::PrintToString(messages);
    const std::string refused = "FSCTL_SET_REPARSE_POINT failed, err=";
    ASSERT_TRUE(StartsWith(messages[0], refused)) << messages[0];
    EXPECT_TRUE(AllDigits(messages[0].substr(refused.size()))) << messages[0];
    const std::string failed = "MakeAsciiJunction failed, err=";
    const std::string link_text = " link=" + WideToAcp(link);
    ASSERT_TRUE(StartsWith(messages[1], failed)) << messages[1];
    ASSERT_GT(messages[1].size(), failed.size() + link_text.size());
    EXPECT_EQ(messages[1].substr(messages[1].size() - link_text.size()), link_text);
    EXPECT_TRUE(AllDigits(
        messages[1].substr(failed.size(), messages[1].size() - failed.size() - link_text.size())))
        << messages[1];
    EXPECT_EQ(messages[2], "no ASCII path for sherpa models, falling back to ACP long path");
    EXPECT_EQ(GetFileAttributesW(Wide(link).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(root, WideToAcp(win32_test::U16(model_dir)) + "\\");
}

}  // namespace
