#include <sentencepiece_processor.h>

#include <sstream>
#include <string>
#include <vector>

#include "pack.h"

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool IsOption(const std::string& word) {
    return word[0] == '@' || word[0] == ':' || word[0] == '#';
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsSpace(line[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && !IsSpace(line[i])) {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

// The model's pieces are upper case; other scripts are left as they are.
std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

}  // namespace

const bool kPhrasesSupported = true;

bool PhrasesToKeywords(const std::string& phrases, const std::string& bpe_model_path,
                       std::string* keywords, std::string* reason) {
    sentencepiece::SentencePieceProcessor processor;
    const auto loaded = processor.Load(bpe_model_path);
    if (!loaded.ok()) {
        if (reason != nullptr) {
            *reason = "failed to load BPE model " + bpe_model_path + ": " + loaded.ToString();
        }
        return false;
    }
    std::ostringstream out;
    std::size_t number = 0;
    std::size_t start = 0;
    while (start < phrases.size()) {
        std::size_t stop = phrases.find('\n', start);
        if (stop == std::string::npos) {
            stop = phrases.size();
        }
        ++number;
        std::string phrase;
        std::string name;
        std::vector<std::string> options;
        for (const std::string& word : Words(phrases.substr(start, stop - start))) {
            if (IsOption(word)) {
                if (word[0] == '@') {
                    name = word;
                }
                options.push_back(word);
            } else if (!options.empty()) {
                if (reason != nullptr) {
                    *reason = "phrases line " + std::to_string(number) + ": \"" + word +
                              "\" after \"" + options.back() +
                              "\" (options come last; a display name is one word)";
                }
                return false;
            } else {
                phrase += (phrase.empty() ? "" : " ") + UpperAscii(word);
            }
        }
        std::string line;
        if (!phrase.empty()) {
            std::vector<std::string> pieces;
            const auto encoded = processor.Encode(phrase, &pieces);
            if (!encoded.ok()) {
                if (reason != nullptr) {
                    *reason = "phrases line " + std::to_string(number) +
                              ": cannot encode: " + encoded.ToString();
                }
                return false;
            }
            for (const std::string& piece : pieces) {
                line += (line.empty() ? "" : " ") + piece;
            }
            if (name.empty()) {
                std::string default_name = phrase;
                for (char& c : default_name) {
                    c = c == ' ' ? '_' : c;
                }
                options.push_back("@" + default_name);
            }
        }
        for (const std::string& option : options) {
            line += (line.empty() ? "" : " ") + option;
        }
        out << line << '\n';
        start = stop + 1;
    }
    *keywords = out.str();
    return true;
}
