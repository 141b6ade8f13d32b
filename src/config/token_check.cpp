#include "config/token_check.h"

#include <sstream>
#include <string>
#include <string_view>

namespace {

bool IsBinaryByte(unsigned char b) {
    return b < 0x20 && b != '\t' && b != '\n' && b != '\r';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A line is `symbol`, or `symbol id` with nothing after the id; what the id reads as is the
// engine's business, so a lone sign or an out-of-range number still passes.
bool LineIsWellFormed(std::string_view line) {
    std::size_t i = 0;
    const std::size_t end = line.size();
    while (i < end && IsBlank(line[i])) {
        ++i;
    }
    while (i < end && !IsBlank(line[i])) {
        ++i;
    }
    if (i == end) {
        return true;
    }
    while (i < end && IsBlank(line[i])) {
        ++i;
    }
    if (i < end && (line[i] == '+' || line[i] == '-')) {
        ++i;
    }
    while (i < end && IsDigit(line[i])) {
        ++i;
    }
    return i == end;
}

}  // namespace

bool ValidateTokens(const char* data, std::size_t size, std::string& reason) {
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char b = static_cast<unsigned char>(data[i]);
        if (IsBinaryByte(b)) {
            std::ostringstream message;
            message << "tokens contains binary byte 0x" << std::hex << static_cast<unsigned>(b)
                    << std::dec << " at offset " << i;
            reason = message.str();
            return false;
        }
    }

    const std::string_view text(size == 0 ? "" : data, size);
    std::size_t line_number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find('\n', start);
        if (stop == std::string_view::npos) {
            stop = text.size();
        }
        ++line_number;
        const std::string_view line = text.substr(start, stop - start);
        if (!LineIsWellFormed(line)) {
            std::ostringstream message;
            message << "malformed tokens line " << line_number << ": ";
            message.write(line.data(), static_cast<std::streamsize>(line.size()));
            reason = message.str();
            return false;
        }
        start = stop + 1;
    }
    return true;
}
