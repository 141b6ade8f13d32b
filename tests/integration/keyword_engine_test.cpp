// The keyword list check against the real engine: each keyword list goes through our check and,
// in a child process (the engine ends the whole process on a bad list), through
// SherpaOnnxCreateKeywordSpotter. Whatever the check accepts, the engine must take. The expected
// engine verdicts record how the engine build we link behaves; when an engine update changes one,
// the check's rules need another look.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <exception>
#include <fstream>
#include <sstream>
#include <string>

#include "config/token_check.h"
#include "engine/sherpa_onnx.h"

namespace {

using namespace std::string_literals;

const std::string kModelDir = KELMOR_MODEL_DIR;

enum class Engine { Takes, Exits, Throws };

const char* Name(Engine engine) {
    switch (engine) {
        case Engine::Takes:
            return "takes the list";
        case Engine::Exits:
            return "ends the process";
        case Engine::Throws:
            return "throws";
    }
    return "?";
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Exit codes of the child that are not the engine's own.
constexpr int kCreated = 0;
constexpr int kNull = 3;
constexpr int kThrew = 4;

struct Outcome {
    bool understood = false;
    Engine engine = Engine::Takes;
    std::string detail;  // the end of what the engine wrote, or what went wrong
};

Outcome RunEngine(const std::string& tokens, const std::string& keywords) {
    int err[2];
    if (pipe(err) != 0) {
        return {false, Engine::Takes, "pipe failed"};
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(err[1], STDERR_FILENO);
        close(err[0]);
        const std::string encoder =
            kModelDir + "/encoder-epoch-12-avg-2-chunk-16-left-64.int8.patched.onnx";
        const std::string decoder = kModelDir + "/decoder-epoch-12-avg-2-chunk-16-left-64.onnx";
        const std::string joiner = kModelDir + "/joiner-epoch-12-avg-2-chunk-16-left-64.int8.onnx";
        SherpaOnnxKeywordSpotterConfig config;
        std::memset(&config, 0, sizeof config);
        config.feat_config.sample_rate = 16000;
        config.feat_config.feature_dim = 80;
        config.model_config.transducer.encoder = encoder.c_str();
        config.model_config.transducer.decoder = decoder.c_str();
        config.model_config.transducer.joiner = joiner.c_str();
        config.model_config.tokens_buf = tokens.data();
        config.model_config.tokens_buf_size = static_cast<int32_t>(tokens.size());
        config.model_config.num_threads = 1;
        config.model_config.provider = "cpu";
        config.max_active_paths = 8;
        config.keywords_score = 1.5f;
        config.keywords_threshold = 0.25f;
        config.keywords_buf = keywords.data();
        config.keywords_buf_size = static_cast<int32_t>(keywords.size());
        int code = kNull;
        try {
            const SherpaOnnxKeywordSpotter* spotter = SherpaOnnxCreateKeywordSpotter(&config);
            code = spotter != nullptr ? kCreated : kNull;
            SherpaOnnxDestroyKeywordSpotter(spotter);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "exception: %s\n", e.what());
            code = kThrew;
        }
        std::fflush(stderr);
        _exit(code);
    }
    close(err[1]);
    std::string output;
    char buffer[4096];
    ssize_t n;
    while ((n = read(err[0], buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    close(err[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        return {false, Engine::Takes, "fork or wait failed"};
    }
    Outcome outcome;
    outcome.detail = output.size() > 300 ? output.substr(output.size() - 300) : output;
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCreated) {
        outcome = {true, Engine::Takes, outcome.detail};
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == 255) {
        outcome = {true, Engine::Exits, outcome.detail};
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == kThrew) {
        outcome = {true, Engine::Throws, outcome.detail};
    } else {
        outcome.detail = "child status " + std::to_string(status) + ": " + outcome.detail;
    }
    return outcome;
}

class KeywordEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tokens_ = ReadText(kModelDir + "/tokens.txt");
        if (tokens_.empty()) {
            GTEST_SKIP() << "keyword model not found in " << kModelDir
                         << " (set KELMOR_MODEL_DIR when configuring)";
        }
    }

    std::string tokens_;
};

TEST_F(KeywordEngineTest, WhatTheCheckAcceptsTheEngineTakes) {
    struct Case {
        const char* name;
        std::string keywords;
        Engine engine;            // what the engine does with the list
        bool ours;                // whether our check accepts it
        std::string tokens = {};  // lines added to the model's token table
    };
    std::string every_symbol;
    std::istringstream lines(tokens_);
    for (std::string line; std::getline(lines, line);) {
        every_symbol += line.substr(0, line.find(' ')) + "\n";
    }
    const std::string hey = "\xE2\x96\x81HE Y";
    const Case cases[] = {
        {"the model's keywords.txt", ReadText(kModelDir + "/keywords.txt"), Engine::Takes, true},
        {"every symbol of the table as a keyword", every_symbol, Engine::Takes, true},
        {"all options", hey + " :1.5 #0.3 @HEY\n", Engine::Takes, true},
        {"options in another order, signed and bare numbers", hey + " @N #-2 :+.5\n", Engine::Takes,
         true},
        {"exponents", hey + " #1e-3 :2E+1\n", Engine::Takes, true},
        {"empty lines and CRLF", "\r\n\n" + hey + "\r\n\r\n", Engine::Takes, true},
        {"vertical tab and form feed separate words", "\xE2\x96\x81HE\vY\f@N\n", Engine::Takes,
         true},
        {"piece not in the table", hey + "\nFOO\n", Engine::Exits, false},
        {"raw words", "HEY JARVIS\n", Engine::Exits, false},
        {"lower-case piece", "\xE2\x96\x81he y\n", Engine::Exits, false},
        {"display name with a space", hey + " @HEY JARVIS\n", Engine::Exits, false},
        {"display name with a space whose second word is a piece", hey + " @HEY Y\n", Engine::Takes,
         false},
        {"piece after a boost", hey + " :2 Y\n", Engine::Takes, false},
        {"boost that is not a number", hey + " :abc\n", Engine::Throws, false},
        {"empty boost", hey + " :\n", Engine::Throws, false},
        {"boost beyond float", hey + " :1e99\n", Engine::Throws, false},
        {"boost below the smallest normal float", hey + " :1e-40\n", Engine::Throws, false},
        {"threshold with trailing text", hey + " #1.5abc\n", Engine::Takes, false},
        {"threshold nan", hey + " #nan\n", Engine::Takes, false},
        {"empty display name", hey + " @\n", Engine::Takes, false},
        {"two boosts", hey + " :1.5 :2\n", Engine::Takes, false},
        {"options without pieces", hey + "\n:1.5 #0.3 @X\n", Engine::Takes, false},
        {"no keyword at all", "\n\n", Engine::Takes, false},
        {"zero byte in a piece", hey + "\0\n"s, Engine::Exits, false},
        {"single-field token line is no symbol", "LONE\n", Engine::Exits, false, "LONE\n"},
        {"symbol with the word marker inside",
         "A\xE2\x96\x81"
         "B\n",
         Engine::Takes, true,
         "A\xE2\x96\x81"
         "B 600\n"},
        {"symbol that looks like a boost", "\xE2\x96\x81HE :7\n", Engine::Takes, true, ":7 601\n"},
        {"symbol with a lone-sign id", "QQ\n", Engine::Takes, true, "QQ -\n"},
        {"symbol with an id beyond 32 bits", "QQ\n", Engine::Takes, true, "QQ 99999999999\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tokens = tokens_ + c.tokens;
        std::string reason;
        ASSERT_TRUE(ValidateTokens(tokens.data(), tokens.size(), reason)) << reason;
        const bool ours = ValidateKeywords(c.keywords.data(), c.keywords.size(), tokens.data(),
                                           tokens.size(), reason);
        EXPECT_EQ(ours, c.ours) << reason;

        const Outcome outcome = RunEngine(tokens, c.keywords);
        ASSERT_TRUE(outcome.understood) << outcome.detail;
        if (ours) {
            EXPECT_EQ(outcome.engine, Engine::Takes)
                << "accepted by the check, but the engine " << Name(outcome.engine) << ": "
                << outcome.detail;
        }
        EXPECT_EQ(outcome.engine, c.engine)
            << "the engine " << Name(outcome.engine) << ": " << outcome.detail;
    }
}

}  // namespace
