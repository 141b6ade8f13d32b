// kelmor-pack: writes and checks the library's encrypted configuration container.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "config/config_container.h"
#include "pack.h"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kMainHelp =
    "usage: kelmor-pack pack --tokens FILE --keywords FILE --out FILE\n"
    "       kelmor-pack pack --tokens FILE --phrases FILE --bpe-model FILE --out FILE\n"
    "       kelmor-pack check FILE\n"
    "\n"
    "Writes and checks kelmor_config.bin, the encrypted container holding the keyword model's\n"
    "token table and keyword list. 'kelmor-pack COMMAND --help' tells more.\n"
    "\n"
    "Exit status: 0 done, 1 refused or failed, 2 usage error.\n";

constexpr const char* kPackHelp =
    "usage: kelmor-pack pack --tokens FILE --keywords FILE --out FILE\n"
    "       kelmor-pack pack --tokens FILE --phrases FILE --bpe-model FILE --out FILE\n"
    "\n"
    "Checks the token table and the keyword list as the library will, and refuses them with the\n"
    "reason when the library would. Then writes both, encrypted with a fresh random IV, to the\n"
    "--out file (replaced atomically).\n"
    "\n"
    "  --tokens FILE      the model's token table (tokens.txt)\n"
    "  --keywords FILE    the keyword list: per line the pieces of one keyword, then optionally\n"
    "                     :BOOST, #THRESHOLD and @NAME\n"
    "  --phrases FILE     instead of --keywords: one plain phrase per line, optionally followed "
    "by\n"
    "                     @NAME, :BOOST and #THRESHOLD; turned into pieces with --bpe-model. A\n"
    "                     phrase without @NAME is named after itself (\"hey jarvis\" is "
    "HEY_JARVIS)\n"
    "  --bpe-model FILE   the model's SentencePiece model (bpe.model)\n"
    "  --out FILE         the container to write\n";

constexpr const char* kCheckHelp =
    "usage: kelmor-pack check FILE\n"
    "\n"
    "Loads the container as the library does and checks both texts. Prints\n"
    "'tokens=N keywords=M' (the non-blank lines of each) and exits 0, or prints the reason the\n"
    "library would refuse it and exits 1.\n";

bool IsHelp(const std::string& arg) {
    return arg == "--help" || arg == "-h";
}

int UsageError(const std::string& message, const char* help) {
    std::fprintf(stderr, "kelmor-pack: %s\n\n%s", message.c_str(), help);
    return kUsage;
}

int Failed(const std::string& message) {
    std::fprintf(stderr, "kelmor-pack: %s\n", message.c_str());
    return kFailed;
}

bool ReadText(const std::string& path, std::string* text, std::string* reason) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, reason)) {
        return false;
    }
    text->assign(bytes.begin(), bytes.end());
    return true;
}

int Pack(const std::vector<std::string>& args) {
    static const char* const kOptions[] = {"--tokens", "--keywords", "--phrases", "--bpe-model",
                                           "--out"};
    std::map<std::string, std::string> values;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (IsHelp(args[i])) {
            std::fputs(kPackHelp, stdout);
            return kOk;
        }
        bool known = false;
        for (const char* option : kOptions) {
            known = known || args[i] == option;
        }
        if (!known) {
            return UsageError("pack: unknown argument '" + args[i] + "'", kPackHelp);
        }
        if (i + 1 == args.size()) {
            return UsageError("pack: " + args[i] + " needs a FILE", kPackHelp);
        }
        if (values.count(args[i]) != 0) {
            return UsageError("pack: " + args[i] + " given twice", kPackHelp);
        }
        values[args[i]] = args[i + 1];
        ++i;
    }
    const bool keywords = values.count("--keywords") != 0;
    const bool phrases = values.count("--phrases") != 0;
    if (values.count("--tokens") == 0 || values.count("--out") == 0) {
        return UsageError("pack: --tokens and --out are required", kPackHelp);
    }
    if (keywords == phrases) {
        return UsageError("pack: give either --keywords or --phrases", kPackHelp);
    }
    if (phrases != (values.count("--bpe-model") != 0)) {
        return UsageError("pack: --bpe-model goes with --phrases", kPackHelp);
    }

    std::string reason;
    std::string tokens_text;
    std::string keywords_text;
    if (!ReadText(values["--tokens"], &tokens_text, &reason)) {
        return Failed(reason);
    }
    if (keywords) {
        if (!ReadText(values["--keywords"], &keywords_text, &reason)) {
            return Failed(reason);
        }
    } else {
        std::string phrases_text;
        if (!ReadText(values["--phrases"], &phrases_text, &reason) ||
            !PhrasesToKeywords(phrases_text, values["--bpe-model"], &keywords_text, &reason)) {
            return Failed(reason);
        }
    }
    if (!PackContainer(tokens_text, keywords_text, values["--out"], &reason)) {
        return Failed(reason);
    }
    const ContainerSummary summary = Summarize(tokens_text, keywords_text);
    std::printf("tokens=%zu keywords=%zu\n", summary.tokens, summary.keywords);
    return kOk;
}

int Check(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (IsHelp(arg)) {
            std::fputs(kCheckHelp, stdout);
            return kOk;
        }
    }
    if (args.size() != 1) {
        return UsageError("check: expects one FILE", kCheckHelp);
    }
    ContainerSummary summary;
    std::string reason;
    if (!CheckContainer(args[0], &summary, &reason)) {
        std::fprintf(stderr, "%s\n", reason.c_str());
        return kFailed;
    }
    std::printf("tokens=%zu keywords=%zu\n", summary.tokens, summary.keywords);
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return UsageError("missing command", kMainHelp);
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (IsHelp(command)) {
        std::fputs(kMainHelp, stdout);
        return kOk;
    }
    if (command == "pack") {
        return Pack(args);
    }
    if (command == "check") {
        return Check(args);
    }
    return UsageError("unknown command '" + command + "'", kMainHelp);
}
