// kelmor-pack's layout of a deployment folder from a model folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/model_files.h"
#include "layout.h"
#include "pack.h"

namespace fs = std::filesystem;

namespace {

class LayoutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(fs::path(KELMOR_MODEL_DIR) / "tokens.txt")) {
            GTEST_SKIP() << "keyword model not found at " KELMOR_MODEL_DIR;
        }
        // Each test its own folder: ctest runs them side by side.
        dest_ = fs::path(KELMOR_TEST_WORK_DIR) /
                ("layout-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dest_);
    }
    void TearDown() override { fs::remove_all(dest_); }

    LayoutRequest Request() const {
        LayoutRequest request;
        request.model_dir = KELMOR_MODEL_DIR;
        request.keywords_text = "\xE2\x96\x81HE Y \xE2\x96\x81JA R VI S @HEY_JARVIS\n";
        request.dest = dest_.string();
        return request;
    }

    fs::path dest_;
};

TEST_F(LayoutTest, PicksTheOnlyFittingModelFilesAndPacksTheContainer) {
    LayoutResult result;
    std::string reason;
    ASSERT_TRUE(LayoutModel(Request(), &result, &reason)) << reason;
    const fs::path folder = dest_ / model_files::kFolder;
    EXPECT_EQ(result.folder, folder.string());
    // The model folder holds an int8 and an fp32 joiner: the library's name asks for int8. The
    // encoder in original/ is not a candidate.
    EXPECT_EQ(fs::path(result.encoder).filename(),
              "encoder-epoch-12-avg-2-chunk-16-left-64.int8.patched.onnx");
    EXPECT_EQ(fs::path(result.joiner).filename(),
              "joiner-epoch-12-avg-2-chunk-16-left-64.int8.onnx");
    EXPECT_EQ(fs::file_size(folder / model_files::kEncoder), fs::file_size(result.encoder));
    EXPECT_EQ(fs::file_size(folder / model_files::kDecoder), fs::file_size(result.decoder));
    EXPECT_EQ(fs::file_size(folder / model_files::kJoiner), fs::file_size(result.joiner));
    ContainerSummary summary;
    ASSERT_TRUE(CheckContainer((folder / model_files::kConfig).string(), &summary, &reason))
        << reason;
    EXPECT_EQ(summary.keywords, 1u);
}

TEST_F(LayoutTest, ExplicitNamesWinAndMistakesAreRefusedBeforeAnythingIsWritten) {
    LayoutRequest request = Request();
    request.joiner = "joiner-epoch-12-avg-2-chunk-16-left-64.onnx";  // relative to the model
    LayoutResult result;
    std::string reason;
    ASSERT_TRUE(LayoutModel(request, &result, &reason)) << reason;
    EXPECT_EQ(fs::file_size(dest_ / model_files::kFolder / model_files::kJoiner),
              fs::file_size(fs::path(KELMOR_MODEL_DIR) / request.joiner));

    fs::remove_all(dest_);
    request = Request();
    request.keywords_text = "HEY JARVIS\n";  // raw words are not pieces of the table
    EXPECT_FALSE(LayoutModel(request, &result, &reason));
    EXPECT_EQ(reason, "keyword line 1: unknown token \"HEY\"");
    EXPECT_FALSE(fs::exists(dest_ / model_files::kFolder / model_files::kEncoder));

    request = Request();
    request.model_dir = (dest_ / "empty").string();
    fs::create_directories(request.model_dir);
    EXPECT_FALSE(LayoutModel(request, &result, &reason));
    EXPECT_EQ(reason, "no encoder model in " + request.model_dir + "; name it with --encoder");
}

TEST_F(LayoutTest, TwoCandidatesOfTheSameKindAreAmbiguous) {
    const fs::path model = dest_ / "model";
    fs::create_directories(model);
    for (const char* name :
         {"encoder-a.int8.onnx", "encoder-b.int8.onnx", "decoder.onnx", "joiner.int8.onnx"}) {
        std::ofstream(model / name) << "x";
    }
    LayoutRequest request = Request();
    request.model_dir = model.string();
    LayoutResult result;
    std::string reason;
    EXPECT_FALSE(LayoutModel(request, &result, &reason));
    EXPECT_EQ(reason,
              "more than one encoder model in " + model.string() + "; name it with --encoder");
}

}  // namespace
