// UTF-8 and UTF-16 codecs. Malformed input (invalid or truncated UTF-8 sequences, overlong
// forms, unpaired surrogates) becomes U+FFFD, as the Windows converters do without flags.
#pragma once

#include <string>
#include <string_view>

std::u16string DecodeUtf8(std::string_view text);
std::string EncodeUtf8(std::u16string_view text);
