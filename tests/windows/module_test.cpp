// The library loaded from a folder with characters outside ASCII: the process-attach
// notification finds the library's own path, and the model folder beside it is handed on as a
// path the engine can open.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/module.h"
#include "win32_support.h"

namespace {

using win32_test::Utf8;

std::vector<std::string> Messages(const std::vector<std::string>& texts) {
    std::vector<std::string> messages;
    const std::string prefix = "[kelmor.dll] ";
    for (std::string text : texts) {
        if (text.compare(0, prefix.size(), prefix) == 0 && !text.empty() && text.back() == '\n') {
            messages.push_back(text.substr(prefix.size(), text.size() - prefix.size() - 1));
        }
    }
    return messages;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TEST(Win32ModuleTest, LoadedFromANonAsciiFolderTheLibraryFindsItselfAndItsModelFolder) {
    const win32_test::PrivateTemp temp;
    const std::wstring folder = temp.path() + L"\\Kelmor \u00FC \u6A21\u578B";
    ASSERT_NE(CreateDirectoryW(folder.c_str(), nullptr), 0);
    ASSERT_NE(CreateDirectoryW((folder + L"\\sherpa-onnx").c_str(), nullptr), 0);
    const std::wstring library = folder + L"\\kelmor.dll";
    ASSERT_NE(
        CopyFileW((win32_test::ProgramFolder() + L"\\kelmor.dll").c_str(), library.c_str(), TRUE),
        0);

    std::vector<std::string> messages;
    {
        const win32_test::StdOutputAsPipe pipe;
        const win32_test::DebugOutputCapture capture;
        HMODULE module = LoadLibraryW(library.c_str());
        ASSERT_NE(module, nullptr) << GetLastError();

        char16_t path[261] = {};
        const std::uint32_t length = platform::ModuleFileName(module, path, 260);
        EXPECT_EQ(std::u16string(path, length), win32_test::U16(library));

        for (const char* name : {"OpenListenVoice", "CloseListenVoice", "RegOnKelmor",
                                 "SetKelmorLogCallback", "SetKelmorLogLevel", "UninitKelmor"}) {
            EXPECT_NE(reinterpret_cast<void*>(GetProcAddress(module, name)), nullptr) << name;
        }
        FreeLibrary(module);
        messages = Messages(capture.Texts());
    }

    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0], "modulePath = " + Utf8(folder));
    // The model folder has no container: init fails when it opens it, by a path in ASCII.
    const std::string open_failure = "LoadEncryptedConfig failed: failed to open file: ";
    const auto failure = std::find_if(messages.begin(), messages.end(), [&](const std::string& m) {
        return StartsWith(m, open_failure);
    });
    ASSERT_NE(failure, messages.end()) << ::testing::PrintToString(messages);
    const std::string config_path = failure->substr(open_failure.size());
    EXPECT_TRUE(win32_test::IsAscii(config_path)) << config_path;
    EXPECT_TRUE(EndsWith(config_path, "\\kelmor_config.bin")) << config_path;
    EXPECT_NE(std::find(messages.begin(), messages.end(), "kelmor_obj->init() fail"),
              messages.end());
}

// A host that unloads the library without UninitKelmor (and while not listening) still gets the
// engine object released, with its lines, during FreeLibrary.
TEST(Win32ModuleTest, UnloadWithoutUninitReleasesTheEngine) {
    const std::wstring folder = win32_test::ProgramFolder();
    if (GetFileAttributesW((folder + L"\\sherpa-onnx\\kelmor_config.bin").c_str()) ==
        INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "no model laid out beside kelmor.dll (the windows_model_layout test)";
    }
    const win32_test::PrivateTemp temp;
    const win32_test::StdOutputAsPipe pipe;
    const win32_test::DebugOutputCapture capture;
    HMODULE module = LoadLibraryW((folder + L"\\kelmor.dll").c_str());
    ASSERT_NE(module, nullptr) << GetLastError();
    const std::vector<std::string> loaded = Messages(capture.Texts());
    ASSERT_NE(std::find(loaded.begin(), loaded.end(), "kelmor init success"), loaded.end())
        << ::testing::PrintToString(loaded);

    ASSERT_NE(FreeLibrary(module), 0);
    const std::vector<std::string> all = Messages(capture.Texts());
    const std::vector<std::string> unloaded(all.begin() + static_cast<long>(loaded.size()),
                                            all.end());
    EXPECT_EQ(unloaded,
              (std::vector<std::string>{"kelmor destructor", "kelmor resources released"}));
}

// A path longer than the buffer arrives cut to it (whether it is terminated then differs between
// Windows and Wine; the library's buffer is zero-filled and one longer).
TEST(Win32ModuleTest, ALongerPathIsCutToTheBuffer) {
    char16_t whole[1024] = {};
    const std::uint32_t length = platform::ModuleFileName(nullptr, whole, 1024);
    ASSERT_GT(length, 8u);
    char16_t cut[9] = {};
    EXPECT_EQ(platform::ModuleFileName(nullptr, cut, 8), 8u);
    EXPECT_EQ(std::u16string(cut, 8), std::u16string(whole, 8));
}

}  // namespace
