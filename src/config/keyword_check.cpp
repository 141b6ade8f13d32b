// The keyword list check. The rules follow how the engine reads the list (verified against it by
// tests/integration/keyword_engine_test.cpp):
// - Lines end at line feeds; words are split at space, tab, carriage return, vertical tab and
//   form feed, so CRLF endings and empty lines are harmless.
// - A word that is a symbol of the token table is a piece, whatever it starts with. A symbol is
//   the first field of a token line that has an id after it; a line holding a single field
//   defines no symbol the engine can look up. Any other word must be `:boost`, `#threshold` or
//   `@NAME`; an unknown word makes the engine end the process.
// - The engine reads the numbers with std::stof, which throws through its C interface on text
//   that is not a number or on a value out of float range. Here the whole word must be a finite
//   decimal number, not just a prefix that stof would settle for.
// Stricter than the engine, because what it accepts there is almost surely a mistake: pieces
// come first, each option at most once, a display name is not empty, a line with options has
// pieces (else it can never be detected), and the list holds at least one keyword.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_set>

#include "config/token_check.h"

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Calls `on_line(number, line)` for each line; a line feed at the very end starts no new line.
template <typename OnLine>
bool ForEachLine(std::string_view text, OnLine on_line) {
    std::size_t number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find('\n', start);
        if (stop == std::string_view::npos) {
            stop = text.size();
        }
        if (!on_line(++number, text.substr(start, stop - start))) {
            return false;
        }
        start = stop + 1;
    }
    return true;
}

// Takes the next word of `line` from `*pos`; false when none is left.
bool NextWord(std::string_view line, std::size_t* pos, std::string_view* word) {
    std::size_t i = *pos;
    while (i < line.size() && IsSpace(line[i])) {
        ++i;
    }
    const std::size_t start = i;
    while (i < line.size() && !IsSpace(line[i])) {
        ++i;
    }
    *pos = i;
    *word = line.substr(start, i - start);
    return !word->empty();
}

std::unordered_set<std::string_view> SymbolsOf(std::string_view tokens) {
    std::unordered_set<std::string_view> symbols;
    ForEachLine(tokens, [&](std::size_t, std::string_view line) {
        std::size_t pos = 0;
        std::string_view symbol;
        std::string_view id;
        if (NextWord(line, &pos, &symbol) && NextWord(line, &pos, &id)) {
            symbols.insert(symbol);
        }
        return true;
    });
    return symbols;
}

// [+-] digits [. digits] [e [+-] digits], or with the digits only after the point; the value must
// be a normal float or zero.
bool IsFloatNumber(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        const std::size_t exponent = i;
        while (i < text.size() && IsDigit(text[i])) {
            ++i;
        }
        if (i == exponent) {
            return false;
        }
    }
    if (i != text.size()) {
        return false;
    }
    // from_chars takes no plus sign and does not depend on the process locale.
    const std::size_t from = text[0] == '+' ? 1 : 0;
    double value = 0;
    const auto parsed = std::from_chars(text.data() + from, text.data() + text.size(), value);
    if (parsed.ec != std::errc() || parsed.ptr != text.data() + text.size()) {
        return false;
    }
    const double magnitude = std::fabs(value);
    return magnitude == 0 || (magnitude >= FLT_MIN && magnitude <= FLT_MAX);
}

// The word as it stands, in quotes, with control bytes spelled out so that the reason stays one
// printable line.
std::string Quoted(std::string_view word) {
    static const char kHex[] = "0123456789abcdef";
    std::string quoted = "\"";
    for (const char c : word) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f) {
            quoted += "\\x";
            quoted += kHex[b >> 4];
            quoted += kHex[b & 0xf];
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

}  // namespace

bool ValidateKeywords(const char* keywords, std::size_t keywords_size, const char* tokens,
                      std::size_t tokens_size, std::string& reason) {
    const auto symbols = SymbolsOf(std::string_view(tokens_size == 0 ? "" : tokens, tokens_size));
    std::size_t keyword_count = 0;
    std::string failure;

    const bool ok = ForEachLine(
        std::string_view(keywords_size == 0 ? "" : keywords, keywords_size),
        [&](std::size_t number, std::string_view line) {
            const auto fail = [&](const std::string& what) {
                std::ostringstream message;
                message << "keyword line " << number << ": " << what;
                failure = message.str();
                return false;
            };
            std::size_t pieces = 0;
            std::string_view last_option;
            bool boost = false;
            bool threshold = false;
            bool name = false;
            std::size_t pos = 0;
            std::string_view word;
            while (NextWord(line, &pos, &word)) {
                const bool option = symbols.count(word) == 0 &&
                                    (word[0] == ':' || word[0] == '#' || word[0] == '@');
                if (!option) {
                    if (!last_option.empty()) {
                        return fail(Quoted(word) + " after " + Quoted(last_option) +
                                    " (tokens come first; a display name is one word)");
                    }
                    if (symbols.count(word) == 0) {
                        return fail("unknown token " + Quoted(word));
                    }
                    ++pieces;
                    continue;
                }
                const std::string_view value = word.substr(1);
                if (word[0] == ':') {
                    if (boost) {
                        return fail("more than one boost " + Quoted(word));
                    }
                    if (!IsFloatNumber(value)) {
                        return fail("bad boost " + Quoted(word));
                    }
                    boost = true;
                } else if (word[0] == '#') {
                    if (threshold) {
                        return fail("more than one threshold " + Quoted(word));
                    }
                    if (!IsFloatNumber(value)) {
                        return fail("bad threshold " + Quoted(word));
                    }
                    threshold = true;
                } else {
                    if (name) {
                        return fail("more than one display name " + Quoted(word));
                    }
                    if (value.empty()) {
                        return fail("empty display name");
                    }
                    name = true;
                }
                last_option = word;
            }
            if (pieces == 0 && !last_option.empty()) {
                return fail("no tokens before " + Quoted(last_option));
            }
            if (pieces > 0) {
                ++keyword_count;
            }
            return true;
        });

    if (!ok) {
        reason = failure;
        return false;
    }
    if (keyword_count == 0) {
        reason = "keyword list has no keywords";
        return false;
    }
    return true;
}
