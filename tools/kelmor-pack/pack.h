// Writing and checking configuration containers: the functions behind kelmor-pack's subcommands,
// kept apart from its command line so that other tools can pack containers too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Encrypts `count` bytes with the container key from a copy of the 16-byte `iv`, PKCS#7 padded:
// the mirror of DecryptAesCbc, through the same platform steps.
bool EncryptAesCbc(const std::uint8_t* plaintext, std::size_t count, const std::uint8_t* iv,
                   std::vector<std::uint8_t>& ciphertext, std::string* reason);

// The container bytes for the two texts (neither empty) with `iv` (16 bytes).
bool BuildContainer(const std::string& tokens, const std::string& keywords, const std::uint8_t* iv,
                    std::vector<std::uint8_t>* container, std::string* reason);

// Checks both texts as the library will, then writes them as a container with a fresh random IV
// to `out_path`, atomically: a reader sees the old file or the new one, never a part.
bool PackContainer(const std::string& tokens, const std::string& keywords,
                   const std::string& out_path, std::string* reason);

// Turns plain phrases, one a line, optionally followed by `@NAME`, `:boost` and `#threshold`,
// into keyword lines: the upper-cased phrase as pieces of the SentencePiece model at
// `bpe_model_path`, then the options. A phrase without `@NAME` is named after itself, upper-cased,
// words joined by underscores. Line N of the phrases gives line N of the keywords.
bool PhrasesToKeywords(const std::string& phrases, const std::string& bpe_model_path,
                       std::string* keywords, std::string* reason);

// False in builds without SentencePiece (the Windows build), where PhrasesToKeywords always
// fails and keywords must be given as pieces.
extern const bool kPhrasesSupported;

struct ContainerSummary {
    std::size_t tokens = 0;    // token table lines that are not blank
    std::size_t keywords = 0;  // keyword lines that are not blank
};

// Loads the container at `path` with the library's loader and runs the library's checks on both
// texts. On failure `reason` is theirs, unchanged.
bool CheckContainer(const std::string& path, ContainerSummary* summary, std::string* reason);

// Counts of a token table and a keyword list, as CheckContainer reports them.
ContainerSummary Summarize(const std::string& tokens, const std::string& keywords);

// Writes `bytes` to a temporary file beside `path` and renames it over `path`.
bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                         std::string* reason);
