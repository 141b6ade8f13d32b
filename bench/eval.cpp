// Runs the evaluation corpus (bench/eval/make_corpus.py) through the keyword engine and writes
// every detection. All files go through one stream, in manifest order, in 100 ms buffers, as a
// microphone would hand them over; a detection is attributed to the file whose buffer was being
// processed.
//
//   kelmor-eval library CORPUS OUT.tsv
//       the library's listening loop (the scripted capture device, audio handed over as fast as
//       it is consumed) with the library's fixed engine settings;
//   kelmor-eval engine CORPUS OUT.tsv [--score S] [--threshold T] [--minimal]
//       the engine fed directly with the given settings (default: the library's), doing the same
//       work as the loop (energy gate and flushes) unless --minimal (reset after a hit).
//
// OUT.tsv: a header line "# audio_s=... cpu_ms=...", then one line per detection:
//   file_id  keyword  seconds_from_file_start
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "bench_util.h"
#include "engine/engine_object.h"
#include "fake_wave_input.h"
#include "log/logger.h"

namespace {

struct File {
    std::string id, path;
};

std::vector<File> ReadManifest(const std::string& corpus) {
    std::vector<File> files;
    std::ifstream in(corpus + "/manifest.tsv");
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        File f;
        std::getline(fields, f.id, '\t');
        std::getline(fields, f.path, '\t');
        if (!f.id.empty()) {
            f.path = corpus + "/" + f.path;
            files.push_back(f);
        }
    }
    return files;
}

struct Hit {
    std::string file_id, keyword;
    double seconds;
};

