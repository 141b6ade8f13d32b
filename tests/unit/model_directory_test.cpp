#include "engine/model_directory.h"
#include "fake_paths.h"
#include "test_support.h"

namespace {

const std::u16string kModel = u"C:\\\u00e9t\u00e9\\app\\sherpa-onnx";  // not ASCII
const std::string kModelUtf8 = "C:\\\xC3\xA9t\xC3\xA9\\app\\sherpa-onnx";
const std::u16string kTemp = u"C:\\Users\\me\\AppData\\Local\\Temp";
const std::u16string kTempLink = kTemp + u"\\dova_km_sherpa";

class ModelDirectoryTest : public KelmorTest {
  protected:
    void SetUp() override {
        KelmorTest::SetUp();
        log.Install();
    }
    fake::PathsState& paths = fake::Paths();
};

TEST_F(ModelDirectoryTest, EmptyInputGivesEmptyResultWithoutLookups) {
    EXPECT_EQ(ResolveSherpaRootPath(""), "");
    EXPECT_TRUE(paths.calls.empty());
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(ModelDirectoryTest, ShortFormIsPreferredWheneverItIsAscii) {
    struct Case {
        const char* name;
        std::string input;
        std::u16string full;
        std::u16string short_form;
        std::string expected;
    };
    const Case cases[] = {
        {"ascii long path", "C:\\Program Files\\App\\sherpa-onnx\\",
         u"C:\\Program Files\\App\\sherpa-onnx", u"C:\\PROGRA~1\\App\\SHERPA~1",
         "C:\\PROGRA~1\\App\\SHERPA~1\\"},
        {"mixed trailing separators", "C:\\App\\sherpa-onnx\\/\\//", u"C:\\App\\sherpa-onnx",
         u"C:\\App\\SHERPA~1", "C:\\App\\SHERPA~1\\"},
        {"non-ascii long path", kModelUtf8 + "\\", kModel, u"C:\\ETE~1\\app\\SHERPA~1",
         "C:\\ETE~1\\app\\SHERPA~1\\"},
        {"short form ending in a separator", "C:\\App\\sherpa-onnx", u"C:\\App\\sherpa-onnx",
         u"C:\\APP\\", "C:\\APP\\"},
    };
    for (const Case& c : cases) {
        SetUp();
        paths.short_names[c.full] = c.short_form;
        EXPECT_EQ(ResolveSherpaRootPath(c.input), c.expected) << c.name;
        EXPECT_TRUE(paths.calls.empty()) << c.name << ": no link is made";
        EXPECT_TRUE(log.Lines().empty()) << c.name;
    }
}

TEST_F(ModelDirectoryTest, FullPathFailureUsesTheStrippedInputWithoutALink) {
    for (bool too_long : {false, true}) {
        SetUp();
        if (too_long) {
            paths.full_paths[u"rel\\sherpa-onnx"] = u"C:\\" + std::u16string(520, u'x');
        } else {
            paths.full_path_fails = true;
        }
        EXPECT_EQ(ResolveSherpaRootPath("rel\\sherpa-onnx\\\\"), "rel\\sherpa-onnx\\");
        EXPECT_TRUE(paths.calls.empty());
        EXPECT_TRUE(log.Lines().empty());
    }
}

TEST_F(ModelDirectoryTest, WithoutAsciiShortFormALinkInTheTemporaryDirectoryIsUsed) {
    struct Case {
        const char* name;
        std::u16string temp_path;
        std::map<std::u16string, std::u16string> short_names;
        std::string link;      // where the link is made
        std::string expected;  // the result
    };
    const std::u16string jp_temp = u"C:\\Users\\\u65e5\u672c\\Temp";
    const Case cases[] = {
        {"temp short form is ascii, link has a short form",
         kTemp + u"\\",
         {{kTemp, u"C:\\Users\\me\\AppData\\Local\\Temp"},
          {kTempLink, u"C:\\Users\\me\\AppData\\Local\\Temp\\DOVA_K~1"}},
         "C:\\Users\\me\\AppData\\Local\\Temp\\dova_km_sherpa",
         "C:\\Users\\me\\AppData\\Local\\Temp\\DOVA_K~1\\"},
        {"temp without short form but ascii, link without short form",
         kTemp + u"\\\\",
         {},
         "C:\\Users\\me\\AppData\\Local\\Temp\\dova_km_sherpa",
         "C:\\Users\\me\\AppData\\Local\\Temp\\dova_km_sherpa\\"},
        {"temp has an ascii short form only",
         jp_temp + u"\\",
         {{jp_temp, u"C:\\Users\\E5E5~1\\Temp"}},
         "C:\\Users\\E5E5~1\\Temp\\dova_km_sherpa",
         "C:\\Users\\E5E5~1\\Temp\\dova_km_sherpa\\"},
        {"temp not ascii in either form",
         jp_temp + u"\\",
         {},
         "C:\\ProgramData\\dova_km_sherpa",
         "C:\\ProgramData\\dova_km_sherpa\\"},
    };
    for (const Case& c : cases) {
        SetUp();
        paths.temp_path = c.temp_path;
        paths.short_names = c.short_names;
        EXPECT_EQ(ResolveSherpaRootPath(kModelUtf8), c.expected) << c.name;
        EXPECT_EQ(paths.calls,
                  (std::vector<std::string>{"Prepare " + c.link, "Open " + c.link, "Set", "Close"}))
            << c.name;
        EXPECT_EQ(paths.link_target, kModel);
        EXPECT_EQ(log.Texts(),
                  (std::vector<std::string>{"sherpa model dir aliased via junction: " + c.link}))
            << c.name;
        EXPECT_EQ(log.Lines()[0].level, 1);
    }
}

TEST_F(ModelDirectoryTest, AsciiPathWithoutShortFormStillGoesThroughTheLink) {
    // The long path itself is never tested for ASCII.
    EXPECT_EQ(ResolveSherpaRootPath("C:\\plain\\sherpa-onnx"),
              "C:\\Users\\me\\AppData\\Local\\Temp\\dova_km_sherpa\\");
    EXPECT_EQ(paths.link_target, u"C:\\plain\\sherpa-onnx");
}

TEST_F(ModelDirectoryTest, UnknownTemporaryDirectoryPutsTheLinkInTheSharedDataDirectory) {
    paths.temp_fails = true;
    EXPECT_EQ(ResolveSherpaRootPath(kModelUtf8), "C:\\ProgramData\\dova_km_sherpa\\");
}

TEST_F(ModelDirectoryTest, FailedLinkFallsBackToTheLongPathWithErrorsInOrder) {
    struct Case {
        const char* name;
        bool prepare_fails, open_fails, set_fails;
        std::vector<std::string> calls;
        std::vector<std::string> errors;
    };
    const std::string link = "C:\\Users\\me\\AppData\\Local\\Temp\\dova_km_sherpa";
    const std::string fallback = "no ASCII path for sherpa models, falling back to ACP long path";
    const Case cases[] = {
        {"mount point refused",
         false,
         false,
         true,
         {"Prepare " + link, "Open " + link, "Set", "Close", "Discard " + link},
         {"FSCTL_SET_REPARSE_POINT failed, err=50", "MakeAsciiJunction failed, err=50 link=" + link,
          fallback}},
        {"link directory cannot be opened",
         false,
         true,
         false,
         {"Prepare " + link, "Open " + link, "Discard " + link},
         {"MakeAsciiJunction failed, err=5 link=" + link, fallback}},
        {"link location cannot be prepared",
         true,
         false,
         false,
         {"Prepare " + link},
         {"MakeAsciiJunction failed, err=5 link=" + link, fallback}},
    };
    for (const Case& c : cases) {
        SetUp();
        fake::Text().ascii_code_page = true;
        paths.prepare_fails = c.prepare_fails;
        paths.open_fails = c.open_fails;
        paths.set_fails = c.set_fails;
        EXPECT_EQ(ResolveSherpaRootPath(kModelUtf8), "C:\\?t?\\app\\sherpa-onnx\\") << c.name;
        EXPECT_EQ(paths.calls, c.calls) << c.name;
        EXPECT_EQ(log.Texts(), c.errors) << c.name;
        for (const LoggedLine& line : log.Lines()) {
            EXPECT_EQ(line.level, 3);
        }
    }
}

TEST_F(ModelDirectoryTest, LinkFailureReportsTheErrorCodeCurrentWhenTheMessageIsComposed) {
    paths.set_fails = true;
    paths.discard_error = 145;  // the clean-up's own error replaces the request's
    ResolveSherpaRootPath(kModelUtf8);
    const auto texts = log.Texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "FSCTL_SET_REPARSE_POINT failed, err=50");
    EXPECT_EQ(texts[1].rfind("MakeAsciiJunction failed, err=145 link=", 0), 0u);
}

TEST_F(ModelDirectoryTest, MakeAsciiJunctionStripsTheTargetAndBuildsTheMountPoint) {
    EXPECT_TRUE(MakeAsciiJunction(u"C:\\T\\dova_km_sherpa", u"C:\\m\\dir\\/"));
    EXPECT_EQ(paths.link_target, u"C:\\m\\dir");
    EXPECT_EQ(paths.mount_point, BuildMountPointData(u"\\??\\C:\\m\\dir"));
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(ModelDirectoryTest, MountPointDataLayout) {
    const std::vector<std::uint8_t> data = BuildMountPointData(u"\\??\\C:\\\u00e9");
    const std::vector<std::uint8_t> expected = {
        0x03, 0x00, 0x00, 0xA0,  // tag IO_REPARSE_TAG_MOUNT_POINT
        0x1C, 0x00,              // data length n + 12 (n = 16: eight UTF-16 units)
        0x00, 0x00,              // reserved
        0x00, 0x00, 0x10, 0x00,  // substitute name offset 0, length n
        0x12, 0x00, 0x00, 0x00,  // print name offset n + 2, length 0
        '\\', 0,    '?',  0,    '?', 0, '\\', 0, 'C', 0, ':', 0,  // "\??\C:"
        '\\', 0,    0xE9, 0x00,                                   // "\é"
        0x00, 0x00,                                               // substitute name terminator
        0x00, 0x00,                                               // empty print name terminator
    };
    EXPECT_EQ(data, expected);
}

TEST_F(ModelDirectoryTest, HelperContracts) {
    EXPECT_EQ(StripTrailingSeparators(u"a\\/\\"), u"a");
    EXPECT_EQ(StripTrailingSeparators(u"\\/"), u"");
    EXPECT_TRUE(IsAscii(u""));
    EXPECT_TRUE(IsAscii(u"\x7f"));
    EXPECT_FALSE(IsAscii(u"\x80"));
    EXPECT_EQ(ToAcpDirPath(u""), "");
    EXPECT_EQ(ToAcpDirPath(u"C:\\a"), "C:\\a\\");
    EXPECT_EQ(ToAcpDirPath(u"C:\\a\\"), "C:\\a\\");
    EXPECT_EQ(ToAcpDirPath(u"C:/a/"), "C:/a/\\");  // only the backslash counts when adding one
}

}  // namespace
