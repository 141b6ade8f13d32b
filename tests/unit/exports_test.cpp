#include <algorithm>
#include <memory>

#include "api/instance.h"
#include "kelmor.h"
#include "test_support.h"

namespace {

class ExportsTest : public KelmorTest {
  protected:
    void SetUp() override {
        KelmorTest::SetUp();
        model = std::make_unique<ModelFolder>();
        model->WriteContainer("a 1\nb 2\n", "a b @AB\n");
    }
    void TearDown() override {
        KelmorTest::TearDown();
        model.reset();
    }

    // Simulates the library being loaded from `file`.
    void Load(const std::u16string& file = u"C:\\app\\kelmor.dll") {
        fake::Module().file_name = file;
        ProcessAttach(reinterpret_cast<platform::ModuleHandle>(this));
    }
    std::shared_ptr<kelmor>& Engine() { return Library().kelmor_obj; }

    std::unique_ptr<ModelFolder> model;
};

TEST_F(ExportsTest, LoadCreatesTheEngineWithTheModuleDirectoryAndLogsToDebugOutput) {
    Load();
    ASSERT_TRUE(Engine());
    EXPECT_EQ(Engine()->model_path, "C:\\app");
    EXPECT_NE(Engine()->spotter, nullptr);
    EXPECT_TRUE(Library().init_done);
    EXPECT_EQ(Library().module_handle, this);
    ASSERT_EQ(fake::Module().queried_handles.size(), 1u);
    EXPECT_EQ(fake::Module().queried_handles[0], this);
    const auto& lines = fake::Console().debug_output;
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[kelmor.dll] modulePath = C:\\app\n");
    EXPECT_EQ(lines[1], "[kelmor.dll] kelmor constructor, modelPath: C:\\app\n");
    EXPECT_EQ(lines.back(), "[kelmor.dll] kelmor init success\n");
}

TEST_F(ExportsTest, FailedInitLeavesTheLibraryLoadedWithoutAnEngine) {
    fake::Engine().refuse_spotter = true;
    Load();
    EXPECT_FALSE(Engine());
    EXPECT_TRUE(Library().init_done);
    const auto& lines = fake::Console().debug_output;
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "[kelmor.dll] kelmor_obj->init() fail\n");
    EXPECT_EQ(lines[lines.size() - 2], "[kelmor.dll] kelmor destructor\n");
    EXPECT_EQ(lines[lines.size() - 1], "[kelmor.dll] kelmor resources released\n");

    log.Install();
    auto token = std::make_shared<int>(0);
    RegOnKelmor([token] { ++*token; });
    EXPECT_EQ(token.use_count(), 1);
    OpenListenVoice();
    EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                               "Kelmor handler registered",
                               "OpenListenVoice failed: kelmor not initialized",
                           }));
}

TEST_F(ExportsTest, EngineExceptionDuringLoadEndsAsAFailedInit) {
    fake::Engine().throw_on_spotter = true;
    Load();
    EXPECT_FALSE(Engine());
    const auto& lines = fake::Console().debug_output;
    const auto at = std::find(lines.begin(), lines.end(),
                              "[kelmor.dll] kelmor_obj->init() exception: fake engine: cannot "
                              "load the encoder\n");
    ASSERT_NE(at, lines.end());
    ASSERT_NE(at + 1, lines.end());
    EXPECT_EQ(*(at + 1), "[kelmor.dll] kelmor_obj->init() fail\n");
}

TEST_F(ExportsTest, ModuleDirectoryIsEverythingBeforeTheLastSeparator) {
    struct Case {
        std::u16string file;
        std::string directory;
    };
    const Case cases[] = {
        {u"C:\\Program Files\\App\\kelmor.dll", "C:\\Program Files\\App"},
        {u"C:\\mixed/dir\\kelmor.dll", "C:\\mixed/dir"},
        {u"D:/forward/slashes/kelmor.dll", "D:/forward/slashes"},
        {u"kelmor.dll", "kelmor.dll"},
        {u"/libkelmor.so", ""},
        {u"C:\\\u65e5\u672c\u8a9e\\kelmor.dll", "C:\\\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
    };
    for (const Case& c : cases) {
        SetUp();
        Load(c.file);
        const auto& lines = fake::Console().debug_output;
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], "[kelmor.dll] modulePath = " + c.directory + "\n");
        EXPECT_EQ(lines[1], "[kelmor.dll] kelmor constructor, modelPath: " + c.directory + "\n");
    }
}

