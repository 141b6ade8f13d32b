// kelmor-pack: writes and checks the library's encrypted configuration container.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "config/config_container.h"
#include "layout.h"
#include "pack.h"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kMainHelp =
    "usage: kelmor-pack pack --tokens FILE --keywords FILE --out FILE\n"
    "       kelmor-pack pack --tokens FILE --phrases FILE --bpe-model FILE --out FILE\n"
    "       kelmor-pack check FILE\n"
    "       kelmor-pack layout --model-dir DIR (--keywords FILE | --phrases FILE) --dest DIR\n"
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

constexpr const char* kLayoutHelp =
    "usage: kelmor-pack layout --model-dir DIR (--keywords FILE | --phrases FILE) --dest DIR\n"
    "                          [--tokens FILE] [--bpe-model FILE]\n"
    "                          [--encoder FILE] [--decoder FILE] [--joiner FILE]\n"
    "\n"
    "Makes DEST/sherpa-onnx/, the folder the library reads beside its own file: the model's\n"
    "encoder, decoder and joiner under the library's file names, and kelmor_config.bin packed\n"
    "from the model's token table and the keywords (checked as by 'pack'). Existing files are\n"
    "replaced atomically.\n"
    "\n"
    "  --model-dir DIR    the model folder (tokens.txt, bpe.model, the .onnx files)\n"
    "  --keywords FILE    the keyword list, as for 'pack'\n"
    "  --phrases FILE     instead of --keywords: plain phrases, as for 'pack'\n"
    "  --dest DIR         where sherpa-onnx/ is made: the folder of the library\n"
    "  --tokens FILE      the token table (default DIR/tokens.txt)\n"
    "  --bpe-model FILE   the SentencePiece model for --phrases (default DIR/bpe.model)\n"
    "  --encoder FILE, --decoder FILE, --joiner FILE\n"
    "                     the model files, when DIR holds more than one of a kind that fits;\n"
    "                     relative names are looked up in DIR. Without them each is the only\n"
    "                     top-level DIR/KIND*.onnx, or the one quantised as the library expects.\n";

constexpr const char* kNoPhrasesNote =
    "\n"
    "This build has no SentencePiece (the Windows build): --phrases is not available. Give\n"
    "--keywords with the pieces (kelmor-pack on Linux turns phrases into pieces).\n";

void PrintHelp(const char* help, std::FILE* out) {
    std::fputs(help, out);
    if (!kPhrasesSupported && help != kCheckHelp) {
        std::fputs(kNoPhrasesNote, out);
    }
}

bool IsHelp(const std::string& arg) {
    return arg == "--help" || arg == "-h";
}

int UsageError(const std::string& message, const char* help) {
    std::fprintf(stderr, "kelmor-pack: %s\n\n", message.c_str());
    PrintHelp(help, stderr);
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

// Parses `--option VALUE` pairs. Answers -1 when parsed, else the exit status to return.
int ParseOptions(const char* command, const std::vector<std::string>& args,
                 const std::vector<std::string>& options, const char* help,
                 std::map<std::string, std::string>& values) {
    const std::string prefix = std::string(command) + ": ";
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (IsHelp(args[i])) {
            PrintHelp(help, stdout);
            return kOk;
        }
        bool known = false;
        for (const std::string& option : options) {
            known = known || args[i] == option;
        }
        if (!known) {
            return UsageError(prefix + "unknown argument '" + args[i] + "'", help);
        }
        if (i + 1 == args.size()) {
            const bool folder = args[i] == "--model-dir" || args[i] == "--dest";
            return UsageError(prefix + args[i] + (folder ? " needs a DIR" : " needs a FILE"), help);
        }
        if (values.count(args[i]) != 0) {
            return UsageError(prefix + args[i] + " given twice", help);
        }
        values[args[i]] = args[i + 1];
        ++i;
    }
    return -1;
}

int Pack(const std::vector<std::string>& args) {
    std::map<std::string, std::string> values;
    const int status =
        ParseOptions("pack", args, {"--tokens", "--keywords", "--phrases", "--bpe-model", "--out"},
                     kPackHelp, values);
    if (status >= 0) {
        return status;
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
            PrintHelp(kCheckHelp, stdout);
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

int Layout(const std::vector<std::string>& args) {
    std::map<std::string, std::string> values;
    const int status = ParseOptions("layout", args,
                                    {"--model-dir", "--keywords", "--phrases", "--dest", "--tokens",
                                     "--bpe-model", "--encoder", "--decoder", "--joiner"},
                                    kLayoutHelp, values);
    if (status >= 0) {
        return status;
    }
    if (values.count("--model-dir") == 0 || values.count("--dest") == 0) {
        return UsageError("layout: --model-dir and --dest are required", kLayoutHelp);
    }
    const bool phrases = values.count("--phrases") != 0;
    if (phrases == (values.count("--keywords") != 0)) {
        return UsageError("layout: give either --keywords or --phrases", kLayoutHelp);
    }
    if (!phrases && values.count("--bpe-model") != 0) {
        return UsageError("layout: --bpe-model goes with --phrases", kLayoutHelp);
    }

    LayoutRequest request;
    request.model_dir = values["--model-dir"];
    request.dest = values["--dest"];
    request.tokens_path = values["--tokens"];
    request.encoder = values["--encoder"];
    request.decoder = values["--decoder"];
    request.joiner = values["--joiner"];
    std::string reason;
    if (phrases) {
        const std::string bpe_model = values.count("--bpe-model") != 0
                                          ? values["--bpe-model"]
                                          : request.model_dir + "/bpe.model";
        std::string phrases_text;
        if (!ReadText(values["--phrases"], &phrases_text, &reason) ||
            !PhrasesToKeywords(phrases_text, bpe_model, &request.keywords_text, &reason)) {
            return Failed(reason);
        }
    } else if (!ReadText(values["--keywords"], &request.keywords_text, &reason)) {
        return Failed(reason);
    }
    LayoutResult result;
    if (!LayoutModel(request, &result, &reason)) {
        return Failed(reason);
    }
    std::printf("laid out %s\n  encoder from %s\n  decoder from %s\n  joiner from %s\n",
                result.folder.c_str(), result.encoder.c_str(), result.decoder.c_str(),
                result.joiner.c_str());
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
        PrintHelp(kMainHelp, stdout);
        return kOk;
    }
    if (command == "pack") {
        return Pack(args);
    }
    if (command == "check") {
        return Check(args);
    }
    if (command == "layout") {
        return Layout(args);
    }
    return UsageError("unknown command '" + command + "'", kMainHelp);
}