// The keyword named by the loop's last "Keyword detected: " line, read in the wake callback
// (both run on the worker thread, the line first).
std::mutex g_keyword_mutex;
std::string g_last_keyword;
void TakeDetections(std::int32_t, const char* line, void*) {
    static const std::string prefix = "[kelmor.dll] Keyword detected: ";
    const std::string text = line;
    if (text.rfind(prefix, 0) == 0) {
        std::lock_guard<std::mutex> lock(g_keyword_mutex);
        g_last_keyword = text.substr(prefix.size());
    }
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kelmor-eval library CORPUS OUT.tsv\n"
                 "       kelmor-eval engine CORPUS OUT.tsv [--score S] [--threshold T] "
                 "[--minimal] [--model DIR]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return Usage();
    }
    const std::string mode = argv[1];
    const std::string corpus = argv[2];
    const std::string out_path = argv[3];
    std::string model_dir = KELMOR_MODEL_DIR;
    float score = bench::kFixedScore;
    float threshold = bench::kFixedThreshold;
    bool minimal = false;
    for (int i = 4; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--minimal") {
            minimal = true;
        } else if (i + 1 < argc && flag == "--score") {
            score = std::strtof(argv[++i], nullptr);
        } else if (i + 1 < argc && flag == "--threshold") {
            threshold = std::strtof(argv[++i], nullptr);
        } else if (i + 1 < argc && flag == "--model") {
            model_dir = argv[++i];
        } else {
            return Usage();
        }
    }
    if (mode != "library" && mode != "engine") {
        return Usage();
    }
    const std::vector<File> files = ReadManifest(corpus);
    if (files.empty()) {
        std::fprintf(stderr, "kelmor-eval: no manifest in %s\n", corpus.c_str());
        return 1;
    }
    const bench::ModelFiles model(model_dir);
    if (!model.Present()) {
        std::fprintf(stderr, "kelmor-eval: no model in %s\n", model_dir.c_str());
        return 1;
    }
    if (mode == "library") {
        score = bench::kFixedScore;
        threshold = bench::kFixedThreshold;
    }
    const SherpaOnnxKeywordSpotter* spotter = bench::MakeSpotter(model, score, threshold);
    if (spotter == nullptr) {
        std::fprintf(stderr, "kelmor-eval: the engine refused the model\n");
        return 1;
    }

    std::vector<Hit> hits;
    double audio_s = 0;
    double cpu_ms = 0;
    if (mode == "engine") {
        bench::DirectFeed feed(spotter, minimal ? bench::DirectFeed::Mode::Minimal
                                                : bench::DirectFeed::Mode::SameWork);
        const double start = bench::ThreadCpuMs();
        for (const File& file : files) {
            const std::string pcm = bench::ReadAll(file.path);
            std::vector<std::string> keywords;
            for (std::size_t at = 0; at < pcm.size(); at += bench::kBufferBytes) {
                const std::size_t n = std::min(bench::kBufferBytes, pcm.size() - at);
                feed.Feed(pcm.data() + at, n, keywords);
                for (const std::string& keyword : keywords) {
                    hits.push_back({file.id, keyword, static_cast<double>(at + n) / 32000});
                }
                keywords.clear();
            }
            audio_s += static_cast<double>(pcm.size()) / 32000;
        }
        cpu_ms = bench::ThreadCpuMs() - start;
    } else {
        Logger::instance().set_callback(TakeDetections, nullptr);
        fake::Wave().device_count = 1;
        kelmor engine("eval");
        engine.spotter = spotter;
        engine.stream = SherpaOnnxCreateKeywordStream(spotter);
        // Where the loop is: set by this thread before each hand-over, read by the worker in
        // the wake callback while it processes that buffer.
        std::atomic<std::size_t> file_index{0};
        std::atomic<double> buffer_end{0};
        std::mutex hits_mutex;
        engine.set_wake_callback([&] {
            std::lock_guard<std::mutex> lock(g_keyword_mutex);
            std::lock_guard<std::mutex> hits_lock(hits_mutex);
            hits.push_back({files[file_index].id, g_last_keyword, buffer_end.load()});
        });
        engine.open_listen_voice();
        fake::WaitQueued(kelmor::kCaptureBufferCount);
        const double start = bench::OtherThreadCpuMs(engine.worker.native_handle());
        for (std::size_t f = 0; f < files.size(); ++f) {
            const std::string pcm = bench::ReadAll(files[f].path);
            for (std::size_t at = 0; at < pcm.size(); at += bench::kBufferBytes) {
                const std::size_t n = std::min(bench::kBufferBytes, pcm.size() - at);
                file_index = f;
                buffer_end = static_cast<double>(at + n) / 32000;
                fake::Deliver(pcm.substr(at, n));
                fake::WaitQueued(kelmor::kCaptureBufferCount);
                fake::WithWave([](fake::WaveState& s) { s.calls.clear(); });
            }
            audio_s += static_cast<double>(pcm.size()) / 32000;
        }
        cpu_ms = bench::OtherThreadCpuMs(engine.worker.native_handle()) - start;
        engine.close_listen_voice();
        engine.spotter = nullptr;  // released below
        Logger::instance().set_callback(nullptr, nullptr);
    }
    SherpaOnnxDestroyKeywordSpotter(spotter);

    std::FILE* out = std::fopen(out_path.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "kelmor-eval: cannot write %s\n", out_path.c_str());
        return 1;
    }
    std::fprintf(out, "# mode=%s%s score=%g threshold=%g audio_s=%.1f cpu_ms=%.1f\n", mode.c_str(),
                 minimal ? "-minimal" : "", score, threshold, audio_s, cpu_ms);
    for (const Hit& hit : hits) {
        std::fprintf(out, "%s\t%s\t%.2f\n", hit.file_id.c_str(), hit.keyword.c_str(), hit.seconds);
    }
    std::fclose(out);
    std::printf(
        "kelmor-eval %s score %g threshold %g: %zu detections in %.0f s of audio, "
        "%.2f ms CPU per s of audio\n",
        mode.c_str(), score, threshold, hits.size(), audio_s, cpu_ms / audio_s);
    return 0;
}
