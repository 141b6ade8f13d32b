// The evaluation corpus through a peer: PocketSphinx (Debian's libpocketsphinx3 with the
// pocketsphinx-en-us acoustic model and dictionary) in keyphrase spotting mode, on the same three
// phrases. As kelmor-eval does: all files through one utterance stream in manifest order, 100 ms
// buffers; after a detection the utterance is ended and a new one started (the documented way
// to go on spotting).
//
//   kelmor-eval-pocketsphinx CORPUS OUT.tsv [--threshold 1e-20]
//
// OUT.tsv has the same form as kelmor-eval's.
#include <pocketsphinx.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_util.h"

namespace {

constexpr const char* kModel = "/usr/share/pocketsphinx/model/en-us";

struct Phrase {
    const char* text;
    const char* name;
};
constexpr Phrase kPhrases[] = {
    {"hey jarvis", "HEY_JARVIS"}, {"hello world", "HELLO_WORLD"}, {"hey computer", "HEY_COMPUTER"}};

std::string NameOf(const std::string& hyp) {
    for (const Phrase& p : kPhrases) {
        if (hyp.find(p.text) != std::string::npos) {
            return p.name;
        }
    }
    return hyp;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kelmor-eval-pocketsphinx CORPUS OUT.tsv [--threshold T]\n");
        return 2;
    }
    const std::string corpus = argv[1];
    const std::string out_path = argv[2];
    std::string threshold = "1e-20";
    for (int i = 3; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--threshold") {
            threshold = argv[i + 1];
        }
    }
    const std::string hmm = std::string(kModel) + "/en-us";
    const std::string dict = std::string(kModel) + "/cmudict-en-us.dict";
    if (!bench::Exists(dict)) {
        std::fprintf(stderr,
                     "kelmor-eval-pocketsphinx: no %s (apt-get install pocketsphinx-en-us)\n",
                     dict.c_str());
        return 1;
    }
    const std::string kws = out_path + ".kws";
    {
        std::ofstream list(kws);
        for (const Phrase& p : kPhrases) {
            list << p.text << " /" << threshold << "/\n";
        }
    }
    cmd_ln_t* config =
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-dict", dict.c_str(), "-kws",
                    kws.c_str(), "-logfn", "/dev/null", nullptr);
    ps_decoder_t* ps = config != nullptr ? ps_init(config) : nullptr;
    if (ps == nullptr) {
        std::fprintf(stderr, "kelmor-eval-pocketsphinx: the decoder could not be made\n");
        return 1;
    }

    std::vector<std::string> ids, paths;
    {
        std::ifstream in(corpus + "/manifest.tsv");
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string id, path;
            std::getline(fields, id, '\t');
            std::getline(fields, path, '\t');
            if (!id.empty()) {
                ids.push_back(id);
                paths.push_back(corpus + "/" + path);
            }
        }
    }
    std::FILE* out = std::fopen(out_path.c_str(), "w");
    if (out == nullptr || ids.empty()) {
        std::fprintf(stderr, "kelmor-eval-pocketsphinx: no manifest or cannot write output\n");
        return 1;
    }
    std::vector<std::string> lines;
    double audio_s = 0;
    const double start = bench::ThreadCpuMs();
    ps_start_utt(ps);
    std::vector<std::int16_t> samples;
    for (std::size_t f = 0; f < ids.size(); ++f) {
        const std::string pcm = bench::ReadAll(paths[f]);
        for (std::size_t at = 0; at < pcm.size(); at += bench::kBufferBytes) {
            const std::size_t n = std::min(bench::kBufferBytes, pcm.size() - at);
            samples.resize(n / 2);
            std::memcpy(samples.data(), pcm.data() + at, n);
            ps_process_raw(ps, samples.data(), samples.size(), FALSE, FALSE);
            const char* hyp = ps_get_hyp(ps, nullptr);
            if (hyp != nullptr && hyp[0] != '\0') {
                char line[256];
                std::snprintf(line, sizeof line, "%s\t%s\t%.2f\n", ids[f].c_str(),
                              NameOf(hyp).c_str(), static_cast<double>(at + n) / 32000);
                lines.push_back(line);
                ps_end_utt(ps);
                ps_start_utt(ps);
            }
        }
        audio_s += static_cast<double>(pcm.size()) / 32000;
    }
    ps_end_utt(ps);
    const double cpu_ms = bench::ThreadCpuMs() - start;
    ps_free(ps);
    cmd_ln_free_r(config);

    std::fprintf(out, "# mode=pocketsphinx threshold=%s audio_s=%.1f cpu_ms=%.1f\n",
                 threshold.c_str(), audio_s, cpu_ms);
    for (const std::string& line : lines) {
        std::fputs(line.c_str(), out);
    }
    std::fclose(out);
    std::remove(kws.c_str());
    std::printf(
        "kelmor-eval-pocketsphinx threshold %s: %zu detections in %.0f s of audio, "
        "%.2f ms CPU per s of audio\n",
        threshold.c_str(), lines.size(), audio_s, cpu_ms / audio_s);
    return 0;
}