TEST_F(ExportsTest, PathLongerThanTheBufferIsCutTo260Units) {
    // The cut path (260 units) keeps only its first separator.
    Load(u"/" + std::u16string(300, u'a') + u"/libkelmor.so");
    EXPECT_EQ(fake::Console().debug_output.at(0), "[kelmor.dll] modulePath = \n");
}

TEST_F(ExportsTest, SecondAttachDoesNothing) {
    Load();
    kelmor* first = Engine().get();
    const size_t lines = fake::Console().debug_output.size();
    Load(u"D:\\other\\kelmor.dll");
    EXPECT_EQ(Engine().get(), first);
    EXPECT_EQ(fake::Console().debug_output.size(), lines);
}

TEST_F(ExportsTest, WithoutEngineOnlyLoggingExportsAct) {
    log.Install();
    OpenListenVoice();
    CloseListenVoice();
    UninitKelmor();
    auto called = std::make_shared<int>(0);
    RegOnKelmor([called] { ++*called; });
    EXPECT_EQ(called.use_count(), 1);  // nothing of the argument was kept
    EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                               "OpenListenVoice failed: kelmor not initialized",
                               "Kelmor handler registered",
                           }));
    EXPECT_EQ(log.Lines()[0].level, 3);
    EXPECT_EQ(log.Lines()[1].level, 0);
}

TEST_F(ExportsTest, UninitReleasesTheEngineOnceAndLaterCallsFindNone) {
    Load();
    log.Install();
    UninitKelmor();
    EXPECT_FALSE(Engine());
    EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                               "Stop listening for kelmor",
                               "kelmor destructor",
                               "kelmor resources released",
                               "kelmor uninit success",
                           }));
    log.Clear();
    UninitKelmor();
    CloseListenVoice();
    EXPECT_TRUE(log.Lines().empty());
    OpenListenVoice();
    EXPECT_EQ(log.Texts(),
              (std::vector<std::string>{"OpenListenVoice failed: kelmor not initialized"}));
}

TEST_F(ExportsTest, RegOnKelmorKeepsOnlyItsOwnCopyAndReplacesTheOldOne) {
    Load();
    log.Install();
    auto first_token = std::make_shared<int>(0);
    {
        WakeCallback host_callable = [first_token] { ++*first_token; };
        RegOnKelmor(host_callable);
        EXPECT_EQ(first_token.use_count(), 3);  // ours, the host's callable, the library's copy
    }
    EXPECT_EQ(first_token.use_count(), 2);  // the host may destroy its callable
    Engine()->dispatch_wake();
    EXPECT_EQ(*first_token, 1);

    auto second_token = std::make_shared<int>(0);
    RegOnKelmor([second_token] { ++*second_token; });
    EXPECT_EQ(first_token.use_count(), 1);  // the first copy was destroyed
    Engine()->dispatch_wake();
    EXPECT_EQ(*first_token, 1);
    EXPECT_EQ(*second_token, 1);

    RegOnKelmor(WakeCallback());  // an empty callable: detections call nothing
    EXPECT_EQ(second_token.use_count(), 1);
    Engine()->dispatch_wake();
    EXPECT_EQ(log.Texts(), (std::vector<std::string>(3, "Kelmor handler registered")));
}

TEST_F(ExportsTest, UnloadReleasesAStillHeldEngineAndItsLinesAreDelivered) {
    Load();
    log.Install();
    ReleaseAtUnload();
    EXPECT_FALSE(Engine());
    EXPECT_EQ(log.Texts(),
              (std::vector<std::string>{"kelmor destructor", "kelmor resources released"}));
}

}  // namespace
